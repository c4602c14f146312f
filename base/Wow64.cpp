// Wow64: IsWow64Process looked up at run time (absent before XP SP2) and the registry view rule built on it.
#include "base/Wow64.h"
#include "base/DynamicLibrary.h"

namespace {
const uint32_t kViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
} // namespace

int IsWow64(HANDLE process) {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    DynamicLibrary kernel;
    if (!kernel.Load("kernel32.dll"))
        return 0;
    IsWow64ProcessFunction isWow64Process = kernel.Function<IsWow64ProcessFunction>("IsWow64Process");
    if (!isWow64Process)
        return 0;
    BOOL wow64 = FALSE;
    if (!isWow64Process(process ? process : GetCurrentProcess(), &wow64))
        return 0;
    return wow64 ? 1 : 0;
}

uint32_t FilterViewFlagsFor(uint32_t viewFlags, int wow64) {
    // A view flag on a system without views is refused by older Windows versions, so only WOW64 keeps it.
    return wow64 ? viewFlags : (viewFlags & ~kViewBits);
}

uint32_t FilterViewFlags(uint32_t viewFlags) {
    if (!(viewFlags & kViewBits))
        return viewFlags;
    return FilterViewFlagsFor(viewFlags, IsWow64(nullptr));
}

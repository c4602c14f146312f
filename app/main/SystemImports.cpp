// Import slots of the program served by its own functions. The compiler's static thread library calls
// GetTickCount64 directly, which Windows XP and Server 2003 lack, and their loader refuses a program that
// imports it before any of its code runs. The slot the library reads is defined here, so the linker takes
// it instead of kernel32's import, and it points at the tick count with its fall-back. It must be linked
// into the program itself (not a library), so that it is there before the thread library is searched.
#include "base/EventObject.h"

namespace {
ULONGLONG WINAPI TickCountForImport() {
    return TickCount64();
}
} // namespace

#ifdef _WIN64
extern "C" ULONGLONG(WINAPI *tarvexTickCountImport)() __asm__("__imp_GetTickCount64");
#else
extern "C" ULONGLONG(WINAPI *tarvexTickCountImport)() __asm__("__imp__GetTickCount64@0");
#endif
ULONGLONG(WINAPI *tarvexTickCountImport)() = TickCountForImport;

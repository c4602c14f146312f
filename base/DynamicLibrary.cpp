// DynamicLibrary: run-time binding to optional libraries and functions.
#include "base/DynamicLibrary.h"

int DynamicLibrary::Load(const char *fileName) {
    Free();
    // A missing library or an empty drive must not put a system message box in front of the user.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    module_ = LoadLibraryA(fileName);
    SetErrorMode(previous);
    return module_ != nullptr;
}

void *DynamicLibrary::Symbol(const char *functionName) const {
    if (!module_ || !functionName)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(module_, functionName));
}

int DynamicLibrary::Free() {
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
    return 1;
}

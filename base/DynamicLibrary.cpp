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

int DynamicLibrary::BindAll(const FunctionSlot *slots, uint32_t count) const {
    uint32_t bound = 0;
    for (; bound < count; ++bound) {
        void *function = Symbol(slots[bound].name);
        if (!function)
            break;
        slots[bound].store(slots[bound].target, function);
    }
    if (bound == count)
        return 1;
    for (uint32_t i = 0; i < count; ++i)
        slots[i].store(slots[i].target, nullptr);
    return 0;
}

int DynamicLibrary::Free() {
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
    return 1;
}

// DynamicLibrary: loads a library that may be missing and looks functions up by name, so that optional
// platform functions are never linked directly.
//
// Classes: DynamicLibrary. Structures: FunctionSlot.
#pragma once

#include "base/Win.h"
#include <cstdint>

// Where one looked-up function goes: its name and a typed pointer to fill. Made by FunctionSlot::For.
struct FunctionSlot {
    const char *name;
    void *target;
    void (*store)(void *target, void *function);

    template <typename F> static FunctionSlot For(const char *name, F &target) {
        return {name, &target,
                [](void *slot, void *function) { *static_cast<F *>(slot) = reinterpret_cast<F>(function); }};
    }
};

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { Free(); }
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    int Load(const char *fileName);
    void *Symbol(const char *functionName) const;
    int Free();
    HMODULE Handle() const { return module_; }

    // Typed look-up: Symbol cast to the caller's function pointer type.
    template <typename F> F Function(const char *functionName) const {
        return reinterpret_cast<F>(Symbol(functionName));
    }
    // A table of functions, all or none: 1 when every name was found; otherwise every slot is null.
    int BindAll(const FunctionSlot *slots, uint32_t count) const;

private:
    HMODULE module_ = nullptr;
};

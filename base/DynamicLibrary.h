// DynamicLibrary: loads a library that may be missing and looks functions up by name, so that optional
// platform functions are never linked directly.
//
// Classes: DynamicLibrary.
#pragma once

#include "base/Win.h"

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

private:
    HMODULE module_ = nullptr;
};

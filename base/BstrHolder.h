// BstrHolder: owner of one BSTR, what TextString::ToBstr hands to COM calls.
//
// Classes: BstrHolder.
#pragma once

#include "base/Win.h"
#include <oleauto.h>

// Owns one BSTR; what TextString::ToBstr hands to COM calls.
class BstrHolder {
public:
    BstrHolder() = default;
    explicit BstrHolder(BSTR owned) : bstr_(owned) {}
    BstrHolder(BstrHolder &&other) noexcept : bstr_(other.bstr_) { other.bstr_ = nullptr; }
    BstrHolder &operator=(BstrHolder &&other) noexcept;
    BstrHolder(const BstrHolder &) = delete;
    BstrHolder &operator=(const BstrHolder &) = delete;
    ~BstrHolder();

    BSTR Get() const { return bstr_; }
    // Hands ownership to the caller.
    BSTR Detach();

private:
    BSTR bstr_ = nullptr;
};

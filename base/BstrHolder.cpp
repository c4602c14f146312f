// BstrHolder: moving and freeing the one BSTR.
#include "base/BstrHolder.h"

BstrHolder &BstrHolder::operator=(BstrHolder &&other) noexcept {
    if (this != &other) {
        if (bstr_)
            SysFreeString(bstr_);
        bstr_ = other.bstr_;
        other.bstr_ = nullptr;
    }
    return *this;
}

BstrHolder::~BstrHolder() {
    if (bstr_)
        SysFreeString(bstr_);
}

BSTR BstrHolder::Detach() {
    BSTR owned = bstr_;
    bstr_ = nullptr;
    return owned;
}

// ClosedUpdateUrl: while it lives, a Tarvex started by a test or a benchmark checks for updates against a
// loopback port nobody listens on (the "UpdateUrl" value), so that nothing ever reaches beyond this machine;
// the user's value comes back afterwards.
//
// Classes: ClosedUpdateUrl.
#pragma once

#include "tests/common/SavedRegistryValue.h"
#include <memory>

class ClosedUpdateUrl {
public:
    static const char kUrl[];

    // keepExisting: a value already there (a test's own server) stays, and nothing is changed.
    explicit ClosedUpdateUrl(int keepExisting = 0);
    ClosedUpdateUrl(const ClosedUpdateUrl &) = delete;
    ClosedUpdateUrl &operator=(const ClosedUpdateUrl &) = delete;

private:
    // Null while a kept value is left alone: the test may still change it.
    std::unique_ptr<SavedRegistryValue> saved_;
};

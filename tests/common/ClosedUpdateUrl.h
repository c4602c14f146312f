// ClosedUpdateUrl: while it lives, a Tarvex started by a test or a benchmark checks for updates against a
// loopback port nobody listens on (the "UpdateUrl" value), so that nothing ever reaches beyond this machine;
// the user's value comes back afterwards.
//
// Classes: ClosedUpdateUrl.
#pragma once

#include <string>

class ClosedUpdateUrl {
public:
    static const char kUrl[];

    // keepExisting: a value already there (a test's own server) stays, and nothing is changed.
    explicit ClosedUpdateUrl(int keepExisting = 0);
    ~ClosedUpdateUrl();
    ClosedUpdateUrl(const ClosedUpdateUrl &) = delete;
    ClosedUpdateUrl &operator=(const ClosedUpdateUrl &) = delete;

private:
    int active_ = 0;
    int existed_ = 0;
    std::string previous_;
};

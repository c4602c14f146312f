// CriticalSection: an owned platform critical section that is safe to enter before or after its life.
//
// Classes: CriticalSection.
#pragma once

#include "base/Win.h"

class CriticalSection {
public:
    CriticalSection() { Initialize(); }
    ~CriticalSection() { Delete(); }
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;

    // Initialising twice does nothing the second time.
    void Initialize();
    void Enter();
    void Leave();
    // Deletes once and clears the flag; Enter and Leave then do nothing.
    void Delete();
    int Initialized() const { return initialized_; }

private:
    int initialized_ = 0;
    CRITICAL_SECTION section_;
};

// Holds a CriticalSection for the lifetime of a scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection &section) : section_(section) { section_.Enter(); }
    ~CriticalSectionLock() { section_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock &) = delete;
    CriticalSectionLock &operator=(const CriticalSectionLock &) = delete;

private:
    CriticalSection &section_;
};

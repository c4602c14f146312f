// Stopwatch: a millisecond interval timer on the multimedia clock (timeGetTime), shared by the load worker's
// duty cycle and the HTTP client's throttling.
//
// Classes: Stopwatch.
#pragma once

#include "base/Win.h"
#include <cstdint>

class Stopwatch {
public:
    // The clock answers milliseconds on a 32-bit counter; tests hand in their own.
    typedef uint32_t (*ClockFunction)();

    explicit Stopwatch(ClockFunction clock = nullptr);
    Stopwatch(const Stopwatch &) = delete;
    Stopwatch &operator=(const Stopwatch &) = delete;

    void Start();
    void Stop();
    uint64_t ElapsedMs() const { return elapsed_; }
    // Microseconds at millisecond resolution.
    uint64_t ElapsedUs() const { return elapsed_ * 1000; }

    // The interval between two readings of the 32-bit clock, correct across its wrap after 2^32 ms.
    static uint64_t Interval(uint64_t start, uint32_t now);

private:
    uint32_t Now() const;

    ClockFunction clock_ = nullptr;
    uint64_t start_ = 0;
    uint64_t elapsed_ = 0;
};

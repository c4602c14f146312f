// Stopwatch: intervals on timeGetTime, correct across the 32-bit clock's wrap.
#include "base/Stopwatch.h"
#include <mmsystem.h>

Stopwatch::Stopwatch(ClockFunction clock) : clock_(clock) {}

uint32_t Stopwatch::Now() const {
    return clock_ ? clock_() : static_cast<uint32_t>(timeGetTime());
}

void Stopwatch::Start() {
    start_ = Now();
}

void Stopwatch::Stop() {
    elapsed_ = Interval(start_, Now());
}

uint64_t Stopwatch::Interval(uint64_t start, uint32_t now) {
    // A plain 64-bit subtraction of two zero-extended readings turns an interval across the wrap into
    // nearly 2^64 ms; the clock only counts 32 bits, so its difference is taken modulo 2^32.
    return static_cast<uint32_t>(now - static_cast<uint32_t>(start));
}

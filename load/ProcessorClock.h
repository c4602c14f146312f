// ProcessorClock: each processor's clock as the power manager reports it now: the current clock, the
// highest one and the limit the system puts on it (lower than the highest while it throttles).
//
// Classes: ProcessorClock.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"
#include <cstdint>
#include <vector>

class TextString;

class ProcessorClock {
public:
    // CallNtPowerInformation (powrprof.dll, Windows 2000 and later), looked up at run time.
    typedef LONG(WINAPI *PowerFunction)(int level, void *input, ULONG inputLength, void *output,
                                        ULONG outputLength);
    // Figures in MHz; 0 where the system gives none.
    struct Reading {
        uint32_t currentMhz;
        uint32_t maxMhz;
        uint32_t limitMhz;
    };

    ProcessorClock();
    // Answers through function instead of powrprof (tests); null: no figures at all.
    explicit ProcessorClock(PowerFunction function);
    ProcessorClock(const ProcessorClock &) = delete;
    ProcessorClock &operator=(const ProcessorClock &) = delete;

    // Asks the system about processors 0 to count - 1 (the processors of the calling thread's group);
    // 1 when it answered.
    int Refresh(uint32_t count);
    // 1 and the figures of processor index from the last Refresh; 0 when it had none.
    int Read(uint32_t index, Reading *reading) const;

    // 1 when the system holds the clock below its highest.
    static int Throttled(const Reading &reading);
    // The row's text: "2694 Mhz", or "1200 Mhz, limit 1800 (throttled)"; empty without a current clock.
    static void Describe(const Reading &reading, TextString &out);

private:
    DynamicLibrary library_;
    PowerFunction function_ = nullptr;
    std::vector<Reading> readings_;
};

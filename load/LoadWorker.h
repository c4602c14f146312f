// LoadWorker: the floating-point busy kernel and the per-processor duty-cycle loop that a WorkerThread runs.
//
// Functions: BusyKernel, LoadWorker, RunLoad, RunBusyPhase, NextBusyCount.
#pragma once

#include "base/Win.h"
#include "base/Stopwatch.h"
#include <cstdint>

class WorkerThread;

enum : uint32_t {
    kLoadSleepMs = 20,           // the fixed sleep of every cycle
    kInitialBusyCount = 100,     // kernel iterations of the first busy phase
    kBusySliceCount = 10000,     // iterations between two stop checks, at every percentage
    kMaxBusyCount = 0x01000000u, // seconds of kernel: room for the 2 s busy phase of 99 %, yet bounded
};

// Pure processor time: transcendental x87 operations, an integer division and rand() per iteration.
// Its result only carries the data dependency from one iteration to the next; callers discard it.
long double BusyKernel(uint32_t count);

// The WorkerThread routine: record is the ProcessorRecord whose processor it loads, percent 0 to 100. It pins
// itself to that processor first and notes in the record when the system refused.
int32_t LoadWorker(void *record, int32_t percent);

// What one load cycle calls; tests replace them to drive the loop with a clock of their own.
struct LoadHooks {
    void (*sleep)(DWORD ms);
    long double (*kernel)(uint32_t count);
    Stopwatch::ClockFunction clock; // null: the multimedia clock
};

// The duty-cycle loop behind LoadWorker, on the processor the thread is pinned to, polling worker for its
// stop request.
// hooks null means the real Sleep, BusyKernel and clock.
int32_t RunLoad(const WorkerThread &worker, int32_t percent, const LoadHooks *hooks);

// One busy phase of count kernel iterations, run in slices of at most kBusySliceCount with the stop request
// polled before each: 1 when all of it ran, 0 when a stop cut it short.
int RunBusyPhase(uint32_t count, const WorkerThread &worker, const LoadHooks &hooks);

// The busy count for the next cycle (percent 1 to 99) from the measured sleep and busy phases, kept
// within 1 and kMaxBusyCount; a busy phase too short for the clock (0 ms) doubles the count.
uint32_t NextBusyCount(uint32_t count, uint64_t sleepUs, uint64_t busyUs, uint32_t percent);

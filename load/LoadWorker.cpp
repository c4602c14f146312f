// LoadWorker: busy kernel, duty-cycle control and the worker loop.
#include "load/LoadWorker.h"
#include "load/ProcessorRecord.h"
#include "base/WorkerThread.h"
#include <cmath>
#include <cstdlib>

namespace {
const long double kLn2 = 0.693147180559945309417232121458176568L;
// The double nearest to 1/32890: keeps (m + r) / 32890 below 1 for m <= 122 and r <= 32767.
const double kScale = 3.0404378230465186e-05;

void SleepMs(DWORD ms) {
    Sleep(ms);
}

const LoadHooks kRealHooks = {SleepMs, BusyKernel, nullptr};

// New threads may start with the x87 unit rounding to double precision; the kernel's chain is meant to
// run in extended precision, whichever thread runs it.
class ExtendedPrecision {
public:
    ExtendedPrecision() {
#if defined(__i386__) || defined(__x86_64__)
        __asm__ __volatile__("fnstcw %0" : "=m"(saved_));
        const uint16_t extended = saved_ | 0x0300;
        __asm__ __volatile__("fldcw %0" : : "m"(extended));
#endif
    }
    ~ExtendedPrecision() {
#if defined(__i386__) || defined(__x86_64__)
        __asm__ __volatile__("fldcw %0" : : "m"(saved_));
#endif
    }
    ExtendedPrecision(const ExtendedPrecision &) = delete;
    ExtendedPrecision &operator=(const ExtendedPrecision &) = delete;

private:
    uint16_t saved_ = 0;
};
} // namespace

long double BusyKernel(uint32_t count) {
    ExtendedPrecision precision;
    long double x = 0.123456789;
    for (uint32_t i = 0; i < count; ++i) {
        long double y = sinl(x);
        y = cosl(y);
        y = tanl(y);
        y = atanl(y / 1.0L);
        y = kLn2 * log2l(y);
        y = y * -1234.0L;
        const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(y)));
        const int32_t m = static_cast<int32_t>((12345u - static_cast<uint32_t>(n)) * 67890u) % 123;
        const int r = rand();
        x = static_cast<long double>(m + r) * kScale;
    }
    return x;
}

uint32_t NextBusyCount(uint32_t count, uint64_t sleepUs, uint64_t busyUs, uint32_t percent) {
    if (percent == 0 || percent >= 100)
        return count;
    if (busyUs == 0) {
        // The busy phase was shorter than the clock's millisecond. Scaling as if it had taken 1 us
        // multiplies the count by the whole cycle length, and at a few percent, where the target phase
        // itself is below 1 ms, the loop then swings between that and the tiny count every other cycle
        // and loads the processor almost fully. Doubling finds the visible range within a few cycles.
        const uint64_t doubled = static_cast<uint64_t>(count) * 2;
        return doubled == 0 ? 1 : (doubled > kMaxBusyCount ? kMaxBusyCount : static_cast<uint32_t>(doubled));
    }
    const uint64_t cycleFromSleep = sleepUs * 100 / (100 - percent);
    const uint64_t cycleFromBusy = busyUs * 100 / percent;
    const long double next = static_cast<long double>(static_cast<int64_t>(cycleFromSleep)) *
                             static_cast<long double>(static_cast<int64_t>(count)) /
                             static_cast<long double>(static_cast<int64_t>(cycleFromBusy));
    // A count of 0 would never be measured again and would stay 0 for good; a disturbed clock reading
    // can ask for an arbitrarily long phase.
    if (!(next >= 1.0L))
        return 1;
    if (next >= static_cast<long double>(kMaxBusyCount))
        return kMaxBusyCount;
    return static_cast<uint32_t>(static_cast<int64_t>(next));
}

int RunBusyPhase(uint32_t count, const WorkerThread &worker, const LoadHooks &hooks) {
    // At 99 % a phase lasts up to two seconds; polled only at its end, a stop would wait that long. One
    // slice is a few milliseconds of kernel, and one atomic read per slice costs nothing the load shows.
    while (count > 0) {
        if (worker.StopRequested())
            return 0;
        const uint32_t slice = count < kBusySliceCount ? count : kBusySliceCount;
        hooks.kernel(slice);
        count -= slice;
    }
    return 1;
}

int32_t RunLoad(const WorkerThread &worker, int32_t percent, const LoadHooks *hooks) {
    if (!hooks)
        hooks = &kRealHooks;

    if (percent >= 100) {
        while (!worker.StopRequested())
            hooks->kernel(kBusySliceCount);
        return 0;
    }
    if (percent <= 0) {
        // No load at all, but the stop request is still seen within one sleep.
        while (!worker.StopRequested())
            hooks->sleep(kLoadSleepMs);
        return 0;
    }

    const uint32_t share = static_cast<uint32_t>(percent);
    uint32_t count = kInitialBusyCount;
    Stopwatch stopwatch(hooks->clock);
    while (!worker.StopRequested()) {
        stopwatch.Start();
        hooks->sleep(kLoadSleepMs);
        stopwatch.Stop();
        const uint64_t sleepUs = stopwatch.ElapsedUs();

        // The count is sized by the whole phase, so the whole phase is what gets timed. A phase cut short
        // by a stop is never measured: nothing follows it.
        stopwatch.Start();
        if (!RunBusyPhase(count, worker, *hooks))
            return 0;
        stopwatch.Stop();
        const uint64_t busyUs = stopwatch.ElapsedUs();

        count = NextBusyCount(count, sleepUs, busyUs, share);
    }
    return 0;
}

int32_t LoadWorker(void *record, int32_t percent) {
    ProcessorRecord *processor = static_cast<ProcessorRecord *>(record);
    if (!processor)
        return 0;
    // Pinned by the layout its row's usage is measured by. A worker the system would not pin still loads
    // (somewhere), and its row says so.
    processor->pinFailed.store(processor->sampler.Groups().Pin(processor->index) ? 0 : 1);
    return RunLoad(processor->worker, percent, nullptr);
}

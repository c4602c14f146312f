// LoadWorker: busy kernel, duty-cycle control and the worker loop.
#include "load/LoadWorker.h"
#include "load/ProcessorRecord.h"
#include "load/WorkerThread.h"
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
} // namespace

long double BusyKernel(uint32_t count) {
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
    const uint64_t cycleFromSleep = sleepUs * 100 / (100 - percent);
    uint64_t cycleFromBusy = busyUs * 100 / percent;
    if (cycleFromBusy == 0)
        cycleFromBusy = 1;
    const long double next = static_cast<long double>(static_cast<int64_t>(cycleFromSleep)) *
                             static_cast<long double>(static_cast<int64_t>(count)) /
                             static_cast<long double>(static_cast<int64_t>(cycleFromBusy));
    // A count of 0 would never be measured again and would stay 0 for good; a busy phase measured as
    // 0 ms or a disturbed clock reading can ask for an arbitrarily long one.
    if (!(next >= 1.0L))
        return 1;
    if (next >= static_cast<long double>(kMaxBusyCount))
        return kMaxBusyCount;
    return static_cast<uint32_t>(static_cast<int64_t>(next));
}

int32_t RunLoad(uint32_t index, const WorkerThread &worker, int32_t percent, const LoadHooks *hooks) {
    if (!hooks)
        hooks = &kRealHooks;
    SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(1) << (index & 31));

    if (percent >= 100) {
        while (!worker.StopRequested())
            hooks->kernel(kFullLoadBusyCount);
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
    if (worker.StopRequested())
        return 0;
    for (;;) {
        stopwatch.Start();
        hooks->sleep(kLoadSleepMs);
        stopwatch.Stop();
        const uint64_t sleepUs = stopwatch.ElapsedUs();

        stopwatch.Start();
        hooks->kernel(count);
        stopwatch.Stop();
        const uint64_t busyUs = stopwatch.ElapsedUs();

        count = NextBusyCount(count, sleepUs, busyUs, share);
        if (worker.StopRequested())
            return 0;
    }
}

int32_t LoadWorker(void *record, int32_t percent) {
    ProcessorRecord *processor = static_cast<ProcessorRecord *>(record);
    if (!processor)
        return 0;
    return RunLoad(processor->index, processor->worker, percent, nullptr);
}

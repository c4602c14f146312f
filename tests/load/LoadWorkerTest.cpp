// LoadWorker and its pieces: the busy kernel's contract with rand(), the count update, the stopwatch
// across the clock's wrap, the duty-cycle loop driven by a scripted clock, and real workers on real
// processors.
#include "base/EventObject.h"
#include "base/Win.h"
#include "load/LoadWorker.h"
#include "base/ProcessorGroups.h"
#include "load/ProcessorRecord.h"
#include "base/WorkerThread.h"
#include "tests/common/ProcessRunner.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {
const long double kScale = 3.0404378230465186e-05;

// Waits (bounded) for the worker's end. Wait answers 0 for a thread that has already ended, so the
// running bit is what tells.
int Ended(WorkerThread &worker, DWORD ms) {
    worker.Wait(ms);
    return !worker.Running();
}

// The value rand() gives after n further calls from seed.
int NthRand(unsigned seed, unsigned n) {
    srand(seed);
    int value = 0;
    for (unsigned i = 0; i < n; ++i)
        value = rand();
    return value;
}
} // namespace

// ---- Busy kernel ------------------------------------------------------------------------------------

TEST(BusyKernel, ZeroCountReturnsTheStartValueWithoutCallingRand) {
    srand(4242);
    const long double result = BusyKernel(0);
    const int next = rand();
    EXPECT_EQ(static_cast<long double>(0.123456789), result);
    EXPECT_EQ(NthRand(4242, 1), next);
}

TEST(BusyKernel, CallsRandExactlyOncePerIteration) {
    for (unsigned count : {1u, 2u, 37u, 1000u}) {
        srand(99);
        BusyKernel(count);
        const int next = rand();
        EXPECT_EQ(NthRand(99, count + 1), next) << count;
    }
}

TEST(BusyKernel, ResultIsTheLastRandPlusASmallRemainderOver32890) {
    for (unsigned count : {1u, 5u, 64u, 500u}) {
        srand(2024 + count);
        const long double result = BusyKernel(count);
        EXPECT_GE(result, 0.0L);
        EXPECT_LT(result, 1.0L);
        // result = (m + r) / 32890 with r the last rand() and m in 0..122.
        const long double scaled = result / kScale;
        const long double whole = roundl(scaled);
        EXPECT_NEAR(static_cast<double>(whole), static_cast<double>(scaled), 1e-6) << count;
        const long m = static_cast<long>(whole) - NthRand(2024 + count, count);
        EXPECT_GE(m, 0) << count;
        EXPECT_LE(m, 122) << count;
    }
}

TEST(BusyKernel, SameRandStateSameResult) {
    srand(7);
    const long double first = BusyKernel(300);
    srand(7);
    const long double second = BusyKernel(300);
    EXPECT_EQ(first, second);
}

namespace {
int32_t KernelOnFreshThread(void *context, int32_t count) {
    *static_cast<long double *>(context) = BusyKernel(static_cast<uint32_t>(count));
    return 0;
}
} // namespace

TEST(BusyKernel, EveryThreadStartsItsOwnRandAtOne) {
    srand(555); // the main thread's state must not leak into the worker's
    long double onWorker = -1;
    WorkerThread worker;
    ASSERT_EQ(1, worker.Start(KernelOnFreshThread, &onWorker, 40));
    ASSERT_TRUE(Ended(worker, 10000));
    srand(1);
    EXPECT_EQ(BusyKernel(40), onWorker);
}

// ---- Count update -----------------------------------------------------------------------------------

TEST(NextBusyCount, BalancedCycleKeepsTheCount) {
    EXPECT_EQ(200u, NextBusyCount(200, 20000, 20000, 50));
    // 25 %: sleep 21 ms implies a 28 ms cycle, busy 7 ms implies the same.
    EXPECT_EQ(300u, NextBusyCount(300, 21000, 7000, 25));
}

TEST(NextBusyCount, ScalesByTheRatioOfTheImpliedCycles) {
    EXPECT_EQ(200u, NextBusyCount(100, 20000, 10000, 50));
    EXPECT_EQ(150u, NextBusyCount(300, 21000, 14000, 25));
    // 40000 * 100 / 60000 = 66.7, truncated.
    EXPECT_EQ(66u, NextBusyCount(100, 20000, 30000, 50));
}

TEST(NextBusyCount, BusyPhaseTooShortForTheClockDoublesTheCount) {
    EXPECT_EQ(200u, NextBusyCount(100, 20000, 0, 50));
    EXPECT_EQ(2u, NextBusyCount(1, 20202, 0, 1));
    EXPECT_EQ(1u, NextBusyCount(0, 20000, 0, 10));
}

TEST(NextBusyCount, NeverBeyondTheMaximum) {
    EXPECT_EQ(kMaxBusyCount, NextBusyCount(10000000, 20000, 0, 50));
    EXPECT_EQ(kMaxBusyCount, NextBusyCount(kMaxBusyCount, 20000, 0, 50));
    EXPECT_EQ(kMaxBusyCount, NextBusyCount(10000, 20000, 1, 50));
    EXPECT_EQ(kMaxBusyCount, NextBusyCount(0xFFFFFFFFu, 20000, 1000, 99));
    // What an unwrapped clock difference across the wrap looks like.
    const uint64_t unwrappedUs = (0xFFFFFFFFFFFFFFF0ull - 0xFFFFFFF0ull) * 1000;
    const uint32_t next = NextBusyCount(100, unwrappedUs, 20000, 50);
    EXPECT_GE(next, 1u);
    EXPECT_LE(next, kMaxBusyCount);
}

TEST(NextBusyCount, NeverZero) {
    // 40000 / 2000000 = 0.02 of one iteration: a count of 0 would stay 0 for good.
    EXPECT_EQ(1u, NextBusyCount(1, 20000, 1000000, 50));
    EXPECT_EQ(1u, NextBusyCount(0, 20000, 1000, 50));
    EXPECT_EQ(1u, NextBusyCount(100, 0, 20000, 50));
}

TEST(NextBusyCount, NoDivisionAtTheEnds) {
    EXPECT_EQ(123u, NextBusyCount(123, 20000, 5000, 0));
    EXPECT_EQ(123u, NextBusyCount(123, 20000, 5000, 100));
}

// ---- The duty-cycle loop on a scripted clock --------------------------------------------------------

namespace {
// A scripted machine: sleeping and the kernel advance a microsecond clock, of which the loop's stopwatch
// sees whole milliseconds (32 bits, wrapping). Written only by the worker thread while it runs.
struct ScriptedMachine {
    uint64_t nowUs = 0;
    uint64_t sleepUs = 20000;
    uint32_t sleepJitterUs = 0; // each sleep lasts up to this much longer, in a fixed pseudo-random pattern
    double usPerIteration = 100.0;
    int stopAfterKernels = -1; // every kernel call counts, slices of one phase each
    int stopAfterSleeps = -1;
    // A stop asked for during slice stopAtSlice of busy phase stopInPhase (both from 1); slice 0 means
    // during the sleep before that phase.
    int stopInPhase = -1;
    int stopAtSlice = -1;
    uint64_t sleptUs = 0;
    std::vector<uint32_t> slices; // the count of every kernel call
    std::vector<uint32_t> counts; // iterations of every busy phase: the slices after one sleep added up
    int slicesInPhase = 0;
    std::vector<DWORD> sleeps;
    WorkerThread *worker = nullptr;
};
ScriptedMachine g_machine;

uint32_t MachineClock() {
    return static_cast<uint32_t>(g_machine.nowUs / 1000);
}

void MachineSleep(DWORD ms) {
    g_machine.sleeps.push_back(ms);
    const uint64_t jitter =
        g_machine.sleepJitterUs ? (g_machine.sleeps.size() * 7919u) % g_machine.sleepJitterUs : 0;
    g_machine.nowUs += g_machine.sleepUs + jitter;
    g_machine.sleptUs += g_machine.sleepUs + jitter;
    const int slept = static_cast<int>(g_machine.sleeps.size());
    if (slept == g_machine.stopAfterSleeps || (g_machine.stopAtSlice == 0 && slept == g_machine.stopInPhase))
        g_machine.worker->RequestStop();
}

long double MachineKernel(uint32_t count) {
    g_machine.slices.push_back(count);
    // Without sleeps (100 %) all slices make one phase.
    if (g_machine.counts.empty() || g_machine.counts.size() < g_machine.sleeps.size()) {
        g_machine.counts.push_back(count);
        g_machine.slicesInPhase = 1;
    } else {
        g_machine.counts.back() += count;
        ++g_machine.slicesInPhase;
    }
    g_machine.nowUs += static_cast<uint64_t>(count * g_machine.usPerIteration);
    if (static_cast<int>(g_machine.slices.size()) == g_machine.stopAfterKernels ||
        (static_cast<int>(g_machine.counts.size()) == g_machine.stopInPhase &&
         g_machine.slicesInPhase == g_machine.stopAtSlice))
        g_machine.worker->RequestStop();
    return 0;
}

const LoadHooks kMachineHooks = {MachineSleep, MachineKernel, MachineClock};

struct LoopRun {
    WorkerThread *worker = nullptr;
    EventObject *go = nullptr; // when set, the loop starts only once it is signalled
};

int32_t RunScriptedLoop(void *context, int32_t percent) {
    LoopRun *run = static_cast<LoopRun *>(context);
    if (run->go && !run->go->Wait(10000))
        return -1;
    return RunLoad(*run->worker, percent, &kMachineHooks);
}

// Runs the loop at percent on a real thread against the scripted machine; 1 when it ended by itself.
int RunOnMachine(int32_t percent) {
    WorkerThread worker;
    g_machine.worker = &worker;
    LoopRun run;
    run.worker = &worker;
    if (!worker.Start(RunScriptedLoop, &run, percent))
        return 0;
    const int ended = Ended(worker, 30000);
    return ended && worker.ExitCode() == 0;
}

class ScriptedLoop : public ::testing::Test {
protected:
    void SetUp() override { g_machine = ScriptedMachine(); }
};

// Busy share of the scripted time, in percent.
double Duty() {
    double busy = 0;
    for (uint32_t count : g_machine.counts)
        busy += count * g_machine.usPerIteration;
    return busy / (busy + static_cast<double>(g_machine.sleptUs)) * 100.0;
}
} // namespace

TEST_F(ScriptedLoop, HalfLoadSettlesOnABusyPhaseAsLongAsTheSleep) {
    // Asked to stop during the sixth sleep, the loop runs no sixth busy phase.
    g_machine.stopAfterSleeps = 6;
    ASSERT_EQ(1, RunOnMachine(50));
    EXPECT_EQ((std::vector<uint32_t>{100, 200, 200, 200, 200}), g_machine.counts);
    EXPECT_EQ((std::vector<DWORD>{20, 20, 20, 20, 20, 20}), g_machine.sleeps);
}

TEST_F(ScriptedLoop, EveryShareSettlesOnItsDutyCycle) {
    // A kernel of 0.25 us per iteration and sleeps of 20 to 20.5 ms, over 2000 cycles. From 25 % on, a
    // busy phase takes several slices; the loop must still time it as a whole.
    for (int percent : {1, 2, 5, 10, 25, 50, 75, 90, 99}) {
        g_machine = ScriptedMachine();
        g_machine.usPerIteration = 0.25;
        g_machine.sleepJitterUs = 500;
        g_machine.stopAfterSleeps = 2001;
        ASSERT_EQ(1, RunOnMachine(percent)) << percent;
        EXPECT_NEAR(percent, Duty(), percent < 10 ? 0.5 : 1.0) << percent;
    }
}

TEST_F(ScriptedLoop, BusyPhasesTooShortForTheClockGrowUntilSeen) {
    // 1 us per iteration: 100 to 800 iterations read as 0 ms, 800 then reads as 1 ms (80.7 to 81.5 ms).
    g_machine.usPerIteration = 1.0;
    g_machine.stopAfterSleeps = 7;
    ASSERT_EQ(1, RunOnMachine(50));
    EXPECT_EQ((std::vector<uint32_t>{100, 200, 400, 800, 16000, 20000}), g_machine.counts);
    // The phases beyond one slice run as full slices and a remainder.
    EXPECT_EQ((std::vector<uint32_t>{100, 200, 400, 800, 10000, 6000, 10000, 10000}), g_machine.slices);
}

TEST_F(ScriptedLoop, ClockWrapDuringSleepOrBusyPhaseChangesNothing) {
    // 10 ms before the wrap the first sleep spans it, 25 ms before the first busy phase does.
    for (uint64_t beforeWrapMs : {10u, 25u}) {
        g_machine = ScriptedMachine();
        g_machine.nowUs = (0x100000000ull - beforeWrapMs) * 1000;
        g_machine.stopAfterSleeps = 6;
        ASSERT_EQ(1, RunOnMachine(50));
        EXPECT_EQ((std::vector<uint32_t>{100, 200, 200, 200, 200}), g_machine.counts) << beforeWrapMs;
    }
}

TEST_F(ScriptedLoop, FullLoadNeverSleepsAndRunsTenThousandAtATime) {
    g_machine.stopAfterKernels = 4;
    ASSERT_EQ(1, RunOnMachine(100));
    EXPECT_EQ((std::vector<uint32_t>{10000, 10000, 10000, 10000}), g_machine.slices);
    EXPECT_TRUE(g_machine.sleeps.empty());
}

TEST_F(ScriptedLoop, AboveHundredLoadsLikeHundred) {
    g_machine.stopAfterKernels = 2;
    ASSERT_EQ(1, RunOnMachine(250));
    EXPECT_EQ((std::vector<uint32_t>{10000, 10000}), g_machine.slices);
    EXPECT_TRUE(g_machine.sleeps.empty());
}

TEST_F(ScriptedLoop, ZeroPercentOnlySleepsUntilStopped) {
    g_machine.stopAfterSleeps = 3;
    ASSERT_EQ(1, RunOnMachine(0));
    EXPECT_TRUE(g_machine.counts.empty());
    EXPECT_EQ((std::vector<DWORD>{20, 20, 20}), g_machine.sleeps);
}

TEST_F(ScriptedLoop, NegativeShareLoadsLikeZero) {
    g_machine.stopAfterSleeps = 2;
    ASSERT_EQ(1, RunOnMachine(-5));
    EXPECT_TRUE(g_machine.counts.empty());
    EXPECT_EQ(2u, g_machine.sleeps.size());
}

TEST_F(ScriptedLoop, StopBeforeTheFirstCycleReturnsWithoutSleepOrKernel) {
    for (int32_t percent : {0, 1, 50, 99, 100}) {
        g_machine = ScriptedMachine();
        WorkerThread worker;
        EventObject go;
        ASSERT_EQ(1, go.Create(1, 0));
        g_machine.worker = &worker;
        LoopRun run;
        run.worker = &worker;
        run.go = &go;
        ASSERT_EQ(1, worker.Start(RunScriptedLoop, &run, percent));
        ASSERT_EQ(1, worker.RequestStop());
        go.Set();
        ASSERT_TRUE(Ended(worker, 10000)) << percent;
        EXPECT_EQ(0, worker.ExitCode()) << percent;
        EXPECT_TRUE(g_machine.counts.empty()) << percent;
        EXPECT_TRUE(g_machine.sleeps.empty()) << percent;
    }
}

namespace {
struct PhaseRun {
    WorkerThread *worker;
    uint32_t count;
};

int32_t RunOnePhase(void *context, int32_t) {
    PhaseRun *run = static_cast<PhaseRun *>(context);
    return RunBusyPhase(run->count, *run->worker, kMachineHooks);
}

struct SliceCase {
    uint32_t count;
    int stopInSlice; // the stop is asked for while this slice runs (from 1); -1: no stop
};

struct StopCase {
    int32_t percent;
    int phase; // the busy phase the stop comes in (from 1)
    int slice; // the slice of that phase it comes in (from 1); 0: during the sleep before the phase
};
} // namespace

// A phase runs as full slices and one remainder, adding up to its count; a stop is seen before the next
// slice, and one that comes during the last slice finds the phase done.
TEST_F(ScriptedLoop, BusyPhaseRunsInSlicesAndStopsBetweenThem) {
    const SliceCase cases[] = {{1, -1},     {9999, -1},           {10000, -1}, {10001, -1},
                               {25000, -1}, {kMaxBusyCount, -1},  {25000, 1},  {25000, 2},
                               {25000, 3},  {kMaxBusyCount, 700}, {10000, 1}};
    for (const SliceCase &c : cases) {
        g_machine = ScriptedMachine();
        g_machine.stopAfterKernels = c.stopInSlice;
        WorkerThread worker;
        g_machine.worker = &worker;
        PhaseRun run = {&worker, c.count};
        ASSERT_EQ(1, worker.Start(RunOnePhase, &run, 0));
        ASSERT_TRUE(Ended(worker, 30000)) << c.count;
        const size_t whole = (c.count + kBusySliceCount - 1) / kBusySliceCount;
        const size_t ran = c.stopInSlice < 0 ? whole : std::min<size_t>(whole, c.stopInSlice);
        ASSERT_EQ(ran, g_machine.slices.size()) << c.count << " " << c.stopInSlice;
        uint64_t total = 0;
        for (size_t i = 0; i < ran; ++i) {
            total += g_machine.slices[i];
            if (i + 1 < whole) {
                EXPECT_EQ(static_cast<uint32_t>(kBusySliceCount), g_machine.slices[i]) << c.count << " " << i;
            }
        }
        EXPECT_EQ(ran == whole ? 1 : 0, worker.ExitCode()) << c.count << " " << c.stopInSlice;
        if (ran == whole) {
            EXPECT_EQ(c.count, total) << c.stopInSlice;
        }
    }
}

// Wherever a stop comes (in a sleep, in the first or a late slice of a long phase, at 0 and 100 %), the loop
// ends before another slice or sleep.
TEST_F(ScriptedLoop, StopIsSeenWithinOneSliceWhereverItComes) {
    const StopCase cases[] = {{99, 20, 1}, {99, 20, 300}, {90, 20, 40}, {50, 20, 3},
                              {99, 20, 0}, {0, 3, 0},     {100, 1, 5}};
    for (const StopCase &c : cases) {
        // The same machine without the stop tells how long the stopped phase would have been.
        uint32_t fullPhase = 0;
        if (c.percent > 0 && c.percent < 100) {
            g_machine = ScriptedMachine();
            g_machine.usPerIteration = 0.25;
            g_machine.stopAfterSleeps = c.phase + 1;
            ASSERT_EQ(1, RunOnMachine(c.percent));
            ASSERT_EQ(static_cast<size_t>(c.phase), g_machine.counts.size());
            fullPhase = g_machine.counts.back();
            // Otherwise the stop would not come in the middle of the phase.
            ASSERT_GT(fullPhase, static_cast<uint32_t>(c.slice + 1) * kBusySliceCount) << c.percent;
        }
        g_machine = ScriptedMachine();
        g_machine.usPerIteration = 0.25;
        g_machine.stopInPhase = c.phase;
        g_machine.stopAtSlice = c.slice;
        ASSERT_EQ(1, RunOnMachine(c.percent)) << c.percent;
        if (c.percent >= 100) {
            EXPECT_EQ(static_cast<size_t>(c.slice), g_machine.slices.size());
            EXPECT_TRUE(g_machine.sleeps.empty());
            continue;
        }
        EXPECT_EQ(static_cast<size_t>(c.phase), g_machine.sleeps.size()) << c.percent << " " << c.slice;
        const int phases = c.percent == 0 ? 0 : (c.slice == 0 ? c.phase - 1 : c.phase);
        ASSERT_EQ(static_cast<size_t>(phases), g_machine.counts.size()) << c.percent << " " << c.slice;
        if (c.slice > 0) {
            EXPECT_EQ(c.slice, g_machine.slicesInPhase) << c.percent;
            EXPECT_EQ(static_cast<uint32_t>(c.slice) * kBusySliceCount, g_machine.counts.back()) << c.percent;
        }
    }
}

// ---- Real workers on real processors ----------------------------------------------------------------

namespace {
uint64_t ThreadTime100ns(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<uint64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<uint64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

// The share of wall time the record's worker spent on a processor over about 1.5 s, in percent.
double MeasuredShare(ProcessorRecord &record) {
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, record.worker.ThreadId());
    if (!thread)
        return -1;
    Sleep(300); // the first cycles settle the count
    const uint64_t cpuBefore = ThreadTime100ns(thread);
    const uint64_t wallBefore = TickCount64();
    Sleep(1500);
    const uint64_t cpu = ThreadTime100ns(thread) - cpuBefore;
    const uint64_t wall = TickCount64() - wallBefore;
    CloseHandle(thread);
    return static_cast<double>(cpu) / 10000.0 / static_cast<double>(wall) * 100.0;
}

uint32_t LastProcessor() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 32 ? 31 : info.dwNumberOfProcessors - 1;
}
} // namespace

TEST(RealLoadWorker, WithoutARecordReturnsAtOnce) {
    EXPECT_EQ(0, LoadWorker(nullptr, 50));
}

TEST(RealLoadWorker, HalfLoadRoughlyHalfAndStopsPromptly) {
    ProcessorRecord record;
    record.index = LastProcessor();
    ASSERT_EQ(1, record.worker.Start(LoadWorker, &record, 50));
    const double share = MeasuredShare(record);
    ASSERT_EQ(1, record.worker.RequestStop());
    // Seen after the current sleep or kernel slice.
    EXPECT_TRUE(Ended(record.worker, 5000));
    EXPECT_EQ(0, record.worker.ExitCode());
    // Other programs on the machine slow the kernel down; the loop then runs fewer iterations, so only
    // a broad band is certain. Accuracy is the benchmark's business.
    EXPECT_GT(share, 10.0) << share;
    EXPECT_LT(share, 85.0) << share;
}

TEST(RealLoadWorker, ZeroLoadPutsNoLoadAndStopsPromptly) {
    ProcessorRecord record;
    record.index = LastProcessor();
    ASSERT_EQ(1, record.worker.Start(LoadWorker, &record, 0));
    const double share = MeasuredShare(record);
    ASSERT_EQ(1, record.worker.RequestStop());
    EXPECT_TRUE(Ended(record.worker, 5000));
    EXPECT_GE(share, 0.0);
    EXPECT_LT(share, 5.0) << share;
}

TEST(RealLoadWorker, FullLoadStopsWithinOneKernelRun) {
    ProcessorRecord record;
    record.index = LastProcessor();
    ASSERT_EQ(1, record.worker.Start(LoadWorker, &record, 100));
    // Asked to stop once it is running its kernel.
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, record.worker.ThreadId());
    ASSERT_TRUE(thread);
    EXPECT_TRUE(ProcessRunner::WaitUntil(5000, [&] { return ThreadTime100ns(thread) > 0; }));
    CloseHandle(thread);
    ASSERT_EQ(1, record.worker.RequestStop());
    EXPECT_TRUE(Ended(record.worker, 5000));
    EXPECT_EQ(0, record.worker.Running());
}

TEST(RealLoadWorker, RecordsIndexDecidesTheProcessor) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (info.dwNumberOfProcessors < 2)
        GTEST_SKIP() << "one processor: every mask is the same";
    ProcessorRecord record;
    record.index = 1;
    ASSERT_EQ(1, record.worker.Start(LoadWorker, &record, 0));
    HANDLE thread =
        OpenThread(THREAD_QUERY_INFORMATION | THREAD_SET_INFORMATION, FALSE, record.worker.ThreadId());
    ASSERT_NE(nullptr, thread);
    // The worker pins itself once, early; until then it has the process's mask.
    DWORD_PTR previous = 0;
    ProcessRunner::WaitUntil(10000, [&] {
        previous = SetThreadAffinityMask(thread, info.dwActiveProcessorMask);
        return previous != info.dwActiveProcessorMask;
    });
    CloseHandle(thread);
    record.worker.RequestStop();
    EXPECT_TRUE(Ended(record.worker, 5000));
    EXPECT_EQ(static_cast<DWORD_PTR>(2), previous);
}

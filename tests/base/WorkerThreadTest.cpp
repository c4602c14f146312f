// WorkerThread: start and restart, the stop flag, waits that time out, pump messages or end on quit, and
// forced ends by Terminate and by destruction.
#include "base/EventObject.h"
#include "base/Win.h"
#include "base/WorkerThread.h"
#include "tests/common/ProcessRunner.h"
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <vector>

namespace {
// Context of the test routines; each field is written by one side only.
struct Probe {
    WorkerThread *worker = nullptr;
    std::atomic<int> runs{0};
    std::atomic<DWORD> threadId{0};
    std::atomic<int32_t> value{-1};
    std::atomic<int> stopSeen{0};
    std::atomic<int> release{0};
};

int32_t ReturnValueTimesTwo(void *context, int32_t value) {
    Probe *probe = static_cast<Probe *>(context);
    probe->threadId = GetCurrentThreadId();
    probe->value = value;
    ++probe->runs;
    return value * 2;
}

// Runs until asked to stop (bounded, so a broken flag cannot hang the test program).
int32_t RunUntilStopRequested(void *context, int32_t value) {
    Probe *probe = static_cast<Probe *>(context);
    probe->threadId = GetCurrentThreadId();
    ++probe->runs;
    for (int i = 0; i < 30000; ++i) {
        if (probe->worker->StopRequested()) {
            probe->stopSeen = 1;
            return value;
        }
        Sleep(1);
    }
    return -1;
}

int32_t NeverEnds(void *context, int32_t) {
    Probe *probe = static_cast<Probe *>(context);
    ++probe->runs;
    for (;;)
        Sleep(5);
}

int32_t OtherRoutine(void *context, int32_t) {
    ++static_cast<Probe *>(context)->release;
    return 99;
}

// Waits (bounded) until the thread behind handle has ended; 1 when it has. Closes the handle.
int ThreadEnded(HANDLE thread, DWORD *exitCode) {
    if (!thread)
        return 0;
    const int ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    if (exitCode)
        GetExitCodeThread(thread, exitCode);
    CloseHandle(thread);
    return ended;
}

// Waits (bounded) for the worker's end. Wait answers 0 for a thread that has already ended, so the
// running bit is what tells.
int Ended(WorkerThread &worker, DWORD ms) {
    worker.Wait(ms);
    return !worker.Running();
}

HANDLE OpenRunningThread(DWORD id) {
    return OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, id);
}
} // namespace

TEST(WorkerThreadStart, RunsTheRoutineWithContextAndValueOnANewThread) {
    WorkerThread worker;
    Probe probe;
    ASSERT_EQ(1, worker.Start(ReturnValueTimesTwo, &probe, 21));
    EXPECT_NE(0u, worker.ThreadId());
    ASSERT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(1, probe.runs.load());
    EXPECT_EQ(21, probe.value.load());
    EXPECT_NE(GetCurrentThreadId(), probe.threadId.load());
    EXPECT_EQ(worker.ThreadId(), probe.threadId.load());
    EXPECT_EQ(42, worker.ExitCode());
    EXPECT_EQ(0, worker.Running());
}

TEST(WorkerThreadStart, StartOnARunningThreadIsRefusedAndLeavesItAlone) {
    WorkerThread worker;
    Probe probe;
    probe.worker = &worker;
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 5));
    const DWORD id = worker.ThreadId();
    EXPECT_EQ(0, worker.Start(OtherRoutine, &probe, 6));
    EXPECT_EQ(id, worker.ThreadId());
    EXPECT_EQ(1, worker.Running());
    ASSERT_EQ(1, worker.RequestStop());
    ASSERT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(1, probe.stopSeen.load());
    EXPECT_EQ(5, worker.ExitCode());
    EXPECT_EQ(0, probe.release.load());
}

TEST(WorkerThreadStart, NullRoutineIsRefused) {
    WorkerThread worker;
    EXPECT_EQ(0, worker.Start(nullptr, nullptr, 0));
    EXPECT_EQ(0, worker.Running());
}

TEST(WorkerThreadStart, SameObjectRunsAgainWithoutTheOldStopRequest) {
    WorkerThread worker;
    Probe probe;
    probe.worker = &worker;
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 1));
    worker.RequestStop();
    ASSERT_TRUE(Ended(worker, 10000));
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 2));
    EXPECT_EQ(0, worker.StopRequested());
    // The old request must not end the new run: it runs until asked again (an end within the bound fails).
    EXPECT_EQ(0, worker.Wait(50));
    EXPECT_EQ(1, worker.Running());
    worker.RequestStop();
    ASSERT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(2, probe.runs.load());
    EXPECT_EQ(2, worker.ExitCode());
}

TEST(WorkerThreadStop, RequestAndQueryMeanNothingWhileIdle) {
    WorkerThread worker;
    EXPECT_EQ(0, worker.RequestStop());
    EXPECT_EQ(0, worker.StopRequested());
    Probe probe;
    ASSERT_EQ(1, worker.Start(ReturnValueTimesTwo, &probe, 1));
    ASSERT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(0, worker.RequestStop());
    EXPECT_EQ(0, worker.StopRequested());
}

TEST(WorkerThreadStop, RequestIsSeenByTheRunningRoutine) {
    WorkerThread worker;
    Probe probe;
    probe.worker = &worker;
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 3));
    EXPECT_EQ(0, worker.StopRequested());
    EXPECT_EQ(1, worker.RequestStop());
    EXPECT_EQ(1, worker.StopRequested());
    ASSERT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(1, probe.stopSeen.load());
    // Once ended, the request no longer shows.
    EXPECT_EQ(0, worker.StopRequested());
}

TEST(WorkerThreadWait, IdleReturnsZeroAtOnce) {
    WorkerThread worker;
    const uint64_t before = TickCount64();
    EXPECT_EQ(0, worker.Wait(60000));
    EXPECT_LT(TickCount64() - before, 1000u);
}

TEST(WorkerThreadWait, TimesOutWhileTheRoutineRuns) {
    WorkerThread worker;
    Probe probe;
    probe.worker = &worker;
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 0));
    EXPECT_EQ(0, worker.Wait(50));
    EXPECT_EQ(1, worker.Running());
    worker.RequestStop();
    EXPECT_TRUE(Ended(worker, 10000));
}

namespace {
WorkerThread *g_timerWorker = nullptr;
std::atomic<int> g_timerTicks{0};
void CALLBACK StopFromTimer(HWND, UINT, UINT_PTR, DWORD) {
    ++g_timerTicks;
    g_timerWorker->RequestStop();
}
} // namespace

TEST(WorkerThreadWait, DispatchesMessagesWhileWaiting) {
    WorkerThread worker;
    Probe probe;
    probe.worker = &worker;
    g_timerWorker = &worker;
    g_timerTicks = 0;
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 8));
    // Only the timer procedure, run from inside Wait, asks the worker to stop.
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, StopFromTimer);
    ASSERT_NE(0u, timer);
    EXPECT_EQ(1, worker.Wait(20000));
    KillTimer(nullptr, timer);
    EXPECT_GE(g_timerTicks.load(), 1);
    EXPECT_EQ(1, probe.stopSeen.load());
    EXPECT_EQ(8, worker.ExitCode());
}

TEST(WorkerThreadWait, QuitMessageEndsTheWaitAndStaysQueued) {
    WorkerThread worker;
    Probe probe;
    probe.worker = &worker;
    ASSERT_EQ(1, worker.Start(RunUntilStopRequested, &probe, 0));
    PostQuitMessage(3);
    EXPECT_EQ(0, worker.Wait(20000));
    EXPECT_EQ(1, worker.Running());
    MSG message;
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    worker.RequestStop();
    EXPECT_TRUE(Ended(worker, 10000));
}

TEST(WorkerThreadTerminate, EndsARunningThreadWithExitCodeZero) {
    WorkerThread worker;
    Probe probe;
    ASSERT_EQ(1, worker.Start(NeverEnds, &probe, 0));
    HANDLE thread = OpenRunningThread(worker.ThreadId());
    ASSERT_NE(nullptr, thread);
    ProcessRunner::WaitUntil(10000, [&] { return probe.runs.load() != 0; });
    ASSERT_EQ(1, probe.runs.load());
    worker.Terminate();
    EXPECT_EQ(0, worker.Running());
    EXPECT_EQ(0, worker.ExitCode());
    DWORD exitCode = 12345;
    EXPECT_EQ(1, ThreadEnded(thread, &exitCode));
    EXPECT_EQ(0u, exitCode);
    // Idle again: waits answer 0 and the object can be started anew.
    EXPECT_EQ(0, worker.Wait(1000));
    ASSERT_EQ(1, worker.Start(ReturnValueTimesTwo, &probe, 4));
    EXPECT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(8, worker.ExitCode());
}

TEST(WorkerThreadTerminate, AfterANormalEndOnlyResetsTheExitCode) {
    WorkerThread worker;
    Probe probe;
    ASSERT_EQ(1, worker.Start(ReturnValueTimesTwo, &probe, 10));
    ASSERT_TRUE(Ended(worker, 10000));
    EXPECT_EQ(20, worker.ExitCode());
    worker.Terminate();
    EXPECT_EQ(0, worker.ExitCode());
    EXPECT_EQ(1, probe.runs.load());
}

TEST(WorkerThreadTerminate, DestructionEndsARunningThread) {
    Probe probe;
    HANDLE thread = nullptr;
    {
        WorkerThread worker;
        ASSERT_EQ(1, worker.Start(NeverEnds, &probe, 0));
        thread = OpenRunningThread(worker.ThreadId());
        ASSERT_NE(nullptr, thread);
        ProcessRunner::WaitUntil(10000, [&] { return probe.runs.load() != 0; });
        ASSERT_EQ(1, probe.runs.load());
    }
    EXPECT_EQ(1, ThreadEnded(thread, nullptr));
}

TEST(WorkerThreadTerminate, DestroyingRightAfterTheRoutineReturnsIsSafe) {
    // The thread may still be signalling when its owner goes away; repeated to give the race a chance.
    Probe probe;
    std::vector<HANDLE> threads;
    for (int i = 0; i < 200; ++i) {
        std::unique_ptr<WorkerThread> worker(new WorkerThread);
        ASSERT_EQ(1, worker->Start(ReturnValueTimesTwo, &probe, i));
        // Null when the thread is already completely gone.
        threads.push_back(OpenThread(SYNCHRONIZE, FALSE, worker->ThreadId()));
        if (i % 2)
            Sleep(0);
        worker.reset();
    }
    // Every thread ran to its end or was ended; none is left behind to touch a freed object later.
    for (HANDLE thread : threads) {
        if (!thread)
            continue;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
    }
}

// A 64-bit worker keeps stack in reserve for the crash filter: asked with 0, the system answers what the
// thread has in reserve.
TEST(WorkerThreadStart, SixtyFourBitWorkersKeepStackForTheCrashFilter) {
    if (sizeof(void *) != 8)
        GTEST_SKIP() << "a 32-bit worker keeps no reserve";
    struct Probe {
        static int32_t Reserve(void *, int32_t) {
            typedef BOOL(WINAPI * GuaranteeFunction)(ULONG *);
            GuaranteeFunction guarantee = reinterpret_cast<GuaranteeFunction>(
                GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadStackGuarantee"));
            ULONG bytes = 0;
            if (!guarantee || !guarantee(&bytes))
                return -1;
            return static_cast<int32_t>(bytes);
        }
    };
    WorkerThread worker;
    ASSERT_EQ(1, worker.Start(&Probe::Reserve, nullptr, 0));
    ASSERT_EQ(1, worker.Wait(10000));
    EXPECT_GE(worker.ExitCode(), 64 * 1024);
}

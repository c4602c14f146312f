// WorkerThread: a thread running one routine, with a stop flag the routine polls and a finished event
// that the owner waits on while its window messages keep flowing.
//
// Classes: WorkerThread.
#pragma once

#include "base/EventObject.h"
#include "base/ScopedHandle.h"
#include "base/Win.h"
#include <atomic>
#include <cstdint>

class WorkerThread {
public:
    typedef int32_t (*Routine)(void *context, int32_t value);

    // Bits of the state word.
    enum : uint32_t { kRunning = 0x1, kStopRequested = 0x2 };

    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // 0 when already running or when the thread cannot be created.
    int Start(Routine routine, void *context, int32_t value);
    // 1 when the thread runs and now has a stop request; 0 and no change when idle.
    int RequestStop();
    int StopRequested() const;
    // 0 at once when idle; ms 0 means no limit. 1 when the routine has returned, 0 on time-out or quit.
    int Wait(DWORD ms);
    // Ends a still-running thread by force (exit code 0) and releases the finished event.
    void Terminate();

    // Keeps stack in reserve on the calling thread for the crash reporter's filter after a stack overflow.
    // 64-bit Windows raises the overflow with little stack left and runs the handlers on what remains;
    // every thread the program starts calls this (the main thread through the crash reporter). Nothing in
    // a 32-bit program, where the system keeps a guard page's worth for the handlers. 1 when set.
    static int GuaranteeStackForFaults();

    int Running() const { return (state_.load() & kRunning) != 0; }
    int32_t ExitCode() const { return exitCode_.load(); }
    DWORD ThreadId() const { return threadId_; }
    // Processor time the thread has used (kernel and user), in 100-nanosecond units; 0 without a thread.
    uint64_t CpuTime() const;

private:
    static DWORD WINAPI Entry(void *parameter);

    void *context_ = nullptr;
    int32_t value_ = 0;
    std::atomic<int32_t> exitCode_{0};
    std::atomic<uint32_t> state_{0};
    DWORD threadId_ = 0;
    Routine routine_ = nullptr;
    EventObject finished_;
    // The thread signals through its own duplicate of the finished event, so that it never touches this
    // object once it has cleared the running bit: the owner may destroy it from then on. The duplicate
    // belongs to whoever clears the running bit (the thread at its end, or Terminate), so it is held here
    // only as a value; each of them takes it into an owner when it wins.
    HANDLE threadFinished_ = nullptr;
    OwnedHandle thread_;
    // Set by the thread as its first action; a forced end waits for it (see Terminate).
    std::atomic<int> entered_{0};
};

// WorkerThread: start, stop request, pumping wait and forced end of one routine's thread.
#include "base/WorkerThread.h"
#include "base/DynamicLibrary.h"

WorkerThread::~WorkerThread() {
    Terminate();
}

int WorkerThread::Start(Routine routine, void *context, int32_t value) {
    if (!routine)
        return 0;
    uint32_t state = state_.load();
    do {
        if (state & kRunning)
            return 0;
    } while (!state_.compare_exchange_weak(state, (state & ~kStopRequested) | kRunning));

    context_ = context;
    value_ = value;
    routine_ = routine;
    exitCode_.store(0);
    // A previous thread that has cleared its running bit may still be signalling its own copy of the old
    // event; that copy is its own, so closing ours here is safe.
    thread_.Reset();
    threadFinished_ = nullptr;
    // Until the thread runs, the copy is ours: every failure below closes it on the way out.
    OwnedHandle copy;
    HANDLE duplicate = nullptr;
    if (!finished_.Create(1, 0) ||
        !DuplicateHandle(GetCurrentProcess(), finished_.Handle(), GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        finished_.Close();
        state_.fetch_and(~kRunning);
        return 0;
    }
    copy.Reset(duplicate);
    threadFinished_ = copy.Get();
    entered_.store(0);
    DWORD id = 0;
    thread_.Reset(CreateThread(nullptr, 0, Entry, this, 0, &id));
    if (!thread_.IsValid()) {
        threadFinished_ = nullptr;
        state_.fetch_and(~kRunning);
        return 0;
    }
    copy.Release(); // the thread's now
    threadId_ = id;
    return 1;
}

int WorkerThread::GuaranteeStackForFaults() {
#ifdef _WIN64
    typedef BOOL(WINAPI * GuaranteeFunction)(ULONG *);
    DynamicLibrary kernel;
    GuaranteeFunction guarantee =
        kernel.Load("kernel32.dll") ? kernel.Function<GuaranteeFunction>("SetThreadStackGuarantee") : nullptr;
    // Room for the filter to start the report thread and wait for it.
    ULONG bytes = 64 * 1024;
    return guarantee && guarantee(&bytes) ? 1 : 0;
#else
    return 0;
#endif
}

DWORD WINAPI WorkerThread::Entry(void *parameter) {
    GuaranteeStackForFaults();
    WorkerThread *self = static_cast<WorkerThread *>(parameter);
    HANDLE finished = self->threadFinished_;
    self->entered_.store(1);
    int32_t result = self->routine_(self->context_, self->value_);
    self->exitCode_.store(result);
    // Whoever clears the running bit owns the end. If Terminate got there first it is about to kill this
    // thread and closes the event copy itself; running on into the thread's exit (which takes the loader
    // lock) could then be cut short inside it, so the thread waits for its end here.
    if (!(self->state_.fetch_and(~kRunning) & kRunning)) {
        for (;;)
            Sleep(INFINITE);
    }
    OwnedHandle owned(finished);
    SetEvent(owned.Get());
    return static_cast<DWORD>(result);
}

int WorkerThread::RequestStop() {
    uint32_t state = state_.load();
    do {
        if (!(state & kRunning))
            return 0;
    } while (!state_.compare_exchange_weak(state, state | kStopRequested));
    return 1;
}

int WorkerThread::StopRequested() const {
    return (state_.load() & (kRunning | kStopRequested)) == (kRunning | kStopRequested);
}

int WorkerThread::Wait(DWORD ms) {
    if (!Running())
        return 0;
    return finished_.PumpWait(ms == 0 ? INFINITE : ms);
}

void WorkerThread::Terminate() {
    if ((state_.fetch_and(~kRunning) & kRunning) && thread_.IsValid()) {
        // Under Wine, terminating a thread before it has started to run brings the whole process down;
        // a thread that has just been created gets a moment to get going first.
        for (int i = 0; i < 5000 && !entered_.load(); ++i)
            Sleep(1);
        TerminateThread(thread_.Get(), 0);
        // TerminateThread only schedules the end; the thread's copy of the event may be closed once it
        // can no longer run (a thread that cannot be seen to end keeps it).
        if (WaitForSingleObject(thread_.Get(), 5000) == WAIT_OBJECT_0) {
            OwnedHandle killedThreadsCopy(threadFinished_);
        }
        threadFinished_ = nullptr;
    }
    // A thread that ended by itself keeps running its last instructions after clearing the bit; closing
    // our handle does not disturb it.
    thread_.Reset();
    exitCode_.store(0);
    finished_.Close();
}

uint64_t WorkerThread::CpuTime() const {
    FILETIME created, exited, kernel, user;
    if (!thread_.IsValid() || !GetThreadTimes(thread_.Get(), &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<uint64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<uint64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

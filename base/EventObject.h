// EventObject: an owned event with a plain and a message-pumping wait; beside it the security attributes
// for shared objects and the 64-bit tick count the waits measure with.
//
// Classes: EventObject. Functions: BuildSecurityAttributes, TickCount64, DispatchPending.
#pragma once

#include "base/ScopedHandle.h"
#include "base/Win.h"
#include <cstdint>

class EventObject {
public:
    EventObject();
    ~EventObject() { Close(); }
    EventObject(const EventObject &) = delete;
    EventObject &operator=(const EventObject &) = delete;

    // name may be null; with a name and global = 1 on NT 5.0 and later the name gets "Global\" and an open
    // DACL.
    int Create(int manualReset, int initiallySet, const char *name = nullptr, int global = 0);
    int Set();
    void Close();
    int Wait(DWORD ms, int *timedOut = nullptr, HANDLE second = nullptr);
    // Waits while dispatching the calling thread's messages; a WM_QUIT is posted again and ends the wait.
    int PumpWait(DWORD ms, HANDLE second = nullptr);
    HANDLE Handle() const { return handle_.Get(); }

private:
    int owned_ = 0;
    int ntAfterNt4_ = 0;
    OwnedHandle handle_;
};

// Fills attributes with a descriptor copied into a heap block (HeapAlloc on the process heap) that the
// caller frees with HeapFree; with no text the descriptor has a present but NULL DACL (open to everyone).
int BuildSecurityAttributes(const char *descriptorText, SECURITY_ATTRIBUTES *attributes, int inherit);

// Milliseconds since start-up: GetTickCount64 when the system has it, else GetTickCount with its wraps
// carried into the high half.
uint64_t TickCount64();

// Dispatches the calling thread's waiting messages without waiting for more: 0 when a quit message came
// (posted again, so that the thread's own loop still sees it), 1 otherwise.
int DispatchPending();

// RecordList: the intrusive, lock-guarded doubly linked list that holds processor records and
// command-line entries. It never owns its elements: their owner deletes them after removing them.
//
// Classes: ListEntry, RecordList.
#pragma once

#include "base/CriticalSection.h"
#include "base/EventObject.h"

// Base of every list element: the links and a virtual destructor, so owners delete through it.
class ListEntry {
public:
    ListEntry() = default;
    virtual ~ListEntry() = default;
    ListEntry(const ListEntry &) = delete;
    ListEntry &operator=(const ListEntry &) = delete;

    ListEntry *next = nullptr;
    ListEntry *previous = nullptr;
};

class RecordList {
public:
    RecordList();
    ~RecordList();
    RecordList(const RecordList &) = delete;
    RecordList &operator=(const RecordList &) = delete;

    void Append(ListEntry *element);
    // 1 when the element was found and unlinked; its own links are left as they were.
    int Remove(ListEntry *element);
    // Unlocked: only the owning thread walks the list.
    ListEntry *First() const { return first_; }
    ListEntry *Next(const ListEntry *element) const { return element ? element->next : nullptr; }
    // Forgets every element without touching them and (re)initialises the locks and the gate.
    void Reset();

private:
    void Lock();

    CriticalSection lock_;
    EventObject gate_;
    CriticalSection secondLock_;
    ListEntry *first_ = nullptr;
    ListEntry *last_ = nullptr;
};

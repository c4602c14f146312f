// RecordList: the intrusive, lock-guarded doubly linked list that holds processor records and
// command-line entries. It never owns its elements: their owner (an OwnedEntries beside the list) deletes
// them after removing them.
//
// Classes: ListEntry, RecordList, OwnedEntries.
#pragma once

#include "base/CriticalSection.h"
#include "base/EventObject.h"
#include <memory>

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

// The owner of every element of one list: Adopt appends an element it then owns; Clear, and the owner's end,
// remove each element from the list and delete it. Declared after its list, so that it ends first.
class OwnedEntries {
public:
    explicit OwnedEntries(RecordList &list) : list_(list) {}
    ~OwnedEntries() { Clear(); }
    OwnedEntries(const OwnedEntries &) = delete;
    OwnedEntries &operator=(const OwnedEntries &) = delete;

    void Adopt(std::unique_ptr<ListEntry> element) { list_.Append(element.release()); }
    void Clear();

private:
    RecordList &list_;
};

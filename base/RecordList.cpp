// RecordList: insertion and removal under the lock, once the gate is open.
#include "base/RecordList.h"

RecordList::RecordList() {
    gate_.Create(1, 1);
}

RecordList::~RecordList() {
    lock_.Delete();
    secondLock_.Delete();
    gate_.Close();
}

void RecordList::Lock() {
    lock_.Enter();
    gate_.Wait(INFINITE);
}

void RecordList::Append(ListEntry *element) {
    if (!element)
        return;
    Lock();
    element->next = nullptr;
    element->previous = last_;
    if (last_)
        last_->next = element;
    else
        first_ = element;
    last_ = element;
    lock_.Leave();
}

int RecordList::Remove(ListEntry *element) {
    Lock();
    ListEntry *walk = first_;
    while (walk && walk != element)
        walk = walk->next;
    if (walk) {
        if (walk->previous)
            walk->previous->next = walk->next;
        else
            first_ = walk->next;
        if (walk->next)
            walk->next->previous = walk->previous;
        else
            last_ = walk->previous;
    }
    lock_.Leave();
    return walk != nullptr;
}

void RecordList::Reset() {
    lock_.Initialize();
    secondLock_.Initialize();
    gate_.Create(1, 1);
    first_ = nullptr;
    last_ = nullptr;
}

void OwnedEntries::Clear() {
    while (ListEntry *entry = list_.First()) {
        list_.Remove(entry);
        delete entry;
    }
}

// OwnedChain: how the program lets go of its singly linked owning lists, where each element owns the next
// through a std::unique_ptr member named next (the form parts of a request, the records of a crash report).
//
// Functions: ReleaseFront, ReleaseChain.
#pragma once

#include <memory>
#include <utility>

// Releases the first element; the one after it becomes first. first must hold an element.
template <typename T> void ReleaseFront(std::unique_ptr<T> &first) {
    first = std::move(first->next);
}

// Releases every element, front to back, one at a time: a long chain released by its head alone would go
// one nested destructor per element, deep enough to overrun a small stack such as a crash report's.
template <typename T> void ReleaseChain(std::unique_ptr<T> &first) {
    while (first)
        ReleaseFront(first);
}

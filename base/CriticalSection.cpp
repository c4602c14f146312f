// CriticalSection: initialised once, deleted once.
#include "base/CriticalSection.h"

void CriticalSection::Initialize() {
    if (initialized_)
        return;
    InitializeCriticalSection(&section_);
    initialized_ = 1;
}

void CriticalSection::Enter() {
    if (initialized_)
        EnterCriticalSection(&section_);
}

void CriticalSection::Leave() {
    if (initialized_)
        LeaveCriticalSection(&section_);
}

void CriticalSection::Delete() {
    if (!initialized_)
        return;
    DeleteCriticalSection(&section_);
    initialized_ = 0;
}

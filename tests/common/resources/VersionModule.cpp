// A module that only carries (or lacks) a version block, for the version lookups.
#include "base/Win.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

// Wow64: the questions about a 32-bit process on 64-bit Windows that the registry and OS code both ask,
// resting on nothing but the run-time library loader.
//
// Functions: IsWow64, FilterViewFlags, FilterViewFlagsFor.
#pragma once

#include "base/Win.h"
#include <cstdint>

// 1 when the process (the current one when null) is a 32-bit process on 64-bit Windows.
int IsWow64(HANDLE process = nullptr);

// Keeps KEY_WOW64_64KEY / KEY_WOW64_32KEY only for a 32-bit process on 64-bit Windows.
uint32_t FilterViewFlags(uint32_t viewFlags);
// The same rule for a given answer to "is this process under WOW64" (1 or 0).
uint32_t FilterViewFlagsFor(uint32_t viewFlags, int wow64);

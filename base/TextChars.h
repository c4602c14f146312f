// TextChars: how the program walks text of the system ANSI code page, one character (one or two bytes) at a
// time, and the free text functions built on that which work in place on plain NUL-terminated arrays.
//
// Functions: IsLead, CharBytes, FoldCase, CompareChars, SearchChars, IsSpace, TrimTrailingBlanks,
// LineBreaksToBlanks, StripQuotes, SkipFirstToken.
#pragma once

#include "base/Win.h"
#include <cstdint>

// Only bytes of the upper half can start a double-byte character of the system code page.
inline int IsLead(unsigned char c) {
    return c >= 0x80 && IsDBCSLeadByte(c);
}

// Bytes of the character at p: a lead byte followed by its trail counts 2; a lead byte cut off by the
// terminator counts 1 so that the terminator is never stepped over.
inline uint32_t CharBytes(const char *p) {
    return IsLead(static_cast<unsigned char>(p[0])) && p[1] ? 2 : 1;
}

// Lower case of a single-byte character of the system code page; lead bytes stay as they are.
unsigned char FoldCase(unsigned char c);
// Compares at most limit bytes character by character. A double-byte character ranks by lead * 256 + trail,
// so it is never split and its trail byte is never case-folded (trail bytes overlap the ASCII letters).
int CompareChars(const char *x, const char *y, uint32_t limit, int ignoreCase);
// First occurrence of find (length findLength) at a character boundary at or after text, or none.
const char *SearchChars(const char *text, const char *find, uint32_t findLength, int ignoreCase);

int IsSpace(char byte);
int TrimTrailingBlanks(char *text);
void LineBreaksToBlanks(char *text);
void StripQuotes(char *text);
const char *SkipFirstToken(const char *text);

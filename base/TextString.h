// TextString: the program's one text type (owning, growable, NUL-terminated, system ANSI code page). The
// character rules it walks by are in TextChars, the path parts in PathName.
//
// Classes: TextString.
#pragma once

#include "base/Win.h"
#include "base/BstrHolder.h"
#include <cstdarg>
#include <cstdint>

class TextString {
public:
    TextString();
    explicit TextString(uint32_t capacity);
    ~TextString();
    TextString(const TextString &) = delete;
    TextString &operator=(const TextString &) = delete;

    // Construction, assignment, capacity
    int Assign(const char *text);
    int Assign(const char *text, uint32_t count);
    int Assign(const wchar_t *text);
    int Assign(const TextString *other);
    TextString &operator=(const char *text);
    TextString &operator=(const wchar_t *text);
    int Reset(uint32_t capacity);
    int SetSize(uint32_t n);
    void Recount();

    // Appending and editing
    int Append(const char *text);
    int Append(const TextString &other);
    int Append(char byte);
    int Append(const wchar_t *text);
    int AppendWideChar(wchar_t unit);
    const char *EnsureTrailing(char byte);
    const char *Insert(int position, const char *text);
    // Both taken unsigned: a position at or past the end changes nothing, the count is clipped to the end.
    const char *Delete(int position, int count);
    const char *Left(int n);
    const char *Mid(int position, int count);
    const char *From(int position);
    const char *TrimLeft();
    const char *TrimRight();
    const char *Replace(const char *find, const char *replacement, int inPlace);
    const char *ReplaceNoCase(const char *find, const char *replacement);
    char *Tokenize(int first, const char *delimiters);

    // Access and queries
    const char *Text(char *destination = nullptr) const;
    char *At(int position) const;
    char CharAt(int position) const;
    int Length() const { return static_cast<int>(size_) - 1; }
    int MaxLength() const { return static_cast<int>(capacity_) - 1; }
    uint32_t Capacity() const { return capacity_; }
    char *Buffer(uint32_t sizeHint = 0);
    int Compare(const char *text) const;
    int CompareNoCase(const char *text) const;
    int CompareNoCase(const char *text, int n) const;
    const char *Find(char byte) const;
    int FindIndex(char byte) const;
    int ReverseFindIndex(char byte) const;
    const char *FindText(const char *text) const;
    int FindNoCase(const char *text) const;
    int FindNoCase(const char *text, int start) const;

    // Conversions, lines, formatting
    const wchar_t *Wide(wchar_t *buffer = nullptr);
    int DecodeUtf8To(TextString &target) const;
    BstrHolder ToBstr() const;
    int FirstLine(TextString &out);
    int NextLine(TextString &out);
    int Format(const char *format, ...) __attribute__((format(ms_printf, 2, 3)));
    int FormatV(const char *format, va_list args);

private:
    int Grow(uint32_t capacity);
    void ResetEmpty();
    uint32_t Used() const { return size_ ? size_ - 1 : 0; }
    int AppendBytes(const char *bytes, uint32_t count);
    const char *ReplaceAll(const char *find, const char *replacement, int inPlace, int ignoreCase);
    // One replacement of the lf bytes at at by the lr bytes of replacement, in the block itself or in a new
    // block of the new size; 0 when memory is short.
    int ReplaceAt(uint32_t at, uint32_t lf, const char *replacement, uint32_t lr, int inPlace);
    // Where ReplaceAll's search goes on after a replacement at at.
    uint32_t ResumeAt(uint32_t at, uint32_t lf, uint32_t lr) const;

    char *text_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t size_ = 0;
    wchar_t *wide_ = nullptr;
    // An offset rather than a pointer, so a reallocation between FirstLine and NextLine cannot make it
    // dangle.
    uint32_t lineCursor_ = 0;
    int lineCursorSet_ = 0;
};

// RegistryKey: one open registry key with typed reads and writes, and the one-shot functions that open a
// key, read or write one value and close it again.
//
// Classes: RegistryKey. Functions: ReadDwordAt, WriteDwordAt, ReadStringAt, WriteStringAt.
#pragma once

#include "base/Win.h"
#include <cstdint>

class TextString;

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    // Open reads only (KEY_READ); Create opens an existing key or makes it, with full access.
    // viewFlags: KEY_WOW64_* bits, kept only where they mean something (see FilterViewFlags).
    int Open(HKEY root, const char *subkey, uint32_t viewFlags = 0);
    int Create(HKEY root, const char *subkey, uint32_t viewFlags = 0);
    // Succeeds only for a value of exactly 4 bytes, whatever its declared type; out is untouched otherwise.
    int ReadDword(const char *name, uint32_t *out);
    // Reads any value as text, however long; out is always terminated and is empty after a failure.
    int ReadString(const char *name, TextString &out);
    int ReadBinary(const char *name, void *buffer, DWORD *size);
    int WriteDword(const char *name, uint32_t value);
    int WriteString(const char *name, const char *text);
    int Close();
    HKEY Handle() const { return key_; }

private:
    HKEY key_ = nullptr;
};

uint32_t ReadDwordAt(HKEY root, const char *subkey, const char *name, uint32_t defaultValue,
                     uint32_t viewFlags = 0);
int WriteDwordAt(HKEY root, const char *subkey, const char *name, uint32_t value);
int ReadStringAt(HKEY root, const char *subkey, const char *name, TextString &out,
                 const char *defaultText = nullptr, uint32_t viewFlags = 0);
int WriteStringAt(HKEY root, const char *subkey, const char *name, const char *text);

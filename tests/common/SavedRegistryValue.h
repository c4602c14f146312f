// SavedRegistryValue: a registry value a test or a benchmark changes for a while (the program's settings, the
// browser's link colours) comes back as it was afterwards, or stays missing when it was missing; with the
// plain readers and writers those callers use under HKEY_CURRENT_USER.
//
// Classes: SavedRegistryValue. Functions: ReadUserDword, WriteUserDword, WriteUserString, DeleteUserValue.
#pragma once

#include "base/Win.h"
#include <string>
#include <vector>

// Remembers a registry value (or that it was missing) and puts it back on destruction.
class SavedRegistryValue {
public:
    SavedRegistryValue(HKEY root, const char *key, const char *name);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue &) = delete;
    SavedRegistryValue &operator=(const SavedRegistryValue &) = delete;

private:
    HKEY root_;
    std::string key_, name_;
    int existed_ = 0;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// 1 with the value when a DWORD exists under HKCU key.
int ReadUserDword(const char *key, const char *name, DWORD *value);
// 1 when the value was written (the key is created when missing).
int WriteUserDword(const char *key, const char *name, DWORD value);
int WriteUserString(const char *key, const char *name, const char *text);
// 1 when the value is gone afterwards, also when it was never there.
int DeleteUserValue(const char *key, const char *name);

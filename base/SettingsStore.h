// SettingsStore: the settings front end that sends every read and write either to the registry or to an
// INI file beside the program.
//
// Classes: SettingsStore.
#pragma once

#include "base/IniSettings.h"
#include "base/TextString.h"
#include "base/Win.h"
#include <cstdint>

// Mode bits; the registry wins when both are set, neither means no store at all.
enum : uint32_t {
    kStoreRegistry = 1,
    kStoreIni = 2,
};

class SettingsStore {
public:
    SettingsStore() = default;
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // iniFileName null: the executable's name with ".ini", beside the executable.
    int Init(uint32_t mode, HKEY root, const char *keyPath, const char *iniFileName = nullptr);
    int KeyPath(TextString &out, const char *subkey = nullptr) const;

    // The last argument is a subkey below the key path in registry mode and a section name in INI mode
    // (none: the key path itself, or the section "Settings").
    uint32_t ReadNumber(const char *name, uint32_t defaultValue, const char *subkey = nullptr);
    int WriteNumber(const char *name, uint32_t value, const char *subkey = nullptr);
    int ReadString(const char *name, TextString &out, const char *defaultText = nullptr,
                   const char *subkey = nullptr);
    int WriteString(const char *name, const char *text, const char *subkey = nullptr);

    uint32_t Mode() const { return mode_; }
    const IniSettings &Ini() const { return ini_; }

private:
    uint32_t mode_ = 0;
    IniSettings ini_;
    HKEY root_ = nullptr;
    TextString keyPath_;
};

// WerRegistration: hands report files to Windows Error Reporting, so that the system's own crash handling
// sends them along with its report. Systems without the function simply do without.
//
// Classes: WerRegistration.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"

class WerRegistration {
public:
    // Loads kernel32 (the function is looked up at the first registration).
    WerRegistration();
    ~WerRegistration() = default;
    WerRegistration(const WerRegistration &) = delete;
    WerRegistration &operator=(const WerRegistration &) = delete;

    // Registers path as an "other" file with ANSI conversion; 1 when the system accepted it, 0 when it
    // refused or cannot register files at all.
    int Register(const char *path);

private:
    typedef HRESULT(WINAPI *RegisterFileFunction)(PCWSTR, int, DWORD);
    enum { kFileTypeOther = 2, kAnsiConversion = 2 };

    DynamicLibrary kernel32_;
    RegisterFileFunction registerFile_ = nullptr;
    int looked_ = 0;
};

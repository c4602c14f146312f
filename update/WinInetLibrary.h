// WinInetLibrary: wininet.dll loaded at run time with the table of entry points HttpClient calls, all or
// none, and a count of the loads that are open: the program starts where WinINet is missing and never
// imports it.
//
// Classes: WinInetLibrary.
#pragma once

#include "base/DynamicLibrary.h"
#include <cstdint>

class WinInetLibrary {
public:
    // The entry table, in the order of the names WinInetLibrary.cpp looks up.
    enum EntryIndex : uint32_t {
        kHttpSendRequestA,
        kHttpSendRequestExA,
        kHttpAddRequestHeadersA,
        kHttpEndRequestA,
        kInternetGetCookieA,
        kInternetSetCookieA,
        kInternetQueryOptionA,
        kInternetOpenA,
        kHttpOpenRequestA,
        kFtpOpenFileA,
        kInternetSetOptionA,
        kHttpQueryInfoA,
        kInternetConnectA,
        kInternetOpenUrlA,
        kInternetCrackUrlA,
        kInternetReadFile,
        kInternetWriteFile,
        kInternetErrorDlg,
        kInternetCloseHandle,
        kEntryCount,
    };

    WinInetLibrary() = default;
    ~WinInetLibrary() { library_.Free(); }
    WinInetLibrary(const WinInetLibrary &) = delete;
    WinInetLibrary &operator=(const WinInetLibrary &) = delete;

    // 1/0. Loads the library with every entry point, or only counts when loaded already; when an entry is
    // missing, nothing stays loaded and the count stays 0.
    int Load();
    // Frees the library when the count drops to 0; the new count (never below 0).
    int Unload();
    int LoadCount() const { return loadCount_; }
    // The entry point at index, typed by the caller; null while not loaded.
    template <typename F> F Entry(EntryIndex index) const { return reinterpret_cast<F>(entries_[index]); }

private:
    DynamicLibrary library_;
    int32_t loadCount_ = 0;
    void *entries_[kEntryCount] = {};
};

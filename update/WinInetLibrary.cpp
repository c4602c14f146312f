// WinInetLibrary: binding wininet.dll's entry table and counting the loads.
#include "update/WinInetLibrary.h"
#include <cstring>

namespace {
const char *const kEntryNames[WinInetLibrary::kEntryCount] = {
    "HttpSendRequestA",   "HttpSendRequestExA", "HttpAddRequestHeadersA", "HttpEndRequestA",
    "InternetGetCookieA", "InternetSetCookieA", "InternetQueryOptionA",   "InternetOpenA",
    "HttpOpenRequestA",   "FtpOpenFileA",       "InternetSetOptionA",     "HttpQueryInfoA",
    "InternetConnectA",   "InternetOpenUrlA",   "InternetCrackUrlA",      "InternetReadFile",
    "InternetWriteFile",  "InternetErrorDlg",   "InternetCloseHandle",
};
} // namespace

int WinInetLibrary::Load() {
    if (loadCount_ > 0) {
        ++loadCount_;
        return 1;
    }
    FunctionSlot slots[kEntryCount];
    for (uint32_t i = 0; i < kEntryCount; ++i)
        slots[i] = FunctionSlot::For(kEntryNames[i], entries_[i]);
    if (!library_.Load("wininet.dll") || !library_.BindAll(slots, kEntryCount)) {
        library_.Free();
        loadCount_ = 0;
        return 0;
    }
    loadCount_ = 1;
    return 1;
}

int WinInetLibrary::Unload() {
    if (loadCount_ == 1) {
        memset(entries_, 0, sizeof(entries_));
        library_.Free();
    }
    if (loadCount_ > 0)
        --loadCount_;
    return loadCount_;
}

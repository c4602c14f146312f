// WinInetHandle: owner of one WinINet handle (session, connection or request). The program never imports
// wininet.dll, so the handle carries the InternetCloseHandle its client looked up at run time; it must go
// before that client frees the library.
//
// Classes: WinInetHandle.
#pragma once

#include "base/Win.h"

class WinInetHandle {
public:
    typedef void *Handle;
    typedef BOOL(WINAPI *CloseFunction)(Handle handle);

    WinInetHandle() = default;
    WinInetHandle(Handle handle, CloseFunction close) : handle_(handle), close_(close) {}
    ~WinInetHandle() { Reset(); }
    WinInetHandle(const WinInetHandle &) = delete;
    WinInetHandle &operator=(const WinInetHandle &) = delete;
    WinInetHandle(WinInetHandle &&other) noexcept : handle_(other.handle_), close_(other.close_) {
        other.handle_ = nullptr;
    }
    WinInetHandle &operator=(WinInetHandle &&other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.handle_;
            close_ = other.close_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Closes the handle held so far; the owner holds nothing afterwards.
    void Reset() {
        Handle handle = handle_;
        handle_ = nullptr;
        if (handle && close_)
            close_(handle);
    }

private:
    Handle handle_ = nullptr;
    CloseFunction close_ = nullptr;
};

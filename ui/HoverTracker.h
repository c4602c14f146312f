// HoverTracker: tells a window when the mouse has left it, with TrackMouseEvent where user32 has it and by
// polling the cursor where it does not.
//
// Classes: HoverTracker.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"

// Asks for WM_MOUSELEAVE: through TrackMouseEvent when user32 has it, otherwise by polling the cursor every
// 100 ms and posting WM_MOUSELEAVE itself once the cursor is outside the window.
class HoverTracker {
public:
    HoverTracker();
    ~HoverTracker() { Stop(); }
    HoverTracker(const HoverTracker &) = delete;
    HoverTracker &operator=(const HoverTracker &) = delete;

    // 1 when WM_MOUSELEAVE will be sent to the window once the mouse leaves it.
    int Track(HWND window);
    // Ends the polling (TrackMouseEvent needs no ending: its request ends with the leave).
    void Stop();
    // Behave as on a system without TrackMouseEvent, which is how the polling is exercised.
    void ForgetTrackMouseEvent() { trackMouseEvent_ = nullptr; }
    int IsPolling() const { return window_ != nullptr; }

private:
    static void CALLBACK OnTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    // The polling timer's id on the tracked window: the tracker's address, so that the timer procedure
    // finds its tracker without a map.
    UINT_PTR TimerId() const { return reinterpret_cast<UINT_PTR>(this); }

    typedef BOOL(WINAPI *TrackMouseEventFunction)(LPTRACKMOUSEEVENT);
    DynamicLibrary user32_;
    TrackMouseEventFunction trackMouseEvent_ = nullptr;
    HWND window_ = nullptr; // the polled window, null while not polling
    RECT screenRect_ = {};
};

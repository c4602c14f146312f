// HoverTracker: the leave request through TrackMouseEvent and the polling timer that stands in for it.
#include "ui/HoverTracker.h"

namespace {
const UINT kPollInterval = 100;
}

HoverTracker::HoverTracker() {
    if (user32_.Load("user32.dll"))
        trackMouseEvent_ = user32_.Function<TrackMouseEventFunction>("TrackMouseEvent");
}

int HoverTracker::Track(HWND window) {
    if (trackMouseEvent_) {
        TRACKMOUSEEVENT request = {};
        request.cbSize = sizeof(request);
        request.dwFlags = TME_LEAVE;
        request.hwndTrack = window;
        request.dwHoverTime = HOVER_DEFAULT;
        return trackMouseEvent_(&request) ? 1 : 0;
    }
    Stop();
    if (!GetWindowRect(window, &screenRect_))
        return 0;
    // For a window's timer SetTimer answers just "nonzero" (1 on Windows), not the id: the timer is named
    // by the id given here, and only that id kills it.
    if (!SetTimer(window, TimerId(), kPollInterval, OnTimer))
        return 0;
    window_ = window;
    return 1;
}

void HoverTracker::Stop() {
    if (window_ && IsWindow(window_))
        KillTimer(window_, TimerId());
    window_ = nullptr;
}

void CALLBACK HoverTracker::OnTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    auto *tracker = reinterpret_cast<HoverTracker *>(id);
    POINT cursor;
    if (GetCursorPos(&cursor) && PtInRect(&tracker->screenRect_, cursor) && WindowFromPoint(cursor) == window)
        return;
    KillTimer(window, id);
    tracker->window_ = nullptr;
    PostMessageA(window, WM_MOUSELEAVE, 0, 0);
}

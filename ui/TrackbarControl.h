// TrackbarControl: wrapper of a trackbar with a position callback and, on request, click-to-position: a
// click in the channel moves the thumb straight to the mouse instead of paging towards it.
//
// Classes: TrackbarControl.
#pragma once

#include "base/Win.h"
#include "ui/SubclassHook.h"
#include <cstdint>

class TrackbarControl {
public:
    // (position, scroll code, context); SetPosition with notify reports scroll code 4 (TB_THUMBPOSITION).
    typedef void (*PositionChanged)(int position, int scrollCode, void *context);

    enum : uint32_t { kClickToPosition = 1 };

    TrackbarControl() = default;
    ~TrackbarControl() { Detach(); }
    TrackbarControl(const TrackbarControl &) = delete;
    TrackbarControl &operator=(const TrackbarControl &) = delete;

    // The trackbar is borrowed: its dialog destroys it. Returns 0 for a null window.
    int Attach(HWND window, uint32_t options);
    void Detach();
    void SetCallback(PositionChanged callback, void *context) {
        callback_ = callback;
        context_ = context;
    }
    void SetRange(int minimum, int maximum);
    void SetLineSize(int size);
    void SetPageSize(int size);
    void SetTickFrequency(int frequency);
    int GetPosition() const;
    void SetPosition(int position, int notify);
    // WM_HSCROLL / WM_VSCROLL from this trackbar: reports the position to the callback and returns 1.
    int HandleScroll(UINT message, WPARAM wParam, LPARAM lParam);

    // The position that a press at client x gives (nearest whole position, halves up).
    int PositionAt(int x) const;
    HWND Window() const { return window_; }
    int Dragging() const { return dragging_; }

private:
    int OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);
    void MoveToMouse(int x);

    SubclassHook<kHookTrackbar> hook_;
    HWND window_ = nullptr;
    PositionChanged callback_ = nullptr;
    void *context_ = nullptr;
    int dragging_ = 0;
};

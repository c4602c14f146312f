// TrackbarControl: trackbar messages, the position callback and the click-to-position mouse handling.
#include "ui/TrackbarControl.h"

#include <commctrl.h>
#include <windowsx.h>

int TrackbarControl::Attach(HWND window, uint32_t options) {
    Detach();
    if (!window)
        return 0;
    window_ = window;
    dragging_ = 0;
    if (options & kClickToPosition)
        hook_.Attach<&TrackbarControl::OnMessage>(window, this);
    return 1;
}

void TrackbarControl::Detach() {
    if (dragging_ && GetCapture() == window_)
        ReleaseCapture();
    dragging_ = 0;
    hook_.Detach();
    window_ = nullptr;
}

void TrackbarControl::SetRange(int minimum, int maximum) {
    SendMessageA(window_, TBM_SETRANGEMIN, TRUE, minimum);
    SendMessageA(window_, TBM_SETRANGEMAX, TRUE, maximum);
}

void TrackbarControl::SetLineSize(int size) {
    SendMessageA(window_, TBM_SETLINESIZE, 0, size);
}

void TrackbarControl::SetPageSize(int size) {
    SendMessageA(window_, TBM_SETPAGESIZE, 0, size);
}

void TrackbarControl::SetTickFrequency(int frequency) {
    SendMessageA(window_, TBM_SETTICFREQ, frequency & 0xFFFF, 0);
}

int TrackbarControl::GetPosition() const {
    return window_ ? static_cast<int>(SendMessageA(window_, TBM_GETPOS, 0, 0)) : 0;
}

void TrackbarControl::SetPosition(int position, int notify) {
    SendMessageA(window_, TBM_SETPOS, TRUE, position);
    if (notify == 1 && callback_)
        callback_(position, TB_THUMBPOSITION, context_);
}

int TrackbarControl::HandleScroll(UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message != WM_HSCROLL && message != WM_VSCROLL) || !window_ ||
        reinterpret_cast<HWND>(lParam) != window_)
        return 0;
    if (callback_)
        callback_(GetPosition(), LOWORD(wParam), context_);
    return 1;
}

int TrackbarControl::PositionAt(int x) const {
    RECT channel = {};
    SendMessageA(window_, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    int minimum = static_cast<int>(SendMessageA(window_, TBM_GETRANGEMIN, 0, 0));
    int maximum = static_cast<int>(SendMessageA(window_, TBM_GETRANGEMAX, 0, 0));
    if (x < channel.left)
        return minimum;
    if (x > channel.right)
        return maximum;
    int width = channel.right - channel.left;
    if (width <= 0)
        return minimum;
    return minimum + ((x - channel.left) * (maximum - minimum) + width / 2) / width;
}

void TrackbarControl::MoveToMouse(int x) {
    int position = PositionAt(x);
    if (position != GetPosition())
        SetPosition(position, 1);
}

int TrackbarControl::OnMessage(HWND window, UINT message, WPARAM, LPARAM lParam, LRESULT *result) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        RECT thumb = {};
        SendMessageA(window, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        // A press on the thumb is the control's own drag.
        if (PtInRect(&thumb, point))
            return 0;
        dragging_ = 1;
        MoveToMouse(point.x);
        SetFocus(window);
        SetCapture(window);
        *result = 0;
        return 1;
    }
    case WM_MOUSEMOVE:
        if (!dragging_)
            return 0;
        MoveToMouse(GET_X_LPARAM(lParam));
        *result = 0;
        return 1;
    case WM_LBUTTONUP:
        if (dragging_) {
            dragging_ = 0;
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        // Another window took the mouse (a message box, Alt+Tab): the drag is over.
        dragging_ = 0;
        return 0;
    case WM_DESTROY:
        // The property must not outlive the control, nor the wrapper hold on to its handle.
        Detach();
        return 0;
    default:
        return 0;
    }
}

// DividerHook: the separator static's shape and painting.
#include "ui/DividerHook.h"

namespace {
// The toolbar class's separator parts: a vertical toolbar's separator is a horizontal line and the other
// way round. State 1 is the normal one.
const int kHorizontalLinePart = 6;
const int kVerticalLinePart = 5;
} // namespace

int DividerHook::Attach(HWND window) {
    if (!window || !IsWindow(window))
        return 0;
    if (!hook_.Attach<&DividerHook::OnMessage>(window, this))
        return 0;
    uxtheme_.Load("uxtheme.dll");
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    SetWindowLongA(window, GWL_EXSTYLE,
                   (exStyle | WS_EX_TRANSPARENT) & ~(WS_EX_WINDOWEDGE | WS_EX_STATICEDGE));
    RECT area;
    GetWindowRect(window, &area);
    HWND parent = GetParent(window);
    if (parent)
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&area), 2);
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    horizontal_ = width > height;
    // The separator image is drawn over a few pixels around the line, so the window grows to hold it.
    if (horizontal_)
        SetWindowPos(window, nullptr, area.left - 2, area.top - 1, width + 3, 5,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    else
        SetWindowPos(window, nullptr, area.left - 1, area.top - 2, 5, height + 3,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return 1;
}

void DividerHook::Detach() {
    if (hook_.IsAttached())
        hook_.Detach();
}

void DividerHook::Paint(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    themed_ = 0;
    OpenThemeDataFunction open = uxtheme_.Function<OpenThemeDataFunction>("OpenThemeData");
    CloseThemeDataFunction close = uxtheme_.Function<CloseThemeDataFunction>("CloseThemeData");
    DrawThemeBackgroundFunction draw = uxtheme_.Function<DrawThemeBackgroundFunction>("DrawThemeBackground");
    if (open && close && draw) {
        HANDLE theme = open(window, L"Toolbar");
        if (theme) {
            themed_ = draw(theme, dc, horizontal_ ? kHorizontalLinePart : kVerticalLinePart, 1, &client,
                           nullptr) >= 0;
            close(theme);
        }
    }
    if (!themed_) {
        RECT edge = client;
        edge.top += 2;
        edge.left += 1;
        edge.bottom -= 1;
        DrawEdge(dc, &edge, EDGE_ETCHED, horizontal_ ? BF_TOP : BF_LEFT);
    }
}

int DividerHook::OnMessage(HWND window, UINT message, WPARAM, LPARAM, LRESULT *result) {
    if (message != WM_PAINT)
        return 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc)
        Paint(window, dc);
    EndPaint(window, &paint);
    *result = 0;
    return 1;
}

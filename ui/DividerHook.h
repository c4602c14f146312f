// DividerHook: makes a separator static paint itself as the visual style's toolbar separator (an etched
// line where there is no visual style), horizontal or vertical by the static's shape.
//
// Classes: DividerHook.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"
#include "ui/SubclassHook.h"

class DividerHook {
public:
    DividerHook() = default;
    ~DividerHook() { Detach(); }
    DividerHook(const DividerHook &) = delete;
    DividerHook &operator=(const DividerHook &) = delete;

    // Takes over the static's painting, makes it transparent without edges and gives it the separator's
    // size. 1, or 0 when the window is not a window or already has a divider hook.
    int Attach(HWND window);
    void Detach();

    HWND Window() const { return hook_.IsAttached() ? hook_.Window() : nullptr; }
    int Horizontal() const { return horizontal_; }
    // 1 when the last paint used the visual style, 0 when it drew the etched edge.
    int ThemedPaint() const { return themed_; }

private:
    int OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);
    void Paint(HWND window, HDC dc);

    typedef HANDLE(WINAPI *OpenThemeDataFunction)(HWND, LPCWSTR);
    typedef HRESULT(WINAPI *CloseThemeDataFunction)(HANDLE);
    typedef HRESULT(WINAPI *DrawThemeBackgroundFunction)(HANDLE, HDC, int, int, const RECT *, const RECT *);

    SubclassHook<kHookDivider> hook_;
    DynamicLibrary uxtheme_;
    int horizontal_ = 1;
    int themed_ = 0;
};

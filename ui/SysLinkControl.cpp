// SysLinkControl: creation from ANSI text, and link activation.
#include "ui/SysLinkControl.h"
#include "base/Shell.h"
#include "base/TextString.h"
#include <commctrl.h>

int SysLinkControl::Create(HWND parent, const char *text, int x, int y, int width, int height,
                           uint32_t options) {
    Destroy();
    if (!parent || !IsWindow(parent))
        return 0;
    // Common controls 6 registers the SysLink class only on request; older versions have none to register.
    if (commonControls_.Load("comctl32.dll")) {
        typedef BOOL(WINAPI * InitFunction)(const INITCOMMONCONTROLSEX *);
        InitFunction init = commonControls_.Function<InitFunction>("InitCommonControlsEx");
        if (init) {
            INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LINK_CLASS};
            init(&classes);
        }
    }
    RECT area = {x, y, x + width, y + height};
    if (options & kDialogUnits)
        MapDialogRect(parent, &area);
    TextString wide;
    if (!wide.Assign(text ? text : ""))
        return 0;
    const wchar_t *wideText = wide.Wide();
    DWORD style = WS_CHILD | WS_VISIBLE | ((options & kNoTabStop) ? 0 : WS_TABSTOP);
    window_ =
        CreateWindowExW(0, L"SysLink", wideText ? wideText : L"", style, area.left, area.top,
                        area.right - area.left, area.bottom - area.top, parent, nullptr,
                        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)), nullptr);
    if (!window_)
        return 0;
    SendMessageA(window_, WM_SETFONT, SendMessageA(parent, WM_GETFONT, 0, 0), FALSE);
    if (!(options & kNoParentHook))
        parentHook_.Attach<&SysLinkControl::OnParentMessage>(parent, this);
    return 1;
}

void SysLinkControl::Destroy() {
    if (parentHook_.IsAttached())
        parentHook_.Detach();
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
}

int SysLinkControl::OnNotify(LPARAM lParam) {
    const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
    if (!header || !window_ || header->hwndFrom != window_ ||
        (header->code != NM_CLICK && header->code != NM_RETURN))
        return 0;
    const NMLINK *link = reinterpret_cast<const NMLINK *>(lParam);
    if (link->item.szUrl[0]) {
        lstrcpynW(lastOpened_, link->item.szUrl, sizeof(lastOpened_) / sizeof(lastOpened_[0]));
        OpenDocument(link->item.szUrl);
    }
    return 1;
}

int SysLinkControl::OnParentMessage(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT *result) {
    if (message != WM_NOTIFY || !OnNotify(lParam))
        return 0;
    *result = 0;
    return 1;
}

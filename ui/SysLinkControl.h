// SysLinkControl: a SysLink control (common controls 6) made from marked-up text, whose links open their
// addresses (web pages or files) through the shell when clicked or activated with Enter.
//
// Classes: SysLinkControl.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"
#include "ui/SubclassHook.h"
#include <cstdint>

class SysLinkControl {
public:
    // Option bits of Create.
    enum : uint32_t {
        kDialogUnits = 0x1,  // position and size are dialog units of the parent (MapDialogRect)
        kNoTabStop = 0x2,    // leave WS_TABSTOP off
        kNoParentHook = 0x4, // the parent forwards WM_NOTIFY itself (OnNotify); no hook on the parent
    };

    SysLinkControl() = default;
    ~SysLinkControl() { Destroy(); }
    SysLinkControl(const SysLinkControl &) = delete;
    SysLinkControl &operator=(const SysLinkControl &) = delete;

    // Creates the control with the text (its <a href="..."> marks become links) and the parent's font. 0 when
    // the system has no SysLink class (common controls before version 6) or the window cannot be made.
    int Create(HWND parent, const char *text, int x, int y, int width, int height, uint32_t options);
    // Destroys the window and unhooks the parent.
    void Destroy();
    HWND Window() const { return window_; }

    // A WM_NOTIFY the parent received: 1 when it was a click or Enter on one of this control's links (the
    // link's address, when it has one, was handed to the shell).
    int OnNotify(LPARAM lParam);
    // The address the last activated link opened (empty before).
    const wchar_t *LastOpened() const { return lastOpened_; }

private:
    int OnParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

    SubclassHook<kHookSysLinkParent> parentHook_;
    DynamicLibrary commonControls_;
    HWND window_ = nullptr;
    wchar_t lastOpened_[2048 + 32] = {};
};

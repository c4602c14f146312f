// DialogRunner: the modal dialog base class and the one dialog procedure that serves every dialog.
#include "ui/DialogRunner.h"

#include "base/ModuleInfo.h"
#include "ui/TemplateFont.h"
#include <commctrl.h>
#include <cstdarg>
#include <cstdio>
#include <utility>

DialogRunner::~DialogRunner() {
    if (window_) {
        // The object is going away already: ending the run must not delete it a second time, and the window
        // must not reach it through its user data afterwards.
        options_ &= ~kDeleteOnEnd;
        HWND window = window_;
        EndRun(0);
        if (IsWindow(window))
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    }
    commonControls_.Free();
}

int DialogRunner::OnInitDialog() {
    return kInitDone;
}

int DialogRunner::CanClose(INT_PTR) {
    return 1;
}

int DialogRunner::OnCommand(int id, WPARAM, LPARAM) {
    if (id == IDCANCEL || id == IDCLOSE) {
        EndRun(0);
        return 1;
    }
    return 0;
}

int DialogRunner::OnClose() {
    EndRun(0);
    return 1;
}

int DialogRunner::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_WINDOWPOSCHANGING) {
        auto *position = reinterpret_cast<WINDOWPOS *>(lParam);
        if ((options_ & kSuppressFirstShow) && (position->flags & SWP_SHOWWINDOW)) {
            options_ &= ~kSuppressFirstShow;
            position->flags &= ~SWP_SHOWWINDOW;
        }
        if (position->flags & SWP_NOSIZE)
            return 1;
        if (minimumWidth_ != -1 && position->cx < minimumWidth_)
            position->cx = minimumWidth_;
        if (minimumHeight_ != -1 && position->cy < minimumHeight_)
            position->cy = minimumHeight_;
        return 1;
    }
    // The sizing border stops at the minimum too, instead of the frame being dragged past it and snapping
    // back.
    if (message == WM_GETMINMAXINFO) {
        auto *limits = reinterpret_cast<MINMAXINFO *>(lParam);
        if (minimumWidth_ != -1)
            limits->ptMinTrackSize.x = minimumWidth_;
        if (minimumHeight_ != -1)
            limits->ptMinTrackSize.y = minimumHeight_;
        return 1;
    }
    if (message == WM_COMMAND) {
        WORD id = static_cast<WORD>(wParam);
        if (id == IDCANCEL || id == IDCLOSE) {
            EndRun(0);
            return 1;
        }
    }
    return 0;
}

int DialogRunner::OnDestroy() {
    return OnMessage(WM_DESTROY, 0, 0);
}

INT_PTR DialogRunner::RunModal(HINSTANCE instance, int templateId, uint32_t options, HWND parent) {
    PrepareRun(instance, options);
    DWORD size = 0;
    const void *original = ModuleInfo::FindResourceAnyLanguage(instance, MAKEINTRESOURCEA(5),
                                                               MAKEINTRESOURCEA(templateId), 0, &size);
    return RunTemplate(original, size, MAKEINTRESOURCEA(templateId), options, parent);
}

INT_PTR DialogRunner::RunModalIndirect(HINSTANCE instance, const void *dialogTemplate, DWORD size,
                                       uint32_t options, HWND parent) {
    PrepareRun(instance, options);
    return RunTemplate(dialogTemplate, size, nullptr, options, parent);
}

void DialogRunner::PrepareRun(HINSTANCE instance, uint32_t options) {
    options_ = options;
    instance_ = instance;

    // Without this a high-DPI system stretches the dialog as a bitmap; the function is new in Vista.
    {
        DynamicLibrary user32;
        if (user32.Load("user32.dll")) {
            auto setAware = user32.Function<BOOL(WINAPI *)()>("SetProcessDPIAware");
            if (setAware)
                setAware();
        }
    }

    initCommonControls_ = nullptr;
    int initialised = 0;
    if (commonControls_.Load("comctl32.dll")) {
        initCommonControls_ = commonControls_.Function<BOOL(WINAPI *)(const void *)>("InitCommonControlsEx");
        if (initCommonControls_) {
            INITCOMMONCONTROLSEX classes = {sizeof classes, 0x7FFF};
            initialised = initCommonControls_(&classes) ? 1 : 0;
        }
        if (!initialised) {
            // InitCommonControls, which every version of the library exports by ordinal only.
            auto initOld = reinterpret_cast<void(WINAPI *)()>(
                reinterpret_cast<void *>(GetProcAddress(commonControls_.Handle(), MAKEINTRESOURCEA(17))));
            if (initOld)
                initOld();
        }
    }
}

INT_PTR DialogRunner::RunTemplate(const void *dialogTemplate, DWORD size, const char *resourceName,
                                  uint32_t options, HWND parent) {
    void *replaced = dialogTemplate ? TemplateFont::ReplaceTemplateFont(dialogTemplate, size,
                                                                        (options & kPreferShellDlg2) ? 1 : 0)
                                    : nullptr;
    // Set when the window goes without EndRun; the object itself may be deleted by then.
    int closedOnDestroy = 0;
    closedOnDestroy_ = &closedOnDestroy;
    HINSTANCE instance = instance_;
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    INT_PTR result = -1;
    if (replaced) {
        result = DialogBoxIndirectParamA(instance, static_cast<const DLGTEMPLATE *>(replaced), parent,
                                         &DialogRunner::DialogProcedure, self);
        TemplateFont::FreeTemplate(replaced);
    } else if (resourceName) {
        result = DialogBoxParamA(instance, resourceName, parent, &DialogRunner::DialogProcedure, self);
    } else if (dialogTemplate) {
        result = DialogBoxIndirectParamA(instance, static_cast<const DLGTEMPLATE *>(dialogTemplate), parent,
                                         &DialogRunner::DialogProcedure, self);
    }
    if (!(options & kDeleteOnEnd))
        closedOnDestroy_ = nullptr;
    // A dialog that ended on a quit message has been closed as the close box closes it, whatever the
    // system's loop answers.
    return closedOnDestroy ? 0 : result;
}

void DialogRunner::EndRun(INT_PTR result) {
    if (!window_ || ending_)
        return;
    if (!CanClose(result))
        return;
    // CanClose may pump messages; a nested close may have ended the dialog meanwhile.
    HWND window = window_;
    if (!window || ending_)
        return;
    // DestroyWindow sends WM_DESTROY at once, which must not take this for a window destroyed from outside.
    ending_ = 1;
    if (options_ & kModeless)
        DestroyWindow(window);
    else
        EndDialog(window, result);
    ending_ = 0;
    window_ = nullptr;
    if (options_ & kDeleteOnEnd) {
        // Messages still on their way to a modal dialog must not find the deleted object.
        if (IsWindow(window))
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        delete this;
    }
}

int DialogRunner::CloseOnDestroy() {
    // The children still exist during the parent's WM_DESTROY, so CanClose can read them; it cannot refuse.
    ending_ = 1;
    if (closedOnDestroy_)
        *closedOnDestroy_ = 1;
    closedOnDestroy_ = nullptr;
    CanClose(0);
    int handled = OnDestroy();
    ending_ = 0;
    HWND window = window_;
    window_ = nullptr;
    if (options_ & kDeleteOnEnd) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        delete this;
    }
    return handled;
}

int DialogRunner::SetIcons(int iconId) {
    return SetIcons(iconId, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
}

int DialogRunner::SetIcons(int iconId, int largeWidth, int largeHeight) {
    OwnedIcon smallIcon(static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR)));
    OwnedIcon largeIcon(static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                      largeWidth, largeHeight, LR_DEFAULTCOLOR)));
    if (window_) {
        SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.Get()));
        SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon.Get()));
    }
    // The old icons go only now that the window no longer shows them.
    smallIcon_ = std::move(smallIcon);
    largeIcon_ = std::move(largeIcon);
    return smallIcon_.IsValid() && largeIcon_.IsValid();
}

void DialogRunner::KeepSizeAsMinimum() {
    RECT frame;
    if (window_ && GetWindowRect(window_, &frame))
        SetMinimumSize(frame.right - frame.left, frame.bottom - frame.top);
}

void DialogRunner::SetText(const char *text) {
    if (window_)
        SetWindowTextA(window_, text);
}

int DialogRunner::SetItemText(int id, const char *text) {
    return window_ && SetDlgItemTextA(window_, id, text) ? 1 : 0;
}

void DialogRunner::EnableItem(int id, int enable) {
    HWND item = Item(id);
    if (item)
        EnableWindow(item, enable ? TRUE : FALSE);
}

void DialogRunner::CheckItem(int id, int value) {
    if (window_)
        CheckDlgButton(window_, id, value == 1 ? BST_CHECKED : BST_UNCHECKED);
}

int DialogRunner::IsItemChecked(int id) const {
    return window_ && IsDlgButtonChecked(window_, id) == BST_CHECKED ? 1 : 0;
}

int DialogRunner::ShowMessage(UINT type, const char *caption, const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int written = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (written < 0)
        text[0] = 0;
    text[sizeof text - 1] = 0;
    return MessageBoxA(window_, text, caption, type ? type : MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CALLBACK DialogRunner::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *dialog = reinterpret_cast<DialogRunner *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<DialogRunner *>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        if (!dialog)
            return 0;
        dialog->window_ = window;
        int result = dialog->OnInitDialog();
        if (result == kInitFailed) {
            dialog->EndRun(-1);
            return 0;
        }
        // The dialog procedure's answer: 1 lets the system set the focus.
        return result == kInitFocusSet ? 0 : 1;
    }
    if (!dialog)
        return 0;
    switch (message) {
    case WM_DESTROY:
        if (dialog->window_ == window && !dialog->ending_)
            return dialog->CloseOnDestroy();
        return dialog->OnDestroy();
    case WM_CLOSE:
        return dialog->OnClose();
    case WM_COMMAND:
        return dialog->OnCommand(LOWORD(wParam), wParam, lParam);
    default:
        return dialog->OnMessage(message, wParam, lParam);
    }
}

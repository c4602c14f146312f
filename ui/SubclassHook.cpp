// SubclassHook: the work shared by every hook kind (property naming, install, dispatch, removal).
#include "ui/SubclassHook.h"
#include <cstdio>

const char *FormatHookPropertyName(uint32_t tag, char *buffer) {
    snprintf(buffer, kHookPropertyNameSize, "_C_SubClassing_Property_%08X", static_cast<unsigned>(tag));
    return buffer;
}

int SubclassHookBase::AttachAs(uint32_t tag, WNDPROC procedure, HWND window, SubclassHandler handler,
                               void *userValue) {
    if (!window || !IsWindow(window))
        return 0;
    char name[kHookPropertyNameSize];
    FormatHookPropertyName(tag, name);
    // One hook per kind and window: the property could point at only one of them.
    if (GetPropA(window, name))
        return 0;
    if (previous_)
        DetachAs(tag);

    window_ = window;
    handler_ = handler;
    userValue_ = userValue;
    // The property goes on first: our procedure without its property would drop every message, so when the
    // property cannot be set the window must keep its own procedure.
    if (!SetPropA(window, name, reinterpret_cast<HANDLE>(this))) {
        window_ = nullptr;
        return 0;
    }
    LONG_PTR previous = SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    if (!previous) {
        // Another process's window or a destroyed one: nothing was replaced, so nothing may be claimed.
        RemovePropA(window, name);
        window_ = nullptr;
        handler_ = nullptr;
        userValue_ = nullptr;
        return 0;
    }
    previous_ = reinterpret_cast<WNDPROC>(previous);
    return 1;
}

int SubclassHookBase::DetachAs(uint32_t tag) {
    if (!previous_)
        return 0;
    // A window destroyed while hooked took its procedure and properties with it; its handle must not be
    // written to, it may already name another window.
    if (IsWindow(window_)) {
        char name[kHookPropertyNameSize];
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        RemovePropA(window_, FormatHookPropertyName(tag, name));
    }
    previous_ = nullptr;
    return 1;
}

LRESULT SubclassHookBase::CallPreviousAs(uint32_t tag, HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    char name[kHookPropertyNameSize];
    auto *hook = reinterpret_cast<SubclassHookBase *>(GetPropA(window, FormatHookPropertyName(tag, name)));
    if (!hook || !hook->previous_)
        return 0;
    return CallWindowProcA(hook->previous_, window, message, wParam, lParam);
}

LRESULT SubclassHookBase::DispatchAs(uint32_t tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    char name[kHookPropertyNameSize];
    auto *hook = reinterpret_cast<SubclassHookBase *>(GetPropA(window, FormatHookPropertyName(tag, name)));
    if (!hook)
        return 0;
    // Read before the handler runs: a handler may detach the hook or delete its owner, and the message it
    // passes on must still reach the procedure that was in place.
    WNDPROC previous = hook->previous_;
    if (hook->handler_) {
        LRESULT result = 0;
        if (hook->handler_(window, message, wParam, lParam, &result, hook->userValue_) == 1)
            return result;
    }
    if (!previous)
        return 0;
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

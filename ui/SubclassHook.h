// SubclassHook: replaces a window's procedure, finds itself again through a named window property, offers
// every message to its owner's handler and passes the rest to the procedure it replaced.
//
// Classes: SubclassHookBase (the shared state and work), SubclassHook<Tag> (one per hook kind).
// Functions: FormatHookPropertyName. Constants: the hook kinds kHook*.
//
// Use: make the hook a member of the object that owns the behaviour and hand it a member function
//     SubclassHook<kHookLink> hook_;
//     int LinkControl::OnMessage(HWND, UINT, WPARAM, LPARAM, LRESULT *result);
//     hook_.Attach<&LinkControl::OnMessage>(window, this);   // 1, or 0 when the window has one already
//     ...
//     hook_.Detach();                                        // in the owner's clean-up
// or a plain SubclassHandler with a user value: hook_.Attach(window, handler, userValue). The handler
// returns 1 when it dealt with the message (the window procedure then returns *result); any other value
// passes the message on to the procedure that was in place before the hook.
//
// Several hooks of different kinds may sit on one window; they chain, the latest attached sees a message
// first. Detach them in the reverse order of attaching: detaching an earlier hook first puts the window's
// own procedure back and so cuts the later hooks out of the chain (their properties stay; when such a later
// hook is detached afterwards it reinstalls the earlier kind's procedure, which then finds no property and
// answers every message with 0).
//
// An attached hook must not move in memory while the window lives: the property holds its address. The
// destructor detaches a hook that is still attached to a living window, so a forgotten Detach cannot leave
// the window pointing at freed memory. Everything runs on the window's own thread; nothing is locked.
#pragma once

#include "base/Win.h"
#include <cstdint>

// Hook kinds: four ASCII letters read as a big-endian 32-bit number.
enum : uint32_t {
    kHookListView = 0x6C697331,      // "lis1": the list view control
    kHookListEdit = 0x6C697332,      // "lis2": the in-place edit control of a list view cell
    kHookTrackbar = 0x736C6964,      // "slid": the trackbar control
    kHookLink = 0x6C696E6B,          // "link": a static shown as a hyperlink
    kHookUpdateOwner = 0x61757570,   // "auup": the owner window of the update client
    kHookDivider = 0x64697669,       // "divi": a separator static
    kHookSysLinkParent = 0x7379736C, // "sysl": the parent of a SysLink control
    kHookStyledStatic = 0x73746178,  // "stax": a static drawn by a painter
};

// (window, message, wParam, lParam, out result, user value) -> 1 when handled.
typedef int (*SubclassHandler)(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result,
                               void *userValue);

// Room for "_C_SubClassing_Property_" + 8 hex digits + NUL.
enum { kHookPropertyNameSize = 40 };

// Writes "_C_SubClassing_Property_%08X" for the tag into buffer (kHookPropertyNameSize bytes); returns
// buffer.
const char *FormatHookPropertyName(uint32_t tag, char *buffer);

class SubclassHookBase {
public:
    SubclassHookBase(const SubclassHookBase &) = delete;
    SubclassHookBase &operator=(const SubclassHookBase &) = delete;

    int IsAttached() const { return previous_ != nullptr; }
    HWND Window() const { return window_; }
    void *UserValue() const { return userValue_; }
    WNDPROC PreviousProcedure() const { return previous_; }

protected:
    SubclassHookBase() = default;
    ~SubclassHookBase() = default;

    // The SubclassHandler that calls Method on the owner the user value points at; one per owner method,
    // made by the compiler instead of a static trampoline written out in every owner.
    template <typename Owner, int (Owner::*Method)(HWND, UINT, WPARAM, LPARAM, LRESULT *)>
    static int CallMember(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result,
                          void *owner) {
        return (static_cast<Owner *>(owner)->*Method)(window, message, wParam, lParam, result);
    }

    int AttachAs(uint32_t tag, WNDPROC procedure, HWND window, SubclassHandler handler, void *userValue);
    int DetachAs(uint32_t tag);
    static LRESULT CallPreviousAs(uint32_t tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT DispatchAs(uint32_t tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    // Four 32-bit members in this order; previous_ is null while not attached.
    WNDPROC previous_ = nullptr;
    void *userValue_ = nullptr;
    SubclassHandler handler_ = nullptr;
    HWND window_ = nullptr;
};

template <uint32_t Tag> class SubclassHook : public SubclassHookBase {
public:
    SubclassHook() = default;
    ~SubclassHook() { DetachAs(Tag); }

    static const uint32_t kTag = Tag;

    // 1 on success; 0 when the window already carries this kind's property (the existing hook stays), when
    // the window is not valid or its procedure cannot be replaced. A hook still attached elsewhere is
    // detached first.
    int Attach(HWND window, SubclassHandler handler, void *userValue) {
        return AttachAs(Tag, &SubclassHook::WindowProcedure, window, handler, userValue);
    }
    // The same with a member function of the owner as the handler:
    // int Owner::Method(HWND, UINT, WPARAM, LPARAM, LRESULT *result), called on owner.
    template <auto Method, typename Owner> int Attach(HWND window, Owner *owner) {
        return AttachAs(Tag, &SubclassHook::WindowProcedure, window, &CallMember<Owner, Method>, owner);
    }

    // 1 when it put the previous procedure back (or the window is gone), 0 when the hook was not attached.
    int Detach() { return DetachAs(Tag); }

    // The procedure this kind's hook replaced on the window, called with the message; 0 without the property.
    static LRESULT CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return CallPreviousAs(Tag, window, message, wParam, lParam);
    }

    static const char *PropertyName(char *buffer) { return FormatHookPropertyName(Tag, buffer); }

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return DispatchAs(Tag, window, message, wParam, lParam);
    }
};

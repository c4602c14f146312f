// LinkControl: turns a static control into a web-style hyperlink painted in the browser's link colours,
// with hover feedback, a focus rectangle and activation by mouse or keyboard.
//
// Classes: LinkControl.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "ui/HoverTracker.h"
#include "ui/SubclassHook.h"
#include <cstdint>

// Option bits the caller passes to LinkControl::Attach, and the state bits the control keeps beside them.
enum : uint32_t {
    kLinkHoverColour = 0x1,              // option: paint in the hover colour while hovered
    kLinkWindowFont = 0x2,               // option: use the static's own font instead of a fitted one
    kLinkHovered = 0x4,                  // state: the mouse is over the text
    kLinkDisabled = 0x8,                 // state: the control is disabled
    kLinkTransparent = 0x10,             // option: leave the background to the parent
    kLinkFitClientHeight = 0x20,         // option: the fitted font starts from the client height
    kLinkFocused = 0x40,                 // state: the control has the focus
    kLinkNoFocusRect = 0x80,             // option: never draw a focus rectangle
    kLinkMasked = 0x100,                 // option: show every character as a bullet or '*'
    kLinkBrowserFontFace = 0x200,        // option: take the face from the browser's international settings
    kLinkThemedParentBackground = 0x400, // option: paint the parent's themed background behind the text
    kLinkNotifyParent = 0x800,           // option: activation sends WM_COMMAND to the parent
    kLinkEndEllipsis = 0x1000,           // option: DT_END_ELLIPSIS
    kLinkPathEllipsis = 0x2000,          // option: DT_PATH_ELLIPSIS
    kLinkIgnoreTransparent = 0x4000,     // option: ignore the static's WS_EX_TRANSPARENT
};

class LinkControl {
public:
    // When the text is underlined (the browser's "Anchor Underline": "no", "hover", "yes").
    enum Underline : int { kUnderlineNever = 0, kUnderlineWhileHovered = 1, kUnderlineAlways = 2 };
    // What set the link off; a button press only arms it, the release (or a key) activates.
    enum Activation : int {
        kActivateButtonDown = 1,
        kActivateEnter = 2,
        kActivateSpace = 3,
        kActivateButtonUp = 4
    };

    LinkControl() = default;
    ~LinkControl() { Detach(); }
    LinkControl(const LinkControl &) = delete;
    LinkControl &operator=(const LinkControl &) = delete;

    // Takes over the static: its own text is cleared and the control paints text itself. address may be
    // null or empty (activation then only notifies with kLinkNotifyParent); at most 255 characters are kept.
    // cursorId names a cursor resource of the static's module, shown over the text. Returns 1, or 0 when the
    // static is not a window or already is a link (that link is left untouched). A control already attached
    // elsewhere is detached first.
    int Attach(HWND window, const char *text, const char *address, uint16_t cursorId, uint32_t options);
    // Unhooks the static and frees the fonts, the theme and the leave polling; the static stays empty. Done
    // by the control itself when the static is destroyed, while its handle is still valid.
    void Detach();

    // What the control shows and how: read-only views of its state.
    HWND Window() const { return window_; }
    uint32_t Flags() const { return flags_; }
    const char *Text() const { return text_.Text(); }
    const char *DisplayText() const { return displayText_.Text(); }
    const char *Address() const { return address_; }
    COLORREF NormalColour() const { return normalColour_; }
    COLORREF HoverColour() const { return hoverColour_; }
    COLORREF DisabledColour() const { return disabledColour_; }
    Underline UnderlineMode() const { return underlineMode_; }
    HFONT UnderlinedFont() const { return underlinedFont_.Get(); }
    HFONT NormalFont() const { return normalFont_.Get(); }
    UINT DrawFormat() const { return drawFormat_; }
    SIZE TextSize() const { return textSize_; }
    // 1 when the cursor is over the text (also when that cannot be known).
    int HitTest() const;
    HoverTracker &Tracker() { return tracker_; }

private:
    int OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);
    // One handler per message; 1 when the message is taken (the static's own procedure does not see it).
    int OnFocus(int focused);
    LRESULT DialogCode(const MSG *key) const;
    int OnEnable(int enabled);
    LRESULT OnSetText(const char *text);
    LRESULT CopyText(char *buffer, size_t size) const;
    int OnPaint();
    int OnLeave();
    int OnKeyDown(UINT key);
    int OnKeyUp(UINT key);
    int OnMouseMove();
    int OnButton(Activation code);

    void ReadBrowserColours();
    // The visual style's toolbar theme, for painting a transparent link over its parent; none without
    // uxtheme.
    void OpenTheme(HWND window);
    // How the text is drawn: the static's alignment and the link's ellipsis options.
    UINT DrawFormatFor(LONG style) const;
    void ReadBrowserUnderline();
    void ChooseFace(char *face) const;
    void CreateFonts();
    void BuildDisplayText();
    void MeasureText();
    void Invalidate();
    void Paint(HDC dc);
    void Activate(Activation code);
    void SetHovered(int hovered);
    HCURSOR LinkCursor() const;

    typedef HANDLE(WINAPI *OpenThemeDataFunction)(HWND, LPCWSTR);
    typedef HRESULT(WINAPI *CloseThemeDataFunction)(HANDLE);
    typedef BOOL(WINAPI *IsThemeBackgroundPartiallyTransparentFunction)(HANDLE, int, int);
    typedef HRESULT(WINAPI *DrawThemeParentBackgroundFunction)(HWND, HDC, const RECT *);

    SubclassHook<kHookLink> hook_;
    HoverTracker tracker_;
    TextString displayText_;
    TextString text_;
    HANDLE theme_ = nullptr;
    DynamicLibrary uxtheme_;
    CloseThemeDataFunction closeThemeData_ = nullptr;
    IsThemeBackgroundPartiallyTransparentFunction isThemeBackgroundPartiallyTransparent_ = nullptr;
    DrawThemeParentBackgroundFunction drawThemeParentBackground_ = nullptr;
    char address_[256] = {};
    OwnedFont underlinedFont_;
    OwnedFont normalFont_;
    UINT drawFormat_ = 0;
    uint32_t flags_ = 0;
    COLORREF normalColour_ = 0;
    COLORREF hoverColour_ = 0;
    COLORREF disabledColour_ = 0;
    uint16_t cursorId_ = 0;
    // Enter or Space while pressed on the link; its release activates.
    UINT pressedKey_ = 0;
    SIZE textSize_ = {};
    Underline underlineMode_ = kUnderlineAlways;
    HWND window_ = nullptr;
};

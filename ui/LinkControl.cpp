// LinkControl: the hyperlink static (browser colours, fitted font, painting, activation).
#include "ui/LinkControl.h"
#include "base/OsVersion.h"
#include "base/RegistryKey.h"
#include "base/Shell.h"
#include "ui/FittedFont.h"
#include "ui/TemplateFont.h"
#include <cstdio>
#include <cstring>

namespace {

const char kBrowserSettingsKey[] = "Software\\Microsoft\\Internet Explorer\\Settings";
const char kBrowserMainKey[] = "Software\\Microsoft\\Internet Explorer\\Main";
const char kInternationalKey[] = "Software\\Microsoft\\Internet Explorer\\International";
const char kScriptsKey[] = "Software\\Microsoft\\Internet Explorer\\International\\Scripts";
const char kStylesKey[] = "Software\\Microsoft\\Internet Explorer\\Styles";

const COLORREF kDefaultLinkColour = RGB(0, 102, 204);
const int kSmallestFontHeight = 4;

// "r,g,b" as the browser stores it; a value that does not give three numbers in 0..255 leaves colour alone.
void ParseColour(const char *text, COLORREF *colour) {
    unsigned red = 0, green = 0, blue = 0;
    if (sscanf(text, "%u,%u,%u", &red, &green, &blue) == 3 && red <= 255 && green <= 255 && blue <= 255)
        *colour = RGB(red, green, blue);
}

// Copies text into the fixed face buffer; empty text is no face.
int TakeFace(const TextString &text, char *face) {
    if (text.Length() <= 0)
        return 0;
    lstrcpynA(face, text.Text(), LF_FACESIZE);
    return 1;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// LinkControl: set-up

int LinkControl::Attach(HWND window, const char *text, const char *address, uint16_t cursorId,
                        uint32_t options) {
    if (!window || !IsWindow(window))
        return 0;
    // Refuse before touching the static: its text and style belong to the link that is already there.
    char property[kHookPropertyNameSize];
    if (GetPropA(window, SubclassHook<kHookLink>::PropertyName(property)))
        return 0;
    Detach();

    window_ = window;
    flags_ = options | kLinkHoverColour;
    OpenTheme(window);
    LONG style = static_cast<LONG>(GetWindowLongPtrA(window, GWL_STYLE));
    if (!(style & WS_TABSTOP))
        flags_ |= kLinkNoFocusRect;
    // A static that starts out disabled gets no WM_ENABLE, so its state is taken now.
    if (!IsWindowEnabled(window))
        flags_ |= kLinkDisabled;

    text_.Assign(text ? text : "");
    lstrcpynA(address_, address ? address : "", sizeof(address_));
    cursorId_ = cursorId;

    // SS_NOTIFY: without it a static is transparent to the mouse and never sees the clicks.
    SetWindowLongPtrA(window, GWL_STYLE, style | SS_NOTIFY);
    SetWindowTextA(window, "");

    if (!(flags_ & kLinkIgnoreTransparent) && (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
        flags_ |= kLinkTransparent;

    normalColour_ = kDefaultLinkColour;
    disabledColour_ = GetSysColor(COLOR_GRAYTEXT);
    hoverColour_ = GetSysColorBrush(COLOR_HOTLIGHT) ? GetSysColor(COLOR_HOTLIGHT) : RGB(255, 0, 0);
    ReadBrowserColours();
    ReadBrowserUnderline();

    BuildDisplayText();
    CreateFonts();
    drawFormat_ = DrawFormatFor(style);

    // Masking depends on the face of the final font, so the display text is built once more.
    BuildDisplayText();
    if (!hook_.Attach<&LinkControl::OnMessage>(window, this))
        return 0;
    MeasureText();
    Invalidate();
    return 1;
}

void LinkControl::OpenTheme(HWND window) {
    if (!uxtheme_.Load("uxtheme.dll"))
        return;
    auto openThemeData = uxtheme_.Function<OpenThemeDataFunction>("OpenThemeData");
    closeThemeData_ = uxtheme_.Function<CloseThemeDataFunction>("CloseThemeData");
    isThemeBackgroundPartiallyTransparent_ = uxtheme_.Function<IsThemeBackgroundPartiallyTransparentFunction>(
        "IsThemeBackgroundPartiallyTransparent");
    drawThemeParentBackground_ =
        uxtheme_.Function<DrawThemeParentBackgroundFunction>("DrawThemeParentBackground");
    if (openThemeData && closeThemeData_)
        theme_ = openThemeData(window, L"TOOLBAR");
}

UINT LinkControl::DrawFormatFor(LONG style) const {
    UINT format = DT_SINGLELINE;
    if ((style & SS_TYPEMASK) == SS_CENTER)
        format |= DT_CENTER;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
        format |= DT_RIGHT;
    if (style & SS_CENTERIMAGE)
        format |= DT_VCENTER;
    if (flags_ & kLinkEndEllipsis)
        format |= DT_END_ELLIPSIS;
    if (flags_ & kLinkPathEllipsis)
        format |= DT_PATH_ELLIPSIS;
    return format;
}

void LinkControl::Detach() {
    // Unhook first: no message may reach the control while its fonts and theme go away.
    hook_.Detach();
    tracker_.Stop();
    underlinedFont_.Reset();
    normalFont_.Reset();
    if (theme_ && closeThemeData_)
        closeThemeData_(theme_);
    theme_ = nullptr;
    closeThemeData_ = nullptr;
    isThemeBackgroundPartiallyTransparent_ = nullptr;
    drawThemeParentBackground_ = nullptr;
    uxtheme_.Free();
    flags_ &= ~(kLinkHovered | kLinkFocused);
    pressedKey_ = 0;
    // The static may be destroyed from here on and its handle reused; nothing may reach it through us.
    window_ = nullptr;
}

void LinkControl::ReadBrowserColours() {
    TextString value;
    if (ReadStringAt(HKEY_CURRENT_USER, kBrowserSettingsKey, "Use Anchor Hover Color", value)) {
        if (value.CompareNoCase("yes") == 0)
            flags_ |= kLinkHoverColour;
        else
            flags_ &= ~kLinkHoverColour;
    }
    if (ReadStringAt(HKEY_CURRENT_USER, kBrowserSettingsKey, "Anchor Color", value))
        ParseColour(value.Text(), &normalColour_);
    if (ReadStringAt(HKEY_CURRENT_USER, kBrowserSettingsKey, "Anchor Color Hover", value))
        ParseColour(value.Text(), &hoverColour_);
}

void LinkControl::ReadBrowserUnderline() {
    underlineMode_ = kUnderlineAlways;
    TextString value;
    if (ReadStringAt(HKEY_CURRENT_USER, kBrowserMainKey, "Anchor Underline", value)) {
        if (value.CompareNoCase("yes") == 0)
            underlineMode_ = kUnderlineAlways;
        else if (value.CompareNoCase("no") == 0)
            underlineMode_ = kUnderlineNever;
        else if (value.CompareNoCase("hover") == 0)
            underlineMode_ = kUnderlineWhileHovered;
    }
    if (ReadStringAt(HKEY_CURRENT_USER, kBrowserMainKey, "Use_DlgBox_Colors", value) &&
        value.CompareNoCase("yes") == 0) {
        normalColour_ = IsAtLeast(kOsVista) ? GetSysColor(COLOR_HOTLIGHT) : kDefaultLinkColour;
        hoverColour_ = GetSysColor(COLOR_HIGHLIGHT);
    }
}

void LinkControl::ChooseFace(char *face) const {
    face[0] = 0;
    if (flags_ & kLinkBrowserFontFace) {
        TextString value;
        TextString key;
        uint32_t codePage = ReadDwordAt(HKEY_CURRENT_USER, kInternationalKey, "Default_CodePage", 0);
        if (codePage) {
            key.Format("%s\\%u", kInternationalKey, codePage);
            if (ReadStringAt(HKEY_CURRENT_USER, key.Text(), "IEPropFontName", value) && TakeFace(value, face))
                return;
        }
        uint32_t script = ReadDwordAt(HKEY_CURRENT_USER, kScriptsKey, "Default_Script", 3);
        key.Format("%s\\%u", kScriptsKey, script);
        if (ReadStringAt(HKEY_CURRENT_USER, key.Text(), "IEPropFontName", value) && TakeFace(value, face))
            return;
        if (ReadStringAt(HKEY_CURRENT_USER, kStylesKey, "IEPropFontName", value) && TakeFace(value, face))
            return;
    }
    if (TemplateFont::FontInstalled("Segoe UI"))
        lstrcpyA(face, "Segoe UI");
    else if (TemplateFont::FontInstalled("Verdana"))
        lstrcpyA(face, "Verdana");
    else
        lstrcpyA(face, "Arial");
}

void LinkControl::CreateFonts() {
    if (flags_ & kLinkWindowFont) {
        auto font = reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0));
        if (!font)
            font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        LOGFONTA description = {};
        GetObjectA(font, sizeof(description), &description);
        normalFont_.Reset(CreateFontIndirectA(&description));
        description.lfUnderline = TRUE;
        underlinedFont_.Reset(CreateFontIndirectA(&description));
        return;
    }

    char face[LF_FACESIZE];
    ChooseFace(face);
    RECT client = {};
    GetClientRect(window_, &client);
    ScopedGetDC dc(window_);
    if (!dc.Get())
        return;
    // The text around the link is in the font the dialog gave the static: the link starts at its size, so it
    // reads like the rest of the window. A static without one starts from the device context's own font.
    TEXTMETRICA metrics = {};
    {
        ScopedSelectObject own(dc.Get(), reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0)));
        GetTextMetricsA(dc.Get(), &metrics);
    }
    int height = (flags_ & kLinkFitClientHeight) ? client.bottom : metrics.tmHeight;
    // An empty or unmeasurable control would otherwise ask for height 0, which means "any size".
    if (height < kSmallestFontHeight)
        height = kSmallestFontHeight;
    // TEXTMETRIC's pitch bit means the opposite of LOGFONT's: set is variable pitch.
    BYTE pitchAndFamily =
        static_cast<BYTE>((metrics.tmPitchAndFamily & 0xF0) |
                          ((metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) ? VARIABLE_PITCH : FIXED_PITCH));
    // The text is measured underlined, as it is painted at its widest.
    LOGFONTA description = {};
    description.lfWeight = FW_NORMAL;
    description.lfUnderline = TRUE;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfPitchAndFamily = pitchAndFamily;
    lstrcpynA(description.lfFaceName, face, LF_FACESIZE);
    int fitted = height;
    underlinedFont_ = FittedFont::Create(
        dc.Get(), description, height, kSmallestFontHeight,
        [&](HDC measuring) {
            SIZE size = {};
            if (!GetTextExtentPoint32A(measuring, displayText_.Text(), displayText_.Length(), &size))
                return FittedFont::kUnmeasurable;
            return size.cx <= client.right && size.cy < client.bottom ? FittedFont::kFits
                                                                      : FittedFont::kTooLarge;
        },
        &fitted);
    if (underlinedFont_.IsValid())
        height = fitted;
    description.lfHeight = height;
    description.lfUnderline = FALSE;
    normalFont_.Reset(CreateFontIndirectA(&description));
}

void LinkControl::BuildDisplayText() {
    if (!(flags_ & kLinkMasked)) {
        displayText_.Assign(text_.Text());
        return;
    }
    char mask = '*';
    LOGFONTA description = {};
    if (normalFont_.IsValid() && GetObjectA(normalFont_.Get(), sizeof(description), &description) &&
        lstrcmpiA(description.lfFaceName, "Verdana") == 0)
        mask = static_cast<char>(0x95); // the bullet of the Windows code pages; Verdana draws it well
    int length = text_.Length();
    displayText_.Assign("");
    for (int i = 0; i < length; ++i)
        displayText_.Append(mask);
}

void LinkControl::MeasureText() {
    textSize_.cx = 0;
    textSize_.cy = 0;
    ScopedGetDC dc(window_);
    if (!dc.Get())
        return;
    ScopedSelectObject selected(dc.Get(), underlinedFont_.Get());
    if (!GetTextExtentPoint32A(dc.Get(), displayText_.Text(), displayText_.Length(), &textSize_)) {
        textSize_.cx = 0;
        textSize_.cy = 0;
    }
}

// ---------------------------------------------------------------------------------------------------------
// LinkControl: behaviour

int LinkControl::HitTest() const {
    POINT cursor;
    if (textSize_.cy == 0 || !GetCursorPos(&cursor))
        return 1;
    ScreenToClient(window_, &cursor);
    RECT client = {};
    GetClientRect(window_, &client);
    if (!PtInRect(&client, cursor))
        return 0;
    int width = client.right;
    if (drawFormat_ & DT_CENTER) {
        int margin = (width - textSize_.cx) / 2;
        return cursor.x > margin && cursor.x < width - margin;
    }
    if (drawFormat_ & DT_RIGHT)
        return cursor.x > width - textSize_.cx;
    return cursor.x < textSize_.cx;
}

void LinkControl::Invalidate() {
    if (flags_ & kLinkTransparent) {
        HWND parent = GetParent(window_);
        RECT area;
        if (parent && GetWindowRect(window_, &area)) {
            MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&area), 2);
            // Erased, or nothing repaints the parent under the text and a dropped underline or a changed
            // colour leaves the old pixels behind.
            InvalidateRect(parent, &area, TRUE);
            return;
        }
    }
    InvalidateRect(window_, nullptr, FALSE);
}

HCURSOR LinkControl::LinkCursor() const {
    auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window_, GWLP_HINSTANCE));
    HCURSOR cursor = cursorId_ ? LoadCursorA(module, MAKEINTRESOURCEA(cursorId_)) : nullptr;
    // Without its own cursor the link would make the pointer vanish; the system hand says the same thing.
    if (!cursor)
        cursor = LoadCursorA(nullptr, IDC_HAND);
    if (!cursor)
        cursor = LoadCursorA(nullptr, IDC_ARROW);
    return cursor;
}

void LinkControl::SetHovered(int hovered) {
    if (hovered) {
        flags_ |= kLinkHovered;
        tracker_.Track(window_);
        Invalidate();
        SetCursor(LinkCursor());
    } else {
        flags_ &= ~kLinkHovered;
        Invalidate();
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    }
}

void LinkControl::Activate(Activation code) {
    if (code == kActivateButtonDown)
        return;
    if (flags_ & kLinkNotifyParent) {
        HWND parent = GetParent(window_);
        if (parent)
            SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window_), 0),
                         reinterpret_cast<LPARAM>(window_));
        return;
    }
    if (address_[0])
        OpenUrl(address_);
}

void LinkControl::Paint(HDC dc) {
    RECT client = {};
    GetClientRect(window_, &client);
    int underlined = underlineMode_ == kUnderlineAlways ||
                     (underlineMode_ == kUnderlineWhileHovered && (flags_ & kLinkHovered));
    ScopedSelectObject font(dc, underlined ? underlinedFont_.Get() : normalFont_.Get());
    SetBkMode(dc, TRANSPARENT);

    if (!(flags_ & kLinkTransparent)) {
        HWND parent = GetParent(window_);
        HBRUSH brush = parent ? reinterpret_cast<HBRUSH>(SendMessageA(parent, WM_CTLCOLORSTATIC,
                                                                      reinterpret_cast<WPARAM>(dc),
                                                                      reinterpret_cast<LPARAM>(window_)))
                              : nullptr;
        if (!brush)
            brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        FillRect(dc, &client, brush);
        // The parent's colour handler may have chosen an opaque background for its own statics.
        SetBkMode(dc, TRANSPARENT);
    }
    if ((flags_ & kLinkThemedParentBackground) && theme_ && isThemeBackgroundPartiallyTransparent_ &&
        drawThemeParentBackground_ && isThemeBackgroundPartiallyTransparent_(theme_, 1, 1))
        drawThemeParentBackground_(window_, dc, &client);

    COLORREF colour = normalColour_;
    if (flags_ & kLinkDisabled)
        colour = disabledColour_;
    else if ((flags_ & kLinkHovered) && (flags_ & kLinkHoverColour))
        colour = hoverColour_;
    SetTextColor(dc, colour);
    RECT textArea = client;
    DrawTextA(dc, displayText_.Text(), -1, &textArea, drawFormat_);

    if (!(flags_ & (kLinkDisabled | kLinkNoFocusRect)) && (flags_ & kLinkFocused)) {
        RECT focus;
        focus.top = (drawFormat_ & DT_VCENTER) ? (client.bottom - textSize_.cy) / 2 : 0;
        if (drawFormat_ & DT_CENTER)
            focus.left = (client.right - textSize_.cx) / 2;
        else if (drawFormat_ & DT_RIGHT)
            focus.left = client.right - textSize_.cx;
        else
            focus.left = 0;
        focus.right = focus.left + textSize_.cx;
        focus.bottom = focus.top + textSize_.cy;
        DrawFocusRect(dc, &focus);
    }
}

int LinkControl::OnMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    *result = 0;
    switch (message) {
    case WM_DESTROY:
        // Let go while the handle is still valid; the destructor must not reach a dead (or reused) handle.
        // The static's own procedure still gets the message.
        Detach();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        return OnFocus(message == WM_SETFOCUS);
    case WM_GETDLGCODE:
        *result = DialogCode(reinterpret_cast<const MSG *>(lParam));
        return 1;
    case WM_ENABLE:
        return OnEnable(wParam != 0);
    case WM_SETTEXT:
        // SetWindowTextA reports what this returns: TRUE is success.
        *result = OnSetText(lParam ? reinterpret_cast<const char *>(lParam) : "");
        return 1;
    case WM_GETTEXT:
        // wParam is the buffer's size in characters, unsigned: any value, however large, only ever limits
        // the copy to the text we have.
        *result = CopyText(reinterpret_cast<char *>(lParam), static_cast<size_t>(wParam));
        return 1;
    case WM_GETTEXTLENGTH:
        // The static's own text is empty; callers sizing a buffer for WM_GETTEXT must see the link's text.
        *result = text_.Length();
        return 1;
    case WM_PAINT:
        return OnPaint();
    case WM_CANCELMODE:
    case WM_MOUSELEAVE:
        return OnLeave();
    case WM_SETCURSOR:
        SetCursor((flags_ & kLinkHovered) ? LinkCursor() : LoadCursorA(nullptr, IDC_ARROW));
        return 1;
    case WM_KEYDOWN:
        return OnKeyDown(static_cast<UINT>(wParam));
    case WM_KEYUP:
        return OnKeyUp(static_cast<UINT>(wParam));
    case WM_MOUSEMOVE:
        return OnMouseMove();
    // Clicks off the text are swallowed too: passed on, SS_NOTIFY would make the static send its parent
    // STN_CLICKED, which looks exactly like the link's own WM_COMMAND.
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        return OnButton(kActivateButtonDown);
    case WM_LBUTTONUP:
        return OnButton(kActivateButtonUp);
    default:
        return 0;
    }
}

int LinkControl::OnFocus(int focused) {
    if (focused) {
        flags_ |= kLinkFocused;
    } else {
        flags_ &= ~kLinkFocused;
        pressedKey_ = 0;
    }
    Invalidate();
    return 1;
}

LRESULT LinkControl::DialogCode(const MSG *key) const {
    // Enter would otherwise press the dialog's default button instead of opening the link; Space reaches a
    // static anyway, but is claimed alike.
    LRESULT code = DLGC_STATIC;
    if (key && (key->message == WM_KEYDOWN || key->message == WM_KEYUP || key->message == WM_CHAR) &&
        (key->wParam == VK_RETURN || key->wParam == VK_SPACE))
        code |= DLGC_WANTMESSAGE;
    return code;
}

int LinkControl::OnEnable(int enabled) {
    if (enabled) {
        flags_ &= ~kLinkDisabled;
        // Hovered with its leave request: without one the hover would outlast a mouse that leaves without
        // moving over the margin.
        if (!(flags_ & kLinkHovered) && HitTest())
            SetHovered(1);
    } else {
        flags_ |= kLinkDisabled;
    }
    Invalidate();
    return 1;
}

LRESULT LinkControl::OnSetText(const char *text) {
    const LRESULT taken = text_.Assign(text) ? TRUE : FALSE;
    BuildDisplayText();
    MeasureText();
    Invalidate();
    return taken;
}

LRESULT LinkControl::CopyText(char *buffer, size_t size) const {
    if (!buffer || size == 0)
        return 0;
    size_t count = static_cast<size_t>(text_.Length());
    if (count > size - 1)
        count = size - 1;
    memcpy(buffer, text_.Text(), count);
    buffer[count] = 0;
    return static_cast<LRESULT>(count);
}

int LinkControl::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    if (dc) {
        Paint(dc);
        EndPaint(window_, &paint);
    }
    return 1;
}

int LinkControl::OnLeave() {
    flags_ &= ~kLinkHovered;
    Invalidate();
    return 1;
}

int LinkControl::OnKeyDown(UINT key) {
    if (key != VK_RETURN && key != VK_SPACE)
        return 0;
    // Only a key pressed here opens on its release: the release of an Enter that closed a message box over
    // the window, say, lands here too and must not open a browser.
    pressedKey_ = key;
    return 1;
}

int LinkControl::OnKeyUp(UINT key) {
    if (pressedKey_ && key == pressedKey_) {
        pressedKey_ = 0;
        Activate(key == VK_RETURN ? kActivateEnter : kActivateSpace);
    }
    return 1;
}

int LinkControl::OnMouseMove() {
    const int hit = HitTest();
    if (hit && !(flags_ & kLinkHovered))
        SetHovered(1);
    else if (!hit && (flags_ & kLinkHovered))
        SetHovered(0);
    return 1;
}

int LinkControl::OnButton(Activation code) {
    if (flags_ & kLinkHovered)
        Activate(code);
    return 1;
}

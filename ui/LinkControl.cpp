// LinkControl: the hyperlink static (browser colours, fitted font, painting, activation) and its leave
// tracker.
#include "ui/LinkControl.h"
#include "base/OsVersion.h"
#include "base/RegistryKey.h"
#include "base/Shell.h"
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
const UINT kPollInterval = 100;

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
// HoverTracker

HoverTracker::HoverTracker() {
    if (user32_.Load("user32.dll"))
        trackMouseEvent_ = user32_.Function<TrackMouseEventFunction>("TrackMouseEvent");
}

int HoverTracker::Track(HWND window) {
    if (trackMouseEvent_) {
        TRACKMOUSEEVENT request = {};
        request.cbSize = sizeof(request);
        request.dwFlags = TME_LEAVE;
        request.hwndTrack = window;
        request.dwHoverTime = HOVER_DEFAULT;
        return trackMouseEvent_(&request) ? 1 : 0;
    }
    Stop();
    if (!GetWindowRect(window, &screenRect_))
        return 0;
    // The timer carries the tracker's address as its id, so the procedure finds its tracker without a map.
    timer_ = SetTimer(window, reinterpret_cast<UINT_PTR>(this), kPollInterval, OnTimer);
    if (!timer_)
        return 0;
    window_ = window;
    return 1;
}

void HoverTracker::Stop() {
    if (window_ && timer_ && IsWindow(window_))
        KillTimer(window_, timer_);
    window_ = nullptr;
    timer_ = 0;
}

void CALLBACK HoverTracker::OnTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    auto *tracker = reinterpret_cast<HoverTracker *>(id);
    POINT cursor;
    if (GetCursorPos(&cursor) && PtInRect(&tracker->screenRect_, cursor) && WindowFromPoint(cursor) == window)
        return;
    KillTimer(window, id);
    tracker->window_ = nullptr;
    tracker->timer_ = 0;
    PostMessageA(window, WM_MOUSELEAVE, 0, 0);
}

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
    if (uxtheme_.Load("uxtheme.dll")) {
        auto openThemeData = uxtheme_.Function<OpenThemeDataFunction>("OpenThemeData");
        closeThemeData_ = uxtheme_.Function<CloseThemeDataFunction>("CloseThemeData");
        isThemeBackgroundPartiallyTransparent_ =
            uxtheme_.Function<IsThemeBackgroundPartiallyTransparentFunction>(
                "IsThemeBackgroundPartiallyTransparent");
        drawThemeParentBackground_ =
            uxtheme_.Function<DrawThemeParentBackgroundFunction>("DrawThemeParentBackground");
        if (openThemeData && closeThemeData_)
            theme_ = openThemeData(window, L"TOOLBAR");
    }
    LONG style = GetWindowLongA(window, GWL_STYLE);
    if (!(style & WS_TABSTOP))
        flags_ |= kLinkNoFocusRect;
    // A static that starts out disabled gets no WM_ENABLE, so its state is taken now.
    if (!IsWindowEnabled(window))
        flags_ |= kLinkDisabled;

    text_.Assign(text ? text : "");
    lstrcpynA(address_, address ? address : "", sizeof(address_));
    cursorId_ = cursorId;

    // SS_NOTIFY: without it a static is transparent to the mouse and never sees the clicks.
    SetWindowLongA(window, GWL_STYLE, style | SS_NOTIFY);
    SetWindowTextA(window, "");

    if (!(flags_ & kLinkIgnoreTransparent) && (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
        flags_ |= kLinkTransparent;

    normalColour_ = kDefaultLinkColour;
    disabledColour_ = GetSysColor(COLOR_GRAYTEXT);
    hoverColour_ = GetSysColorBrush(COLOR_HOTLIGHT) ? GetSysColor(COLOR_HOTLIGHT) : RGB(255, 0, 0);
    ReadBrowserColours();
    ReadBrowserUnderline();

    BuildDisplayText();
    CreateFonts();

    drawFormat_ = DT_SINGLELINE;
    if ((style & SS_TYPEMASK) == SS_CENTER)
        drawFormat_ |= DT_CENTER;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
        drawFormat_ |= DT_RIGHT;
    if (style & SS_CENTERIMAGE)
        drawFormat_ |= DT_VCENTER;
    if (flags_ & kLinkEndEllipsis)
        drawFormat_ |= DT_END_ELLIPSIS;
    if (flags_ & kLinkPathEllipsis)
        drawFormat_ |= DT_PATH_ELLIPSIS;

    // Masking depends on the face of the final font, so the display text is built once more.
    BuildDisplayText();
    if (!hook_.Attach(window, HandleMessage, this))
        return 0;
    MeasureText();
    Invalidate();
    return 1;
}

void LinkControl::Detach() {
    // Unhook first: no message may reach the control while its fonts and theme go away.
    hook_.Detach();
    tracker_.Stop();
    if (underlinedFont_)
        DeleteObject(underlinedFont_);
    if (normalFont_)
        DeleteObject(normalFont_);
    underlinedFont_ = nullptr;
    normalFont_ = nullptr;
    if (theme_ && closeThemeData_)
        closeThemeData_(theme_);
    theme_ = nullptr;
    closeThemeData_ = nullptr;
    isThemeBackgroundPartiallyTransparent_ = nullptr;
    drawThemeParentBackground_ = nullptr;
    uxtheme_.Free();
    flags_ &= ~(kLinkHovered | kLinkFocused);
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
    underlineMode_ = 2;
    TextString value;
    if (ReadStringAt(HKEY_CURRENT_USER, kBrowserMainKey, "Anchor Underline", value)) {
        if (value.CompareNoCase("yes") == 0)
            underlineMode_ = 2;
        else if (value.CompareNoCase("no") == 0)
            underlineMode_ = 0;
        else if (value.CompareNoCase("hover") == 0)
            underlineMode_ = 1;
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
        normalFont_ = CreateFontIndirectA(&description);
        description.lfUnderline = TRUE;
        underlinedFont_ = CreateFontIndirectA(&description);
        return;
    }

    char face[LF_FACESIZE];
    ChooseFace(face);
    RECT client = {};
    GetClientRect(window_, &client);
    HDC dc = GetDC(window_);
    if (!dc)
        return;
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    int height = (flags_ & kLinkFitClientHeight) ? client.bottom : metrics.tmHeight;
    // An empty or unmeasurable control would otherwise ask for height 0, which means "any size".
    if (height < kSmallestFontHeight)
        height = kSmallestFontHeight;
    // TEXTMETRIC's pitch bit means the opposite of LOGFONT's: set is variable pitch.
    BYTE pitchAndFamily =
        static_cast<BYTE>((metrics.tmPitchAndFamily & 0xF0) |
                          ((metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) ? VARIABLE_PITCH : FIXED_PITCH));
    for (;;) {
        if (underlinedFont_)
            DeleteObject(underlinedFont_);
        underlinedFont_ =
            CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitchAndFamily, face);
        if (!underlinedFont_)
            break;
        HGDIOBJ previous = SelectObject(dc, underlinedFont_);
        SIZE size = {};
        BOOL measured = GetTextExtentPoint32A(dc, displayText_.Text(), displayText_.Length(), &size);
        SelectObject(dc, previous);
        if (!measured || (size.cx <= client.right && size.cy < client.bottom))
            break;
        if (height - 1 < kSmallestFontHeight)
            break;
        --height;
    }
    ReleaseDC(window_, dc);
    normalFont_ = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitchAndFamily, face);
}

void LinkControl::BuildDisplayText() {
    if (!(flags_ & kLinkMasked)) {
        displayText_.Assign(text_.Text());
        return;
    }
    char mask = '*';
    LOGFONTA description = {};
    if (normalFont_ && GetObjectA(normalFont_, sizeof(description), &description) &&
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
    HDC dc = GetDC(window_);
    if (!dc)
        return;
    HGDIOBJ previous = underlinedFont_ ? SelectObject(dc, underlinedFont_) : nullptr;
    if (!GetTextExtentPoint32A(dc, displayText_.Text(), displayText_.Length(), &textSize_)) {
        textSize_.cx = 0;
        textSize_.cy = 0;
    }
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(window_, dc);
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
    auto module = reinterpret_cast<HINSTANCE>(GetWindowLongA(window_, GWL_HINSTANCE));
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

void LinkControl::Activate(int code) {
    if (code == 1)
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
    int underlined = underlineMode_ == 2 || (underlineMode_ == 1 && (flags_ & kLinkHovered));
    HFONT font = underlined ? underlinedFont_ : normalFont_;
    HGDIOBJ previousFont = font ? SelectObject(dc, font) : nullptr;
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
    if (previousFont)
        SelectObject(dc, previousFont);
}

int LinkControl::HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result,
                               void *userValue) {
    return static_cast<LinkControl *>(userValue)->OnMessage(message, wParam, lParam, result);
}

int LinkControl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    *result = 0;
    switch (message) {
    case WM_SETFOCUS:
        flags_ |= kLinkFocused;
        Invalidate();
        return 1;
    case WM_KILLFOCUS:
        flags_ &= ~kLinkFocused;
        Invalidate();
        return 1;
    case WM_ENABLE:
        if (wParam) {
            flags_ &= ~kLinkDisabled;
            if (!(flags_ & kLinkHovered) && HitTest()) {
                flags_ |= kLinkHovered;
                // Without a leave request the hover would outlast a mouse that leaves without moving over
                // the margin.
                tracker_.Track(window_);
                SetCursor(LinkCursor());
            }
        } else {
            flags_ |= kLinkDisabled;
        }
        Invalidate();
        return 1;
    case WM_SETTEXT:
        // SetWindowTextA reports what this returns: TRUE is success.
        *result = text_.Assign(lParam ? reinterpret_cast<const char *>(lParam) : "") ? TRUE : FALSE;
        BuildDisplayText();
        MeasureText();
        Invalidate();
        return 1;
    case WM_GETTEXT: {
        char *buffer = reinterpret_cast<char *>(lParam);
        if (!buffer || wParam == 0)
            return 1;
        int count = text_.Length();
        if (count > static_cast<int>(wParam) - 1)
            count = static_cast<int>(wParam) - 1;
        memcpy(buffer, text_.Text(), count);
        buffer[count] = 0;
        *result = count;
        return 1;
    }
    case WM_GETTEXTLENGTH:
        // The static's own text is empty; callers sizing a buffer for WM_GETTEXT must see the link's text.
        *result = text_.Length();
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_, &paint);
        if (dc) {
            Paint(dc);
            EndPaint(window_, &paint);
        }
        return 1;
    }
    case WM_CANCELMODE:
    case WM_MOUSELEAVE:
        flags_ &= ~kLinkHovered;
        Invalidate();
        return 1;
    case WM_SETCURSOR:
        SetCursor((flags_ & kLinkHovered) ? LinkCursor() : LoadCursorA(nullptr, IDC_ARROW));
        return 1;
    case WM_KEYUP:
        if (wParam == VK_RETURN)
            Activate(2);
        else if (wParam == VK_SPACE)
            Activate(3);
        return 1;
    case WM_MOUSEMOVE: {
        int hit = HitTest();
        if (hit && !(flags_ & kLinkHovered))
            SetHovered(1);
        else if (!hit && (flags_ & kLinkHovered))
            SetHovered(0);
        return 1;
    }
    // Clicks off the text are swallowed too: passed on, SS_NOTIFY would make the static send its parent
    // STN_CLICKED, which looks exactly like the link's own WM_COMMAND.
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (flags_ & kLinkHovered)
            Activate(1);
        return 1;
    case WM_LBUTTONUP:
        if (flags_ & kLinkHovered)
            Activate(4);
        return 1;
    default:
        return 0;
    }
}

// StyledStatic: font choice and fitting, painting, and the messages the painter answers for the static.
#include "ui/StyledStatic.h"
#include "ui/FittedFont.h"
#include "ui/TemplateFont.h"
#include <cstring>
#include <utility>

void StyledStatic::FirstInstalledFace(const char *fontList, char *face) {
    const char *at = fontList ? fontList : "";
    while (*at) {
        const char *end = at;
        while (*end && *end != ',' && *end != ';')
            ++end;
        size_t length = static_cast<size_t>(end - at);
        if (length > 0 && length < LF_FACESIZE) {
            char candidate[LF_FACESIZE];
            memcpy(candidate, at, length);
            candidate[length] = 0;
            if (TemplateFont::FontInstalled(candidate)) {
                memcpy(face, candidate, length + 1);
                return;
            }
        }
        at = *end ? end + 1 : end;
    }
    lstrcpynA(face, "Verdana", LF_FACESIZE);
}

UINT StyledStatic::DrawFlagsFor(DWORD style) {
    UINT flags = DT_SINGLELINE;
    DWORD type = style & SS_TYPEMASK;
    if (type == SS_CENTER)
        flags |= DT_CENTER;
    if (type == SS_RIGHT)
        flags |= DT_RIGHT;
    if (style & SS_CENTERIMAGE)
        flags |= DT_VCENTER;
    if (style & SS_NOPREFIX)
        flags |= DT_NOPREFIX;
    return flags;
}

int StyledStatic::Attach(HWND window, uint32_t options, const char *fontList, int height, COLORREF colour) {
    if (!window || !IsWindow(window))
        return 0;
    if (window_)
        Detach();
    // The static's own text becomes the painter's, and the static is emptied through its own procedure (the
    // hook would take the emptying for a new text), so that it never draws or reports the text a second time.
    int length = GetWindowTextLengthA(window);
    TextString own(static_cast<uint32_t>(length) + 2);
    GetWindowTextA(window, own.Buffer(static_cast<uint32_t>(length) + 2), length + 1);
    own.Recount();
    if (!hook_.Attach<&StyledStatic::OnMessage>(window, this))
        return 0;
    CallWindowProcA(hook_.PreviousProcedure(), window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    text_.Assign(&own);
    window_ = window;
    options_ = options;
    colour_ = colour;
    startHeight_ = height > kSmallestHeight ? height : kSmallestHeight;
    drawFlags_ = DrawFlagsFor(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)));
    face_[0] = 0;
    if (options_ & kFontList)
        FirstInstalledFace(fontList, face_);
    CreateFont();
    InvalidateRect(window, nullptr, TRUE);
    return 1;
}

void StyledStatic::Detach() {
    if (hook_.IsAttached())
        hook_.Detach();
    font_.Reset();
    window_ = nullptr;
}

void StyledStatic::CreateFont() {
    font_.Reset();
    if (options_ & kFittedFont) {
        Fit();
        return;
    }
    // A copy of the static's own font, so that it stays valid whatever the dialog does with its font.
    HFONT own = reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0));
    LOGFONTA description;
    if (!own || GetObjectA(own, sizeof(description), &description) != sizeof(description))
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(description), &description);
    font_.Reset(CreateFontIndirectA(&description));
    height_ = description.lfHeight;
}

void StyledStatic::Fit() {
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    LOGFONTA description;
    memset(&description, 0, sizeof(description));
    description.lfWeight = FW_NORMAL;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfQuality = DEFAULT_QUALITY;
    lstrcpynA(description.lfFaceName, face_[0] ? face_ : "Verdana", LF_FACESIZE);
    ScopedGetDC dc(window_);
    int fitted = 0;
    OwnedFont font = FittedFont::Create(
        dc.Get(), description, startHeight_, kSmallestHeight,
        [&](HDC measuring) {
            RECT needed = client;
            DrawTextA(measuring, text_.Text(), -1, &needed, drawFlags_ | DT_CALCRECT);
            return needed.right - needed.left < width && needed.bottom - needed.top < height
                       ? FittedFont::kFits
                       : FittedFont::kTooLarge;
        },
        &fitted);
    // A font that cannot be made at all keeps the one there was.
    if (font.IsValid()) {
        font_ = std::move(font);
        height_ = fitted;
    }
}

void StyledStatic::Paint(HDC dc) {
    RECT client;
    GetClientRect(window_, &client);
    HWND parent = GetParent(window_);
    HBRUSH brush =
        parent
            ? reinterpret_cast<HBRUSH>(SendMessageA(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                    reinterpret_cast<LPARAM>(window_)))
            : nullptr;
    FillRect(dc, &client, brush ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ previous = font_.IsValid() ? SelectObject(dc, font_.Get()) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, IsWindowEnabled(window_) ? colour_ : GetSysColor(COLOR_GRAYTEXT));
    DrawTextA(dc, text_.Text(), -1, &client, drawFlags_);
    if (previous)
        SelectObject(dc, previous);
}

int StyledStatic::OnMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_, &paint);
        if (dc)
            Paint(dc);
        EndPaint(window_, &paint);
        *result = 0;
        return 1;
    }
    case WM_SETTEXT:
        text_.Assign(reinterpret_cast<const char *>(lParam));
        if (options_ & kFittedFont)
            Fit();
        InvalidateRect(window_, nullptr, TRUE);
        *result = TRUE;
        return 1;
    case WM_ENABLE:
        InvalidateRect(window_, nullptr, TRUE);
        *result = 0;
        return 1;
    case WM_NCHITTEST:
        *result = HTCLIENT;
        return 1;
    default:
        (void)wParam;
        return 0;
    }
}

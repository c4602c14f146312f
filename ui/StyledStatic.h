// StyledStatic: a painter that takes over drawing a static control: its own text, font and colour on the
// background the parent gives statics; the heading form fits a font of a preferred face to the control.
//
// Classes: StyledStatic.
#pragma once

#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "ui/SubclassHook.h"
#include <cstdint>

class StyledStatic {
public:
    // Option bits of Attach.
    enum : uint32_t {
        kFittedFont = 0x80,    // the font is fitted to the client area, starting at the given height
        kWindowFont = 0x8000,  // the font is a copy of the static's own font
        kFontList = 0x4000000, // the face is the first installed one of a list
    };
    // A fitted font never gets lower than this many pixels.
    static constexpr int kSmallestHeight = 4;

    StyledStatic() = default;
    ~StyledStatic() { Detach(); }
    StyledStatic(const StyledStatic &) = delete;
    StyledStatic &operator=(const StyledStatic &) = delete;

    // Takes over the static: its window text becomes the painter's text and the window text is cleared.
    // fontList: faces separated by "," or ";" (kFontList; "Verdana" when none is installed). height: the
    // fitted font's start height in pixels. 1, or 0 when the window is not a window or already painted.
    int Attach(HWND window, uint32_t options, const char *fontList, int height, COLORREF colour);
    // Unhooks the static and frees the font; the static keeps an empty text.
    void Detach();

    HWND Window() const { return window_; }
    const char *Text() const { return text_.Text(); }
    const char *Face() const { return face_; }
    HFONT Font() const { return font_.Get(); }
    int FontHeight() const { return height_; }
    UINT DrawFlags() const { return drawFlags_; }
    COLORREF Colour() const { return colour_; }

    // The first face of the list that FontInstalled confirms; "Verdana" when none does.
    static void FirstInstalledFace(const char *fontList, char *face);
    // The draw flags for a static's style.
    static UINT DrawFlagsFor(DWORD style);

private:
    int OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);
    void CreateFont();
    void Fit();
    void Paint(HDC dc);

    SubclassHook<kHookStyledStatic> hook_;
    TextString text_;
    HWND window_ = nullptr;
    OwnedFont font_;
    uint32_t options_ = 0;
    UINT drawFlags_ = 0;
    COLORREF colour_ = 0;
    int startHeight_ = 0;
    int height_ = 0;
    char face_[LF_FACESIZE] = {};
};

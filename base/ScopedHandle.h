// ScopedHandle: owners for the handles the program frees itself, and scoped helpers for the ones it only
// borrows for a while (a window's DC, the object selected into a DC).
//
// Classes: ScopedHandle<Traits> (move-only owner; aliases OwnedHandle, OwnedGdiObject<T>, OwnedFont,
// OwnedBitmap, OwnedBrush, OwnedDC, OwnedIcon), ScopedGetDC, ScopedSelectObject.
//
// Owning versus borrowed is said by the type: an Owned* frees its handle when it goes, a plain HANDLE, HFONT
// or HDC is borrowed and never freed by whoever holds it. An owner cannot be copied (a copy would free the
// handle twice); it can be moved, which hands the handle over and leaves the source empty.
//
// Everything here is inline, so a folder links the system library of a handle kind only when it uses that
// kind (base itself uses the kernel handle only). The image-list owner lives in ui/, beside comctl32.
#pragma once

#include "base/Win.h"

// Traits: Handle (the handle type), Empty() (the value that owns nothing), IsValid(h), Close(h).
template <typename Traits> class ScopedHandle {
public:
    typedef typename Traits::Handle Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle &) = delete;
    ScopedHandle &operator=(const ScopedHandle &) = delete;
    ScopedHandle(ScopedHandle &&other) noexcept : handle_(other.Release()) {}
    ScopedHandle &operator=(ScopedHandle &&other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Handle Get() const { return handle_; }
    int IsValid() const { return Traits::IsValid(handle_) ? 1 : 0; }
    // Frees the handle held so far and takes handle (nothing when empty).
    void Reset(Handle handle = Traits::Empty()) {
        Handle previous = handle_;
        handle_ = handle;
        if (Traits::IsValid(previous) && previous != handle)
            Traits::Close(previous);
    }
    // Gives the handle up without freeing it; the caller owns it from now on.
    Handle Release() {
        Handle handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }

private:
    Handle handle_ = Traits::Empty();
};

// Kernel objects (threads, events, files, tokens). Both null and INVALID_HANDLE_VALUE mean none: CreateFile
// and the snapshot functions report failure with the latter.
struct KernelHandleTraits {
    typedef HANDLE Handle;
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
typedef ScopedHandle<KernelHandleTraits> OwnedHandle;

// GDI objects made by the program (fonts, bitmaps, brushes, pens, regions). A stock object may be held too:
// DeleteObject leaves those alone. An object must not be selected into a DC when it is freed.
template <typename T> struct GdiObjectTraits {
    typedef T Handle;
    static T Empty() { return nullptr; }
    static bool IsValid(T handle) { return handle != nullptr; }
    static void Close(T handle) { DeleteObject(handle); }
};
template <typename T> using OwnedGdiObject = ScopedHandle<GdiObjectTraits<T>>;
typedef OwnedGdiObject<HFONT> OwnedFont;
typedef OwnedGdiObject<HBITMAP> OwnedBitmap;
typedef OwnedGdiObject<HBRUSH> OwnedBrush;

// A DC the program created (CreateCompatibleDC, CreateDC); a window's DC is borrowed: ScopedGetDC.
struct CreatedDcTraits {
    typedef HDC Handle;
    static HDC Empty() { return nullptr; }
    static bool IsValid(HDC dc) { return dc != nullptr; }
    static void Close(HDC dc) { DeleteDC(dc); }
};
typedef ScopedHandle<CreatedDcTraits> OwnedDC;

// Icons made by CreateIcon*, CopyIcon or LoadImage without LR_SHARED. Shared icons (LoadIcon, LR_SHARED)
// belong to the system and are kept as plain HICON.
struct IconTraits {
    typedef HICON Handle;
    static HICON Empty() { return nullptr; }
    static bool IsValid(HICON icon) { return icon != nullptr; }
    static void Close(HICON icon) { DestroyIcon(icon); }
};
typedef ScopedHandle<IconTraits> OwnedIcon;

// A window's DC (or the screen's, for a null window), borrowed for one scope and given back with ReleaseDC.
class ScopedGetDC {
public:
    explicit ScopedGetDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedGetDC() {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    ScopedGetDC(const ScopedGetDC &) = delete;
    ScopedGetDC &operator=(const ScopedGetDC &) = delete;

    // Null when the DC could not be had.
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a DC for one scope and puts the previous one back, so that the object can be
// freed afterwards. Not for regions, whose SelectObject answers a kind of region instead of a handle. A
// null object or DC selects nothing.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~ScopedSelectObject() {
        if (previous_)
            SelectObject(dc_, previous_);
    }
    ScopedSelectObject(const ScopedSelectObject &) = delete;
    ScopedSelectObject &operator=(const ScopedSelectObject &) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

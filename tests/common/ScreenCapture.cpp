// ScreenCapture: a 32-bit DIB section filled by BitBlt from the window's DC.
#include "tests/common/ScreenCapture.h"

#include "base/ScopedHandle.h"
#include <cstdint>

ScreenCapture::ScreenCapture(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT client;
    GetClientRect(window, &client);
    width = client.right;
    height = client.bottom;
    ScopedGetDC source(window);
    OwnedDC memory(CreateCompatibleDC(source.Get()));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    OwnedBitmap bitmap(CreateDIBSection(memory.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    // Deselected before the bitmap and the DC go.
    ScopedSelectObject selected(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, width, height, source.Get(), 0, 0, SRCCOPY);
    GdiFlush();
    const auto *raw = static_cast<const uint32_t *>(bits);
    for (int i = 0; raw && i < width * height; ++i)
        pixels.push_back(RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF));
}

int ScreenCapture::Count(COLORREF colour) const {
    int n = 0;
    for (COLORREF pixel : pixels)
        n += pixel == colour;
    return n;
}

int ScreenCapture::LongestRun(COLORREF colour) const {
    int best = 0;
    for (int y = 0; y < height; ++y) {
        int run = 0;
        for (int x = 0; x < width; ++x) {
            run = At(x, y) == colour ? run + 1 : 0;
            if (run > best)
                best = run;
        }
    }
    return best;
}

// ScreenCapture: a 32-bit DIB section filled by BitBlt from the window's DC.
#include "tests/common/ScreenCapture.h"

#include <cstdint>

ScreenCapture::ScreenCapture(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT client;
    GetClientRect(window, &client);
    width = client.right;
    height = client.bottom;
    HDC source = GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto *raw = static_cast<const uint32_t *>(bits);
    for (int i = 0; raw && i < width * height; ++i)
        pixels.push_back(RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF));
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
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

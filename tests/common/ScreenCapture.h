// ScreenCapture: the client area of a real window read back as pixels, for tests that check what a control
// really drew.
//
// Classes: ScreenCapture.
#pragma once

#include "base/Win.h"
#include <vector>

class ScreenCapture {
public:
    // Repaints the window at once and copies its client area.
    explicit ScreenCapture(HWND window);

    COLORREF At(int x, int y) const { return pixels[y * width + x]; }
    int Count(COLORREF colour) const;
    // Longest horizontal run of one colour: an underline shows up as a run about as wide as the text.
    int LongestRun(COLORREF colour) const;

    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
};

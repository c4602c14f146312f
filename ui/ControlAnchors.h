// ControlAnchors: keeps a resizable window's controls where they belong as the window changes size: each
// control keeps its distances to the edges it is anchored to, and stretches between two opposite anchors.
//
// Classes: ControlAnchors.
#pragma once

#include "base/Win.h"
#include <cstdint>
#include <vector>

class ControlAnchors {
public:
    // The client edges a control keeps its distance to. Left and right together stretch it horizontally;
    // right alone moves it with the right edge; neither (or left alone) leaves it where it is. The same
    // vertically with top and bottom.
    enum : uint32_t { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8 };
    struct Anchor {
        int id;
        uint32_t edges;
    };

    ControlAnchors() = default;
    ControlAnchors(const ControlAnchors &) = delete;
    ControlAnchors &operator=(const ControlAnchors &) = delete;

    // Takes the controls' places in parent's client area as they are now as the layout to keep; controls
    // the parent does not have are left out. Returns how many were taken.
    int Attach(HWND parent, const Anchor *anchors, int count);
    // Moves the controls for the parent's current client size, all in one go.
    void Arrange();
    // For the parent's WM_SIZE: arranges unless the window was minimised (its client area is then empty and
    // would squeeze every stretching control to nothing). Always 0, so the message goes on as usual.
    int OnSize(WPARAM sizeType);

private:
    struct Placed {
        HWND control;
        uint32_t edges;
        RECT rect; // in the parent's client coordinates at Attach
    };

    HWND parent_ = nullptr;
    SIZE client_ = {}; // the parent's client size at Attach
    std::vector<Placed> controls_;
};

// ControlAnchors: the anchoring rule and the deferred move of every control.
#include "ui/ControlAnchors.h"

namespace {

// One axis: the control's new [start, end) for a client grown by delta, from its place at attach time.
void Follow(LONG *start, LONG *end, int anchoredStart, int anchoredEnd, int delta) {
    if (anchoredEnd && anchoredStart) {
        *end += delta;
        // A stretching control never turns inside out; the window's minimum size normally keeps it whole.
        if (*end < *start)
            *end = *start;
    } else if (anchoredEnd) {
        *start += delta;
        *end += delta;
    }
}

} // namespace

int ControlAnchors::Attach(HWND parent, const Anchor *anchors, int count) {
    parent_ = parent;
    controls_.clear();
    RECT client = {};
    GetClientRect(parent, &client);
    client_.cx = client.right;
    client_.cy = client.bottom;
    for (int i = 0; i < count; ++i) {
        HWND control = GetDlgItem(parent, anchors[i].id);
        RECT rect;
        if (!control || !GetWindowRect(control, &rect))
            continue;
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&rect), 2);
        controls_.push_back({control, anchors[i].edges, rect});
    }
    return static_cast<int>(controls_.size());
}

void ControlAnchors::Arrange() {
    if (!parent_ || controls_.empty())
        return;
    RECT client = {};
    GetClientRect(parent_, &client);
    const int dx = client.right - client_.cx;
    const int dy = client.bottom - client_.cy;
    std::vector<RECT> places;
    places.reserve(controls_.size());
    for (const Placed &placed : controls_) {
        RECT rect = placed.rect;
        Follow(&rect.left, &rect.right, placed.edges & kLeft, placed.edges & kRight, dx);
        Follow(&rect.top, &rect.bottom, placed.edges & kTop, placed.edges & kBottom, dy);
        places.push_back(rect);
    }
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    // Deferred, so the controls move together and none is painted at a half-way layout.
    HDWP moves = BeginDeferWindowPos(static_cast<int>(controls_.size()));
    for (size_t i = 0; i < controls_.size() && moves; ++i)
        moves = DeferWindowPos(moves, controls_[i].control, nullptr, places[i].left, places[i].top,
                               places[i].right - places[i].left, places[i].bottom - places[i].top, flags);
    // A failed deferral drops the whole batch: the controls are then moved one by one.
    if (!moves || !EndDeferWindowPos(moves)) {
        for (size_t i = 0; i < controls_.size(); ++i)
            SetWindowPos(controls_[i].control, nullptr, places[i].left, places[i].top,
                         places[i].right - places[i].left, places[i].bottom - places[i].top, flags);
    }
    // A dialog's class does not redraw on resizing: the places the controls left would keep their old
    // pixels.
    RedrawWindow(parent_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

int ControlAnchors::OnSize(WPARAM sizeType) {
    if (sizeType != SIZE_MINIMIZED)
        Arrange();
    return 0;
}

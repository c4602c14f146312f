// ControlAnchors on real child windows of a resized parent: which edges move a control, which stretch it,
// the way back to the first size, sizes below it, minimising, and controls the parent does not have.
#include "ui/ControlAnchors.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

enum : uint32_t {
    L = ControlAnchors::kLeft,
    T = ControlAnchors::kTop,
    R = ControlAnchors::kRight,
    B = ControlAnchors::kBottom,
};

// One control per anchoring, with what growing the client by (dx, dy) must do to it: how far its left and
// top edges move and how much it widens and heightens, as multiples of dx and dy.
struct Case {
    uint32_t edges;
    int moveX, moveY, growX, growY;
};
const Case kCases[] = {
    {L | T | R | B, 0, 0, 1, 1}, // the list: takes all the room
    {L | R | B, 0, 1, 1, 0},     // the slider: wider, follows the bottom
    {R | B, 1, 1, 0, 0},         // the buttons: bottom right
    {L | B, 0, 1, 0, 0},         // the link and the box: bottom left
    {R, 1, 0, 0, 0},             // top right
    {T | B, 0, 0, 0, 1},         // taller only
    {L | T, 0, 0, 0, 0},         // stays
    {0, 0, 0, 0, 0},             // stays too
};
const int kFirstId = 100;
const int kWidth = 300, kHeight = 200;

class Anchors : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, kWidth, kHeight, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, parent_);
        for (int i = 0; i < static_cast<int>(sizeof kCases / sizeof kCases[0]); ++i) {
            // Spread over the client area, each somewhere between the edges.
            HWND child = CreateWindowExA(
                0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10 + 30 * i, 20 + 15 * i, 25, 12, parent_,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + i)), nullptr, nullptr);
            ASSERT_NE(nullptr, child);
            anchors_.push_back({kFirstId + i, kCases[i].edges});
            first_.push_back(Place(kFirstId + i));
        }
    }
    void TearDown() override {
        if (parent_)
            DestroyWindow(parent_);
    }

    RECT Place(int id) const {
        RECT rect = {};
        HWND child = GetDlgItem(parent_, id);
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT *>(&rect), 2);
        return rect;
    }
    void Resize(int width, int height) {
        SetWindowPos(parent_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    HWND parent_ = nullptr;
    std::vector<ControlAnchors::Anchor> anchors_;
    std::vector<RECT> first_;
    ControlAnchors layout_;
};

} // namespace

TEST_F(Anchors, GrowingMovesAndStretchesByTheEdgesAndTheWayBackRestores) {
    ASSERT_EQ(static_cast<int>(anchors_.size()),
              layout_.Attach(parent_, anchors_.data(), static_cast<int>(anchors_.size())));
    const int sizes[][2] = {{130, 90}, {37, 0}, {0, 51}, {0, 0}};
    for (const auto &size : sizes) {
        const int dx = size[0], dy = size[1];
        Resize(kWidth + dx, kHeight + dy);
        layout_.OnSize(SIZE_RESTORED);
        for (size_t i = 0; i < anchors_.size(); ++i) {
            SCOPED_TRACE(testing::Message()
                         << "edges " << kCases[i].edges << ", grown by " << dx << "," << dy);
            const RECT was = first_[i], now = Place(anchors_[i].id);
            const Case &c = kCases[i];
            EXPECT_EQ(was.left + c.moveX * dx, now.left);
            EXPECT_EQ(was.top + c.moveY * dy, now.top);
            EXPECT_EQ(was.right - was.left + c.growX * dx, now.right - now.left);
            EXPECT_EQ(was.bottom - was.top + c.growY * dy, now.bottom - now.top);
        }
    }
}

// Below the first size a stretching control ends at nothing, never at a negative size, and comes back
// whole; a minimised window's empty client area changes nothing.
TEST_F(Anchors, ShrinkingBelowTheFirstSizeAndMinimising) {
    ASSERT_EQ(static_cast<int>(anchors_.size()),
              layout_.Attach(parent_, anchors_.data(), static_cast<int>(anchors_.size())));
    Resize(kWidth - 250, kHeight - 180);
    layout_.OnSize(SIZE_RESTORED);
    RECT list = Place(kFirstId);
    EXPECT_EQ(first_[0].left, list.left);
    EXPECT_EQ(0, list.right - list.left);
    EXPECT_EQ(0, list.bottom - list.top);

    Resize(kWidth, kHeight);
    layout_.OnSize(SIZE_RESTORED);
    Resize(40, 30);
    layout_.OnSize(SIZE_MINIMIZED);
    for (size_t i = 0; i < anchors_.size(); ++i) {
        RECT now = Place(anchors_[i].id);
        EXPECT_TRUE(EqualRect(&first_[i], &now)) << "control " << i;
    }
}

TEST_F(Anchors, ControlsThatAreMissingAreLeftOut) {
    const ControlAnchors::Anchor some[] = {{kFirstId + 2, R | B}, {4242, L | T | R | B}, {kFirstId, L | R}};
    EXPECT_EQ(2, layout_.Attach(parent_, some, 3));
    Resize(kWidth + 20, kHeight + 10);
    layout_.Arrange();
    RECT moved = Place(kFirstId + 2), stretched = Place(kFirstId), untouched = Place(kFirstId + 1);
    EXPECT_EQ(first_[2].left + 20, moved.left);
    EXPECT_EQ(first_[2].top + 10, moved.top);
    EXPECT_EQ(first_[0].right + 20, stretched.right);
    EXPECT_EQ(first_[0].bottom, stretched.bottom);
    EXPECT_TRUE(EqualRect(&first_[1], &untouched));
}

// Window tests of the real Tarvex.exe's layout: made larger from outside, the window gives the list the room
// and the slider the width and keeps the buttons at the bottom right and the link and the update box at the
// bottom left; made smaller than its template, it stays at the template's size.
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"

#include <gtest/gtest.h>

namespace {

const char *const kSettingsKey = kTarvexSettingsKey;
const DWORD kStartMs = 30000;
const DWORD kExitMs = 20000;
const DWORD kLayoutMs = 5000;

// What growing the client area by (dx, dy) does to a control: how far its left and top edges move and how
// much it widens and heightens, as multiples of dx and dy.
struct Follows {
    int id;
    const char *name;
    int moveX, moveY, growX, growY;
};
const Follows kControls[] = {
    {IDC_PROCESSORS, "list", 0, 0, 1, 1},
    {IDC_PERCENT_SLIDER, "slider", 0, 1, 1, 0},
    {IDC_PERCENT_LABEL, "percent", 1, 1, 0, 0},
    {IDC_GRAB, "Grab", 1, 1, 0, 0},
    {IDC_EXIT, "Exit", 1, 1, 0, 0},
    {IDC_AUTOUPDATE, "update box", 0, 1, 0, 0},
    {IDC_LINK, "link", 0, 1, 0, 0},
};
const int kControlCount = static_cast<int>(sizeof kControls / sizeof kControls[0]);

SIZE FrameSize(HWND window) {
    RECT frame = {};
    GetWindowRect(window, &frame);
    SIZE size = {frame.right - frame.left, frame.bottom - frame.top};
    return size;
}

class Layout : public ::testing::Test {
protected:
    Layout() : autoUpdate_(HKEY_CURRENT_USER, kSettingsKey, "AutoUpdate") {}

    void SetUp() override {
        ASSERT_EQ(1, driver_.Start("")) << TarvexDriver::ProgramPath();
        ASSERT_EQ(1, driver_.WaitForDialog(kStartMs))
            << "no dialog captioned " << TarvexDriver::ExpectedCaption();
        first_ = FrameSize(driver_.Dialog());
        firstClient_ = driver_.ClientSize();
        for (int i = 0; i < kControlCount; ++i)
            places_[i] = driver_.ItemPlace(kControls[i].id);
        ASSERT_GT(places_[0].right - places_[0].left, 0);
    }
    void TearDown() override {
        if (!driver_.Dialog())
            return;
        driver_.Click(IDC_EXIT);
        DWORD code = 12345;
        ASSERT_EQ(1, driver_.WaitForExit(kExitMs, &code));
        EXPECT_EQ(0u, code);
    }

    // Gives the window an outer size from outside, as a user's drag of the border would; 1 once the program
    // has laid out its client area for the size it accepted.
    int Resize(int width, int height) {
        SetWindowPos(driver_.Dialog(), nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return TarvexDriver::WaitUntil(kLayoutMs, [&] {
            SIZE client = driver_.ClientSize();
            RECT list = driver_.ItemPlace(IDC_PROCESSORS);
            return list.right - places_[0].right == client.cx - firstClient_.cx &&
                   list.bottom - places_[0].bottom == client.cy - firstClient_.cy;
        });
    }

    // Every control where its anchors put it for the client grown by (dx, dy) from the first layout.
    void ExpectLaidOutFor(int dx, int dy) {
        for (int i = 0; i < kControlCount; ++i) {
            SCOPED_TRACE(testing::Message() << kControls[i].name << ", client grown by " << dx << "," << dy);
            const Follows &c = kControls[i];
            const RECT was = places_[i], now = driver_.ItemPlace(c.id);
            EXPECT_EQ(was.left + c.moveX * dx, now.left);
            EXPECT_EQ(was.top + c.moveY * dy, now.top);
            EXPECT_EQ(was.right - was.left + c.growX * dx, now.right - now.left);
            EXPECT_EQ(was.bottom - was.top + c.growY * dy, now.bottom - now.top);
        }
    }

    SavedRegistryValue autoUpdate_;
    TarvexDriver driver_;
    SIZE first_ = {}, firstClient_ = {};
    RECT places_[kControlCount] = {};
};

} // namespace

TEST_F(Layout, LargerWindowGivesTheListTheRoomAndKeepsTheCorners) {
    ASSERT_NE(0, GetWindowLongPtrA(driver_.Dialog(), GWL_STYLE) & WS_THICKFRAME) << "no sizing border";
    // How each anchor follows a size is ControlAnchorsTest's table; here the window's controls carry the
    // right anchors: one larger size and the way back.
    const int grow[][2] = {{300, 200}, {0, 0}};
    for (const auto &by : grow) {
        ASSERT_EQ(1, Resize(first_.cx + by[0], first_.cy + by[1])) << "grown by " << by[0] << "," << by[1];
        const SIZE client = driver_.ClientSize();
        EXPECT_EQ(firstClient_.cx + by[0], client.cx);
        EXPECT_EQ(firstClient_.cy + by[1], client.cy);
        ExpectLaidOutFor(by[0], by[1]);
    }
}

// The template's size is the smallest: a smaller size in either direction is raised to it, and the controls
// keep the template's layout in that direction.
TEST_F(Layout, SmallerThanTheTemplateStaysAtTheTemplatesSize) {
    const int asked[][2] = {{-150, -60}, {80, -40}, {-60, 30}, {-1, -1}};
    for (const auto &by : asked) {
        SCOPED_TRACE(testing::Message() << "asked for " << by[0] << "," << by[1]);
        const int dx = by[0] > 0 ? by[0] : 0, dy = by[1] > 0 ? by[1] : 0;
        ASSERT_EQ(1, Resize(first_.cx + by[0], first_.cy + by[1]));
        const SIZE frame = FrameSize(driver_.Dialog());
        EXPECT_EQ(first_.cx + dx, frame.cx);
        EXPECT_EQ(first_.cy + dy, frame.cy);
        ExpectLaidOutFor(dx, dy);
    }
}

// LinkControl on real statics: browser settings, painting read back from the screen, hit test, focus,
// fitted font, activation (by the keyboard also through the dialog manager), text messages and leave
// tracking.
#include "ui/LinkControl.h"
#include "base/OsVersion.h"
#include "tests/common/ScreenCapture.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kLinkId = 1005;
const COLORREF kDefaultNormal = RGB(0, 102, 204);

int g_commands = 0;
WPARAM g_commandWParam = 0;
LPARAM g_commandLParam = 0;
HBRUSH g_parentBrush = nullptr;

LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        ++g_commands;
        g_commandWParam = wParam;
        g_commandLParam = lParam;
        return 0;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(g_parentBrush);
    case WM_ERASEBKGND: {
        RECT area;
        GetClientRect(window, &area);
        FillRect(reinterpret_cast<HDC>(wParam), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        return 1;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Dispatches whatever arrives for about ms milliseconds (input from the display server comes in late).
void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

// Pumps until done() holds or limitMs passed; returns done().
template <typename Done> int PumpUntil(Done done, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < limitMs)
        Pump(10);
    return done();
}

// Moves the cursor and pumps until the system has it there.
int MoveCursor(POINT to) {
    SetCursorPos(to.x, to.y);
    return PumpUntil(
        [&] {
            POINT at = {};
            return GetCursorPos(&at) && at.x == to.x && at.y == to.y;
        },
        3000);
}

BOOL CALLBACK DestroyChild(HWND child, LPARAM) {
    DestroyWindow(child);
    return TRUE;
}

class LinkTest : public ::testing::Test {
protected:
    // One parent for the whole suite: destroying a shown top-level window costs Wine seconds on this display.
    static void SetUpTestSuite() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ParentProcedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = "TarvexLinkTestParent";
        RegisterClassA(&wc);
        s_parent = CreateWindowExA(WS_EX_TOPMOST, "TarvexLinkTestParent", "", WS_POPUP | WS_VISIBLE, 100, 100,
                                   320, 120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    static void TearDownTestSuite() {
        if (s_parent)
            DestroyWindow(s_parent);
        s_parent = nullptr;
    }

    void SetUp() override {
        parent_ = s_parent;
        ASSERT_NE(nullptr, parent_);
        ASSERT_TRUE(hive_.Valid());
        g_commands = 0;
        g_commandWParam = 0;
        g_commandLParam = 0;
        g_parentBrush = nullptr;
        // Park the cursor away from every window of the test.
        ASSERT_TRUE(MoveCursor({5, 5}));
    }
    void TearDown() override {
        link_.Detach();
        if (parent_)
            EnumChildWindows(parent_, DestroyChild, 0);
        if (brush_)
            DeleteObject(brush_);
    }

    // A browser setting in the test's stand-in for the current user's hive.
    void SetBrowserValue(const char *subkey, const char *name, const char *value) {
        ASSERT_EQ(1, hive_.SetString(subkey, name, value));
    }
    void SetBrowserDword(const char *subkey, const char *name, DWORD value) {
        ASSERT_EQ(1, hive_.SetDword(subkey, name, value));
    }
    void SetSetting(const char *name, const char *value) {
        SetBrowserValue("Software\\Microsoft\\Internet Explorer\\Settings", name, value);
    }
    void SetMain(const char *name, const char *value) {
        SetBrowserValue("Software\\Microsoft\\Internet Explorer\\Main", name, value);
    }

    HWND MakeStatic(DWORD style, int width = 200, int height = 30, DWORD exStyle = 0) {
        HWND window =
            CreateWindowExA(exStyle, "STATIC", "initial", WS_CHILD | WS_VISIBLE | style, 10, 10, width,
                            height, parent_, reinterpret_cast<HMENU>(kLinkId), nullptr, nullptr);
        EXPECT_NE(nullptr, window);
        return window;
    }

    // Attaches while the current user's hive is the test key, so only the values set above are seen.
    int AttachLink(LinkControl &link, HWND window, const char *text, uint32_t options,
                   const char *address = "") {
        ScopedRootRedirect redirect(HKEY_CURRENT_USER, hive_.Handle());
        EXPECT_EQ(1, redirect.Active());
        return link.Attach(window, text, address, 0, options);
    }

    void MoveCursorTo(HWND window, int x, int y) {
        POINT point = {x, y};
        ClientToScreen(window, &point);
        ASSERT_TRUE(MoveCursor(point));
        SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    }
    // A point in the middle of the painted text.
    POINT TextCentre(const LinkControl &link, HWND window) const {
        RECT client;
        GetClientRect(window, &client);
        SIZE size = link.TextSize();
        UINT format = link.DrawFormat();
        int left = (format & DT_CENTER)  ? (client.right - size.cx) / 2
                   : (format & DT_RIGHT) ? client.right - size.cx
                                         : 0;
        POINT point = {left + size.cx / 2, client.bottom / 2};
        return point;
    }
    void Hover(LinkControl &link, HWND window) {
        POINT point = TextCentre(link, window);
        MoveCursorTo(window, point.x, point.y);
    }

    static HWND s_parent;
    // The test's stand-in for the current user's hive, fresh for every test.
    ScopedTestKey hive_{"LinkControl"};
    HWND parent_ = nullptr;
    HBRUSH brush_ = nullptr;
    LinkControl link_;
};

HWND LinkTest::s_parent = nullptr;

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Colours from the browser settings, as painted

TEST_F(LinkTest, DefaultColourWithoutBrowserSettings) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    ScreenCapture shot(label);
    EXPECT_GT(shot.Count(kDefaultNormal), 0);
    EXPECT_EQ(kDefaultNormal, link_.NormalColour());
    EXPECT_EQ(LinkControl::kUnderlineAlways, link_.UnderlineMode());
}

TEST_F(LinkTest, AnchorColorOfThreeNumbersMakesTheTextRed) {
    SetSetting("Anchor Color", "255,0,0");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    ScreenCapture shot(label);
    EXPECT_GT(shot.Count(RGB(255, 0, 0)), 0);
    EXPECT_EQ(0, shot.Count(kDefaultNormal));
}

TEST_F(LinkTest, AnchorColorOfTwoNumbersLeavesTheDefault) {
    SetSetting("Anchor Color", "255,0");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    ScreenCapture shot(label);
    EXPECT_EQ(0, shot.Count(RGB(255, 0, 0)));
    EXPECT_GT(shot.Count(kDefaultNormal), 0);
}

TEST_F(LinkTest, AnchorColoursThatAreNotThreeBytesLeaveTheDefaults) {
    // A number above 255 spills into the next byte of the COLORREF (green 256 becomes blue 1, blue 256 the
    // palette flag), so each place is checked on its own; the others do not give three numbers at all.
    const char *const values[] = {"256,0,0", "0,256,0", "0,0,256", "255,255,1000", "-1,0,0", "4294967551,0,0",
                                  "1,2",     "red",     ""};
    LinkControl plain; // the defaults, from a link attached without any setting
    ASSERT_EQ(1, AttachLink(plain, MakeStatic(SS_CENTERIMAGE), "Tarvex", 0));
    for (const char *value : values) {
        SetSetting("Anchor Color", value);
        SetSetting("Anchor Color Hover", value);
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, MakeStatic(SS_CENTERIMAGE), "Tarvex", 0)) << value;
        EXPECT_EQ(kDefaultNormal, link.NormalColour()) << '"' << value << '"';
        EXPECT_EQ(plain.HoverColour(), link.HoverColour()) << '"' << value << '"';
    }
}

TEST_F(LinkTest, HoverColourWhileHovered) {
    SetSetting("Anchor Color", "0,0,255");
    SetSetting("Anchor Color Hover", "0,160,0");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    ScreenCapture shot(label);
    EXPECT_GT(shot.Count(RGB(0, 160, 0)), 0);
    EXPECT_EQ(0, shot.Count(RGB(0, 0, 255)));
}

TEST_F(LinkTest, UseAnchorHoverColorNoKeepsTheNormalColourWhileHovered) {
    SetSetting("Anchor Color", "0,0,255");
    SetSetting("Anchor Color Hover", "0,160,0");
    SetSetting("Use Anchor Hover Color", "No");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_EQ(0u, link_.Flags() & kLinkHoverColour);
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    ScreenCapture shot(label);
    EXPECT_GT(shot.Count(RGB(0, 0, 255)), 0);
    EXPECT_EQ(0, shot.Count(RGB(0, 160, 0)));
}

TEST_F(LinkTest, DisabledLinkPaintsInTheGreyTextColour) {
    SetSetting("Anchor Color", "0,0,255");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EnableWindow(label, FALSE);
    EXPECT_TRUE(link_.Flags() & kLinkDisabled);
    ScreenCapture disabled(label);
    EXPECT_EQ(0, disabled.Count(RGB(0, 0, 255)));
    EXPECT_GT(disabled.Count(GetSysColor(COLOR_GRAYTEXT)), 0);
    EnableWindow(label, TRUE);
    EXPECT_EQ(0u, link_.Flags() & kLinkDisabled);
    ScreenCapture enabled(label);
    EXPECT_GT(enabled.Count(RGB(0, 0, 255)), 0);
}

TEST_F(LinkTest, StaticDisabledBeforeAttachStartsDisabled) {
    HWND label = MakeStatic(SS_CENTERIMAGE | WS_DISABLED);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_TRUE(link_.Flags() & kLinkDisabled);
    ScreenCapture shot(label);
    EXPECT_EQ(0, shot.Count(kDefaultNormal));
}

TEST_F(LinkTest, BackgroundComesFromTheParentOrIsWhite) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    {
        ScreenCapture shot(label);
        EXPECT_EQ(RGB(255, 255, 255), shot.At(shot.width - 1, 0));
    }
    brush_ = CreateSolidBrush(RGB(255, 255, 0));
    g_parentBrush = brush_;
    ScreenCapture shot(label);
    EXPECT_EQ(RGB(255, 255, 0), shot.At(shot.width - 1, 0));
    EXPECT_EQ(RGB(255, 255, 0), shot.At(0, shot.height - 1));
}

// ---------------------------------------------------------------------------------------------------------
// Underline modes

TEST_F(LinkTest, AnchorUnderlineHoverUnderlinesOnlyWhileHovered) {
    SetMain("Anchor Underline", "HoVeR");
    SetSetting("Anchor Color", "0,0,255");
    SetSetting("Use Anchor Hover Color", "no");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_EQ(LinkControl::kUnderlineWhileHovered, link_.UnderlineMode());
    int width = link_.TextSize().cx;
    ASSERT_GT(width, 20);
    {
        ScreenCapture plain(label);
        EXPECT_GT(plain.Count(RGB(0, 0, 255)), 0);
        EXPECT_LT(plain.LongestRun(RGB(0, 0, 255)), width / 2);
    }
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    {
        ScreenCapture hovered(label);
        EXPECT_GE(hovered.LongestRun(RGB(0, 0, 255)), width * 3 / 4);
    }
    SendMessageA(label, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);
    ScreenCapture after(label);
    EXPECT_LT(after.LongestRun(RGB(0, 0, 255)), width / 2);
}

TEST_F(LinkTest, AnchorUnderlineNoNeverUnderlines) {
    SetMain("Anchor Underline", "NO");
    SetSetting("Anchor Color", "0,0,255");
    SetSetting("Use Anchor Hover Color", "no");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_EQ(LinkControl::kUnderlineNever, link_.UnderlineMode());
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    ScreenCapture shot(label);
    EXPECT_GT(shot.Count(RGB(0, 0, 255)), 0);
    EXPECT_LT(shot.LongestRun(RGB(0, 0, 255)), link_.TextSize().cx / 2);
}

TEST_F(LinkTest, UnknownUnderlineValueKeepsAlwaysUnderlined) {
    SetMain("Anchor Underline", "sometimes");
    SetSetting("Anchor Color", "0,0,255");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_EQ(LinkControl::kUnderlineAlways, link_.UnderlineMode());
    ScreenCapture shot(label);
    EXPECT_GE(shot.LongestRun(RGB(0, 0, 255)), link_.TextSize().cx * 3 / 4);
}

// ---------------------------------------------------------------------------------------------------------
// Hit test, cursor and clicks

TEST_F(LinkTest, CentredTextMarginNeitherHoversNorClicks) {
    HWND label = MakeStatic(SS_CENTER | SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", kLinkNotifyParent));
    RECT client;
    GetClientRect(label, &client);
    ASSERT_LT(link_.TextSize().cx, client.right / 2); // a wide empty margin on each side

    MoveCursorTo(label, 3, client.bottom / 2);
    EXPECT_EQ(0, link_.HitTest());
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);
    SendMessageA(label, WM_SETCURSOR, reinterpret_cast<WPARAM>(label), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), GetCursor());
    SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, client.bottom / 2));
    SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(3, client.bottom / 2));
    EXPECT_EQ(0, g_commands); // not even the static's own STN_CLICKED

    // The right margin too.
    MoveCursorTo(label, client.right - 3, client.bottom / 2);
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);

    Hover(link_, label);
    EXPECT_TRUE(link_.Flags() & kLinkHovered);
    SendMessageA(label, WM_SETCURSOR, reinterpret_cast<WPARAM>(label), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    // No cursor resource in the test program: the system hand stands in.
    EXPECT_EQ(LoadCursorA(nullptr, IDC_HAND), GetCursor());
}

TEST_F(LinkTest, RightAlignedTextHoversOnlyAtTheRight) {
    HWND label = MakeStatic(SS_RIGHT | SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    RECT client;
    GetClientRect(label, &client);
    int textLeft = client.right - link_.TextSize().cx;
    MoveCursorTo(label, textLeft - 2, client.bottom / 2);
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);
    MoveCursorTo(label, textLeft + 2, client.bottom / 2);
    EXPECT_TRUE(link_.Flags() & kLinkHovered);
}

TEST_F(LinkTest, LeftAlignedTextStopsHoveringRightOfTheText) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    RECT client;
    GetClientRect(label, &client);
    int textRight = link_.TextSize().cx;
    MoveCursorTo(label, textRight - 2, client.bottom / 2);
    EXPECT_TRUE(link_.Flags() & kLinkHovered);
    MoveCursorTo(label, textRight + 2, client.bottom / 2);
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);
}

// ---------------------------------------------------------------------------------------------------------
// Focus rectangle

namespace {
// DrawFocusRect inverts every other pixel; on a white background that gives pure black, which anti-aliased
// coloured text never produces.
int FocusDots(HWND window) {
    ScreenCapture shot(window);
    return shot.Count(RGB(0, 0, 0));
}
} // namespace

TEST_F(LinkTest, StaticWithoutTabStopNeverDrawsAFocusRectangle) {
    HWND label = MakeStatic(SS_CENTER | SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_TRUE(link_.Flags() & kLinkNoFocusRect);
    SetFocus(label);
    EXPECT_TRUE(link_.Flags() & kLinkFocused);
    EXPECT_EQ(0, FocusDots(label));
}

TEST_F(LinkTest, StaticWithTabStopDrawsTheFocusRectangleWhileFocused) {
    HWND label = MakeStatic(SS_CENTER | SS_CENTERIMAGE | WS_TABSTOP);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_EQ(0u, link_.Flags() & kLinkNoFocusRect);
    EXPECT_EQ(0, FocusDots(label));
    SetFocus(label);
    EXPECT_TRUE(link_.Flags() & kLinkFocused);
    EXPECT_GT(FocusDots(label), link_.TextSize().cx / 2);
    SetFocus(parent_);
    EXPECT_EQ(0u, link_.Flags() & kLinkFocused);
    EXPECT_EQ(0, FocusDots(label));
}

// ---------------------------------------------------------------------------------------------------------
// Fitted font

namespace {
LONG FontHeight(HFONT font) {
    LOGFONTA description = {};
    GetObjectA(font, sizeof(description), &description);
    return description.lfHeight;
}
} // namespace

namespace {
// The cell height a font is drawn with, as the system made it.
LONG CellHeight(HFONT font) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}
} // namespace

// A dialog hands its font to every control: a link with room for its text is as tall as the text beside it,
// whatever that font is (not the size of the device context's stock font); without room it still shrinks.
TEST_F(LinkTest, FontStartsAtTheStaticsOwnFont) {
    const struct {
        int height; // of the font given to the static
        int width;  // of the static
        int shrinks;
    } cases[] = {{-11, 250, 0}, {-16, 250, 0}, {-21, 250, 0}, {-16, 40, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "font " << c.height << ", static " << c.width);
        HFONT font = CreateFontA(c.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                                 0, "Tahoma");
        ASSERT_NE(nullptr, font);
        HWND label = MakeStatic(SS_CENTERIMAGE, c.width, 40);
        SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, label, "qelmarch.example", 0));
        // The link asks for the cell height of the static's font (in its own face, which the system may
        // round by a pixel); without room it asks for less.
        if (c.shrinks) {
            EXPECT_LT(FontHeight(link.UnderlinedFont()), CellHeight(font));
            EXPECT_GE(FontHeight(link.UnderlinedFont()), 4);
            EXPECT_LE(link.TextSize().cx, c.width);
        } else {
            EXPECT_EQ(CellHeight(font), FontHeight(link.UnderlinedFont()));
            EXPECT_NEAR(CellHeight(font), CellHeight(link.UnderlinedFont()), 1);
        }
        EXPECT_EQ(FontHeight(link.UnderlinedFont()), FontHeight(link.NormalFont()));
        link.Detach();
        DestroyWindow(label);
        DeleteObject(font);
    }
}

TEST_F(LinkTest, HopelesslyLongTextStopsAtFourPixels) {
    std::string text(400, 'W');
    HWND label = MakeStatic(SS_CENTERIMAGE, 60, 30);
    ASSERT_EQ(1, AttachLink(link_, label, text.c_str(), 0));
    EXPECT_EQ(4, FontHeight(link_.UnderlinedFont()));
    EXPECT_EQ(4, FontHeight(link_.NormalFont()));
}

TEST_F(LinkTest, FitFromClientHeightStartsLarger) {
    HWND label = MakeStatic(SS_CENTERIMAGE, 250, 60);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", kLinkFitClientHeight));
    // The start height is the client height; the measured text must stay strictly below it.
    EXPECT_LE(FontHeight(link_.UnderlinedFont()), 60);
    EXPECT_GT(FontHeight(link_.UnderlinedFont()), 30);
    EXPECT_LT(link_.TextSize().cy, 60);
}

TEST_F(LinkTest, WindowFontOptionCopiesTheStaticsFont) {
    HFONT font =
        CreateFontA(-13, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", kLinkWindowFont));
    LOGFONTA normal = {}, underlined = {};
    GetObjectA(link_.NormalFont(), sizeof(normal), &normal);
    GetObjectA(link_.UnderlinedFont(), sizeof(underlined), &underlined);
    EXPECT_STREQ("Tahoma", normal.lfFaceName);
    EXPECT_EQ(-13, normal.lfHeight);
    EXPECT_EQ(FW_BOLD, normal.lfWeight);
    EXPECT_FALSE(normal.lfUnderline);
    EXPECT_TRUE(underlined.lfUnderline);
    EXPECT_EQ(-13, underlined.lfHeight);
    link_.Detach();
    DeleteObject(font);
}

// ---------------------------------------------------------------------------------------------------------
// Activation

TEST_F(LinkTest, ClickNotifiesTheParentOnButtonUpOnly) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", kLinkNotifyParent));
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(0, g_commands);
    SendMessageA(label, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
    EXPECT_EQ(0, g_commands);
    SendMessageA(label, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(1, g_commands);
    EXPECT_EQ(kLinkId, LOWORD(g_commandWParam));
    EXPECT_EQ(0, HIWORD(g_commandWParam));
    EXPECT_EQ(reinterpret_cast<LPARAM>(label), g_commandLParam);
}

// Only a key pressed while the link has the focus opens it, on its release: not the release of a key pressed
// elsewhere (the Enter that closed a message box and gave the link the focus back), nor one whose press went
// before the link lost the focus, nor any other key.
TEST_F(LinkTest, KeySequences) {
    enum Act { kDown, kRepeat, kUp, kFocusLink, kFocusAway };
    struct Step {
        Act act;
        UINT key;
    };
    const struct {
        const char *what;
        std::vector<Step> steps;
        int commands;
        uint32_t options = kLinkNotifyParent;
        const char *address = "";
    } cases[] = {
        {"Enter", {{kDown, VK_RETURN}, {kUp, VK_RETURN}}, 1},
        {"Space", {{kDown, VK_SPACE}, {kUp, VK_SPACE}}, 1},
        // A held key repeats its key-down; the link still opens once.
        {"held Enter", {{kDown, VK_RETURN}, {kRepeat, VK_RETURN}, {kUp, VK_RETURN}}, 1},
        {"released twice", {{kDown, VK_RETURN}, {kUp, VK_RETURN}, {kUp, VK_RETURN}}, 1},
        {"press alone", {{kDown, VK_RETURN}, {kRepeat, VK_RETURN}}, 0},
        {"other key", {{kDown, 'A'}, {kUp, 'A'}}, 0},
        {"releases alone", {{kUp, VK_RETURN}, {kUp, VK_SPACE}}, 0},
        {"Space pressed, Enter released", {{kDown, VK_SPACE}, {kUp, VK_RETURN}}, 0},
        {"focus lost between", {{kFocusLink, 0}, {kDown, VK_RETURN}, {kFocusAway, 0}, {kUp, VK_RETURN}}, 0},
        {"neither notify option nor address", {{kDown, VK_RETURN}, {kUp, VK_RETURN}}, 0, 0, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        g_commands = 0;
        HWND label = MakeStatic(SS_CENTERIMAGE | WS_TABSTOP);
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, label, "Tarvex", c.options, c.address));
        for (const Step &step : c.steps) {
            switch (step.act) {
            case kDown:
                SendMessageA(label, WM_KEYDOWN, step.key, 0);
                break;
            case kRepeat:
                SendMessageA(label, WM_KEYDOWN, step.key, 1 << 30);
                break;
            case kUp:
                SendMessageA(label, WM_KEYUP, step.key, 0);
                break;
            case kFocusLink:
                SetFocus(label);
                break;
            case kFocusAway:
                SetFocus(parent_);
                break;
            }
        }
        EXPECT_EQ(c.commands, g_commands);
        if (g_commands) {
            EXPECT_EQ(kLinkId, LOWORD(g_commandWParam));
        }
        link.Detach();
        DestroyWindow(label);
    }
}

namespace {
// Posts a key press and release to the window with the focus and runs them through the dialog manager, as
// a dialog's message loop does.
void PressKey(HWND dialog, UINT key) {
    PostMessageA(GetFocus(), WM_KEYDOWN, key, 1);
    PostMessageA(GetFocus(), WM_KEYUP, key, 1u | 3u << 30);
    // Posted, so in the queue already; what they post in turn is handled in the same round.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (IsDialogMessageA(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
} // namespace

// As a tab stop among the dialog's controls the link takes the focus from the keyboard, shows it, and
// Enter opens the link instead of pressing the default button (which answers IDOK here).
TEST_F(LinkTest, TabReachesTheLinkAndEnterOrSpaceOpensIt) {
    HWND button = CreateWindowExA(0, "BUTTON", "Grab", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                                  220, 10, 80, 24, parent_, reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
    ASSERT_NE(nullptr, button);
    HWND label = MakeStatic(SS_CENTERIMAGE | WS_TABSTOP, 200, 30);
    ASSERT_EQ(1, AttachLink(link_, label, "qelmarch.example", kLinkNotifyParent));
    SetFocus(button);
    ASSERT_EQ(button, GetFocus());

    PressKey(parent_, VK_TAB);
    ASSERT_EQ(label, GetFocus());
    EXPECT_TRUE(link_.Flags() & kLinkFocused);
    EXPECT_GT(FocusDots(label), link_.TextSize().cx / 2);
    EXPECT_EQ(0, g_commands);

    const UINT keys[] = {VK_RETURN, VK_SPACE};
    for (UINT key : keys) {
        SCOPED_TRACE(key == VK_RETURN ? "Enter" : "Space");
        g_commands = 0;
        PressKey(parent_, key);
        EXPECT_EQ(1, g_commands);
        EXPECT_EQ(kLinkId, LOWORD(g_commandWParam));
        EXPECT_EQ(label, GetFocus());
    }

    // Tab goes on past the link: the focus rectangle goes with it.
    PressKey(parent_, VK_TAB);
    EXPECT_EQ(button, GetFocus());
    EXPECT_EQ(0, FocusDots(label));
}

TEST_F(LinkTest, WithoutNotifyOptionAndAddressAClickDoesNothing) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0, nullptr));
    EXPECT_STREQ("", link_.Address());
    Hover(link_, label);
    SendMessageA(label, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(0, g_commands);
}

TEST_F(LinkTest, LongAddressIsCutTo255Characters) {
    std::string address = "http://example.invalid/" + std::string(400, 'a');
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0, address.c_str()));
    EXPECT_EQ(address.substr(0, 255), link_.Address());
}

// ---------------------------------------------------------------------------------------------------------
// Text messages and masking

TEST_F(LinkTest, AttachTakesOverTheStaticsText) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_TRUE(GetWindowLongPtrA(label, GWL_STYLE) & SS_NOTIFY);
    char text[64] = {};
    EXPECT_EQ(10, GetWindowTextA(label, text, sizeof(text)));
    EXPECT_STREQ("Tarvex web", text);
    EXPECT_EQ(10, GetWindowTextLengthA(label));
    // Cut to the buffer, always terminated.
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(4, SendMessageA(label, WM_GETTEXT, sizeof(small), reinterpret_cast<LPARAM>(small)));
    EXPECT_STREQ("Tarv", small);
}

TEST_F(LinkTest, GetTextWithAHugeBufferSizeCopiesOnlyTheText) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    // Sizes that are negative as signed numbers once asked for a copy of about 4 GiB, starting before the
    // buffer; the guard bytes on both sides must stay as they were.
    const WPARAM sizes[] = {static_cast<WPARAM>(-1), 0x80000000u, 0x80000001u, 0xFFFFFFFEu, 11, 1};
    for (WPARAM size : sizes) {
        struct {
            char before[16];
            char text[32];
            char after[16];
        } area;
        memset(&area, 'x', sizeof(area));
        LRESULT copied = SendMessageA(label, WM_GETTEXT, size, reinterpret_cast<LPARAM>(area.text));
        std::string expected = size == 1 ? "" : "Tarvex web";
        EXPECT_EQ(static_cast<LRESULT>(expected.size()), copied) << size;
        EXPECT_EQ(expected, std::string(area.text)) << size;
        EXPECT_EQ(std::string(16, 'x'), std::string(area.before, 16)) << size;
        EXPECT_EQ(std::string(16, 'x'), std::string(area.after, 16)) << size;
    }
}

TEST_F(LinkTest, SetTextReplacesTheTextAndItsSize) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    LONG before = link_.TextSize().cx;
    EXPECT_TRUE(SetWindowTextA(label, "Tarvex web site"));
    EXPECT_STREQ("Tarvex web site", link_.Text());
    EXPECT_GT(link_.TextSize().cx, before);
    char text[64] = {};
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ("Tarvex web site", text);
    ScreenCapture shot(label);
    EXPECT_GE(shot.LongestRun(kDefaultNormal), link_.TextSize().cx * 3 / 4);
}

TEST_F(LinkTest, MaskedTextShowsStarsButReturnsTheText) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "secret", kLinkMasked));
    LOGFONTA face = {};
    GetObjectA(link_.NormalFont(), sizeof(face), &face);
    ASSERT_NE(0, lstrcmpiA(face.lfFaceName, "Verdana")) << "the fitted face is Verdana here";
    EXPECT_STREQ("******", link_.DisplayText());
    char text[32] = {};
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ("secret", text);
    SetWindowTextA(label, "abc");
    EXPECT_STREQ("***", link_.DisplayText());
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ("abc", text);
}

TEST_F(LinkTest, MaskedTextInVerdanaUsesBullets) {
    HFONT verdana =
        CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "Verdana");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(verdana), FALSE);
    ASSERT_EQ(1, AttachLink(link_, label, "pin", kLinkMasked | kLinkWindowFont));
    EXPECT_STREQ("\x95\x95\x95", link_.DisplayText());
    link_.Detach();
    DeleteObject(verdana);
}

TEST_F(LinkTest, SecondLinkOnTheSameStaticIsRefusedAndLeavesTheFirstAlone) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "first", 0));
    LinkControl second;
    EXPECT_EQ(0, AttachLink(second, label, "second", 0));
    char text[32] = {};
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ("first", text);
}

TEST_F(LinkTest, DetachGivesTheStaticItsOwnProcedureBack) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    LONG_PTR own = GetWindowLongPtrA(label, GWLP_WNDPROC);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    EXPECT_NE(own, GetWindowLongPtrA(label, GWLP_WNDPROC));
    link_.Detach();
    EXPECT_EQ(own, GetWindowLongPtrA(label, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, GetPropA(label, "_C_SubClassing_Property_6C696E6B"));
    EXPECT_EQ(nullptr, link_.UnderlinedFont());
    // The static answers for itself again, with the text it was left with.
    char text[32] = {'x', 0};
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ("", text);
}

TEST_F(LinkTest, DestroyingTheStaticDetachesTheLink) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    link_.Tracker().ForgetTrackMouseEvent();
    Hover(link_, label);
    ASSERT_EQ(1, link_.Tracker().IsPolling());
    DestroyWindow(label);
    // Everything let go while the handle was still valid: later clean-up has no handle left to reach, which
    // by then may name another window.
    EXPECT_EQ(nullptr, link_.Window());
    EXPECT_EQ(nullptr, link_.UnderlinedFont());
    EXPECT_EQ(nullptr, link_.NormalFont());
    EXPECT_EQ(0, link_.Tracker().IsPolling());
}

// ---------------------------------------------------------------------------------------------------------
// Leave tracking

TEST_F(LinkTest, LeavingTheWindowEndsTheHover) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    SetCursorPos(5, 5);
    EXPECT_TRUE(PumpUntil([&] { return !(link_.Flags() & kLinkHovered); }, 3000));
}

TEST_F(LinkTest, PollingEndsTheHoverWithoutTrackMouseEvent) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    link_.Tracker().ForgetTrackMouseEvent();
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    EXPECT_EQ(1, link_.Tracker().IsPolling());
    // Still over the window: the polling goes on.
    Pump(250);
    EXPECT_EQ(1, link_.Tracker().IsPolling());
    SetCursorPos(5, 5);
    EXPECT_TRUE(PumpUntil([&] { return !(link_.Flags() & kLinkHovered); }, 3000));
    EXPECT_EQ(0, link_.Tracker().IsPolling());
}

// ---------------------------------------------------------------------------------------------------------
// More settings and styles

TEST_F(LinkTest, DialogBoxColoursReplaceTheAnchorColours) {
    SetSetting("Anchor Color", "255,0,0");
    SetMain("Use_DlgBox_Colors", "YES");
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    COLORREF expected = IsAtLeast(kOsVista) ? GetSysColor(COLOR_HOTLIGHT) : kDefaultNormal;
    EXPECT_EQ(expected, link_.NormalColour());
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), link_.HoverColour());
    ScreenCapture shot(label);
    EXPECT_EQ(0, shot.Count(RGB(255, 0, 0)));
}

namespace {
std::string FaceOf(HFONT font) {
    LOGFONTA description = {};
    GetObjectA(font, sizeof(description), &description);
    return description.lfFaceName;
}
} // namespace

TEST_F(LinkTest, BrowserFontFaceComesFromTheCodePageThenTheScriptThenTheStyles) {
    const char international[] = "Software\\Microsoft\\Internet Explorer\\International";
    SetBrowserValue("Software\\Microsoft\\Internet Explorer\\Styles", "IEPropFontName", "Styles Face");
    {
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, MakeStatic(SS_CENTERIMAGE), "Tarvex", kLinkBrowserFontFace));
        EXPECT_EQ("Styles Face", FaceOf(link.NormalFont()));
        EXPECT_EQ("Styles Face", FaceOf(link.UnderlinedFont()));
    }
    // Without "Default_Script" the script is 3.
    SetBrowserValue("Software\\Microsoft\\Internet Explorer\\International\\Scripts\\3", "IEPropFontName",
                    "Script Three");
    {
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, MakeStatic(SS_CENTERIMAGE), "Tarvex", kLinkBrowserFontFace));
        EXPECT_EQ("Script Three", FaceOf(link.NormalFont()));
    }
    SetBrowserDword("Software\\Microsoft\\Internet Explorer\\International\\Scripts", "Default_Script", 7);
    SetBrowserValue("Software\\Microsoft\\Internet Explorer\\International\\Scripts\\7", "IEPropFontName",
                    "Script Seven");
    {
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, MakeStatic(SS_CENTERIMAGE), "Tarvex", kLinkBrowserFontFace));
        EXPECT_EQ("Script Seven", FaceOf(link.NormalFont()));
    }
    SetBrowserDword(international, "Default_CodePage", 1252);
    SetBrowserValue("Software\\Microsoft\\Internet Explorer\\International\\1252", "IEPropFontName",
                    "Code Page Face");
    {
        LinkControl link;
        ASSERT_EQ(1, AttachLink(link, MakeStatic(SS_CENTERIMAGE), "Tarvex", kLinkBrowserFontFace));
        EXPECT_EQ("Code Page Face", FaceOf(link.NormalFont()));
    }
    // Without the option the browser's face is not looked at.
    LinkControl plain;
    ASSERT_EQ(1, AttachLink(plain, MakeStatic(SS_CENTERIMAGE), "Tarvex", 0));
    std::string face = FaceOf(plain.NormalFont());
    EXPECT_TRUE(face == "Segoe UI" || face == "Verdana" || face == "Arial") << face;
}

TEST_F(LinkTest, DrawFormatFollowsTheStaticsStyleAndTheEllipsisOptions) {
    HWND centred = MakeStatic(SS_CENTER | SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, centred, "Tarvex", kLinkEndEllipsis));
    EXPECT_EQ(static_cast<UINT>(DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_END_ELLIPSIS),
              link_.DrawFormat());
    LinkControl right;
    ASSERT_EQ(1, AttachLink(right, MakeStatic(SS_RIGHT), "Tarvex", kLinkPathEllipsis));
    EXPECT_EQ(static_cast<UINT>(DT_SINGLELINE | DT_RIGHT | DT_PATH_ELLIPSIS), right.DrawFormat());
}

TEST_F(LinkTest, TransparentStaticLeavesTheBackgroundToTheParent) {
    brush_ = CreateSolidBrush(RGB(255, 255, 0));
    g_parentBrush = brush_;
    SetMain("Anchor Underline", "hover");
    SetSetting("Use Anchor Hover Color", "no");
    HWND label = MakeStatic(SS_CENTERIMAGE, 200, 30, WS_EX_TRANSPARENT);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex web", 0));
    EXPECT_TRUE(link_.Flags() & kLinkTransparent);
    UpdateWindow(parent_);
    {
        ScreenCapture shot(label);
        EXPECT_EQ(0, shot.Count(RGB(255, 255, 0))); // the parent's white shows through
        EXPECT_GT(shot.Count(kDefaultNormal), 0);
    }
    int width = link_.TextSize().cx;
    Hover(link_, label);
    UpdateWindow(parent_);
    {
        ScreenCapture hovered(label);
        EXPECT_GE(hovered.LongestRun(kDefaultNormal), width * 3 / 4);
    }
    // The underline must go with the hover although the control never fills its background.
    SendMessageA(label, WM_MOUSELEAVE, 0, 0);
    UpdateWindow(parent_);
    ScreenCapture after(label);
    EXPECT_LT(after.LongestRun(kDefaultNormal), width / 2);
}

TEST_F(LinkTest, IgnoreTransparentOptionFillsTheBackground) {
    brush_ = CreateSolidBrush(RGB(255, 255, 0));
    g_parentBrush = brush_;
    HWND label = MakeStatic(SS_CENTERIMAGE, 200, 30, WS_EX_TRANSPARENT);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", kLinkIgnoreTransparent));
    EXPECT_EQ(0u, link_.Flags() & kLinkTransparent);
    ScreenCapture shot(label);
    EXPECT_EQ(RGB(255, 255, 0), shot.At(shot.width - 1, 0));
}

TEST_F(LinkTest, EnablingUnderTheCursorHoversAgain) {
    HWND label = MakeStatic(SS_CENTERIMAGE);
    ASSERT_EQ(1, AttachLink(link_, label, "Tarvex", 0));
    Hover(link_, label);
    ASSERT_TRUE(link_.Flags() & kLinkHovered);
    SendMessageA(label, WM_CANCELMODE, 0, 0);
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);
    EnableWindow(label, FALSE);
    EXPECT_EQ(0u, link_.Flags() & kLinkHovered);
    EnableWindow(label, TRUE);
    EXPECT_TRUE(link_.Flags() & kLinkHovered);
    // And the hover still ends when the mouse goes.
    SetCursorPos(5, 5);
    EXPECT_TRUE(PumpUntil([&] { return !(link_.Flags() & kLinkHovered); }, 3000));
}

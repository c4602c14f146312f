// Tests of the dialog's control wrappers on real controls: the trackbar's callback, scroll handling and
// click-to-position with its mouse capture, and the list view's image lists, columns, rows and cells.
#include "res/ResourceIds.h"
#include "ui/ListViewControl.h"
#include "ui/TrackbarControl.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace {

// A hidden top-level window holding one control of the given class.
class ControlHost {
public:
    ControlHost(const char *className, DWORD style, int width, int height) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&classes);
        parent = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, width + 20, height + 20, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        control = CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | style, 10, 10, width, height,
                                  parent, reinterpret_cast<HMENU>(100), GetModuleHandleA(nullptr), nullptr);
    }
    ~ControlHost() {
        if (parent)
            DestroyWindow(parent);
    }
    HWND parent = nullptr;
    HWND control = nullptr;
};

struct Notification {
    int position;
    int code;
};

void Record(int position, int code, void *context) {
    static_cast<std::vector<Notification> *>(context)->push_back({position, code});
}

LPARAM At(int x, int y) {
    return MAKELPARAM(x, y);
}

class Trackbar : public ::testing::Test {
protected:
    Trackbar() : host_("msctls_trackbar32", TBS_AUTOTICKS | TBS_BOTH, 300, 30) {}
    void SetUp() override {
        ASSERT_TRUE(host_.control);
        ASSERT_EQ(1, slider_.Attach(host_.control, TrackbarControl::kClickToPosition));
        slider_.SetCallback(&Record, &seen_);
        slider_.SetRange(0, 100);
        slider_.SetPageSize(20);
    }
    RECT Channel() const {
        RECT rect = {};
        SendMessageA(host_.control, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&rect));
        return rect;
    }
    RECT Thumb() const {
        RECT rect = {};
        SendMessageA(host_.control, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&rect));
        return rect;
    }
    ControlHost host_;
    TrackbarControl slider_;
    std::vector<Notification> seen_;
};

TEST_F(Trackbar, SetPositionNotifiesTheValuePassedInWhileTheControlClamps) {
    slider_.SetPosition(150, 1);
    EXPECT_EQ(100, slider_.GetPosition());
    ASSERT_EQ(1u, seen_.size());
    EXPECT_EQ(150, seen_[0].position);
    EXPECT_EQ(TB_THUMBPOSITION, seen_[0].code);
    slider_.SetPosition(30, 0);
    EXPECT_EQ(30, slider_.GetPosition());
    EXPECT_EQ(1u, seen_.size());
}

TEST_F(Trackbar, RangeAndTickFrequencyReachTheControl) {
    slider_.SetRange(10, 60);
    EXPECT_EQ(10, SendMessageA(host_.control, TBM_GETRANGEMIN, 0, 0));
    EXPECT_EQ(60, SendMessageA(host_.control, TBM_GETRANGEMAX, 0, 0));
    slider_.SetTickFrequency(10);
    // Ticks at 20..50 between the two ends, which the control draws itself.
    EXPECT_EQ(6, SendMessageA(host_.control, TBM_GETNUMTICS, 0, 0));
    slider_.SetLineSize(5);
    EXPECT_EQ(5, SendMessageA(host_.control, TBM_GETLINESIZE, 0, 0));
    EXPECT_EQ(20, SendMessageA(host_.control, TBM_GETPAGESIZE, 0, 0));
}

TEST_F(Trackbar, HandleScrollOnlyForItsOwnWindow) {
    slider_.SetPosition(42, 0);
    EXPECT_EQ(1, slider_.HandleScroll(WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 42),
                                      reinterpret_cast<LPARAM>(host_.control)));
    ASSERT_EQ(1u, seen_.size());
    EXPECT_EQ(42, seen_[0].position);
    EXPECT_EQ(TB_THUMBTRACK, seen_[0].code);
    EXPECT_EQ(0, slider_.HandleScroll(WM_HSCROLL, TB_LINEDOWN, reinterpret_cast<LPARAM>(host_.parent)));
    EXPECT_EQ(0, slider_.HandleScroll(WM_COMMAND, 0, reinterpret_cast<LPARAM>(host_.control)));
    EXPECT_EQ(1u, seen_.size());
}

TEST_F(Trackbar, PressInTheChannelJumpsAndDragsUntilRelease) {
    RECT channel = Channel();
    int width = channel.right - channel.left;
    ASSERT_GT(width, 100);
    int y = (channel.top + channel.bottom) / 2;
    ShowWindow(host_.parent, SW_SHOWNA);
    slider_.SetPosition(0, 0);

    SendMessageA(host_.control, WM_LBUTTONDOWN, MK_LBUTTON, At(channel.left + width * 3 / 4, y));
    int jumped = slider_.GetPosition();
    EXPECT_NEAR(75, jumped, 1);
    EXPECT_EQ(1, slider_.Dragging());
    EXPECT_EQ(host_.control, GetCapture());
    ASSERT_FALSE(seen_.empty());
    EXPECT_EQ(jumped, seen_.back().position);

    SendMessageA(host_.control, WM_MOUSEMOVE, MK_LBUTTON, At(channel.left + width / 4, y));
    EXPECT_NEAR(25, slider_.GetPosition(), 1);
    // Beyond the ends the range's ends.
    SendMessageA(host_.control, WM_MOUSEMOVE, MK_LBUTTON, At(channel.right + 40, y));
    EXPECT_EQ(100, slider_.GetPosition());
    SendMessageA(host_.control, WM_MOUSEMOVE, MK_LBUTTON, At(channel.left - 40, y));
    EXPECT_EQ(0, slider_.GetPosition());

    SendMessageA(host_.control, WM_LBUTTONUP, 0, At(channel.left, y));
    EXPECT_EQ(0, slider_.Dragging());
    EXPECT_NE(host_.control, GetCapture());
    // After the release a move is the control's again: the position stays.
    size_t notifications = seen_.size();
    SendMessageA(host_.control, WM_MOUSEMOVE, 0, At(channel.left + width / 2, y));
    EXPECT_EQ(0, slider_.GetPosition());
    EXPECT_EQ(notifications, seen_.size());
}

TEST_F(Trackbar, PressOnTheThumbIsLeftToTheControl) {
    slider_.SetPosition(50, 0);
    RECT thumb = Thumb();
    SendMessageA(host_.control, WM_LBUTTONDOWN, MK_LBUTTON,
                 At((thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2));
    EXPECT_EQ(0, slider_.Dragging());
    EXPECT_EQ(50, slider_.GetPosition());
    SendMessageA(host_.control, WM_LBUTTONUP, 0,
                 At((thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2));
    EXPECT_TRUE(seen_.empty());
}

TEST_F(Trackbar, SamePositionIsNotReportedAgain) {
    RECT channel = Channel();
    int y = (channel.top + channel.bottom) / 2;
    slider_.SetPosition(100, 0);
    SendMessageA(host_.control, WM_LBUTTONDOWN, MK_LBUTTON, At(channel.right + 5, y));
    EXPECT_TRUE(seen_.empty());
    SendMessageA(host_.control, WM_LBUTTONUP, 0, At(channel.right + 5, y));
}

TEST_F(Trackbar, LostCaptureEndsTheDrag) {
    RECT channel = Channel();
    int y = (channel.top + channel.bottom) / 2;
    ShowWindow(host_.parent, SW_SHOWNA);
    slider_.SetPosition(0, 0);
    SendMessageA(host_.control, WM_LBUTTONDOWN, MK_LBUTTON, At((channel.left + channel.right) * 6 / 10, y));
    ASSERT_EQ(1, slider_.Dragging());
    SetCapture(host_.parent);
    EXPECT_EQ(0, slider_.Dragging());
    ReleaseCapture();
}

TEST(TrackbarWithoutClickOption, ChannelPressPagesInsteadOfJumping) {
    ControlHost host("msctls_trackbar32", TBS_AUTOTICKS | TBS_BOTH, 300, 30);
    TrackbarControl slider;
    ASSERT_EQ(1, slider.Attach(host.control, 0));
    slider.SetRange(0, 100);
    slider.SetPageSize(20);
    slider.SetPosition(0, 0);
    RECT channel = {};
    SendMessageA(host.control, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    int x = channel.left + (channel.right - channel.left) * 9 / 10, y = (channel.top + channel.bottom) / 2;
    SendMessageA(host.control, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    SendMessageA(host.control, WM_LBUTTONUP, 0, At(x, y));
    EXPECT_LT(slider.GetPosition(), 90);
    EXPECT_EQ(0, slider.Dragging());
}

TEST(TrackbarLifetime, DestroyedControlTakesTheHookAlong) {
    ControlHost host("msctls_trackbar32", 0, 200, 30);
    TrackbarControl slider;
    ASSERT_EQ(1, slider.Attach(host.control, TrackbarControl::kClickToPosition));
    char name[64];
    SubclassHook<kHookTrackbar>::PropertyName(name);
    EXPECT_TRUE(GetPropA(host.control, name));
    DestroyWindow(host.control);
    host.control = nullptr;
    slider.Detach();
    EXPECT_EQ(nullptr, slider.Window());
}

TEST(TrackbarLifetime, DetachRemovesTheHook) {
    ControlHost host("msctls_trackbar32", 0, 200, 30);
    char name[64];
    SubclassHook<kHookTrackbar>::PropertyName(name);
    {
        TrackbarControl slider;
        ASSERT_EQ(1, slider.Attach(host.control, TrackbarControl::kClickToPosition));
        EXPECT_TRUE(GetPropA(host.control, name));
    }
    EXPECT_FALSE(GetPropA(host.control, name));
    TrackbarControl unhooked;
    ASSERT_EQ(1, unhooked.Attach(host.control, 0));
    EXPECT_FALSE(GetPropA(host.control, name));
    EXPECT_EQ(0, unhooked.Attach(nullptr, 0));
}

// ---- list view ----

std::string CellText(HWND list, int row, int column) {
    char text[128] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

class ListView : public ::testing::Test {
protected:
    ListView() : host_("SysListView32", LVS_REPORT | LVS_SINGLESEL, 400, 120) {}
    void SetUp() override {
        ASSERT_TRUE(host_.control);
        ASSERT_EQ(1, list_.Attach(host_.control, GetModuleHandleA(nullptr)));
    }
    ControlHost host_;
    ListViewControl list_;
};

TEST_F(ListView, ImageListsAreOursAndShared) {
    EXPECT_EQ(list_.SmallImages(),
              reinterpret_cast<HIMAGELIST>(SendMessageA(host_.control, LVM_GETIMAGELIST, LVSIL_SMALL, 0)));
    EXPECT_TRUE(SendMessageA(host_.control, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
    EXPECT_TRUE(GetWindowLongPtrA(host_.control, GWL_STYLE) & LVS_SHAREIMAGELISTS);
}

TEST_F(ListView, IconsGoIntoBothListsAtTheSameIndex) {
    // The test program carries the processor icon as its probe icon.
    EXPECT_EQ(0, list_.AddIcon(500));
    EXPECT_EQ(1, list_.AddIcon(500));
    EXPECT_EQ(2, ImageList_GetImageCount(list_.SmallImages()));
    EXPECT_EQ(-1, list_.AddIcon(4242));
    int cx = 0, cy = 0;
    ImageList_GetIconSize(list_.SmallImages(), &cx, &cy);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), cx);
}

TEST_F(ListView, ColumnsRowsAndCells) {
    EXPECT_EQ(0, list_.InsertColumn("CPU", 0, 50, 0, LVCFMT_LEFT));
    EXPECT_EQ(1, list_.InsertColumn("Name", 1, 120, 0, LVCFMT_LEFT));
    EXPECT_EQ(2, list_.InsertColumn("Usage", 2, 80, ListViewControl::kAutosizeUseHeader, LVCFMT_LEFT));
    EXPECT_EQ(50, list_.ColumnWidth(0));
    EXPECT_EQ(120, list_.ColumnWidth(1));
    // The last column, sized to its header, takes the rest of the list's width.
    RECT client;
    GetClientRect(host_.control, &client);
    EXPECT_EQ(client.right - 170, list_.ColumnWidth(2));

    char header[32] = {};
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = header;
    column.cchTextMax = sizeof header;
    SendMessageA(host_.control, LVM_GETCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
    EXPECT_STREQ("Name", header);

    int first = list_.InsertItem("#1", 0, 111, 0x7FFFFFFF);
    int second = list_.InsertItem("#2", 0, 222, 0x7FFFFFFF);
    EXPECT_EQ(0, first);
    EXPECT_EQ(1, second);
    EXPECT_EQ(2, list_.ItemCount());
    EXPECT_EQ(1, list_.SetItemText("42 %", 2, second));
    EXPECT_EQ(1, list_.SetItemText("Some processor", 1, first));
    EXPECT_EQ("#2", CellText(host_.control, 1, 0));
    EXPECT_EQ("42 %", CellText(host_.control, 1, 2));
    EXPECT_EQ("Some processor", CellText(host_.control, 0, 1));
    EXPECT_EQ(0, list_.SetItemText("nowhere", 1, 7));

    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = 1;
    SendMessageA(host_.control, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(222, item.lParam);
}

TEST_F(ListView, ExtendedStyleOnlyChangesTheMaskedBits) {
    list_.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    list_.SetExtendedStyle(LVS_EX_GRIDLINES, 0);
    DWORD style = static_cast<DWORD>(SendMessageA(host_.control, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(style & LVS_EX_FULLROWSELECT);
    EXPECT_FALSE(style & LVS_EX_GRIDLINES);
}

TEST_F(ListView, DestroyedControlIsLetGoWithItsImageLists) {
    ASSERT_EQ(0, list_.AddIcon(500));
    DestroyWindow(host_.control);
    host_.control = nullptr;
    // Let go at the control's own destruction, not later through a handle that may name another window by
    // then; the lists went with it.
    EXPECT_EQ(nullptr, list_.Window());
    EXPECT_EQ(nullptr, list_.SmallImages());
}

TEST_F(ListView, DetachReleasesImageListsAndHook) {
    char name[64];
    SubclassHook<kHookListView>::PropertyName(name);
    EXPECT_TRUE(GetPropA(host_.control, name));
    list_.Detach();
    EXPECT_FALSE(GetPropA(host_.control, name));
    EXPECT_EQ(0, SendMessageA(host_.control, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    EXPECT_EQ(nullptr, list_.SmallImages());
    // Attaching again works on the same control.
    EXPECT_EQ(1, list_.Attach(host_.control, GetModuleHandleA(nullptr)));
    EXPECT_TRUE(GetPropA(host_.control, name));
}

} // namespace

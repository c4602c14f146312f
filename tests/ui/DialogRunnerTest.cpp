// DialogRunner tests: real modal dialogs from the test program's own templates: the initialisation
// results, the ways of ending (and refusing to end), self-deletion, the first-show suppression, the minimum
// size, the icons, the replaced font (templates from resources and from memory alike), and the message box
// text that must not be taken as a format.
#include "ui/DialogRunner.h"
#include "base/ModuleInfo.h"
#include "ui/TemplateFont.h"
#include "tests/common/resources/TestIds.h"

#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

namespace {

const UINT kStep = WM_APP + 1;

// A dialog whose handlers the test fills in; kStep messages run the queued steps one by one, so every
// action happens inside the modal loop.
class ProbeDialog : public DialogRunner {
public:
    int OnInitDialog() override {
        initCalls++;
        if (onInit)
            return onInit(this);
        PostMessageA(window_, kStep, 0, 0);
        return 1;
    }
    int CanClose(INT_PTR result) override {
        canCloseResults.push_back(result);
        return allowClose;
    }
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kStep) {
            if (next < steps.size()) {
                auto step = steps[next++];
                step(this);
                if (window_)
                    PostMessageA(window_, kStep, 0, 0);
            }
            return 1;
        }
        if (message == WM_TIMER && onTimer) {
            KillTimer(window_, wParam);
            onTimer(this);
            return 1;
        }
        if (message == WM_DESTROY)
            destroyed++;
        return DialogRunner::OnMessage(message, wParam, lParam);
    }
    ~ProbeDialog() override {
        if (deletedFlag)
            *deletedFlag = 1;
    }

    std::function<int(ProbeDialog *)> onInit;
    std::function<void(ProbeDialog *)> onTimer;
    std::vector<std::function<void(ProbeDialog *)>> steps;
    size_t next = 0;
    std::vector<INT_PTR> canCloseResults;
    int allowClose = 1;
    int initCalls = 0;
    int destroyed = 0;
    int *deletedFlag = nullptr;
};

INT_PTR RunProbe(ProbeDialog &dialog, int templateId = IDD_OLD_FONT, uint32_t options = 0) {
    return dialog.RunModal(GetModuleHandleA(nullptr), templateId, options, nullptr);
}

// ---- initialisation ----

TEST(RunModal, InitialisationFailureEndsWithMinusOneThroughCanClose) {
    ProbeDialog dialog;
    dialog.onInit = [](ProbeDialog *) { return 0; };
    EXPECT_EQ(-1, RunProbe(dialog));
    ASSERT_EQ(1u, dialog.canCloseResults.size());
    EXPECT_EQ(-1, dialog.canCloseResults[0]);
    EXPECT_EQ(nullptr, dialog.Window());
}

TEST(RunModal, InitResultTwoKeepsTheFocusTheHandlerChose) {
    HWND focused = nullptr, second = nullptr;
    ProbeDialog dialog;
    dialog.onInit = [&](ProbeDialog *d) {
        second = d->Item(ID_SECOND);
        SetFocus(second);
        PostMessageA(d->Window(), kStep, 0, 0);
        return 2;
    };
    dialog.steps.push_back([&](ProbeDialog *d) {
        focused = GetFocus();
        d->EndRun(5);
    });
    EXPECT_EQ(5, RunProbe(dialog));
    EXPECT_EQ(second, focused);
}

TEST(RunModal, InitResultOneLetsTheDialogFocusTheFirstTabStop) {
    HWND focused = nullptr, first = nullptr;
    ProbeDialog dialog;
    dialog.onInit = [&](ProbeDialog *d) {
        first = d->Item(ID_FIRST);
        SetFocus(d->Item(ID_SECOND));
        PostMessageA(d->Window(), kStep, 0, 0);
        return 1;
    };
    dialog.steps.push_back([&](ProbeDialog *d) {
        focused = GetFocus();
        d->EndRun(6);
    });
    EXPECT_EQ(6, RunProbe(dialog));
    EXPECT_EQ(first, focused);
}

TEST(RunModal, MissingTemplateReturnsTheSystemFailure) {
    ProbeDialog dialog;
    EXPECT_EQ(-1, RunProbe(dialog, 12345));
    EXPECT_EQ(0, dialog.initCalls);
}

// The two ways to run a template: by its resource id, and as a block in memory (a copy of that resource),
// as dialogs that need no resources of the program run.
enum class Source { Resource, Memory };

INT_PTR RunFrom(Source source, ProbeDialog &dialog, int templateId) {
    if (source == Source::Resource)
        return RunProbe(dialog, templateId);
    DWORD size = 0;
    const char *found = static_cast<const char *>(ModuleInfo::FindResourceAnyLanguage(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(templateId), 0, &size));
    if (!found)
        return -2;
    std::vector<char> copy(found, found + size);
    return dialog.RunModalIndirect(GetModuleHandleA(nullptr), copy.data(), size, 0, nullptr);
}

class TemplateSource : public ::testing::TestWithParam<Source> {};

TEST_P(TemplateSource, OldFontIsReplacedBeforeTheDialogIsCreated) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = 340;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &metrics, 0));
    std::string message = metrics.lfMessageFont.lfFaceName;
    int known = message == "MS Sans Serif" || message == "Tahoma" || message == "Segoe UI";

    LOGFONTA font = {};
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(d->Window(), WM_GETFONT, 0, 0)), sizeof font, &font);
        d->EndRun(0);
    });
    EXPECT_EQ(0, RunFrom(GetParam(), dialog, IDD_OLD_FONT));
    if (!known) {
        EXPECT_STREQ("MS Sans Serif", font.lfFaceName);
        return;
    }
    if (TemplateFont::FontInstalled(message.c_str()))
        EXPECT_EQ(message, font.lfFaceName);
    else
        EXPECT_TRUE(!strcmp(font.lfFaceName, "MS Shell Dlg 2") || !strcmp(font.lfFaceName, "MS Shell Dlg"));
}

TEST_P(TemplateSource, TemplateWithAModernFontIsUsedAsItIs) {
    LOGFONTA font = {};
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(d->Window(), WM_GETFONT, 0, 0)), sizeof font, &font);
        d->EndRun(0);
    });
    EXPECT_EQ(0, RunFrom(GetParam(), dialog, IDD_TAHOMA));
    EXPECT_STREQ("Tahoma", font.lfFaceName);
}

INSTANTIATE_TEST_SUITE_P(RunModal, TemplateSource, ::testing::Values(Source::Resource, Source::Memory),
                         [](const ::testing::TestParamInfo<Source> &info) {
                             return info.param == Source::Resource ? "FromResource" : "FromMemory";
                         });

// ---- ending ----

TEST(EndRun, RefusedByCanCloseKeepsTheDialogUntilAllowed) {
    int stillThere = 0;
    ProbeDialog dialog;
    dialog.allowClose = 0;
    dialog.steps.push_back([](ProbeDialog *d) { d->EndRun(3); });
    dialog.steps.push_back([&](ProbeDialog *d) {
        stillThere = IsWindow(d->Window()) ? 1 : 0;
        d->allowClose = 1;
        d->EndRun(4);
    });
    EXPECT_EQ(4, RunProbe(dialog));
    EXPECT_EQ(1, stillThere);
    EXPECT_EQ((std::vector<INT_PTR>{3, 4}), dialog.canCloseResults);
    EXPECT_EQ(nullptr, dialog.Window());
}

TEST(EndRun, CancelCloseAndCloseBoxEndWithZero) {
    const std::function<void(ProbeDialog *)> enders[] = {
        [](ProbeDialog *d) { PostMessageA(d->Window(), WM_COMMAND, IDCANCEL, 0); },
        [](ProbeDialog *d) { PostMessageA(d->Window(), WM_COMMAND, IDCLOSE, 0); },
        [](ProbeDialog *d) { PostMessageA(d->Window(), WM_CLOSE, 0, 0); },
        [](ProbeDialog *d) { PostMessageA(d->Window(), WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    for (const auto &ender : enders) {
        ProbeDialog dialog;
        dialog.steps.push_back(ender);
        // A guard: ends with 99 if the first step did not end the dialog.
        dialog.steps.push_back([](ProbeDialog *d) { d->EndRun(99); });
        EXPECT_EQ(0, RunProbe(dialog));
        ASSERT_FALSE(dialog.canCloseResults.empty());
        EXPECT_EQ(0, dialog.canCloseResults[0]);
        EXPECT_EQ(1, dialog.destroyed);
    }
}

TEST(EndRun, WithoutAWindowDoesNothing) {
    ProbeDialog dialog;
    dialog.EndRun(1);
    EXPECT_TRUE(dialog.canCloseResults.empty());
}

TEST(EndRun, DeleteOnEndDeletesTheObjectOnce) {
    int deleted = 0;
    auto *dialog = new ProbeDialog;
    dialog->deletedFlag = &deleted;
    dialog->steps.push_back([](ProbeDialog *d) { d->EndRun(7); });
    EXPECT_EQ(7,
              dialog->RunModal(GetModuleHandleA(nullptr), IDD_OLD_FONT, DialogRunner::kDeleteOnEnd, nullptr));
    EXPECT_EQ(1, deleted);
}

// ---- window position handling ----

TEST(OnMessage, FirstShowIsSuppressedOnce) {
    int visibleAfterShow = -1, visibleAfterSecondShow = -1;
    ProbeDialog dialog;
    // The modal loop shows the dialog once its queue first runs empty; look well after that.
    dialog.steps.push_back([](ProbeDialog *d) { SetTimer(d->Window(), 77, 300, nullptr); });
    dialog.onTimer = [&](ProbeDialog *d) {
        visibleAfterShow = IsWindowVisible(d->Window()) ? 1 : 0;
        ShowWindow(d->Window(), SW_SHOW);
        visibleAfterSecondShow = IsWindowVisible(d->Window()) ? 1 : 0;
        d->EndRun(0);
    };
    RunProbe(dialog, IDD_OLD_FONT, DialogRunner::kSuppressFirstShow);
    EXPECT_EQ(0, visibleAfterShow);
    EXPECT_EQ(1, visibleAfterSecondShow);
}

TEST(OnMessage, WithoutSuppressionTheDialogShows) {
    int visible = -1;
    ProbeDialog dialog;
    dialog.steps.push_back([](ProbeDialog *d) { SetTimer(d->Window(), 77, 300, nullptr); });
    dialog.onTimer = [&](ProbeDialog *d) {
        visible = IsWindowVisible(d->Window()) ? 1 : 0;
        d->EndRun(0);
    };
    RunProbe(dialog);
    EXPECT_EQ(1, visible);
}

TEST(OnMessage, MinimumSizeHoldsWhenResizedSmaller) {
    RECT after = {};
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        d->SetMinimumSize(300, 200);
        SetWindowPos(d->Window(), nullptr, 0, 0, 50, 40, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(d->Window(), &after);
        d->EndRun(0);
    });
    RunProbe(dialog);
    EXPECT_EQ(300, after.right - after.left);
    EXPECT_EQ(200, after.bottom - after.top);
}

TEST(OnMessage, NoMinimumLeavesTheSizeAlone) {
    RECT after = {};
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        SetWindowPos(d->Window(), nullptr, 0, 0, 150, 120, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(d->Window(), &after);
        d->EndRun(0);
    });
    RunProbe(dialog);
    EXPECT_EQ(150, after.right - after.left);
    EXPECT_EQ(120, after.bottom - after.top);
}

// A drag of the sizing border asks WM_GETMINMAXINFO for its limit: the minimum is the smallest track size,
// and the window's own size becomes that minimum when asked to keep it.
TEST(OnMessage, SizingBorderStopsAtTheMinimumTheWindowKept) {
    SIZE first = {}, tracked = {}, after = {};
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        RECT frame = {};
        GetWindowRect(d->Window(), &frame);
        first = {frame.right - frame.left, frame.bottom - frame.top};
        d->KeepSizeAsMinimum();
        MINMAXINFO limits = {};
        limits.ptMinTrackSize = {1, 1};
        SendMessageA(d->Window(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        tracked = {limits.ptMinTrackSize.x, limits.ptMinTrackSize.y};
        SetWindowPos(d->Window(), nullptr, 0, 0, first.cx / 2, first.cy + 40, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(d->Window(), &frame);
        after = {frame.right - frame.left, frame.bottom - frame.top};
        d->EndRun(0);
    });
    RunProbe(dialog);
    ASSERT_GT(first.cx, 20);
    EXPECT_EQ(first.cx, tracked.cx);
    EXPECT_EQ(first.cy, tracked.cy);
    EXPECT_EQ(first.cx, after.cx);
    EXPECT_EQ(first.cy + 40, after.cy);
}

// ---- icons and control helpers ----

int IconWidth(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return -1;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST(SetIcons, SetsBothSizesAndReplacesThePreviousOnes) {
    HICON small = nullptr, big = nullptr, small2 = nullptr;
    int smallWidth = 0, bigWidth = 0;
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        EXPECT_EQ(1, d->SetIcons(IDI_PROBE));
        small = reinterpret_cast<HICON>(SendMessageA(d->Window(), WM_GETICON, ICON_SMALL, 0));
        big = reinterpret_cast<HICON>(SendMessageA(d->Window(), WM_GETICON, ICON_BIG, 0));
        smallWidth = IconWidth(small);
        bigWidth = IconWidth(big);
        EXPECT_EQ(1, d->SetIcons(IDI_PROBE));
        small2 = reinterpret_cast<HICON>(SendMessageA(d->Window(), WM_GETICON, ICON_SMALL, 0));
        d->EndRun(0);
    });
    RunProbe(dialog);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), smallWidth);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), bigWidth);
    EXPECT_NE(small, big);
    EXPECT_NE(small, small2);
    // The first pair was destroyed when replaced.
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(small, &info));
}

TEST(SetIcons, MissingIconReportsFailure) {
    int result = -1;
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        result = d->SetIcons(4242);
        d->EndRun(0);
    });
    RunProbe(dialog);
    EXPECT_EQ(0, result);
}

TEST(ControlHelpers, TextEnableAndCheckOnRealControls) {
    ProbeDialog dialog;
    dialog.steps.push_back([](ProbeDialog *d) {
        char text[64];
        EXPECT_EQ(1, d->SetItemText(ID_LABEL, "changed"));
        GetDlgItemTextA(d->Window(), ID_LABEL, text, sizeof text);
        EXPECT_STREQ("changed", text);
        EXPECT_EQ(0, d->SetItemText(777, "nowhere"));
        d->EnableItem(ID_SECOND, 0);
        EXPECT_FALSE(IsWindowEnabled(d->Item(ID_SECOND)));
        d->EnableItem(ID_SECOND, 1);
        EXPECT_TRUE(IsWindowEnabled(d->Item(ID_SECOND)));
        d->EnableItem(777, 0); // no such control: nothing happens
        d->SetText("Caption here");
        GetWindowTextA(d->Window(), text, sizeof text);
        EXPECT_STREQ("Caption here", text);
        d->EndRun(0);
    });
    RunProbe(dialog);
}

// ---- message box ----

struct BoxSeen {
    std::string text;
    std::string caption;
    int hasOk = 0;
    int hasCancel = 0;
    int ownedByDialog = 0;
};

// Runs on a timer of the dialog's thread while the message box's own loop runs: finds the box, reads it,
// and presses OK.
BoxSeen *g_seen = nullptr;
HWND g_owner = nullptr;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (!strcmp(className, "#32770") && window != g_owner && IsWindowVisible(window)) {
        *reinterpret_cast<HWND *>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK ReadAndDismissBox(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box)
        return;
    KillTimer(nullptr, id);
    char text[1100] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    g_seen->text = text;
    GetWindowTextA(box, text, sizeof text);
    g_seen->caption = text;
    g_seen->hasOk = GetDlgItem(box, IDOK) != nullptr;
    g_seen->hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
    g_seen->ownedByDialog = GetWindow(box, GW_OWNER) == g_owner;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST(ShowMessage, TextWithPercentSignsIsShownAsItIs) {
    BoxSeen seen;
    int result = 0;
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        g_seen = &seen;
        g_owner = d->Window();
        UINT_PTR timer = SetTimer(nullptr, 0, 50, &ReadAndDismissBox);
        result = d->ShowMessage(0, "Tarvex", "%s", "Usage:\r\n   -u 50%s %n %d [set]");
        KillTimer(nullptr, timer);
        d->EndRun(0);
    });
    RunProbe(dialog);
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ("Usage:\r\n   -u 50%s %n %d [set]", seen.text);
    EXPECT_EQ("Tarvex", seen.caption);
    EXPECT_EQ(1, seen.hasOk);
    EXPECT_EQ(0, seen.hasCancel);
    EXPECT_EQ(1, seen.ownedByDialog);
}

TEST(ShowMessage, LongTextIsCutAt1023Characters) {
    BoxSeen seen;
    std::string longText(3000, 'x');
    ProbeDialog dialog;
    dialog.steps.push_back([&](ProbeDialog *d) {
        g_seen = &seen;
        g_owner = d->Window();
        UINT_PTR timer = SetTimer(nullptr, 0, 50, &ReadAndDismissBox);
        d->ShowMessage(0, "Long", "%s!", longText.c_str());
        KillTimer(nullptr, timer);
        d->EndRun(0);
    });
    RunProbe(dialog);
    EXPECT_EQ(std::string(1023, 'x'), seen.text);
}

} // namespace

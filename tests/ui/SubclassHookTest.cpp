// Chaining, refusal, removal and dispatch rules of SubclassHook on real windows.
#include "ui/SubclassHook.h"
#include <gtest/gtest.h>
#include <string>

namespace {

const UINT kProbe = WM_APP + 17;
std::string g_log;

// The window's own procedure: answers the probe with 7 and notes that it saw it.
LRESULT CALLBACK OwnProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProbe) {
        g_log += "own;";
        return 7;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Handler behaviour chosen per test through the user value.
struct HandlerScript {
    const char *name;
    int answer;        // what the handler returns for the probe
    LRESULT result;    // what it writes as the result when it answers 1
    int detachOnProbe; // detach this hook from inside the handler
    SubclassHookBase *self;
    int (*detach)(SubclassHookBase *);
};

int LoggingHandler(HWND, UINT message, WPARAM, LPARAM, LRESULT *result, void *userValue) {
    auto *script = static_cast<HandlerScript *>(userValue);
    if (message != kProbe)
        return 0;
    g_log += script->name;
    g_log += ";";
    if (script->detachOnProbe && script->detach)
        script->detach(script->self);
    *result = script->result;
    return script->answer;
}

class HookWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        static ATOM atom = 0;
        if (!atom) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = OwnProcedure;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "TarvexHookTestWindow";
            atom = RegisterClassA(&wc);
        }
        ASSERT_NE(0, atom);
        window_ = CreateWindowExA(0, "TarvexHookTestWindow", "", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, window_);
        g_log.clear();
    }
    void TearDown() override {
        // Put the own procedure back whatever a test left, so that destruction runs normally.
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OwnProcedure));
        DestroyWindow(window_);
    }
    WNDPROC CurrentProcedure() const {
        return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window_, GWLP_WNDPROC));
    }

    HWND window_ = nullptr;
};

template <uint32_t Tag> int DetachHook(SubclassHookBase *hook) {
    return static_cast<SubclassHook<Tag> *>(hook)->Detach();
}

} // namespace

TEST(HookPropertyName, EachKindHasItsOwnName) {
    char buffer[kHookPropertyNameSize];
    EXPECT_STREQ("_C_SubClassing_Property_6C696E6B", SubclassHook<kHookLink>::PropertyName(buffer));
    EXPECT_STREQ("_C_SubClassing_Property_6C697331", FormatHookPropertyName(kHookListView, buffer));
    EXPECT_STREQ("_C_SubClassing_Property_736C6964", FormatHookPropertyName(kHookTrackbar, buffer));
    EXPECT_STREQ("_C_SubClassing_Property_61757570", FormatHookPropertyName(kHookUpdateOwner, buffer));
    // The tags are the four letters read as one big-endian number.
    EXPECT_EQ(static_cast<uint32_t>('l' << 24 | 'i' << 16 | 'n' << 8 | 'k'), kHookLink);
    EXPECT_EQ(static_cast<uint32_t>('l' << 24 | 'i' << 16 | 's' << 8 | '2'), kHookListEdit);
    EXPECT_EQ(static_cast<uint32_t>('d' << 24 | 'i' << 16 | 'v' << 8 | 'i'), kHookDivider);
    EXPECT_EQ(static_cast<uint32_t>('s' << 24 | 'y' << 16 | 's' << 8 | 'l'), kHookSysLinkParent);
    EXPECT_EQ(static_cast<uint32_t>('s' << 24 | 't' << 16 | 'a' << 8 | 'x'), kHookStyledStatic);
}

TEST_F(HookWindowTest, AttachSetsTheNamedPropertyToTheHook) {
    HandlerScript script = {"link", 0, 0, 0, nullptr, nullptr};
    SubclassHook<kHookLink> hook;
    ASSERT_EQ(1, hook.Attach(window_, LoggingHandler, &script));
    EXPECT_EQ(reinterpret_cast<HANDLE>(&hook), GetPropA(window_, "_C_SubClassing_Property_6C696E6B"));
    EXPECT_EQ(&SubclassHook<kHookLink>::WindowProcedure, CurrentProcedure());
    EXPECT_EQ(&OwnProcedure, hook.PreviousProcedure());
    EXPECT_EQ(1, hook.Detach());
    EXPECT_EQ(nullptr, GetPropA(window_, "_C_SubClassing_Property_6C696E6B"));
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
}

TEST_F(HookWindowTest, StackedHooksSeeMessagesLatestFirst) {
    HandlerScript first = {"lis1", 0, 0, 0, nullptr, nullptr};
    HandlerScript second = {"link", 0, 0, 0, nullptr, nullptr};
    SubclassHook<kHookListView> earlier;
    SubclassHook<kHookLink> later;
    ASSERT_EQ(1, earlier.Attach(window_, LoggingHandler, &first));
    ASSERT_EQ(1, later.Attach(window_, LoggingHandler, &second));
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("link;lis1;own;", g_log);

    // Reverse order puts each previous procedure back, ending with the window's own.
    EXPECT_EQ(1, later.Detach());
    EXPECT_EQ(&SubclassHook<kHookListView>::WindowProcedure, CurrentProcedure());
    g_log.clear();
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("lis1;own;", g_log);
    EXPECT_EQ(1, earlier.Detach());
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
    g_log.clear();
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("own;", g_log);
}

TEST_F(HookWindowTest, HandledMessageStopsTheChainWithTheHandlersResult) {
    HandlerScript first = {"lis1", 0, 0, 0, nullptr, nullptr};
    HandlerScript second = {"link", 1, 42, 0, nullptr, nullptr};
    SubclassHook<kHookListView> earlier;
    SubclassHook<kHookLink> later;
    ASSERT_EQ(1, earlier.Attach(window_, LoggingHandler, &first));
    ASSERT_EQ(1, later.Attach(window_, LoggingHandler, &second));
    EXPECT_EQ(42, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("link;", g_log);
    later.Detach();
    earlier.Detach();
}

TEST_F(HookWindowTest, OnlyOneMeansHandled) {
    // A handler answering anything but 1 passes the message on; its result is ignored.
    HandlerScript script = {"slid", 2, 99, 0, nullptr, nullptr};
    SubclassHook<kHookTrackbar> hook;
    ASSERT_EQ(1, hook.Attach(window_, LoggingHandler, &script));
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("slid;own;", g_log);
    hook.Detach();
}

TEST_F(HookWindowTest, DetachingTheEarlierHookFirstBypassesTheLaterOne) {
    HandlerScript first = {"lis1", 0, 0, 0, nullptr, nullptr};
    HandlerScript second = {"link", 0, 0, 0, nullptr, nullptr};
    SubclassHook<kHookListView> earlier;
    SubclassHook<kHookLink> later;
    ASSERT_EQ(1, earlier.Attach(window_, LoggingHandler, &first));
    ASSERT_EQ(1, later.Attach(window_, LoggingHandler, &second));

    EXPECT_EQ(1, earlier.Detach());
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("own;", g_log); // the later hook is out of the chain although still attached
    EXPECT_EQ(1, later.IsAttached());

    // Detaching the later one now reinstalls the earlier kind's procedure, which lost its property and
    // drops every message.
    EXPECT_EQ(1, later.Detach());
    EXPECT_EQ(&SubclassHook<kHookListView>::WindowProcedure, CurrentProcedure());
    g_log.clear();
    EXPECT_EQ(0, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("", g_log);
}

TEST_F(HookWindowTest, SecondHookOfTheSameKindIsRefused) {
    HandlerScript first = {"first", 0, 0, 0, nullptr, nullptr};
    HandlerScript second = {"second", 0, 0, 0, nullptr, nullptr};
    SubclassHook<kHookLink> one, two;
    ASSERT_EQ(1, one.Attach(window_, LoggingHandler, &first));
    EXPECT_EQ(0, two.Attach(window_, LoggingHandler, &second));
    EXPECT_EQ(0, two.IsAttached());
    EXPECT_EQ(0, two.Detach());
    EXPECT_EQ(reinterpret_cast<HANDLE>(&one), GetPropA(window_, "_C_SubClassing_Property_6C696E6B"));
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("first;own;", g_log);
    // The same hook attached again to its own window is refused too and stays attached.
    EXPECT_EQ(0, one.Attach(window_, LoggingHandler, &second));
    EXPECT_EQ(1, one.IsAttached());
    EXPECT_EQ(1, one.Detach());
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
}

TEST_F(HookWindowTest, MessageWithoutThePropertyIsDropped) {
    HandlerScript script = {"link", 0, 0, 0, nullptr, nullptr};
    SubclassHook<kHookLink> hook;
    ASSERT_EQ(1, hook.Attach(window_, LoggingHandler, &script));
    ASSERT_NE(nullptr, RemovePropA(window_, "_C_SubClassing_Property_6C696E6B"));
    EXPECT_EQ(0, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("", g_log);
    EXPECT_EQ(0, SubclassHook<kHookLink>::CallPrevious(window_, kProbe, 0, 0));
    EXPECT_EQ(1, hook.Detach());
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
}

TEST_F(HookWindowTest, CallPreviousReachesTheReplacedProcedureOfThatKind) {
    HandlerScript first = {"lis1", 0, 0, 0, nullptr, nullptr};
    HandlerScript second = {"link", 1, 5, 0, nullptr, nullptr};
    SubclassHook<kHookListView> earlier;
    SubclassHook<kHookLink> later;
    EXPECT_EQ(0, SubclassHook<kHookLink>::CallPrevious(window_, kProbe, 0, 0));
    EXPECT_EQ("", g_log);
    ASSERT_EQ(1, earlier.Attach(window_, LoggingHandler, &first));
    ASSERT_EQ(1, later.Attach(window_, LoggingHandler, &second));
    // The link kind replaced the lis1 procedure, which still offers the message to its handler.
    EXPECT_EQ(7, SubclassHook<kHookLink>::CallPrevious(window_, kProbe, 0, 0));
    EXPECT_EQ("lis1;own;", g_log);
    g_log.clear();
    EXPECT_EQ(7, SubclassHook<kHookListView>::CallPrevious(window_, kProbe, 0, 0));
    EXPECT_EQ("own;", g_log);
    later.Detach();
    earlier.Detach();
}

TEST_F(HookWindowTest, HandlerThatDetachesStillPassesTheMessageOn) {
    SubclassHook<kHookUpdateOwner> hook;
    HandlerScript script = {"auup", 0, 0, 1, &hook, &DetachHook<kHookUpdateOwner>};
    ASSERT_EQ(1, hook.Attach(window_, LoggingHandler, &script));
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("auup;own;", g_log);
    EXPECT_EQ(0, hook.IsAttached());
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
}

TEST_F(HookWindowTest, DestructorDetachesAForgottenHook) {
    HandlerScript script = {"stax", 0, 0, 0, nullptr, nullptr};
    {
        SubclassHook<kHookStyledStatic> hook;
        ASSERT_EQ(1, hook.Attach(window_, LoggingHandler, &script));
    }
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
    EXPECT_EQ(nullptr, GetPropA(window_, "_C_SubClassing_Property_73746178"));
    EXPECT_EQ(7, SendMessageA(window_, kProbe, 0, 0));
    EXPECT_EQ("own;", g_log);
}

TEST_F(HookWindowTest, MovingToAnotherWindowReleasesTheFirst) {
    HandlerScript script = {"divi", 0, 0, 0, nullptr, nullptr};
    HWND other = CreateWindowExA(0, "TarvexHookTestWindow", "", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, other);
    SubclassHook<kHookDivider> hook;
    ASSERT_EQ(1, hook.Attach(window_, LoggingHandler, &script));
    ASSERT_EQ(1, hook.Attach(other, LoggingHandler, &script));
    EXPECT_EQ(other, hook.Window());
    EXPECT_EQ(&OwnProcedure, CurrentProcedure());
    EXPECT_EQ(nullptr, GetPropA(window_, "_C_SubClassing_Property_64697669"));
    EXPECT_EQ(7, SendMessageA(other, kProbe, 0, 0));
    EXPECT_EQ("divi;own;", g_log);
    EXPECT_EQ(1, hook.Detach());
    DestroyWindow(other);
}

TEST(HookInvalidWindow, AttachFailsAndLeavesTheHookDetached) {
    SubclassHook<kHookLink> hook;
    EXPECT_EQ(0, hook.Attach(nullptr, LoggingHandler, nullptr));
    HWND gone = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, gone);
    DestroyWindow(gone);
    EXPECT_EQ(0, hook.Attach(gone, LoggingHandler, nullptr));
    EXPECT_EQ(0, hook.IsAttached());
    EXPECT_EQ(0, hook.Detach());
}

namespace {
int SwallowSetText(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT *result, void *userValue) {
    if (message != WM_SETTEXT)
        return 0;
    static_cast<std::string *>(userValue)->assign(reinterpret_cast<const char *>(lParam));
    *result = TRUE;
    return 1;
}
} // namespace

TEST(HookSystemControl, StaticKeepsItsBehaviourForMessagesTheHandlerLeaves) {
    HWND label = CreateWindowExA(0, "STATIC", "before", 0, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, label);
    std::string seen;
    {
        SubclassHook<kHookLink> hook;
        ASSERT_EQ(1, hook.Attach(label, SwallowSetText, &seen));
        EXPECT_EQ(TRUE, SendMessageA(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("after")));
        EXPECT_EQ("after", seen);
        char text[32] = {};
        // WM_GETTEXT is left to the static, which never saw the new text.
        EXPECT_EQ(6, SendMessageA(label, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text)));
        EXPECT_STREQ("before", text);
        EXPECT_EQ(1, hook.Detach());
    }
    EXPECT_EQ(TRUE, SendMessageA(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("again")));
    char text[32] = {};
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ("again", text);
    DestroyWindow(label);
}

TEST(HookDestroyedWindow, DetachForgetsAWindowThatIsGone) {
    HWND label = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, label);
    std::string seen;
    SubclassHook<kHookLink> hook;
    ASSERT_EQ(1, hook.Attach(label, SwallowSetText, &seen));
    // Destruction runs through the hook to the static's own procedure.
    EXPECT_TRUE(DestroyWindow(label));
    EXPECT_EQ(1, hook.Detach());
    EXPECT_EQ(0, hook.IsAttached());
    EXPECT_EQ(0, hook.Detach());
    // The hook is free for another window.
    HWND other = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(1, hook.Attach(other, SwallowSetText, &seen));
    EXPECT_EQ(1, hook.Detach());
    DestroyWindow(other);
}

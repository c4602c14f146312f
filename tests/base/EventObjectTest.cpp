// Waits, message pumping and quit handling of EventObject, and the security attributes it builds.
#include "base/EventObject.h"
#include <gtest/gtest.h>

TEST(EventObjectWait, SetEventReturnsAtOnce) {
    EventObject event;
    ASSERT_EQ(1, event.Create(1, 1));
    int timedOut = -1;
    EXPECT_EQ(1, event.Wait(0, &timedOut));
    EXPECT_EQ(0, timedOut);
}

TEST(EventObjectWait, UnsetEventTimesOut) {
    EventObject event;
    ASSERT_EQ(1, event.Create(1, 0));
    int timedOut = 0;
    EXPECT_EQ(0, event.Wait(20, &timedOut));
    EXPECT_EQ(1, timedOut);
}

TEST(EventObjectWait, SecondHandleCounts) {
    EventObject event, other;
    ASSERT_EQ(1, event.Create(1, 0));
    ASSERT_EQ(1, other.Create(1, 1));
    EXPECT_EQ(1, event.Wait(1000, nullptr, other.Handle()));
}

namespace {
int g_timerTicks = 0;
HANDLE g_toSet = nullptr;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) {
    if (++g_timerTicks == 3)
        SetEvent(g_toSet);
}
} // namespace

TEST(EventObjectPumpWait, DispatchesMessagesWhileWaitingWithoutLimit) {
    EventObject event;
    ASSERT_EQ(1, event.Create(1, 0));
    g_timerTicks = 0;
    g_toSet = event.Handle();
    UINT_PTR timer = SetTimer(nullptr, 0, 10, CountTick);
    ASSERT_NE(0u, timer);
    // Only the timer procedure, run by the pump, can set the event.
    EXPECT_EQ(1, event.PumpWait(INFINITE));
    KillTimer(nullptr, timer);
    EXPECT_GE(g_timerTicks, 3);
}

TEST(EventObjectPumpWait, QuitEndsTheWaitAndStaysQueued) {
    EventObject event;
    ASSERT_EQ(1, event.Create(1, 0));
    PostQuitMessage(42);
    EXPECT_EQ(0, event.PumpWait(INFINITE));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(42u, message.wParam);
}

TEST(EventObjectPumpWait, TimesOut) {
    EventObject event;
    ASSERT_EQ(1, event.Create(1, 0));
    uint64_t before = TickCount64();
    EXPECT_EQ(0, event.PumpWait(50));
    EXPECT_GE(TickCount64() - before, 40u);
}

TEST(EventObjectCreate, GlobalNameOnLaterNtGetsThePrefix) {
    EventObject event;
    ASSERT_EQ(1, event.Create(1, 0, "TarvexTestGlobalEvent", 1));
    // The same object is reachable under the "Global\" name only.
    HANDLE global = OpenEventA(SYNCHRONIZE, FALSE, "Global\\TarvexTestGlobalEvent");
    ASSERT_NE(nullptr, global);
    CloseHandle(global);
    EventObject local;
    ASSERT_EQ(1, local.Create(1, 0, "TarvexTestLocalEvent", 0));
    HANDLE plain = OpenEventA(SYNCHRONIZE, FALSE, "TarvexTestLocalEvent");
    EXPECT_NE(nullptr, plain);
    if (plain)
        CloseHandle(plain);
}

TEST(SecurityAttributes, OpenDescriptorHasNullDacl) {
    SECURITY_ATTRIBUTES attributes;
    ASSERT_EQ(1, BuildSecurityAttributes(nullptr, &attributes, 1));
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes.nLength);
    EXPECT_TRUE(attributes.bInheritHandle);
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(attributes.lpSecurityDescriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(nullptr, dacl);
    HeapFree(GetProcessHeap(), 0, attributes.lpSecurityDescriptor);
}

TEST(SecurityAttributes, TextDescriptorIsConverted) {
    SECURITY_ATTRIBUTES attributes;
    ASSERT_EQ(1, BuildSecurityAttributes("D:(A;;GA;;;WD)", &attributes, 0));
    EXPECT_TRUE(IsValidSecurityDescriptor(attributes.lpSecurityDescriptor));
    HeapFree(GetProcessHeap(), 0, attributes.lpSecurityDescriptor);
    EXPECT_EQ(0, BuildSecurityAttributes("not a descriptor", &attributes, 0));
}

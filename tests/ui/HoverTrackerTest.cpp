// HoverTracker's polling on a real window: stopping it ends the timer it started.
#include "ui/HoverTracker.h"
#include <gtest/gtest.h>

// The program's own import slot of user32's SetTimer, through which every call of ours goes (decorated on
// x86, plain on x64).
#ifdef _WIN64
#define TARVEX_SET_TIMER_IMPORT "__imp_SetTimer"
#else
#define TARVEX_SET_TIMER_IMPORT "__imp__SetTimer@16"
#endif
extern "C" UINT_PTR(WINAPI *importedSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC) __asm__(TARVEX_SET_TIMER_IMPORT);

namespace {

int g_leaves = 0;

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MOUSELEAVE)
        ++g_leaves;
    return DefWindowProcA(window, message, wParam, lParam);
}

UINT_PTR(WINAPI *g_realSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC) = nullptr;

// Windows answers SetTimer for a window's timer with 1, whatever the id; Wine answers with the id itself,
// which would hide a timer killed by the answer instead of by its id. This makes the answer Windows' own.
UINT_PTR WINAPI SetTimerAnsweringAsWindows(HWND window, UINT_PTR id, UINT ms, TIMERPROC procedure) {
    UINT_PTR answer = g_realSetTimer(window, id, ms, procedure);
    return window && answer ? 1 : answer;
}

class WindowsTimerAnswers {
public:
    WindowsTimerAnswers() {
        g_realSetTimer = importedSetTimer;
        Swap(&SetTimerAnsweringAsWindows);
    }
    ~WindowsTimerAnswers() { Swap(g_realSetTimer); }

private:
    static void Swap(UINT_PTR(WINAPI *function)(HWND, UINT_PTR, UINT, TIMERPROC)) {
        DWORD protection = 0;
        VirtualProtect(&importedSetTimer, sizeof(importedSetTimer), PAGE_READWRITE, &protection);
        importedSetTimer = function;
        VirtualProtect(&importedSetTimer, sizeof(importedSetTimer), protection, &protection);
    }
};

// Dispatches for ms milliseconds, or until done() holds.
template <typename Done> int PumpUntil(Done done, DWORD ms) {
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    return done();
}

} // namespace

TEST(HoverTrackerPolling, StopEndsTheTimerItStarted) {
    WindowsTimerAnswers answers;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TarvexHoverTrackerTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 100, 100, 200,
                                  100, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    // The cursor away from the window: a running poll would report the leave at its first tick.
    SetCursorPos(5, 5);

    HoverTracker tracker;
    tracker.ForgetTrackMouseEvent();
    g_leaves = 0;
    ASSERT_EQ(1, tracker.Track(window));
    tracker.Stop();
    EXPECT_EQ(0, tracker.IsPolling());
    PumpUntil([] { return g_leaves > 0; }, 500);
    EXPECT_EQ(0, g_leaves) << "the poll went on after Stop";

    // The same poll left running does report the leave, so the silence above is the stop's doing.
    ASSERT_EQ(1, tracker.Track(window));
    EXPECT_TRUE(PumpUntil([] { return g_leaves > 0; }, 3000));
    EXPECT_EQ(0, tracker.IsPolling());
    DestroyWindow(window);
}

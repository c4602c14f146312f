// Stop and Exit against workers that are slow to notice their stop: at 99 % a worker sits in a busy phase of
// about two seconds, so the window must show "Stop" (slider disabled) and stay open until every worker has
// really returned.
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>
#include <vector>

namespace {

const char kSettingsKey[] = "Software\\Qelmarch\\Tarvex";

int AnyAlive(const std::vector<HANDLE> &threads) {
    for (HANDLE thread : threads) {
        if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT)
            return 1;
    }
    return 0;
}

// Keeps the largest processor time seen of each thread, in 100 ns units: Wine may answer nothing (or 0) for
// a thread of another process once it has ended, so the last reading taken while it ran counts.
void NoteProcessorTime(const std::vector<HANDLE> &threads, std::vector<int64_t> &seen) {
    seen.resize(threads.size(), 0);
    for (size_t i = 0; i < threads.size(); ++i) {
        FILETIME created, exited, kernel, user;
        if (!GetThreadTimes(threads[i], &created, &exited, &kernel, &user))
            continue;
        const int64_t time = (static_cast<int64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
                             (static_cast<int64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
        if (time > seen[i])
            seen[i] = time;
    }
}

int64_t Sum(const std::vector<int64_t> &values) {
    int64_t sum = 0;
    for (int64_t value : values)
        sum += value;
    return sum;
}

struct StopCase {
    const char *name;
    int id;     // the button pressed while loading
    int closes; // 1: the window goes; 0: the button turns back to "Grab"
};

class SlowStop : public ::testing::TestWithParam<StopCase> {
protected:
    SlowStop() : autoUpdate_(HKEY_CURRENT_USER, kSettingsKey, "AutoUpdate") {}
    SavedRegistryValue autoUpdate_;
};

TEST_P(SlowStop, FinishesOnlyAfterEveryWorkerHasReturned) {
    const StopCase &c = GetParam();
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 0));
    TarvexDriver driver;
    std::vector<DWORD> before;
    ASSERT_EQ(1, driver.Start("-u 99"));
    ASSERT_EQ(1, driver.WaitForDialog(30000));
    before = driver.ThreadIds();
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    // Long enough for the busy phases to have grown to their full length.
    Sleep(3000);
    std::vector<DWORD> after = driver.ThreadIds(), added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    std::vector<HANDLE> workers;
    for (DWORD id : added) {
        HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, id);
        ASSERT_TRUE(thread);
        workers.push_back(thread);
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    ASSERT_EQ(info.dwNumberOfProcessors, workers.size());

    HWND dialog = driver.Dialog();
    std::vector<int64_t> seen;
    NoteProcessorTime(workers, seen);
    const int64_t busyAtClick = Sum(seen);
    driver.Click(c.id);
    int sawSlowWorker = 0, finished = 0;
    const DWORD start = GetTickCount();
    while (!finished && GetTickCount() - start < 20000) {
        // The window's state is read first: a worker that has returned by then stays returned.
        if (c.closes) {
            finished = !IsWindow(dialog);
        } else {
            finished = driver.Text(IDC_GRAB) == "Grab";
            if (!finished) {
                EXPECT_EQ(0, driver.Enabled(IDC_PERCENT_SLIDER)) << "slider enabled while stopping";
            }
        }
        NoteProcessorTime(workers, seen);
        const int alive = AnyAlive(workers);
        if (finished) {
            // A worker's routine has returned by then; its thread may take a moment more to end after
            // signalling that. One still in its busy phase of about two seconds would not be gone so soon.
            EXPECT_TRUE(TarvexDriver::WaitUntil(250, [&] { return !AnyAlive(workers); }))
                << c.name << " finished while a worker was still running";
        } else {
            sawSlowWorker |= alive;
        }
        Sleep(1);
    }
    EXPECT_TRUE(finished) << c.name << " did not finish";
    // Otherwise the test proved nothing: every worker had noticed its stop at once. The processor time
    // also tells a worker that finished its busy phase from one that was ended by force.
    EXPECT_TRUE(sawSlowWorker) << "no worker was still busy after the click";
    EXPECT_GT(Sum(seen) - busyAtClick, 300000) << "no worker finished a busy phase after the click";
    if (!c.closes) {
        EXPECT_EQ(1, driver.Enabled(IDC_PERCENT_SLIDER));
        driver.Click(IDC_EXIT);
    }
    DWORD code = 1;
    EXPECT_EQ(1, driver.WaitForExit(20000, &code));
    for (HANDLE thread : workers)
        CloseHandle(thread);
}

INSTANTIATE_TEST_SUITE_P(Buttons, SlowStop,
                         ::testing::Values(StopCase{"Stop", IDC_GRAB, 0}, StopCase{"Exit", IDC_EXIT, 1}),
                         [](const ::testing::TestParamInfo<StopCase> &info) { return info.param.name; });

} // namespace

// Stop and Exit on the real program: every worker lets go of its processor soon after the click, even at
// 99 %, where a busy phase lasts about two seconds; and against a worker that is slow to notice its stop
// (held suspended here), the window shows "Stop" (slider disabled) and stays open until every worker has
// really returned.
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

const char *const kSettingsKey = kTarvexSettingsKey;

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

// Starts the program loading at percent, lets it load for loadMs and opens the threads Grab added, the
// workers (one per processor), for waiting, reading their processor time and holding them.
void StartLoading(TarvexDriver &driver, int percent, DWORD loadMs, std::vector<HANDLE> &workers) {
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 0));
    char arguments[16];
    snprintf(arguments, sizeof arguments, "-u %d", percent);
    ASSERT_EQ(1, driver.Start(arguments));
    ASSERT_EQ(1, driver.WaitForDialog(30000));
    const std::vector<DWORD> before = driver.ThreadIds();
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    Sleep(loadMs);
    std::vector<DWORD> after = driver.ThreadIds(), added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    for (DWORD id : added) {
        HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME, FALSE, id);
        ASSERT_TRUE(thread);
        workers.push_back(thread);
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    ASSERT_EQ(info.dwNumberOfProcessors, workers.size());
}

void CloseAll(const std::vector<HANDLE> &threads) {
    for (HANDLE thread : threads)
        CloseHandle(thread);
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

// A worker held suspended for a second after the click cannot notice its stop; the window must wait for it.
TEST_P(SlowStop, FinishesOnlyAfterEveryWorkerHasReturned) {
    const StopCase &c = GetParam();
    const DWORD holdMs = 1000;
    TarvexDriver driver;
    std::vector<HANDLE> workers;
    ASSERT_NO_FATAL_FAILURE(StartLoading(driver, 99, 1000, workers));

    HWND dialog = driver.Dialog();
    HANDLE held = workers.back();
    ASSERT_NE(static_cast<DWORD>(-1), SuspendThread(held));
    driver.Click(c.id);
    int finished = 0, finishedWhileHeld = 0, resumed = 0;
    const DWORD start = GetTickCount();
    while (!finished && GetTickCount() - start < 20000) {
        if (!resumed && GetTickCount() - start >= holdMs) {
            ResumeThread(held);
            resumed = 1;
        }
        // The window's state is read first: a worker that has returned by then stays returned.
        if (c.closes) {
            finished = !IsWindow(dialog);
        } else {
            finished = driver.Text(IDC_GRAB) == "Grab";
            if (!finished) {
                EXPECT_EQ(0, driver.Enabled(IDC_PERCENT_SLIDER)) << "slider enabled while stopping";
            }
        }
        if (finished) {
            finishedWhileHeld = !resumed;
            // A worker's routine has returned by then; its thread may take a moment more to end after
            // signalling that.
            EXPECT_TRUE(TarvexDriver::WaitUntil(250, [&] { return !AnyAlive(workers); }))
                << c.name << " finished while a worker was still running";
        }
        Sleep(1);
    }
    if (!resumed)
        ResumeThread(held);
    EXPECT_TRUE(finished) << c.name << " did not finish";
    EXPECT_EQ(0, finishedWhileHeld) << c.name << " finished while a worker was held";
    if (!c.closes) {
        EXPECT_EQ(1, driver.Enabled(IDC_PERCENT_SLIDER));
        driver.Click(IDC_EXIT);
    }
    DWORD code = 1;
    EXPECT_EQ(1, driver.WaitForExit(20000, &code));
    EXPECT_EQ(0u, code);
    CloseAll(workers);
}

INSTANTIATE_TEST_SUITE_P(Buttons, SlowStop,
                         ::testing::Values(StopCase{"Stop", IDC_GRAB, 0}, StopCase{"Exit", IDC_EXIT, 1}),
                         [](const ::testing::TestParamInfo<StopCase> &info) { return info.param.name; });

struct PromptCase {
    const char *name;
    int percent;
};

class PromptStop : public ::testing::TestWithParam<PromptCase> {
protected:
    PromptStop() : autoUpdate_(HKEY_CURRENT_USER, kSettingsKey, "AutoUpdate") {}
    SavedRegistryValue autoUpdate_;
};

// Half a second: far above what a stop costs even on a busy machine, far below the two-second busy phase of
// 99 % that a worker noticing its stop only between phases would finish first.
const DWORD kStopBoundMs = 500;

// Every worker lets go of its processor within the bound after Stop, whatever the percentage, however long
// its busy phase; judged by each worker's own processor time.
TEST_P(PromptStop, EveryWorkerLetsGoWithinHalfASecond) {
    const PromptCase &c = GetParam();
    TarvexDriver driver;
    std::vector<HANDLE> workers;
    // Long enough for the busy phases to have grown to their full length.
    ASSERT_NO_FATAL_FAILURE(StartLoading(driver, c.percent, 3000, workers));

    // Otherwise the test proves nothing: the workers must be loading when Stop comes.
    std::vector<int64_t> loadStart, loadEnd;
    NoteProcessorTime(workers, loadStart);
    Sleep(500);
    NoteProcessorTime(workers, loadEnd);
    EXPECT_GT(Sum(loadEnd) - Sum(loadStart), 500000) << "the workers were not loading";

    const DWORD click = GetTickCount();
    driver.Click(IDC_GRAB);
    EXPECT_EQ(1, TarvexDriver::WaitUntil(kStopBoundMs, [&] { return driver.Text(IDC_GRAB) == "Grab"; }))
        << "still \"" << driver.Text(IDC_GRAB) << "\" " << kStopBoundMs << " ms after Stop";
    const DWORD waited = GetTickCount() - click;
    if (waited < kStopBoundMs)
        Sleep(kStopBoundMs - waited);
    // From the bound on, a worker has ended or at least uses no processor time. The clock behind thread times
    // may tick in 10 ms steps, so a stopped worker can still show one tick.
    std::vector<int64_t> atBound, later;
    NoteProcessorTime(workers, atBound);
    Sleep(300);
    NoteProcessorTime(workers, later);
    for (size_t i = 0; i < workers.size(); ++i) {
        if (WaitForSingleObject(workers[i], 0) == WAIT_OBJECT_0)
            continue;
        EXPECT_LT(later[i] - atBound[i], 200000)
            << "worker " << i << " still used " << (later[i] - atBound[i]) / 10000
            << " ms of processor in the "
            << "300 ms after the bound";
    }
    EXPECT_TRUE(TarvexDriver::WaitUntil(5000, [&] { return !AnyAlive(workers); })) << "a worker never ended";
    driver.Click(IDC_EXIT);
    DWORD code = 1;
    EXPECT_EQ(1, driver.WaitForExit(20000, &code));
    CloseAll(workers);
}

INSTANTIATE_TEST_SUITE_P(Percentages, PromptStop,
                         ::testing::Values(PromptCase{"Ninety", 90}, PromptCase{"NinetyNine", 99},
                                           PromptCase{"Hundred", 100}),
                         [](const ::testing::TestParamInfo<PromptCase> &info) { return info.param.name; });

} // namespace

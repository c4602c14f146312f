// The run log's file checks and lines, and the clock readings behind its clock columns.
#include "load/ProcessorClock.h"
#include "load/RunLog.h"
#include "base/TextString.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Every mistake in -l is a sentence of its own, and nothing is created for it.
TEST(RunLogFile, EachMistakeHasItsSentence) {
    TempFolder folder("RunLog");
    const std::string held = folder.File("held.csv");
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const std::string missingFolder = folder.File("none\\run.csv");
    const struct {
        std::string path, sentence;
    } cases[] = {
        {"", "Option \"-l\" needs the name of the log file."},
        {folder.File(""),
         "Option \"-l\" names the folder \"" + folder.File("") + "\": give the name of a file in it."},
        {"NUL", "Option \"-l\" names the device \"NUL\", not a file."},
        {folder.File("com1.csv"),
         "Option \"-l\" names the device \"" + folder.File("com1.csv") + "\", not a file."},
        {missingFolder,
         "The log file \"" + missingFolder + "\" cannot be created: its folder does not exist."},
        {held, "The log file \"" + held + "\" is held open by another program."},
    };
    for (const auto &c : cases) {
        RunLog log;
        TextString problem;
        EXPECT_EQ(0, log.Open(c.path.c_str(), problem)) << c.path;
        EXPECT_EQ(c.sentence, problem.Text()) << c.path;
        EXPECT_EQ(0, log.IsOpen());
    }
    CloseHandle(holder);
    // A file that exists is replaced.
    ASSERT_TRUE(folder.WriteFile("old.csv", "an older log, longer than the new one\r\n"));
    {
        RunLog log;
        TextString problem;
        ASSERT_EQ(1, log.Open(folder.File("old.csv").c_str(), problem)) << problem.Text();
        EXPECT_EQ(1, log.WriteHeader(1));
    }
    EXPECT_EQ("time,seconds,target,cpu0_loaded,cpu0_usage,cpu0_load_thread,cpu0_mhz,cpu0_limit_mhz\r\n",
              folder.ReadFile("old.csv"));
}

// The columns: local time in ISO 8601, whole numbers, an empty cell where the system gives no clock.
TEST(RunLogLines, RowsHoldEveryProcessorsFiguresInTheHeadersOrder) {
    TextString header;
    RunLog::FormatHeader(2, header);
    EXPECT_STREQ("time,seconds,target,cpu0_loaded,cpu0_usage,cpu0_load_thread,cpu0_mhz,cpu0_limit_mhz,"
                 "cpu1_loaded,cpu1_usage,cpu1_load_thread,cpu1_mhz,cpu1_limit_mhz",
                 header.Text());
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 3;
    t.wDay = 7;
    t.wHour = 9;
    t.wMinute = 5;
    t.wSecond = 2;
    const std::vector<RunLog::Processor> processors = {
        {1, 57, 50, {2694, 3000, 1800}},
        {0, 3, 0, {0, 0, 0}},
    };
    TextString row;
    RunLog::FormatRow(t, 4294967301ull, 50, processors, row);
    EXPECT_STREQ("2026-03-07T09:05:02,4294967301,50,1,57,50,2694,1800,0,3,0,,", row.Text());
}

// ---- the clock ----

ULONG g_current = 0, g_max = 0, g_limit = 0;
LONG WINAPI FixedPower(int level, void *, ULONG, void *output, ULONG length) {
    if (level != 11 || length < 2 * 24)
        return static_cast<LONG>(0xC0000023);
    ULONG *records = static_cast<ULONG *>(output);
    for (int p = 0; p < 2; ++p) {
        ULONG *r = records + 6 * p;
        r[0] = p;
        r[1] = g_max;
        r[2] = g_current + p;
        r[3] = g_limit;
        r[4] = r[5] = 0;
    }
    return 0;
}

TEST(ProcessorClockReadings, ALimitBelowTheHighestClockIsThrottling) {
    const struct {
        ULONG current, max, limit;
        const char *row0;
    } cases[] = {
        {2694, 2694, 2694, "2694 Mhz"},
        {1200, 3000, 1800, "1200 Mhz, limit 1800 (throttled)"},
        {1200, 3000, 2999, "1200 Mhz, limit 2999 (throttled)"},
        {3000, 3000, 3000, "3000 Mhz"},
        {2000, 0, 1800, "2000 Mhz"}, // no highest clock known: nothing to be below
        {0, 3000, 1800, ""},
    };
    for (const auto &c : cases) {
        g_current = c.current;
        g_max = c.max;
        g_limit = c.limit;
        ProcessorClock clock(FixedPower);
        ASSERT_EQ(1, clock.Refresh(2));
        ProcessorClock::Reading reading = {};
        EXPECT_EQ(c.current ? 1 : 0, clock.Read(0, &reading)) << c.current;
        TextString text;
        ProcessorClock::Describe(reading, text);
        EXPECT_STREQ(c.row0, text.Text()) << c.current;
        if (c.current) {
            ASSERT_EQ(1, clock.Read(1, &reading));
            EXPECT_EQ(c.current + 1, reading.currentMhz);
        }
        EXPECT_EQ(0, clock.Read(2, &reading));
    }
    // Asked about more processors than the system describes at once, it answers with nothing.
    ProcessorClock clock(FixedPower);
    EXPECT_EQ(0, clock.Refresh(1));
}

// The real system: every processor's clock, plausible for a processor of today.
TEST(ProcessorClockReadings, TheSystemGivesEveryProcessorsClock) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    ProcessorClock clock;
    ASSERT_EQ(1, clock.Refresh(info.dwNumberOfProcessors));
    for (DWORD p = 0; p < info.dwNumberOfProcessors; ++p) {
        ProcessorClock::Reading reading = {};
        ASSERT_EQ(1, clock.Read(p, &reading)) << p;
        EXPECT_GE(reading.currentMhz, 100u) << p;
        EXPECT_LE(reading.currentMhz, 10000u) << p;
    }
}

} // namespace

// Window tests of the real program for timed loads (-t, -q), the choice of processors (-p and the rows' check
// boxes), the usage box's first line, the keyboard after Grab and the load time in the caption.
#include "res/ResourceIds.h"
#include "tests/app/driver/WindowTest.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/SavedRegistryValue.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

class OptionsWindow : public WindowTest {
protected:
    void ExitCleanly(TarvexDriver &driver) {
        driver.Click(IDC_EXIT);
        ExpectClosedCleanly(driver);
    }
};

// ---- timed loads ----

std::vector<std::vector<std::string>> ReadCsv(const std::string &path) {
    std::vector<std::vector<std::string>> rows;
    FILE *in = fopen(path.c_str(), "rb");
    if (!in)
        return rows;
    char line[8192];
    while (fgets(line, sizeof line, in)) {
        std::vector<std::string> cells(1);
        for (const char *c = line; *c && *c != '\r' && *c != '\n'; ++c) {
            if (*c == ',')
                cells.emplace_back();
            else
                cells.back() += *c;
        }
        rows.push_back(cells);
    }
    fclose(in);
    return rows;
}

// A scripted run: no update check (a server is there to be asked, and is not), closed by itself with exit
// code 0 once the time is up, the settings stored, and a log whose rows a CSV reader takes.
TEST_F(OptionsWindow, TimedLoadWithQuitClosesByItselfAndStoresTheSettingsAndLogs) {
    ASSERT_EQ(1, DeleteUserValue(kSettingsKey, "AutoUpdate"));
    SavedRegistryValue lastCheck(HKEY_CURRENT_USER, kSettingsKey, "LastCheck");
    SavedRegistryValue updateUrl(HKEY_CURRENT_USER, kSettingsKey, "UpdateUrl");
    ASSERT_EQ(1, DeleteUserValue(kSettingsKey, "LastCheck"));
    LoopbackServer server;
    ASSERT_TRUE(server.Start()) << server.Problem();
    ASSERT_TRUE(server.SetRoute("/data/update.php", 200, "<update/>"));
    ASSERT_EQ(1, WriteUserString(kSettingsKey, "UpdateUrl", server.Url("/data/update.php?p=tarvex").c_str()));
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string log =
        std::string(folder) + "TarvexRun-" + std::to_string(GetCurrentProcessId()) + ".csv";

    TarvexDriver driver;
    const DWORD started = GetTickCount();
    StartAndWait(driver, ("-u 40 -s -t 3 -q -l \"" + log + "\"").c_str());
    EXPECT_TRUE(Contains(driver.Caption(), " left")) << driver.Caption();
    DWORD code = 12345;
    ASSERT_EQ(1, driver.WaitForExit(30000, &code))
        << "still open " << GetTickCount() - started << " ms later";
    EXPECT_EQ(0u, code);
    EXPECT_GE(GetTickCount() - started, 3000u);
    // The close path wrote the box (ticked, as a missing value means); the weekly check waits.
    ExpectAutoUpdateStored(1);
    EXPECT_EQ(0, server.RequestCount());
    DWORD ignored = 0;
    EXPECT_EQ(0, ReadUserDword(kSettingsKey, "LastCheck", &ignored));

    const auto rows = ReadCsv(log);
    DeleteFileA(log.c_str());
    const size_t processors = static_cast<size_t>(TarvexDriver::MachineProcessors());
    ASSERT_GE(rows.size(), 4u);
    ASSERT_EQ(3 + 5 * processors, rows[0].size());
    EXPECT_EQ("time", rows[0][0]);
    EXPECT_EQ("cpu0_load_thread", rows[0][5]);
    double share = 0;
    int shares = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        ASSERT_EQ(rows[0].size(), rows[r].size()) << r;
        EXPECT_EQ(19u, rows[r][0].size()) << rows[r][0];
        EXPECT_EQ('T', rows[r][0][10]) << rows[r][0];
        if (rows[r][2] != "40" || r == 1)
            continue;
        for (size_t p = 0; p < processors; ++p) {
            EXPECT_EQ("1", rows[r][3 + 5 * p]) << r;
            share += atof(rows[r][5 + 5 * p].c_str());
            ++shares;
        }
    }
    // After its first second the load thread itself runs near the target on each processor: nowhere near
    // all of the time, nor next to nothing (other tests may run beside this one and take their share).
    ASSERT_GT(shares, 0);
    EXPECT_NEAR(40.0, share / shares, 30.0);
}

TEST_F(OptionsWindow, TimedLoadWithoutQuitReturnsToGrabAndTimesEveryGrab) {
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 0));
    TarvexDriver driver;
    StartAndWait(driver, "-u 20 -s -t 2");
    const std::string plain = TarvexDriver::ExpectedCaption();
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            driver.Click(IDC_GRAB);
            ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
        }
        const DWORD started = GetTickCount();
        const std::string caption = driver.Caption();
        if (round == 0) {
            // The end timer arriving before the end (as after a wait longer than a timer can last) is
            // armed again, and the load goes on.
            PostMessageA(driver.Dialog(), WM_TIMER, 2, 0);
            driver.Settle(2000);
            EXPECT_EQ("Stop", driver.Text(IDC_GRAB));
        }
        EXPECT_TRUE(Contains(caption, ", 0:00:02 left") || Contains(caption, ", 0:00:01 left")) << caption;
        ASSERT_EQ(1, TarvexDriver::WaitUntil(20000, [&] { return driver.Text(IDC_GRAB) == "Grab"; }))
            << "round " << round << ": the timed load did not end";
        EXPECT_GE(GetTickCount() - started, 1000u) << "round " << round;
        EXPECT_EQ(1, driver.Enabled(IDC_PERCENT_SLIDER));
        EXPECT_EQ(plain, driver.Caption());
        // Released: the workers use nothing any more, and the window stays.
        EXPECT_TRUE(driver.BusyThreads(600, 0.1).empty());
        EXPECT_TRUE(driver.Running());
    }
    ExitCleanly(driver);
}

// A scripted run that does not run its full time says so by its exit code, whoever ends it: the user at
// the window, or the session ending (the settings are stored either way).
TEST_F(OptionsWindow, ScriptedRunEndedBeforeItsTimeExitsWithFour) {
    for (int sessionEnds = 0; sessionEnds < 2; ++sessionEnds) {
        ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 0));
        TarvexDriver driver;
        StartAndWait(driver, "-u 10 -s -t 60 -q");
        if (sessionEnds)
            PostMessageA(driver.Dialog(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        else
            driver.Click(IDC_EXIT);
        DWORD code = 12345;
        ASSERT_EQ(1, driver.WaitForExit(kExitMs, &code)) << sessionEnds;
        EXPECT_EQ(4u, code) << sessionEnds;
        ExpectAutoUpdateStored(0);
    }
}

// ---- the choice of processors ----

TEST_F(OptionsWindow, ListedAndTickedProcessorsAreTheOnlyOnesLoaded) {
    if (TarvexDriver::MachineProcessors() < 2)
        GTEST_SKIP() << "needs two processors";
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 0));
    TarvexDriver driver;
    StartAndWait(driver, "-u 100 -s -p 1");
    for (int row = 0; row < driver.RowCount(); ++row)
        EXPECT_EQ(row == 1 ? 1 : 0, driver.RowChecked(row)) << "row " << row;
    // One worker, pinned to processor 1; other work on the machine can slow it, not multiply it.
    std::vector<DWORD> busy = driver.BusyThreads(1500, 0.2);
    ASSERT_EQ(1u, busy.size());
    EXPECT_EQ(static_cast<DWORD_PTR>(2), TarvexDriver::ThreadAffinity(busy[0]));

    // While loading the ticks stay as they are.
    driver.ClickRowCheckBox(0);
    ASSERT_EQ(1, driver.Settle(5000, 1));
    EXPECT_EQ(0, driver.RowChecked(0));

    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Grab"; }));
    driver.ClickRowCheckBox(1);
    driver.ClickRowCheckBox(0);
    ASSERT_EQ(1,
              TarvexDriver::WaitUntil(3000, [&] { return driver.RowChecked(0) && !driver.RowChecked(1); }));
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    busy = driver.BusyThreads(1500, 0.2);
    ASSERT_EQ(1u, busy.size());
    EXPECT_EQ(static_cast<DWORD_PTR>(1), TarvexDriver::ThreadAffinity(busy[0]));
    ExitCleanly(driver);
}

// ---- mistakes on the command line ----

TEST_F(OptionsWindow, UsageBoxNamesTheMistakeFirst) {
    const std::string last = std::to_string(TarvexDriver::MachineProcessors() - 1);

    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string log =
        std::string(folder) + "TarvexMistake-" + std::to_string(GetCurrentProcessId()) + ".csv";
    // One case per kind of mistake: the parser's sentences are all checked by the parser's own tests. A
    // scripted run (-q) shows no box: it ends at once with exit code 2, the sentence in its log.
    const struct {
        std::string arguments, firstLine;
        int scripted;
    } cases[] = {
        {"-t 5x -s", "\"5x\" is no value for option \"-t\"."},
        {"-p 1,", "\"1,\" is no value for option \"-p\"."},
        {"-p 4000",
         "Option \"-p\" names no processor of this machine, which has processors 0 to " + last + "."},
        {"-q -s -l \"" + log + "\"", "Option \"-q\" needs a duration given with \"-t\".", 1},
        {"-u 50 -s -t 5x -q -l \"" + log + "\"", "\"5x\" is no value for option \"-t\".", 1},
    };
    for (const auto &c : cases) {
        TarvexDriver driver;
        ASSERT_EQ(1, driver.Start(c.arguments.c_str()));
        if (c.scripted) {
            DWORD code = 0;
            ASSERT_EQ(1, driver.WaitForExit(kStartMs, &code)) << c.arguments;
            EXPECT_EQ(2u, code) << c.arguments;
            std::string text(4096, '\0');
            FILE *in = fopen(log.c_str(), "rb");
            ASSERT_TRUE(in) << c.arguments;
            text.resize(fread(&text[0], 1, text.size(), in));
            fclose(in);
            EXPECT_EQ("# " + c.firstLine + "\r\n", text) << c.arguments;
            continue;
        }
        HWND box = driver.WaitForMessageBox("Tarvex", kStartMs);
        ASSERT_TRUE(box) << c.arguments;
        char text[2048] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        EXPECT_EQ(c.firstLine + "\r\n\r\nUsage:\r\n", std::string(text).substr(0, c.firstLine.size() + 12))
            << c.arguments;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_EQ(1, driver.WaitForDialog(kStartMs)) << c.arguments;
        // A refused duration or list leaves the load untimed and every processor ticked.
        EXPECT_EQ(1, driver.RowChecked(0)) << c.arguments;
        if (driver.Text(IDC_GRAB) == "Stop") {
            EXPECT_FALSE(Contains(driver.Caption(), " left")) << c.arguments << ": " << driver.Caption();
        }
        ExitCleanly(driver);
    }
    DeleteFileA(log.c_str());
}

// ---- the keyboard and the caption while loading ----

TEST_F(OptionsWindow, KeyboardGrabsFromTheSliderAndStopsAgainWhileTheCaptionCountsTheTime) {
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 0));
    TarvexDriver driver;
    StartAndWait(driver, "-u 50");
    driver.FocusItem(IDC_PERCENT_SLIDER);
    ASSERT_EQ(
        1, TarvexDriver::WaitUntil(3000, [&] { return driver.Focus() == driver.Item(IDC_PERCENT_SLIDER); }));
    for (UINT key : {VK_END, VK_LEFT, VK_LEFT, VK_RETURN})
        driver.PressKey(key);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    EXPECT_EQ(90, driver.SliderPosition());
    // The disabled slider gave the focus to the button, so that the keyboard still reaches the window.
    EXPECT_EQ(driver.Item(IDC_GRAB), driver.Focus());

    EXPECT_TRUE(Contains(driver.Caption(), " - loading for 0:00:0")) << driver.Caption();
    EXPECT_FALSE(Contains(driver.Caption(), " left")) << driver.Caption();
    EXPECT_EQ(
        1, TarvexDriver::WaitUntil(6000, [&] { return Contains(driver.Caption(), "loading for 0:00:03"); }))
        << driver.Caption();

    driver.PressKey(VK_SPACE);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Grab"; }));
    EXPECT_EQ(TarvexDriver::ExpectedCaption(), driver.Caption());
    EXPECT_EQ(driver.Item(IDC_GRAB), driver.Focus());
    driver.PressKey(VK_ESCAPE);
    DWORD code = 12345;
    ASSERT_EQ(1, driver.WaitForExit(20000, &code));
    EXPECT_EQ(0u, code);
}

} // namespace

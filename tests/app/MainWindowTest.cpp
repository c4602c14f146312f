// Window tests of the real Tarvex.exe: started in the test prefix on the test display and driven from
// outside through its dialog: options and command files, the load switch, the usage column, the slider,
// the update box stored at close, the close paths while loading or stopping, the link's colours and its
// opening from the keyboard.
#include "res/ResourceIds.h"
#include "tests/app/driver/WindowTest.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kBrowserSettings[] = "Software\\Microsoft\\Internet Explorer\\Settings";
const char kBrowserMain[] = "Software\\Microsoft\\Internet Explorer\\Main";
const DWORD kStartMs = WindowTest::kStartMs;

unsigned PercentOf(const std::string &cell) {
    unsigned value = 0;
    char sign = 0;
    if (sscanf(cell.c_str(), "%u %c", &value, &sign) != 2 || sign != '%')
        return 1000;
    return value;
}

class MainWindow : public WindowTest {};

// 1 once the load runs: the program has used a tenth of a second of every processor.
int LoadUnderWay(const TarvexDriver &driver) {
    return TarvexDriver::WaitUntil(5000, [&] {
        return driver.ProcessorTime() > TarvexDriver::MachineProcessors() * int64_t(1000000);
    });
}

// The load's workers: the threads that appeared since the snapshot, once there are one per processor (or
// after a bound, as many as there are then).
std::vector<DWORD> WorkersAfter(const TarvexDriver &driver, const std::vector<DWORD> &before) {
    std::vector<DWORD> added;
    TarvexDriver::WaitUntil(5000, [&] {
        added = TarvexDriver::NewThreads(before, driver.ThreadIds());
        return added.size() >= static_cast<size_t>(TarvexDriver::MachineProcessors());
    });
    return added;
}

// ---- start-up and options ----

TEST_F(MainWindow, WithoutOptionsItIsIdleAtFiftyPercentWithOneRowPerProcessor) {
    TarvexDriver driver;
    StartAndWait(driver, "");
    EXPECT_EQ("50 %", driver.Text(IDC_PERCENT_LABEL));
    EXPECT_EQ(50, driver.SliderPosition());
    EXPECT_EQ("Grab", driver.Text(IDC_GRAB));
    EXPECT_EQ(1, driver.Enabled(IDC_PERCENT_SLIDER));
    ASSERT_EQ(TarvexDriver::MachineProcessors(), driver.RowCount());
    for (int row = 0; row < driver.RowCount(); ++row) {
        EXPECT_EQ("#" + std::to_string(row + 1), driver.Cell(row, 0));
        EXPECT_FALSE(driver.Cell(row, 1).empty());
        std::string speed = driver.Cell(row, 3);
        unsigned mhz = 0;
        char unit[8] = {};
        EXPECT_EQ(2, sscanf(speed.c_str(), "%u %7s", &mhz, unit)) << speed;
        EXPECT_STREQ("Mhz", unit);
    }
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

TEST_F(MainWindow, OptionsUAndSStartLoadingAtOnceAndUsageFollows) {
    TarvexDriver driver;
    StartAndWait(driver, "-u 30 -s");
    EXPECT_EQ("30 %", driver.Text(IDC_PERCENT_LABEL));
    EXPECT_EQ(30, driver.SliderPosition());
    EXPECT_EQ("Stop", driver.Text(IDC_GRAB));
    EXPECT_EQ(0, driver.Enabled(IDC_PERCENT_SLIDER));
    int processors = TarvexDriver::MachineProcessors();
    ASSERT_EQ(processors, driver.RowCount());

    // The usage column fills in at the second refresh (the first only takes a sample).
    ASSERT_EQ(1, TarvexDriver::WaitUntil(10000, [&] {
                  for (int row = 0; row < processors; ++row)
                      if (PercentOf(driver.Cell(row, 4)) > 100)
                          return false;
                  return true;
              }));
    // The usage column shows a percentage for every row; what it shows is the whole machine's usage, which
    // other work on the machine can fill, so the load itself is judged by Tarvex's own processor time.
    const int64_t busyBefore = driver.ProcessorTime();
    const DWORD wallBefore = GetTickCount();
    for (int round = 0; round < 5; ++round) {
        for (int row = 0; row < processors; ++row)
            ASSERT_LE(PercentOf(driver.Cell(row, 4)), 100u) << driver.Cell(row, 4);
        Sleep(1000);
    }
    const double share = static_cast<double>(driver.ProcessorTime() - busyBefore) / 10000.0 /
                         static_cast<double>(GetTickCount() - wallBefore) / processors * 100.0;
    // About 30 per processor; a busy machine can only take some of it away.
    EXPECT_GE(share, 10.0);
    EXPECT_LE(share, 45.0);

    int loaded = driver.ThreadCount();
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(10000, [&] { return driver.Text(IDC_GRAB) == "Grab"; }));
    EXPECT_EQ(1, driver.Enabled(IDC_PERCENT_SLIDER));
    // Every worker's routine has returned by the time the button says "Grab"; the thread itself may take a
    // moment more to leave the process's thread list after signalling its end.
    EXPECT_EQ(1, TarvexDriver::WaitUntil(2000, [&] { return driver.ThreadCount() <= loaded - processors; }))
        << loaded << " threads while loading, " << driver.ThreadCount() << " after the stop";

    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

TEST_F(MainWindow, BadOptionShowsTheUsageTextAndTheWindowStillComesUp) {
    TarvexDriver driver;
    ASSERT_EQ(1, driver.Start("-x"));
    HWND box = driver.WaitForMessageBox("Tarvex", kStartMs);
    ASSERT_TRUE(box);
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_STREQ("Unknown option \"-x\".\r\n\r\n"
                 "Usage:\r\n"
                 "   @<file> [command file]\n"
                 "   -s [auto start the cpu grabbing]\n"
                 "   -u 50 [set cpu grabbing percentage]\n"
                 "   -t [N: stop grabbing after N seconds, Nm or Nh]\n"
                 "   -q [quit when the timed grabbing has ended]\n"
                 "   -p [list: grab only these cpus, from 0: 0,2-3]\n"
                 "   -l [file: log every second of the run to this CSV file]\n",
                 text);
    EXPECT_TRUE(GetDlgItem(box, IDOK));
    EXPECT_FALSE(GetDlgItem(box, IDCANCEL));
    PostMessageA(box, WM_COMMAND, IDOK, 0);

    ASSERT_EQ(1, driver.WaitForDialog(kStartMs));
    EXPECT_EQ("50 %", driver.Text(IDC_PERCENT_LABEL));
    EXPECT_EQ("Grab", driver.Text(IDC_GRAB));
    driver.PostClose();
    ExpectClosedCleanly(driver);
}

TEST_F(MainWindow, UsageTextShowsValuesAlreadyReadAndTheyStay) {
    TarvexDriver driver;
    ASSERT_EQ(1, driver.Start("-u 70 -x"));
    HWND box = driver.WaitForMessageBox("Tarvex", kStartMs);
    ASSERT_TRUE(box);
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_NE(nullptr, strstr(text, "   -u 70 [set cpu grabbing percentage]\n")) << text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(1, driver.WaitForDialog(kStartMs));
    EXPECT_EQ("70 %", driver.Text(IDC_PERCENT_LABEL));
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

TEST_F(MainWindow, CommandFileSetsTheOptions) {
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    snprintf(path, sizeof path, "%sTarvexOptions-%lu.txt", folder, GetCurrentProcessId());
    FILE *file = fopen(path, "wb");
    ASSERT_TRUE(file);
    fputs("-u 40\r\n-s\r\n", file);
    fclose(file);

    TarvexDriver driver;
    StartAndWait(driver, (std::string("@") + path).c_str());
    EXPECT_EQ("40 %", driver.Text(IDC_PERCENT_LABEL));
    EXPECT_EQ("Stop", driver.Text(IDC_GRAB));
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
    DeleteFileA(path);
}

TEST_F(MainWindow, DeviceCommandFilesFailAtOnceAndThePercentIsClamped) {
    // Read as files, the serial port and the console would wait for input and the window would never come;
    // refused, they fail like missing files. The label shows what is loaded, not what was typed.
    const struct {
        const char *arguments, *typed, *label;
        int position;
    } cases[] = {
        {"-u 250 @NUL @COM1", "   -u 250 [", "100 %", 100},
        {"-u -5 @CONIN$ @\\\\.\\NUL", "   -u -5 [", "0 %", 0},
    };
    for (const auto &c : cases) {
        TarvexDriver driver;
        ASSERT_EQ(1, driver.Start(c.arguments));
        HWND box = driver.WaitForMessageBox("Tarvex", kStartMs);
        ASSERT_TRUE(box) << c.arguments;
        char text[1024] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        EXPECT_NE(nullptr, strstr(text, c.typed)) << text;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_EQ(1, driver.WaitForDialog(kStartMs));
        EXPECT_EQ(c.label, driver.Text(IDC_PERCENT_LABEL)) << c.arguments;
        EXPECT_EQ(c.position, driver.SliderPosition()) << c.arguments;
        driver.Click(IDC_EXIT);
        ExpectClosedCleanly(driver);
    }
}

// ---- slider ----

TEST_F(MainWindow, ClickInTheChannelMovesThePositionToTheClick) {
    TarvexDriver driver;
    StartAndWait(driver, "-u 10");
    RECT channel = driver.SliderChannel();
    int width = channel.right - channel.left;
    ASSERT_GT(width, 50);
    int y = (channel.top + channel.bottom) / 2;

    for (int target : {70, 35, 95}) {
        int x = channel.left + width * target / 100;
        // The position nearest to the pixel, halves up.
        int expected = ((x - channel.left) * 100 + width / 2) / width;
        driver.MouseClick(IDC_PERCENT_SLIDER, x, y);
        EXPECT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.SliderPosition() == expected; }))
            << "clicked for " << target << ", position " << driver.SliderPosition();
        EXPECT_EQ(
            1, TarvexDriver::WaitUntil(
                   5000, [&] { return driver.Text(IDC_PERCENT_LABEL) == std::to_string(expected) + " %"; }))
            << driver.Text(IDC_PERCENT_LABEL);
    }

    // Past the channel's ends: the range's ends.
    driver.MouseClick(IDC_PERCENT_SLIDER, channel.left - 3 > 0 ? channel.left - 3 : 0, y);
    EXPECT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.SliderPosition() == 0; }));

    // Loading disables the slider: a disabled window takes no click, so nothing can move it.
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    EXPECT_EQ(0, driver.Enabled(IDC_PERCENT_SLIDER));
    EXPECT_EQ(0, driver.SliderPosition());
    EXPECT_EQ("0 %", driver.Text(IDC_PERCENT_LABEL));
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

// ---- the update box ----

TEST_F(MainWindow, UntickedBoxIsStoredAtExitAndShownAtTheNextStart) {
    ASSERT_EQ(1, DeleteUserValue(kSettingsKey, "AutoUpdate"));
    {
        TarvexDriver driver;
        StartAndWait(driver, "");
        // A missing value means "check".
        EXPECT_EQ(1, driver.Checked(IDC_AUTOUPDATE));
        driver.Click(IDC_AUTOUPDATE);
        ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Checked(IDC_AUTOUPDATE) == 0; }));
        // Unticking alone writes nothing; only the close does.
        DWORD value = 77;
        EXPECT_EQ(0, ReadUserDword(kSettingsKey, "AutoUpdate", &value));
        driver.Click(IDC_EXIT);
        ExpectClosedCleanly(driver);
        ASSERT_EQ(1, ReadUserDword(kSettingsKey, "AutoUpdate", &value));
        EXPECT_EQ(0u, value);
    }
    {
        TarvexDriver driver;
        StartAndWait(driver, "");
        EXPECT_EQ(0, driver.Checked(IDC_AUTOUPDATE));
        driver.Click(IDC_AUTOUPDATE);
        ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Checked(IDC_AUTOUPDATE) == 1; }));
        // The close box takes the same path as Exit.
        driver.PostClose();
        ExpectClosedCleanly(driver);
        ExpectAutoUpdateStored(1);
    }
}

TEST_F(MainWindow, ValueOtherThanOneLeavesTheBoxUnticked) {
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 2));
    TarvexDriver driver;
    StartAndWait(driver, "");
    EXPECT_EQ(0, driver.Checked(IDC_AUTOUPDATE));
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
    ExpectAutoUpdateStored(0);
}

// ---- closing and stopping ----

TEST_F(MainWindow, ExitWhileLoadingStopsEveryWorkerBeforeTheWindowCloses) {
    TarvexDriver driver;
    StartAndWait(driver, "-u 90");
    std::vector<DWORD> idle = driver.ThreadIds();
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    std::vector<DWORD> workerIds = WorkersAfter(driver, idle);
    ASSERT_EQ(static_cast<size_t>(TarvexDriver::MachineProcessors()), workerIds.size());
    std::vector<HANDLE> workers;
    for (DWORD id : workerIds) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id);
        ASSERT_TRUE(thread);
        workers.push_back(thread);
    }
    // The workers really load their processors: their processor time grows.
    std::vector<int64_t> before;
    for (HANDLE thread : workers)
        before.push_back(TarvexDriver::ThreadTime(thread));
    for (size_t i = 0; i < workers.size(); ++i)
        ASSERT_TRUE(TarvexDriver::WaitUntil(
            5000, [&] { return TarvexDriver::ThreadTime(workers[i]) > before[i] + 300000; }))
            << "worker " << i << " is not loading";

    HWND dialog = driver.Dialog();
    driver.Click(IDC_EXIT);
    // The moment the window goes, note each worker's processor time. A worker that had been stopped first
    // only has its thread's own teardown left; one still loading would go on burning its busy phase.
    std::vector<int64_t> whenGone;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kExitMs) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog)) {
            for (HANDLE thread : workers)
                whenGone.push_back(TarvexDriver::ThreadTime(thread));
            break;
        }
        Sleep(1);
    }
    ASSERT_EQ(workers.size(), whenGone.size()) << "the window did not go";
    ExpectClosedCleanly(driver);
    for (size_t i = 0; i < workers.size(); ++i) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(workers[i], 5000));
        // 15 ms of processor time: far below one busy phase at 90 %, far above a thread's exit.
        EXPECT_LT(TarvexDriver::ThreadTime(workers[i]) - whenGone[i], 150000)
            << "worker " << i << " ran on after the window went";
        CloseHandle(workers[i]);
    }
    DWORD value = 77;
    EXPECT_EQ(1, ReadUserDword(kSettingsKey, "AutoUpdate", &value));
}

TEST_F(MainWindow, QuitMessageStoresTheBoxAndStopsEveryWorkerBeforeTheWindowGoes) {
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 1));
    TarvexDriver driver;
    StartAndWait(driver, "-u 90");
    std::vector<DWORD> idle = driver.ThreadIds();
    driver.Click(IDC_AUTOUPDATE);
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    ASSERT_EQ(0, driver.Checked(IDC_AUTOUPDATE));
    std::vector<HANDLE> workers;
    for (DWORD id : WorkersAfter(driver, idle))
        workers.push_back(OpenThread(SYNCHRONIZE, FALSE, id));
    ASSERT_EQ(static_cast<size_t>(TarvexDriver::MachineProcessors()), workers.size());

    // No close message: the modal loop just ends. The close path runs while the window is destroyed, so
    // every worker has ended by the time it is gone (looked at every millisecond).
    HWND dialog = driver.Dialog();
    driver.PostQuit();
    for (DWORD start = GetTickCount(); IsWindow(dialog) && GetTickCount() - start < kExitMs;)
        Sleep(1);
    ASSERT_FALSE(IsWindow(dialog)) << "the quit message did not end the dialog";
    for (HANDLE worker : workers) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 0)) << "a worker outlived the window";
        CloseHandle(worker);
    }
    ExpectClosedCleanly(driver);
    ExpectAutoUpdateStored(0);
}

TEST_F(MainWindow, SecondStopWhileStoppingIsIgnored) {
    TarvexDriver driver;
    StartAndWait(driver, "-u 100 -s");
    int processors = TarvexDriver::MachineProcessors();
    ASSERT_EQ(1, LoadUnderWay(driver));
    int loaded = driver.ThreadCount();
    // Two presses before the first is handled: the second arrives while the first waits for its workers.
    driver.PostCommand(IDC_GRAB);
    driver.PostCommand(IDC_GRAB);
    driver.PostCommand(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(10000, [&] { return driver.Text(IDC_GRAB) == "Grab"; }));
    EXPECT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.ThreadCount() <= loaded - processors; }));
    // The presses during the stop were dropped, not queued as a new start.
    ASSERT_EQ(1, driver.Settle(5000));
    EXPECT_EQ("Grab", driver.Text(IDC_GRAB));
    EXPECT_EQ(1, driver.Enabled(IDC_PERCENT_SLIDER));

    // The dialog still works: Grab starts every worker again.
    driver.Click(IDC_GRAB);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }));
    EXPECT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.ThreadCount() >= loaded; }));
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

TEST_F(MainWindow, CloseDuringStopClosesAfterTheStop) {
    // 7 is not 1: the box starts unticked, so the close must write 0.
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 7));
    TarvexDriver driver;
    StartAndWait(driver, "-u 100 -s");
    ASSERT_EQ(1, LoadUnderWay(driver));
    driver.PostCommand(IDC_GRAB);
    driver.PostClose();
    driver.PostCommand(IDC_EXIT);
    ExpectClosedCleanly(driver);
    ExpectAutoUpdateStored(0);
}

TEST_F(MainWindow, EscapeClosesLikeExit) {
    ASSERT_EQ(1, WriteUserDword(kSettingsKey, "AutoUpdate", 1));
    TarvexDriver driver;
    StartAndWait(driver, "-u 60 -s");
    driver.Click(IDC_AUTOUPDATE);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Checked(IDC_AUTOUPDATE) == 0; }));
    driver.PostCommand(IDCANCEL);
    ExpectClosedCleanly(driver);
    ExpectAutoUpdateStored(0);
}

// ---- the link ----

// Reads a control's pixels from the screen (from column left on) and reports the ones of the text colour.
struct LinkPixels {
    int matching = 0;   // pixels near the wanted colour
    int longestRun = 0; // longest horizontal run of them in one row
    int textWidth = 0;  // columns that hold any of them
    int textHeight = 0; // rows from the first to the last that hold any of them
};

LinkPixels ReadLink(HWND link, COLORREF wanted, int left = 0) {
    LinkPixels result;
    RECT rect;
    GetClientRect(link, &rect);
    POINT origin = {0, 0};
    ClientToScreen(link, &origin);
    int width = rect.right, height = rect.bottom;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    auto *pixels = static_cast<const DWORD *>(bits);
    std::vector<int> columns(width, 0);
    int top = -1, bottom = -1;
    for (int y = 0; y < height; ++y) {
        int run = 0;
        for (int x = left; x < width; ++x) {
            DWORD p = pixels[y * width + x];
            int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            int similar = abs(r - GetRValue(wanted)) < 60 && abs(g - GetGValue(wanted)) < 60 &&
                          abs(b - GetBValue(wanted)) < 60;
            if (similar) {
                ++result.matching;
                columns[x] = 1;
                if (top < 0)
                    top = y;
                bottom = y;
                result.longestRun = std::max(result.longestRun, ++run);
            } else {
                run = 0;
            }
        }
    }
    int first = -1, last = -1;
    for (int x = 0; x < width; ++x) {
        if (columns[x]) {
            if (first < 0)
                first = x;
            last = x;
        }
    }
    result.textWidth = first < 0 ? 0 : last - first + 1;
    result.textHeight = top < 0 ? 0 : bottom - top + 1;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return result;
}

class LinkLook : public MainWindow {
protected:
    LinkLook()
        : colour_(HKEY_CURRENT_USER, kBrowserSettings, "Anchor Color"),
          hoverColour_(HKEY_CURRENT_USER, kBrowserSettings, "Anchor Color Hover"),
          useHover_(HKEY_CURRENT_USER, kBrowserSettings, "Use Anchor Hover Color"),
          underline_(HKEY_CURRENT_USER, kBrowserMain, "Anchor Underline"),
          dialogColours_(HKEY_CURRENT_USER, kBrowserMain, "Use_DlgBox_Colors") {}

    LinkPixels StartAndRead(COLORREF wanted) {
        TarvexDriver driver;
        StartAndWait(driver, "");
        HWND link = driver.Item(IDC_LINK);
        // Keep the mouse off the link, so it shows its normal colour.
        SetCursorPos(0, 0);
        SetForegroundWindow(driver.Dialog());
        LinkPixels pixels;
        TarvexDriver::WaitUntil(5000, [&] { return (pixels = ReadLink(link, wanted)).matching > 20; });
        EXPECT_EQ("qelmarch.example", TarvexDriver::WindowText(link));
        driver.Click(IDC_EXIT);
        ExpectClosedCleanly(driver);
        return pixels;
    }

    SavedRegistryValue colour_, hoverColour_, useHover_, underline_, dialogColours_;
};

TEST_F(LinkLook, BrowserColourWithoutUnderline) {
    ASSERT_EQ(1, WriteUserString(kBrowserSettings, "Anchor Color", "255,0,0"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Anchor Underline", "no"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Use_DlgBox_Colors", "no"));
    LinkPixels pixels = StartAndRead(RGB(255, 0, 0));
    EXPECT_GT(pixels.matching, 20);
    ASSERT_GT(pixels.textWidth, 20);
    // Letters give short runs only; an underline would span most of the text.
    EXPECT_LT(pixels.longestRun, pixels.textWidth * 6 / 10);
}

TEST_F(LinkLook, BrowserColourWithUnderline) {
    ASSERT_EQ(1, WriteUserString(kBrowserSettings, "Anchor Color", "0,160,0"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Anchor Underline", "yes"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Use_DlgBox_Colors", "no"));
    LinkPixels pixels = StartAndRead(RGB(0, 160, 0));
    EXPECT_GT(pixels.matching, 20);
    ASSERT_GT(pixels.textWidth, 20);
    EXPECT_GE(pixels.longestRun, pixels.textWidth * 9 / 10);
}

// The link's text is as tall as the update box's beside it (both have letters above and below the line): it
// has the room for its text at the window's font and is not shrunk to fit.
TEST_F(LinkLook, LinkTextIsAsTallAsTheWindowsOtherText) {
    ASSERT_EQ(1, WriteUserString(kBrowserSettings, "Anchor Color", "0,160,0"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Anchor Underline", "no"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Use_DlgBox_Colors", "no"));
    TarvexDriver driver;
    StartAndWait(driver, "");
    SetCursorPos(0, 0);
    SetForegroundWindow(driver.Dialog());
    LinkPixels link;
    TarvexDriver::WaitUntil(
        5000, [&] { return (link = ReadLink(driver.Item(IDC_LINK), RGB(0, 160, 0))).matching > 20; });
    // The box's own square is left out: only its text is black.
    LinkPixels box = ReadLink(driver.Item(IDC_AUTOUPDATE), GetSysColor(COLOR_BTNTEXT), 20);
    ASSERT_GT(box.textHeight, 6);
    EXPECT_NEAR(box.textHeight, link.textHeight, 2) << box.textHeight << " vs " << link.textHeight;
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

TEST_F(LinkLook, UnparsableColourKeepsTheDefaultBlue) {
    ASSERT_EQ(1, WriteUserString(kBrowserSettings, "Anchor Color", "255,0"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Anchor Underline", "yes"));
    ASSERT_EQ(1, WriteUserString(kBrowserMain, "Use_DlgBox_Colors", "no"));
    LinkPixels red = StartAndRead(RGB(255, 0, 0));
    EXPECT_EQ(0, red.matching);
    LinkPixels blue = StartAndRead(RGB(0, 102, 204));
    EXPECT_GT(blue.matching, 20);
}

// ---- the link from the keyboard ----

// The shell's command for web addresses, pointed for the test at a script that writes down the address it
// was given: the link's opening is seen without a browser.
class LinkKeyboard : public MainWindow {
protected:
    LinkKeyboard() : webCommand_(HKEY_CLASSES_ROOT, kWebCommandKey, "") {}

    void SetUp() override {
        ASSERT_TRUE(folder_.Valid());
        marker_ = folder_.File("opened.txt");
        char system[MAX_PATH] = {};
        ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
        std::string command = std::string(system) + "\\cmd.exe /c echo %1> \"" + marker_ + "\"";
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, kWebCommandKey, 0, nullptr, 0, KEY_WRITE,
                                                 nullptr, &key, nullptr));
        LONG written = RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                                      static_cast<DWORD>(command.size() + 1));
        RegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS, written);
    }

    static const char kWebCommandKey[];
    SavedRegistryValue webCommand_;
    TempFolder folder_{"LinkKeyboard"};
    std::string marker_;
};
const char LinkKeyboard::kWebCommandKey[] = "https\\shell\\open\\command";

TEST_F(LinkKeyboard, TabReachesTheLinkAndEnterOpensItInsteadOfPressingGrab) {
    TarvexDriver driver;
    StartAndWait(driver, "");
    HWND link = driver.Item(IDC_LINK);
    ASSERT_TRUE(link);
    // Keys go to the active window: the program's, as when the user clicked it.
    SetForegroundWindow(driver.Dialog());
    ASSERT_EQ(1, TarvexDriver::WaitUntil(5000, [&] { return driver.Focus() != nullptr; })) << "no focus";
    // Once round the window at the most: Grab, Exit, the list, the slider, the box, the link.
    for (int presses = 0; presses < 8 && driver.Focus() != link; ++presses) {
        HWND before = driver.Focus();
        driver.PressKey(VK_TAB);
        TarvexDriver::WaitUntil(2000, [&] { return driver.Focus() != before; });
    }
    ASSERT_EQ(link, driver.Focus()) << "Tab never reached the link";

    driver.PressKey(VK_RETURN);
    ASSERT_EQ(1, TarvexDriver::WaitUntil(
                     20000, [&] { return GetFileAttributesA(marker_.c_str()) != INVALID_FILE_ATTRIBUTES; }))
        << "the link did not open";
    // The script may still be writing when the file appears.
    EXPECT_EQ(1, TarvexDriver::WaitUntil(
                     5000,
                     [&] {
                         return folder_.ReadFile("opened.txt").find("https://qelmarch.example/") !=
                                std::string::npos;
                     }))
        << folder_.ReadFile("opened.txt");
    // The opened page takes the foreground; the window itself is as it was.
    EXPECT_EQ("Grab", driver.Text(IDC_GRAB)) << "Enter pressed the default button too";
    driver.Click(IDC_EXIT);
    ExpectClosedCleanly(driver);
}

} // namespace

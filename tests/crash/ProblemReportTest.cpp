// Problem-report tests: the dialog on the test display with the texts of each variant (web address or not,
// company or not, one file or two, SysLink or plain statics), its fitted heading and colours, the ways out of
// it, and the upload: nothing is sent unless the user says so, and "Send Problem Report" posts the nine
// fields and both files, read back byte for byte from the loopback server. Last, the whole path in the crash
// program: fault, dialog, upload, and the process's end.
#include "base/MachineId.h"
#include "base/TextString.h"
#include "crash/ProblemReportDialog.h"
#include "crash/SendProblemReport.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/ScreenCapture.h"
#include "tests/common/TempFolder.h"
#include "tests/crash/CrashRunner.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <functional>
#include <thread>

namespace {

const DWORD kWindowWaitMs = 20000;
const char kUploadPath[] = "/crash/report.php";
const std::string kBoundaryLine = "-------------------------------1234567890123";

// Runs work on a thread of its own (the dialog's thread) and finds the dialog it shows by caption. A test
// that stops early still ends the dialog, so that the thread can be joined.
class DialogThread {
public:
    explicit DialogThread(std::function<INT_PTR()> work)
        : thread_([this, work] {
              result_ = work();
              done_ = 1;
          }) {}
    ~DialogThread() {
        CrashRunner::WaitUntil(kWindowWaitMs, [&] {
            if (dialog_ && !done_)
                PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
            return done_ != 0;
        });
        if (done_)
            thread_.join();
        else
            thread_.detach();
    }
    // The dialog once it is shown (its set-up is over by then); null when none came up.
    HWND Find(const char *caption) {
        CrashRunner::WaitUntil(kWindowWaitMs, [&] {
            // A dialog of this process: other programs on the display may show one with that caption too.
            dialog_ = FindWindowA("#32770", caption);
            DWORD process = 0;
            GetWindowThreadProcessId(dialog_, &process);
            dialog_ = process == GetCurrentProcessId() ? dialog_ : nullptr;
            return (dialog_ && IsWindowVisible(dialog_)) || done_;
        });
        return dialog_ && IsWindowVisible(dialog_) ? dialog_ : nullptr;
    }
    // The dialog's result once it has ended (bounded wait); -1 when it did not end.
    INT_PTR Result() {
        if (!CrashRunner::WaitUntil(kWindowWaitMs, [&] { return done_ != 0; }))
            return -1;
        return result_;
    }

private:
    volatile INT_PTR result_ = -1;
    volatile int done_ = 0;
    HWND dialog_ = nullptr;
    std::thread thread_;
};

int Shows(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string Text(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

// The address of a SysLink's link, in the system code page.
std::string LinkUrl(HWND link, int index) {
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = index;
    char url[sizeof(item.szUrl)] = {};
    if (!SendMessageW(link, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)) ||
        !WideCharToMultiByte(CP_ACP, 0, item.szUrl, -1, url, sizeof(url), nullptr, nullptr))
        return "<no link>";
    return url;
}

// The ways out of the dialog, as a user takes them.
enum class Answer { Send, DontSend, Escape, CloseBox };

void Leave(HWND dialog, Answer answer) {
    switch (answer) {
    case Answer::Send:
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(ProblemReportDialog::kSend, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, ProblemReportDialog::kSend)));
        break;
    case Answer::DontSend:
        PostMessageA(GetDlgItem(dialog, ProblemReportDialog::kDontSend), BM_CLICK, 0, 0);
        break;
    case Answer::Escape:
        PostMessageA(GetDlgItem(dialog, ProblemReportDialog::kDescription), WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    case Answer::CloseBox:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

// The multipart body the upload must send: nine parts in order, then the closing line.
std::string ExpectedBody(const std::vector<std::pair<std::string, std::string>> &fields,
                         const std::string &dumpPath, const std::string &reportPath) {
    std::string body;
    for (const auto &field : fields)
        body += kBoundaryLine + "\r\nContent-Disposition: form-data; name=\"" + field.first + "\"\r\n\r\n" +
                field.second + "\r\n";
    for (const auto &file :
         {std::make_pair(std::string("d"), dumpPath), std::make_pair(std::string("t"), reportPath)}) {
        std::string name = file.second.substr(file.second.find_last_of("\\/") + 1);
        body += kBoundaryLine + "\r\nContent-Disposition: form-data; name=\"" + file.first +
                "\"; filename=\"" + name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                CrashRunner::ReadWhole(file.second) + "\r\n";
    }
    return body + kBoundaryLine + "--\r\n";
}

std::string MachineText() {
    TextString text;
    MachineId(MachineId::kAllSources).Compute(MachineId::kProblemReport, text);
    return text.Text();
}

// Report files of a crash, as the dialog is told about them.
struct ReportFiles {
    TempFolder folder{"ProblemReport"};
    std::string dump = folder.File("Probe_Debug.dmp");
    std::string report = folder.File("Probe_Debug.txt");
    ReportFiles() {
        folder.WriteFile("Probe_Debug.dmp",
                         std::string("MDMP\0\x01binary\r\n", 14) + std::string(3000, '\xA5'));
        folder.WriteFile("Probe_Debug.txt", "Access Violation [0xC0000005] at 0x00000000 in Thread 1.\r\n");
    }
};

// ---- what the dialog shows ----

struct ShownCase {
    const char *name;
    const char *versionFile; // the crash program whose version block is read
    int withDump;
    uint32_t icon;
    const char *caption;
    const char *pleaseTell;
    const char *webUrl; // the please-tell link's address, or null
};

const ShownCase kShown[] = {
    {"WebAddressAndTwoFiles", "CrashProgramWeb.exe", 1, 7, "Crash Probe Web",
     "Please tell Probe Makers about this problem.\n\nYou can check the website "
     "<a href=\"http://downloads.example.test/probe\">downloads.example.test/probe</a> for a newer version.",
     "http://downloads.example.test/probe"},
    {"NoCompanyNoAddressOneFile", "CrashProgram.exe", 0, 0, "Crash Probe",
     "Please tell us about this problem.", nullptr},
};

class Shown : public ::testing::TestWithParam<ShownCase> {};

TEST_P(Shown, TextsLinksHeadingAndColours) {
    const ShownCase &c = GetParam();
    ReportFiles files;
    ProblemReportData data;
    data.Fill(c.withDump ? files.dump.c_str() : "", files.report.c_str(), c.icon,
              (CrashRunner::OwnFolder() + c.versionFile).c_str());
    DialogThread run([&] { return ProblemReportDialog::Run(data); });
    HWND dialog = run.Find(c.caption);
    ASSERT_TRUE(dialog);

    // The program's icon (when one is named) in the caption and beside the heading.
    EXPECT_EQ(c.icon != 0, SendMessageA(dialog, WM_GETICON, ICON_BIG, 0) != 0);
    EXPECT_EQ(c.icon != 0,
              SendDlgItemMessageA(dialog, ProblemReportDialog::kIcon, STM_GETIMAGE, IMAGE_ICON, 0) != 0);

    // Heading: its text in the painter, a font as large as fits (at most 40 pixels), the heading colour.
    EXPECT_EQ(std::string(c.caption) + " has stopped working.", data.heading.Text());
    EXPECT_EQ("", Text(GetDlgItem(dialog, ProblemReportDialog::kHeading)));
    RECT client;
    GetClientRect(data.heading.Window(), &client);
    HDC dc = GetDC(data.heading.Window());
    auto fits = [&](int height) {
        LOGFONTA font = {};
        font.lfHeight = height;
        font.lfWeight = FW_NORMAL;
        lstrcpynA(font.lfFaceName, data.heading.Face(), LF_FACESIZE);
        HFONT made = CreateFontIndirectA(&font);
        HGDIOBJ old = SelectObject(dc, made);
        RECT needed = client;
        DrawTextA(dc, data.heading.Text(), -1, &needed, data.heading.DrawFlags() | DT_CALCRECT);
        SelectObject(dc, old);
        DeleteObject(made);
        return needed.right - needed.left < client.right && needed.bottom - needed.top < client.bottom;
    };
    int height = data.heading.FontHeight();
    EXPECT_LE(height, 40);
    EXPECT_TRUE(fits(height)) << height;
    if (height < 40) {
        EXPECT_FALSE(fits(height + 1)) << height;
    }
    ReleaseDC(data.heading.Window(), dc);
    // The dialog's first window of the process can reach the screen a moment after it is found.
    const auto painted = [](HWND window, COLORREF colour) {
        return CrashRunner::WaitUntil(2000, [&] { return ScreenCapture(window).Count(colour) > 0; });
    };
    EXPECT_EQ(1, painted(data.heading.Window(), ProblemReportDialog::kHeadingColour));
    EXPECT_EQ(1, painted(data.descriptionLabel.Window(), ProblemReportDialog::kLabelColour));
    EXPECT_EQ("Can you please describe what you were doing when the problem occurred?",
              std::string(data.descriptionLabel.Text()));
    EXPECT_EQ("Your E-mail address:", std::string(data.emailLabel.Text()));

    // The please-tell and files texts are links; their plain statics stay hidden.
    EXPECT_EQ(c.pleaseTell, std::string(data.pleaseTellText.Text()));
    ASSERT_TRUE(data.pleaseTellLink.Window());
    EXPECT_FALSE(Shows(GetDlgItem(dialog, ProblemReportDialog::kPleaseTellText)));
    EXPECT_EQ(c.webUrl ? c.webUrl : "<no link>", LinkUrl(data.pleaseTellLink.Window(), 0));
    ASSERT_TRUE(data.filesLink.Window());
    EXPECT_FALSE(Shows(GetDlgItem(dialog, ProblemReportDialog::kFilesText)));
    std::string filesText = c.withDump
                                ? "The files <a href=\"" + files.report +
                                      "\">Probe_Debug.txt</a> and <a href=\"" + files.dump +
                                      "\">Probe_Debug.dmp</a> will be send. They do not contain any personal "
                                      "information."
                                : "The file <a href=\"" + files.report +
                                      "\">Probe_Debug.txt</a> will be send. It does not contain any personal "
                                      "information.";
    EXPECT_EQ(filesText, std::string(data.filesText.Text()));
    EXPECT_EQ(files.report, LinkUrl(data.filesLink.Window(), 0));
    EXPECT_EQ(c.withDump ? files.dump : "<no link>", LinkUrl(data.filesLink.Window(), 1));

    // The answers' limits and cue banners.
    for (int id : {ProblemReportDialog::kDescription, ProblemReportDialog::kEmail}) {
        wchar_t cue[32] = {};
        SendDlgItemMessageW(dialog, id, 0x1502 /* EM_GETCUEBANNER */, reinterpret_cast<WPARAM>(cue), 32);
        EXPECT_STREQ(L" optional", cue);
    }
    EXPECT_EQ(2046, SendDlgItemMessageA(dialog, ProblemReportDialog::kDescription, EM_GETLIMITTEXT, 0, 0));
    EXPECT_EQ(258, SendDlgItemMessageA(dialog, ProblemReportDialog::kEmail, EM_GETLIMITTEXT, 0, 0));
    Leave(dialog, Answer::DontSend);
    EXPECT_EQ(0, run.Result());
}

INSTANTIATE_TEST_SUITE_P(ProblemReportDialog, Shown, ::testing::ValuesIn(kShown),
                         [](const ::testing::TestParamInfo<ShownCase> &info) { return info.param.name; });

// ---- what is sent ----

struct UploadCase {
    const char *name;
    Answer answer;
    int sends;
};

const UploadCase kUploads[] = {
    {"DontSend", Answer::DontSend, 0},
    {"Escape", Answer::Escape, 0},
    {"CloseBox", Answer::CloseBox, 0},
    {"Send", Answer::Send, 1},
};

class Upload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(Upload, OnlySendPostsTheNineFieldsAndBothFiles) {
    const UploadCase &c = GetParam();
    LoopbackServer server;
    ASSERT_TRUE(server.Start()) << server.Problem();
    ASSERT_TRUE(server.SetRoute(kUploadPath, 200, "thanks"));
    ReportFiles files;
    std::string host = "127.0.0.1:" + std::to_string(server.Port());
    ProblemReportSettings settings;
    settings.uploadHost = host.c_str();
    settings.uploadPath = kUploadPath;
    settings.productKey = "probe key";
    settings.sourceTag = "source-tag";
    DialogThread run([&] { return SendProblemReport(settings, files.dump.c_str(), files.report.c_str()); });
    HWND dialog = run.Find("Crash Probe Web");
    ASSERT_TRUE(dialog);
    SendDlgItemMessageA(dialog, ProblemReportDialog::kDescription, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>("clicked Grab & waited; 100% load"));
    SendDlgItemMessageA(dialog, ProblemReportDialog::kEmail, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>("user@example.test"));
    Leave(dialog, c.answer);
    EXPECT_EQ(0, run.Result()) << "the problem-report step ran";
    ASSERT_EQ(c.sends, server.RequestCount());
    if (!c.sends)
        return;
    LoopbackServer::Request request = server.Requests().front();
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ(kUploadPath, request.path);
    EXPECT_EQ("multipart/form-data; boundary=-----------------------------1234567890123",
              request.Header("Content-Type"));
    std::string expected = ExpectedBody({{"a", "r"},
                                         {"p", "probe key"},
                                         {"s", "source-tag"},
                                         {"v", "2.71"},
                                         {"g", MachineText()},
                                         {"e", "user@example.test"},
                                         {"x", "clicked Grab & waited; 100% load"}},
                                        files.dump, files.report);
    EXPECT_EQ(expected, request.body);
}

INSTANTIATE_TEST_SUITE_P(SendProblemReport, Upload, ::testing::ValuesIn(kUploads),
                         [](const ::testing::TestParamInfo<UploadCase> &info) { return info.param.name; });

// A dialog shown here would wait for a user and the test would never return.
TEST(SendProblemReport, WithoutUploadHostShowsNothingAndAnswersOne) {
    ProblemReportSettings settings;
    settings.uploadHost = "";
    EXPECT_EQ(1, SendProblemReport(settings, "a.dmp", "a.txt"));
    settings.uploadHost = nullptr;
    EXPECT_EQ(1, SendProblemReport(settings, "a.dmp", "a.txt"));
}

// ---- the whole path in the crash program ----

struct CrashCase {
    const char *name;
    const char *program;
    int nowhereToWrite; // every name a report file could take is a folder already
    Answer answer;
    int sends;
};

const CrashCase kCrashes[] = {
    {"SendAfterTheFault", "CrashProgramWeb", 0, Answer::Send, 1},
    {"ReportsThatCannotBeWrittenStillLeadToTheQuestion", "CrashProgram", 1, Answer::DontSend, 0},
};

class CrashWithUploadHost : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashWithUploadHost, FaultDialogAnswerAndTheProcessEnds) {
    const CrashCase &c = GetParam();
    LoopbackServer server;
    ASSERT_TRUE(server.Start()) << server.Problem();
    ASSERT_TRUE(server.SetRoute(kUploadPath, 200, "thanks"));
    TempFolder folder("CrashUpload"), temp("CrashUploadTemp");
    std::string program = std::string(c.program) + ".exe";
    for (const char *extension : {"_Debug.txt", "_Debug.dmp"}) {
        if (c.nowhereToWrite) {
            ASSERT_TRUE(
                CreateDirectoryA(folder.File((c.program + std::string(extension)).c_str()).c_str(), nullptr));
            ASSERT_TRUE(
                CreateDirectoryA(temp.File((std::string("MiniDump") + extension).c_str()).c_str(), nullptr));
        }
    }
    ASSERT_TRUE(
        CopyFileA((CrashRunner::OwnFolder() + program).c_str(), folder.File(program.c_str()).c_str(), FALSE));
    CrashRunner runner;
    ASSERT_TRUE(runner.Start("\"" + folder.File(program.c_str()) + "\" write0 \"" + folder.File("facts.txt") +
                                 "\" 127.0.0.1:" + std::to_string(server.Port()) + " " + kUploadPath,
                             temp.Path()));
    HWND dialog = runner.WaitForWindow(c.nowhereToWrite ? "Crash Probe" : "Crash Probe Web", kWindowWaitMs);
    ASSERT_TRUE(dialog) << "the problem-report step did not run";
    SendDlgItemMessageA(dialog, ProblemReportDialog::kEmail, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>("crash@example.test"));
    Leave(dialog, c.answer);
    ASSERT_TRUE(runner.WaitForEnd(60000));
    // After the problem-report step the filter ends the process itself, with the exception's code.
    EXPECT_EQ(0xC0000005u, runner.ExitCode());
    ASSERT_EQ(c.sends, server.RequestCount());
    if (c.sends) {
        EXPECT_EQ(ExpectedBody({{"a", "r"},
                                {"p", "crashprobe"},
                                {"s", "tests"},
                                {"v", "2.71"},
                                {"g", MachineText()},
                                {"e", "crash@example.test"},
                                {"x", ""}},
                               folder.File("CrashProgramWeb_Debug.dmp"),
                               folder.File("CrashProgramWeb_Debug.txt")),
                  server.Requests().front().body);
    }
}

INSTANTIATE_TEST_SUITE_P(CrashProgram, CrashWithUploadHost, ::testing::ValuesIn(kCrashes),
                         [](const ::testing::TestParamInfo<CrashCase> &info) { return info.param.name; });

// ---- without SysLink (a run of its own: the class is gone for the rest of the process) ----

TEST(PlainStatics, WithoutSysLinkThePlainTextsAreShown) {
    WNDCLASSEXW info = {sizeof(info)};
    for (int i = 0; i < 8 && GetClassInfoExW(nullptr, L"SysLink", &info); ++i)
        UnregisterClassW(L"SysLink", info.hInstance);
    HWND probe =
        CreateWindowExW(0, L"SysLink", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe) {
        DestroyWindow(probe);
        GTEST_SKIP() << "the SysLink class cannot be taken away here";
    }
    ReportFiles files;
    ProblemReportData data;
    data.Fill(files.dump.c_str(), files.report.c_str(), 0,
              (CrashRunner::OwnFolder() + "CrashProgramWeb.exe").c_str());
    DialogThread run([&] { return ProblemReportDialog::Run(data); });
    HWND dialog = run.Find("Crash Probe Web");
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(data.pleaseTellLink.Window());
    EXPECT_FALSE(data.filesLink.Window());
    HWND pleaseTell = GetDlgItem(dialog, ProblemReportDialog::kPleaseTellText);
    HWND filesText = GetDlgItem(dialog, ProblemReportDialog::kFilesText);
    EXPECT_TRUE(Shows(pleaseTell));
    EXPECT_TRUE(Shows(filesText));
    EXPECT_EQ("Please tell Probe Makers about this problem.\n\nYou can check the website "
              "'downloads.example.test/probe' for a newer version.",
              Text(pleaseTell));
    EXPECT_EQ("The files Probe_Debug.txt and Probe_Debug.dmp will be send. They do not contain any personal "
              "information.",
              Text(filesText));
    Leave(dialog, Answer::DontSend);
    EXPECT_EQ(0, run.Result());
}

} // namespace

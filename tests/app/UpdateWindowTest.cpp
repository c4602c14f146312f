// The update check of the real Tarvex.exe, copied into a program folder of its own and pointed by
// "UpdateUrl" at the loopback server: the query it sends, the questions (answered here as a user would),
// declined versions, the install with its staged names, archives and rollback, and the restart.
#include "base/SpecialFolder.h"
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"
#include "tests/common/ArchiveMaker.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/ProcessRunner.h"
#include "tests/common/PublishTool.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

const char kKey[] = "Software\\Qelmarch\\Tarvex";
const char kCaption[] = "Tarvex Test";
const DWORD kWaitMs = 30000;

std::string ReadUserString(const char *name) {
    char buffer[512] = {};
    DWORD size = sizeof buffer - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<none>";
    const LONG status =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(buffer) : "<none>";
}

int Exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every file below a folder (sub-folders too) with its content, for "nothing changed" checks.
void ListFolder(const std::string &folder, const std::string &prefix,
                std::map<std::string, std::string> &out) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = prefix + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
                ListFolder(folder, name + "\\", out);
            continue;
        }
        std::ifstream in(folder + name, std::ios::binary);
        out[name] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::map<std::string, std::string> Listing(const TempFolder &folder) {
    std::map<std::string, std::string> files;
    ListFolder(folder.Path(), "", files);
    return files;
}

// The test keys: the maker's (the copied program carries its public half) and another one.
TempFolder *keys = nullptr;

class UpdateWindow : public ::testing::Test {
protected:
    UpdateWindow()
        : autoUpdate_(HKEY_CURRENT_USER, kKey, "AutoUpdate"),
          lastCheck_(HKEY_CURRENT_USER, kKey, "LastCheck"),
          declined_(HKEY_CURRENT_USER, kKey, "LastCheckVersion"), url_(HKEY_CURRENT_USER, kKey, "UpdateUrl") {
    }

    static void SetUpTestSuite() {
        keys = new TempFolder("UpdateKeys");
        ASSERT_EQ(1, PublishTool::MakeKeys(*keys, "maker"));
        ASSERT_EQ(1, PublishTool::MakeKeys(*keys, "other"));
    }
    static void TearDownTestSuite() {
        delete keys;
        keys = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(keys && keys->Valid());
        ASSERT_TRUE(server_.Start(300)) << server_.Problem();
        const std::string program = folder_.File(TARVEX_PROGRAM_FILE);
        ASSERT_TRUE(CopyFileA(TarvexDriver::ProgramPath().c_str(), program.c_str(), FALSE));
        // The shipped program holds the maker's key; this copy trusts the test key instead.
        ASSERT_EQ(1, PublishTool::SetProgramKey(program, keys->File("maker.pub")));
        TarvexDriver::SetProgramPath(program);
        WriteUserDword(kKey, "AutoUpdate", 1);
        DeleteUserValue(kKey, "LastCheck");
        DeleteUserValue(kKey, "LastCheckVersion");
        WriteUserString(kKey, "UpdateUrl", server_.Url("/data/update.php?p=tarvex").c_str());
    }
    void TearDown() override { TarvexDriver::SetProgramPath(""); }

    // Signs an answer for the release files with the tool, serves it and every published file beside it
    // (the answer names them by relative addresses) and returns the answer's bytes.
    std::string Publish(const PublishTool::Files &release, const std::string &arguments,
                        const char *key = "maker.key") {
        TempFolder work("Publish");
        std::string answer;
        EXPECT_EQ(1, PublishTool::MakeAnswer(work, keys->File(key), release,
                                             "--application \"" + std::string(kCaption) + "\" " + arguments,
                                             answer));
        for (const auto &file : release)
            server_.SetRoute(("/data/" + file.first).c_str(), 200, file.second);
        Serve(answer);
        return answer;
    }
    void Serve(const std::string &answer) { ASSERT_TRUE(server_.SetRoute("/data/update.php", 200, answer)); }
    void Start(TarvexDriver &driver, const char *arguments = "") {
        ASSERT_EQ(1, driver.Start(arguments));
        ASSERT_EQ(1, driver.WaitForDialog(kWaitMs));
    }
    // Waits for the question box and presses the button.
    void Answer(TarvexDriver &driver, int button) {
        HWND box = driver.WaitForMessageBox(kCaption, kWaitMs);
        ASSERT_TRUE(box) << "no question came";
        PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
        ASSERT_TRUE(TarvexDriver::WaitUntil(10000, [&] { return !IsWindow(box); }));
    }
    int QueriesSoFar() {
        int n = 0;
        for (const auto &request : server_.Requests())
            n += request.path == "/data/update.php";
        return n;
    }
    int FilesAsked() { return static_cast<int>(server_.Requests().size()) - QueriesSoFar(); }

    LoopbackServer server_;
    TempFolder folder_{"UpdateProgram"};
    SavedRegistryValue autoUpdate_, lastCheck_, declined_, url_;
};

TEST_F(UpdateWindow, QueryCarriesVersionAndIdentifierAndStoresTheTime) {
    Publish({{"data.txt", "new data"}}, "--version 1.00 --info en=Old");
    const uint32_t before = static_cast<uint32_t>(time(nullptr));
    TarvexDriver driver;
    Start(driver);
    ASSERT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] { return QueriesSoFar() == 1; }));
    const LoopbackServer::Request request = server_.Requests().back();
    EXPECT_EQ("GET", request.method);
    EXPECT_EQ("AutoUpdate", request.Header("User-Agent"));
    const std::string prefix = "p=tarvex&v=1.00&id=";
    ASSERT_EQ(prefix, request.query.substr(0, prefix.size()));
    // The 64-bit program names itself after the identifier; the 32-bit one adds nothing.
    const std::string suffix = sizeof(void *) == 8 ? "&arch=x64" : "";
    ASSERT_EQ(prefix.size() + 19 + suffix.size(), request.query.size()) << request.query;
    EXPECT_EQ(suffix, request.query.substr(prefix.size() + 19));
    const std::string id = request.query.substr(prefix.size(), 19);
    for (size_t i = 0; i < id.size(); ++i)
        EXPECT_TRUE(i % 5 == 4 ? id[i] == '-' : isxdigit(static_cast<unsigned char>(id[i])) != 0) << id;
    DWORD stored = 0;
    ASSERT_EQ(1, ReadUserDword(kKey, "LastCheck", &stored));
    EXPECT_GE(stored, before);
    EXPECT_LE(stored, static_cast<uint32_t>(time(nullptr)));
    // Not newer: no question.
    EXPECT_FALSE(driver.WaitForMessageBox(kCaption, 2000));
    // Within the week a second start sends nothing.
    driver.Click(IDC_EXIT);
    ASSERT_EQ(1, driver.WaitForExit(kWaitMs));
    TarvexDriver again;
    Start(again);
    Sleep(3000);
    EXPECT_EQ(1, QueriesSoFar());
}

TEST_F(UpdateWindow, DeclinedVersionIsStoredOnlyByTheWeeklyCheck) {
    Publish({{"data.txt", "new data"}}, "--version 1.01 --info en=New");
    {
        TarvexDriver driver;
        Start(driver);
        Answer(driver, IDNO);
        ASSERT_TRUE(
            TarvexDriver::WaitUntil(5000, [] { return ReadUserString("LastCheckVersion") == "1.01"; }));
        driver.Click(IDC_EXIT);
        ASSERT_EQ(1, driver.WaitForExit(kWaitMs));
    }
    DeleteUserValue(kKey, "LastCheck");
    TarvexDriver driver;
    Start(driver);
    ASSERT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] { return QueriesSoFar() == 2; }));
    EXPECT_FALSE(driver.WaitForMessageBox(kCaption, 3000)) << "a declined version was offered again";
    // The box's own check neither reads the declined version (it asks again) nor writes one.
    driver.Click(IDC_AUTOUPDATE);
    ASSERT_TRUE(TarvexDriver::WaitUntil(5000, [&] { return driver.Checked(IDC_AUTOUPDATE) == 0; }));
    driver.Click(IDC_AUTOUPDATE);
    HWND box = driver.WaitForMessageBox(kCaption, kWaitMs);
    ASSERT_TRUE(box);
    WriteUserString(kKey, "LastCheckVersion", "sentinel");
    PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    ASSERT_TRUE(TarvexDriver::WaitUntil(10000, [&] { return !IsWindow(box); }));
    Sleep(500);
    EXPECT_EQ("sentinel", ReadUserString("LastCheckVersion"));
    EXPECT_EQ(3, QueriesSoFar());
}

// ---- answers refused before anything happens ----

struct RefusedCase {
    const char *name;
    std::string arguments; // for the tool, after the version and the info text
    const char *key;
    int change; // 0 none; 1 signature line removed; 2 one byte of the document flipped
};

class UpdateRefused : public UpdateWindow, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(UpdateRefused, NoQuestionNoDownloadNothingWritten) {
    const RefusedCase &c = GetParam();
    ASSERT_TRUE(folder_.WriteFile("data.txt", "old data"));
    TempFolder outside("UpdateOutside"); // the program folder's parent stands for "outside"
    std::string answer = Publish({{"data.txt", "new data"}, {"b.txt", "new b"}},
                                 "--version 1.01 --info en=New " + c.arguments, c.key);
    if (c.change == 1)
        answer.resize(answer.rfind("<!-- ed25519:"));
    if (c.change == 2)
        answer[answer.find("<en>New") + 4] ^= 1; // "New" becomes "Oew": still a valid, newer answer
    Serve(answer);
    const auto before = Listing(folder_);
    TarvexDriver driver;
    Start(driver);
    ASSERT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] { return QueriesSoFar() == 1; }));
    EXPECT_FALSE(driver.WaitForMessageBox(kCaption, 3000)) << c.name << ": the answer was offered";
    EXPECT_EQ(0, FilesAsked()) << c.name;
    EXPECT_EQ(before, Listing(folder_)) << c.name;
    std::string parent = folder_.Path();
    parent.resize(parent.rfind('\\', parent.size() - 2) + 1);
    EXPECT_FALSE(Exists(parent + "evil.txt") || Exists(parent + "evil_new.txt")) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateRefused,
    ::testing::Values(RefusedCase{"NoSignature", "", "maker.key", 1},
                      RefusedCase{"AnotherKey", "", "other.key", 0},
                      RefusedCase{"FlippedByteInTheAnswer", "", "maker.key", 2},
                      RefusedCase{"Expired", "--expires-at 1000000000", "maker.key", 0},
                      RefusedCase{"SameNameTwice", "--entry file:data.txt --entry file:b.txt:DATA.TXT",
                                  "maker.key", 0},
                      RefusedCase{"NameOutsideTheFolder",
                                  "--entry file:data.txt --entry file:b.txt:..\\evil.txt", "maker.key", 0}),
    [](const ::testing::TestParamInfo<RefusedCase> &info) { return info.param.name; });

TEST_F(UpdateWindow, AnswerPastTheSizeLimitIsNotOffered) {
    // Signed and valid, only too long: padded past 4 MiB with a long text.
    TempFolder work("Padding");
    ASSERT_TRUE(work.WriteFile("long.txt", std::string(4u << 20, 'x')));
    Publish({{"data.txt", "new data"}}, "--version 1.01 --info en=New --restart en=@" +
                                            ProcessRunner::UnixPathOf(work.File("long.txt")));
    TarvexDriver driver;
    Start(driver);
    ASSERT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] { return QueriesSoFar() == 1; }));
    // Reading texts from a document this large takes the parser a while: give a question time to come.
    EXPECT_FALSE(driver.WaitForMessageBox(kCaption, 20000));
}

// ---- installs ----

struct InstallCase {
    const char *name;
    PublishTool::Files before; // files in the program folder
    std::string entries;       // the tool's --entry arguments
    PublishTool::Files served; // what the server sends instead of the published file ("404": nothing)
    PublishTool::Files after;  // expected content, "" = must not exist; none at all: nothing changed
};

class UpdateInstall : public UpdateWindow, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(UpdateInstall, FolderEndsAsExpectedAndNothingIsLaunched) {
    const InstallCase &c = GetParam();
    CreateDirectoryA(folder_.File("sub").c_str(), nullptr);
    for (const auto &file : c.before)
        ASSERT_TRUE(folder_.WriteFile(file.first.c_str(), file.second));
    TempFolder scratch("UpdateZip");
    ASSERT_TRUE(
        MakeArchive(scratch.File("pack.zip"), {{"zipped.txt", "new zipped"}, {"sub/inner.txt", "inner"}}));
    // An archive whose directory reads well but whose first file does not: it fails only while extracting.
    std::string broken = scratch.ReadFile("pack.zip");
    const size_t dataStart = 30 + (broken[26] & 0xFF) + (broken[27] & 0xFF) * 256 + (broken[28] & 0xFF) +
                             (broken[29] & 0xFF) * 256;
    broken[(dataStart + broken.find("PK\x03\x04", 4)) / 2] ^= 0x55;
    // No restart element: the files go in place, nothing is launched and the window stays.
    Publish({{"data.txt", "new data.txt"},
             {"readme.html", "new readme.html"},
             {"b.txt", "new b.txt"},
             {"pack.zip", scratch.ReadFile("pack.zip")},
             {"broken.zip", broken}},
            "--version 1.01 --info en=New " + c.entries);
    for (const auto &file : c.served)
        server_.SetRoute(("/data/" + file.first).c_str(), file.second == "404" ? 404 : 200, file.second);
    const auto before = Listing(folder_);
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDYES);
    // The install is over once the last "_new" file is gone or the rollback has run; give it time.
    Sleep(3000);
    if (c.after.empty()) {
        EXPECT_EQ(before, Listing(folder_)) << c.name << ": the folder changed";
    }
    for (const auto &file : c.after) {
        if (file.second.empty())
            EXPECT_FALSE(Exists(folder_.File(file.first.c_str()))) << c.name << ": " << file.first;
        else
            EXPECT_EQ(file.second, folder_.ReadFile(file.first.c_str())) << c.name << ": " << file.first;
    }
    EXPECT_TRUE(driver.Running());
    EXPECT_TRUE(IsWindow(driver.Dialog()));
}

const PublishTool::Files kOldFolder = {{"data.txt", "old data"},
                                       {"readme.html", "old readme"},
                                       {"zipped.txt", "old zipped"},
                                       {"sub\\inner.txt", "old inner"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateInstall,
    ::testing::Values(
        InstallCase{"FilesAndArchive",
                    kOldFolder,
                    "--entry file:data.txt --entry file:readme.html --entry zip:pack.zip:zipped.txt",
                    {},
                    {{"data.txt", "new data.txt"},
                     {"data_old.txt", "old data"},
                     {"readme.html", "new readme.html"},
                     {"readme.html_old.html", "old readme"},
                     {"zipped.txt", "new zipped"},
                     {"zipped_old.txt", "old zipped"},
                     {"sub\\inner.txt", "inner"},
                     {"sub\\inner_old.txt", "old inner"},
                     {"pack_new.zip", ""},
                     {"data_new.txt", ""},
                     {"readme.html_new.html", ""}}},
        InstallCase{
            "FlippedByteInAFile", kOldFolder, "--entry file:data.txt", {{"data.txt", "new data.txu"}}, {}},
        InstallCase{"FileLongerThanAnnounced",
                    kOldFolder,
                    "--entry file:data.txt",
                    {{"data.txt", "new data.txt!"}},
                    {}},
        InstallCase{"FileShorterThanAnnounced",
                    kOldFolder,
                    "--entry file:data.txt",
                    {{"data.txt", "new data.tx"}},
                    {}},
        InstallCase{"ArchiveTamperedWith",
                    kOldFolder,
                    "--entry file:data.txt --entry zip:pack.zip:zipped.txt",
                    {{"pack.zip", "PK\x03\x04 not the archive that was signed"}},
                    {}},
        // The file was replaced already when the archive fails: its old content comes back, and so do the
        // files the archive overwrote.
        InstallCase{"ArchiveFailingAfterAReplacedFile",
                    kOldFolder,
                    "--entry file:data.txt --entry zip:broken.zip:zipped.txt",
                    {},
                    {}},
        InstallCase{"ArchiveWithoutItsFile",
                    {{"data.txt", "old data"}, {"zipped.txt", "old zipped"}, {"missing.txt", "old missing"}},
                    "--entry file:data.txt --entry zip:pack.zip:missing.txt",
                    {},
                    {}},
        // b.txt is not in the folder: the backup fails there and data.txt comes back.
        InstallCase{"RollbackWhenABackupFails",
                    {{"data.txt", "old data"}},
                    "--entry file:data.txt --entry file:b.txt",
                    {},
                    {}},
        InstallCase{"RollbackWhenADownloadFails",
                    {{"data.txt", "old data"}, {"readme.html", "old readme"}},
                    "--entry file:data.txt --entry file:readme.html",
                    {{"readme.html", "404"}},
                    {}}),
    [](const ::testing::TestParamInfo<InstallCase> &info) { return info.param.name; });

// ---- the question box ----

struct QuestionCase {
    const char *name;
    const char *help; // the answer's help address
    int helpButton;   // the box offers Help
};

class UpdateQuestion : public UpdateWindow, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(UpdateQuestion, HelpOnlyForWebAddressesAndTextsOutsideAscii) {
    const QuestionCase &c = GetParam();
    const wchar_t info[] = L"Gr\u00fc\u00dfe, neue Version \u00e4\u00f6\u00fc";
    TempFolder work("Texts");
    char utf8[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, info, -1, utf8, sizeof utf8, nullptr, nullptr);
    ASSERT_TRUE(work.WriteFile("info.txt", utf8));
    Publish({{"data.txt", "new data"}}, std::string("--version 1.01 --help-url \"") + c.help +
                                            "\" --info en=@" +
                                            ProcessRunner::UnixPathOf(work.File("info.txt")));
    TarvexDriver driver;
    Start(driver);
    HWND box = driver.WaitForMessageBox(kCaption, kWaitMs);
    ASSERT_TRUE(box);
    EXPECT_EQ(c.helpButton, GetDlgItem(box, IDHELP) != nullptr) << c.name;
    // The text as the system code page shows it, decoded once.
    char expected[256] = {};
    WideCharToMultiByte(CP_ACP, 0, info, -1, expected, sizeof expected, nullptr, nullptr);
    EXPECT_EQ(expected, TarvexDriver::WindowText(GetDlgItem(box, 0xFFFF))) << c.name;
    PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    ASSERT_TRUE(TarvexDriver::WaitUntil(10000, [&] { return !IsWindow(box); }));
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateQuestion,
                         ::testing::Values(QuestionCase{"Web", "https://127.0.0.1:1/help", 1},
                                           QuestionCase{"Program", "C:\\windows\\notepad.exe", 0},
                                           QuestionCase{"Share", "\\\\server\\share\\help.exe", 0}),
                         [](const ::testing::TestParamInfo<QuestionCase> &info) { return info.param.name; });

// ---- restarts ----

TEST_F(UpdateWindow, RestartQuestionThenTheNewProgramStartsAndTheOldWindowCloses) {
    Publish({{TARVEX_PROGRAM_FILE, folder_.ReadFile(TARVEX_PROGRAM_FILE)}},
            "--version 1.01 --info en=New --restart \"en=Restart now?\"");
    TarvexDriver driver;
    Start(driver);
    const HWND oldDialog = driver.Dialog();
    Answer(driver, IDYES);
    Answer(driver, IDYES);
    DWORD code = 1;
    ASSERT_EQ(1, driver.WaitForExit(kWaitMs, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(Exists(folder_.File(TARVEX_PROGRAM_STEM "_old.exe")));
    // The new program is the file now in the folder, started from there.
    HWND newDialog = nullptr;
    TarvexDriver::WaitUntil(kWaitMs, [&] {
        newDialog = FindWindowA("#32770", TarvexDriver::ExpectedCaption().c_str());
        return newDialog && newDialog != oldDialog;
    });
    ASSERT_TRUE(newDialog) << "the new program did not start";
    DWORD processId = 0;
    GetWindowThreadProcessId(newDialog, &processId);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    ASSERT_TRUE(process);
    PostMessageA(newDialog, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    CloseHandle(process);
}

TEST_F(UpdateWindow, FailedLaunchKeepsTheWindow) {
    ASSERT_TRUE(folder_.WriteFile("data.txt", "old data"));
    Publish({{"data.txt", "new data"}}, "--version 1.01 --info en=New --restart en= --execute missing.exe");
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDYES);
    // Watched by name only: a test holding the file open while the install renames it would make the
    // rename fail, as any program of the user's holding it would.
    ASSERT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] {
        return Exists(folder_.File("data_old.txt")) && !Exists(folder_.File("data_new.txt"));
    }));
    EXPECT_EQ("new data", folder_.ReadFile("data.txt"));
    // Closing takes a moment (the check thread and the workers end first): give it time to happen.
    EXPECT_FALSE(TarvexDriver::WaitUntil(6000, [&] {
        return !driver.Running() || !IsWindow(driver.Dialog());
    })) << "nothing was started, yet the window closed";
}

class DesktopDownload : public UpdateWindow {
protected:
    void SetUp() override {
        UpdateWindow::SetUp();
        // Where the program puts a download without a name: the user's desktop.
        char desktop[MAX_PATH] = {};
        ASSERT_TRUE(SpecialFolder(0, desktop));
        launched_ = std::string(desktop) + "\\tarvex-update-test.cmd";
        marker_ = folder_.File("launched.txt");
        for (const char *name : {"", "_new", "_old"})
            DeleteFileA((std::string(desktop) + "\\tarvex-update-test" + name + ".cmd").c_str());
    }
    void TearDown() override {
        for (const char *name : {"tarvex-update-test.cmd", "tarvex-update-test_old.cmd"})
            DeleteFileA((launched_.substr(0, launched_.rfind('\\') + 1) + name).c_str());
        UpdateWindow::TearDown();
    }
    std::string launched_, marker_;
};

TEST_F(DesktopDownload, EmptyRestartTextLaunchesItAtOnce) {
    Publish({{"tarvex-update-test.cmd", "@echo launched> \"" + marker_ + "\"\r\n"}},
            "--version 1.01 --info en=New --restart en= --entry desktop:tarvex-update-test.cmd");
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDYES);
    EXPECT_TRUE(driver.WaitForExit(kWaitMs)) << "the window did not close";
    EXPECT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] { return Exists(marker_); })) << "nothing was launched";
    EXPECT_TRUE(Exists(launched_));
}

TEST_F(DesktopDownload, FailedDownloadLeavesTheUsersFile) {
    {
        std::ofstream mine(launched_, std::ios::binary);
        mine << "the user's own";
    }
    Publish({{"tarvex-update-test.cmd", "@echo launched> \"" + marker_ + "\"\r\n"}},
            "--version 1.01 --info en=New --restart en= --entry desktop:tarvex-update-test.cmd");
    server_.SetRoute("/data/tarvex-update-test.cmd", 200, "@echo forged\r\n");
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDYES);
    Sleep(3000);
    EXPECT_TRUE(driver.Running());
    std::ifstream in(launched_, std::ios::binary);
    EXPECT_EQ("the user's own",
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    EXPECT_FALSE(Exists(launched_.substr(0, launched_.size() - 4) + "_new.cmd"));
    EXPECT_FALSE(Exists(marker_));
}

} // namespace

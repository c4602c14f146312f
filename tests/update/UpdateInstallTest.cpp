// The whole update check in-process, as the program runs it, against the loopback server: answers refused
// before anything happens, the install with its staged names, archives and rollback, the question box and
// its texts, the declined version and what is launched afterwards. The owner is a hidden window of the test
// thread; the check runs on that thread too, and every question box it puts up is read and answered there.
#include "base/SpecialFolder.h"
#include "tests/common/ArchiveMaker.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/ProcessRunner.h"
#include "tests/common/PublishTool.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TestRegistry.h"
#include "update/UpdateClient.h"

#include <gtest/gtest.h>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char kCaption[] = "Tarvex Test";
// The answers offer 9.01, newer than this program's version; 0.00 is not.

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

// The user at the owner window: each message box that comes up on this thread is read and answered with
// the button given, as soon as it is activated.
class BoxAnswerer {
public:
    struct Box {
        std::string caption, text;
        int help;
    };

    explicit BoxAnswerer(int button) : button_(button) {
        current_ = this;
        hook_ = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~BoxAnswerer() {
        if (hook_)
            UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    BoxAnswerer(const BoxAnswerer &) = delete;
    BoxAnswerer &operator=(const BoxAnswerer &) = delete;

    int Valid() const { return hook_ != nullptr; }
    const std::vector<Box> &Boxes() const { return boxes_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = {};
        if (code == HCBT_ACTIVATE && current_ && GetClassNameA(window, name, sizeof name) &&
            strcmp(name, "#32770") == 0 && current_->seen_.insert(window).second) {
            current_->boxes_.push_back({ProcessRunner::WindowText(window),
                                        ProcessRunner::WindowText(GetDlgItem(window, 0xFFFF)),
                                        GetDlgItem(window, IDHELP) != nullptr});
            EndDialog(window, current_->button_);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static BoxAnswerer *current_;
    HHOOK hook_ = nullptr;
    int button_;
    std::set<HWND> seen_;
    std::vector<Box> boxes_;
};
BoxAnswerer *BoxAnswerer::current_ = nullptr;

class UpdateInstall : public ::testing::Test {
protected:
    // One server for the suite (a Unix program started through Wine): each test serves its own answer and
    // files, and reads the requests of its own checks only.
    static void SetUpTestSuite() {
        shared_ = new LoopbackServer;
        shared_->Start(120);
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(server_.Running()) << server_.Problem();
        ASSERT_TRUE(server_.ClearLog());
        ASSERT_TRUE(key_.Valid());
        ASSERT_TRUE(owner_);
    }
    void TearDown() override { DestroyWindow(owner_); }

    // Signs an answer for the release files with the maker's tool and the key this program carries (see
    // TestUpdateKey.rc), serves it and every file beside it, and returns the answer's bytes.
    std::string Publish(const PublishTool::Files &release, const std::string &arguments) {
        TempFolder work("Publish");
        const std::string secret =
            std::string("Z:") + TARVEX_SOURCE_DIR + "/tests/common/resources/TestUpdateKey.key";
        std::string answer;
        EXPECT_EQ(1, PublishTool::MakeAnswer(work, secret, release,
                                             "--application \"" + std::string(kCaption) + "\" " + arguments,
                                             answer));
        for (const auto &file : release)
            server_.SetRoute(("/data/" + file.first).c_str(), 200, file.second);
        Serve(answer);
        return answer;
    }
    void Serve(const std::string &answer) { ASSERT_TRUE(server_.SetRoute("/data/update.php", 200, answer)); }

    // One whole check on this thread, its question answered with button; what it returned (1: something
    // was launched), -1 when it did not start. With a value name it is the weekly check.
    int Check(BoxAnswerer &user, const char *valueName = nullptr) {
        if (!user.Valid())
            return -1;
        UpdateClient client;
        client.SetProgramFolder(folder_.Path());
        if (!client.StartCheck(server_.Url("/data/update.php?p=tarvex").c_str(), owner_, HKEY_CURRENT_USER,
                               key_.Path(), valueName, UpdateClient::kNoThread, nullptr, nullptr))
            return -1;
        const int launched = client.CheckAndInstall();
        client.StopCheck();
        return launched;
    }
    // The check closes the window after a launch, by a posted WM_CLOSE.
    int CloseWasPosted() {
        MSG message;
        return PeekMessageA(&message, owner_, WM_CLOSE, WM_CLOSE, PM_REMOVE);
    }
    int FilesAsked() {
        int n = 0;
        for (const auto &request : server_.Requests())
            n += request.path != "/data/update.php";
        return n;
    }
    std::string Stored(const char *name) {
        std::string data;
        return key_.GetRaw(nullptr, name, nullptr, &data) ? std::string(data.c_str()) : "<none>";
    }

    static LoopbackServer *shared_;
    LoopbackServer &server_ = *shared_;
    ScopedTestKey key_{"UpdateInstall"};
    TempFolder folder_{"UpdateProgram"};
    HWND owner_ = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
};

LoopbackServer *UpdateInstall::shared_ = nullptr;

// ---- answers refused before anything happens ----

struct RefusedCase {
    const char *name;
    std::string arguments; // for the tool, after the info text
    int change;            // 0 none; 1 signature line removed; 2 padded past the size limit
};

class UpdateRefused : public UpdateInstall, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(UpdateRefused, NoQuestionNoDownloadNothingWritten) {
    const RefusedCase &c = GetParam();
    ASSERT_TRUE(folder_.WriteFile("data.txt", "old data"));
    TempFolder work("Padding");
    std::string arguments = "--info en=New " + c.arguments;
    if (c.change == 2) {
        // Signed and valid, only too long: a restart text past 4 MiB.
        ASSERT_TRUE(work.WriteFile("long.txt", std::string(4u << 20, 'x')));
        arguments += " --restart en=@" + ProcessRunner::UnixPathOf(work.File("long.txt"));
    }
    std::string answer = Publish({{"data.txt", "new data"}, {"b.txt", "new b"}}, arguments);
    if (c.change == 1)
        Serve(answer.substr(0, answer.rfind("<!-- ed25519:")));
    const auto before = Listing(folder_);
    BoxAnswerer user(IDYES);
    EXPECT_EQ(0, Check(user)) << c.name;
    EXPECT_EQ(0u, user.Boxes().size()) << c.name << ": the answer was offered";
    EXPECT_EQ(1u, server_.Requests().size() - FilesAsked()) << c.name << ": no query";
    EXPECT_EQ(0, FilesAsked()) << c.name;
    EXPECT_EQ(before, Listing(folder_)) << c.name;
    std::string parent = folder_.Path();
    parent.resize(parent.rfind('\\', parent.size() - 2) + 1);
    EXPECT_FALSE(Exists(parent + "evil.txt") || Exists(parent + "evil_new.txt")) << c.name;
}

// A wrong key or a changed byte are the signature's own table (UpdateClientTest); one unsigned answer shows
// that the check asks it.
INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateRefused,
    ::testing::Values(RefusedCase{"NoSignature", "--version 9.01", 1},
                      RefusedCase{"Expired", "--version 9.01 --expires-at 1000000000", 0},
                      RefusedCase{"NotNewer", "--version 0.00", 0},
                      RefusedCase{"PastTheSizeLimit", "--version 9.01", 2},
                      RefusedCase{"SameNameTwice",
                                  "--version 9.01 --entry file:data.txt --entry file:b.txt:DATA.TXT", 0},
                      RefusedCase{"NameOutsideTheFolder",
                                  "--version 9.01 --entry file:data.txt --entry file:b.txt:..\\evil.txt", 0}),
    [](const ::testing::TestParamInfo<RefusedCase> &info) { return info.param.name; });

// ---- installs ----

struct InstallCase {
    const char *name;
    PublishTool::Files before; // files in the program folder
    std::string entries;       // the tool's --entry arguments
    PublishTool::Files served; // what the server sends instead of the published file ("404": nothing)
    PublishTool::Files after;  // expected content, "" = must not exist; none at all: nothing changed
    int installs = 0;          // 1: the update goes in; 0: it fails, and a second box says so
};

class UpdateInstallCases : public UpdateInstall, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(UpdateInstallCases, FolderEndsAsExpectedAndNothingIsLaunched) {
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
            "--version 9.01 --info en=New " + c.entries);
    for (const auto &file : c.served)
        server_.SetRoute(("/data/" + file.first).c_str(), file.second == "404" ? 404 : 200, file.second);
    const auto before = Listing(folder_);
    BoxAnswerer user(IDYES);
    EXPECT_EQ(0, Check(user)) << c.name;
    ASSERT_EQ(c.installs ? 1u : 2u, user.Boxes().size()) << c.name;
    if (!c.installs) {
        EXPECT_NE(std::string::npos, user.Boxes()[1].text.find("could not be installed")) << c.name;
    }
    if (c.after.empty()) {
        EXPECT_EQ(before, Listing(folder_)) << c.name << ": the folder changed";
    }
    for (const auto &file : c.after) {
        if (file.second.empty())
            EXPECT_FALSE(Exists(folder_.File(file.first.c_str()))) << c.name << ": " << file.first;
        else
            EXPECT_EQ(file.second, folder_.ReadFile(file.first.c_str())) << c.name << ": " << file.first;
    }
    EXPECT_FALSE(CloseWasPosted()) << c.name;
}

const PublishTool::Files kOldFolder = {{"data.txt", "old data"},
                                       {"readme.html", "old readme"},
                                       {"zipped.txt", "old zipped"},
                                       {"sub\\inner.txt", "old inner"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateInstallCases,
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
                     {"readme.html_new.html", ""}},
                    1},
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

class UpdateQuestion : public UpdateInstall, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(UpdateQuestion, HelpOnlyForWebAddressesAndTextsOutsideAscii) {
    const QuestionCase &c = GetParam();
    const wchar_t info[] = L"Gr\u00fc\u00dfe, neue Version \u00e4\u00f6\u00fc";
    TempFolder work("Texts");
    char utf8[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, info, -1, utf8, sizeof utf8, nullptr, nullptr);
    ASSERT_TRUE(work.WriteFile("info.txt", utf8));
    Publish({{"data.txt", "new data"}}, std::string("--version 9.01 --help-url \"") + c.help +
                                            "\" --info en=@" +
                                            ProcessRunner::UnixPathOf(work.File("info.txt")));
    BoxAnswerer user(IDNO);
    EXPECT_EQ(0, Check(user));
    ASSERT_EQ(1u, user.Boxes().size()) << c.name;
    EXPECT_EQ(kCaption, user.Boxes()[0].caption);
    EXPECT_EQ(c.helpButton, user.Boxes()[0].help) << c.name;
    // The text as the system code page shows it, decoded once.
    char expected[256] = {};
    WideCharToMultiByte(CP_ACP, 0, info, -1, expected, sizeof expected, nullptr, nullptr);
    EXPECT_EQ(expected, user.Boxes()[0].text) << c.name;
    EXPECT_EQ(0, FilesAsked()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateQuestion,
                         ::testing::Values(QuestionCase{"Web", "https://127.0.0.1:1/help", 1},
                                           QuestionCase{"Program", "C:\\windows\\notepad.exe", 0},
                                           QuestionCase{"Share", "\\\\server\\share\\help.exe", 0}),
                         [](const ::testing::TestParamInfo<QuestionCase> &info) { return info.param.name; });

TEST_F(UpdateInstall, DeclinedVersionIsStoredAndSkippedOnlyByTheWeeklyCheck) {
    Publish({{"data.txt", "new data"}}, "--version 9.01 --info en=New");
    BoxAnswerer user(IDNO);
    EXPECT_EQ(0, Check(user, "LastCheck"));
    ASSERT_EQ(1u, user.Boxes().size());
    EXPECT_EQ("9.01", Stored("LastCheckVersion"));
    // The next weekly check does not offer it again.
    ASSERT_TRUE(key_.SetDword(nullptr, "LastCheck", 0));
    EXPECT_EQ(0, Check(user, "LastCheck"));
    EXPECT_EQ(1u, user.Boxes().size()) << "a declined version was offered again";
    // The box's own check neither reads the declined version (it asks again) nor writes one.
    EXPECT_EQ(0, Check(user));
    EXPECT_EQ(2u, user.Boxes().size());
    ASSERT_TRUE(key_.SetString(nullptr, "LastCheckVersion", "sentinel"));
    EXPECT_EQ(0, Check(user));
    EXPECT_EQ(3u, user.Boxes().size());
    EXPECT_EQ("sentinel", Stored("LastCheckVersion"));
}

// ---- what is launched ----

TEST_F(UpdateInstall, FailedLaunchKeepsTheWindow) {
    ASSERT_TRUE(folder_.WriteFile("data.txt", "old data"));
    Publish({{"data.txt", "new data"}}, "--version 9.01 --info en=New --restart en= --execute missing.exe");
    BoxAnswerer user(IDYES);
    EXPECT_EQ(0, Check(user));
    EXPECT_EQ("new data", folder_.ReadFile("data.txt"));
    EXPECT_EQ("old data", folder_.ReadFile("data_old.txt"));
    EXPECT_FALSE(CloseWasPosted()) << "nothing was started, yet the window was closed";
}

class DesktopDownload : public UpdateInstall {
protected:
    void SetUp() override {
        UpdateInstall::SetUp();
        // Where the program puts a download without a name: the user's desktop.
        char desktop[MAX_PATH] = {};
        ASSERT_TRUE(SpecialFolder(0, desktop));
        desktop_ = std::string(desktop) + "\\";
        marker_ = folder_.File("launched.txt");
        for (const char *name : {"", "_new", "_old"})
            DeleteFileA(File(name).c_str());
        Publish({{"tarvex-update-test.cmd", "@echo launched> \"" + marker_ + "\"\r\n"}},
                "--version 9.01 --info en=New --restart en= --entry desktop:tarvex-update-test.cmd");
    }
    void TearDown() override {
        for (const char *name : {"", "_old"})
            DeleteFileA(File(name).c_str());
        UpdateInstall::TearDown();
    }
    std::string File(const char *suffix) const { return desktop_ + "tarvex-update-test" + suffix + ".cmd"; }
    std::string desktop_, marker_;
};

TEST_F(DesktopDownload, EmptyRestartTextLaunchesItAtOnce) {
    BoxAnswerer user(IDYES);
    EXPECT_EQ(1, Check(user));
    EXPECT_EQ(1u, user.Boxes().size()) << "asked about the restart";
    EXPECT_TRUE(CloseWasPosted());
    EXPECT_TRUE(ProcessRunner::WaitUntil(30000, [&] { return Exists(marker_); })) << "nothing was launched";
    EXPECT_TRUE(Exists(File("")));
    // The script may still hold its file after writing the marker; deleted then, it would go only when the
    // script ends, taking the next case's file of the same name with it.
    EXPECT_TRUE(ProcessRunner::WaitUntil(30000, [&] {
        HANDLE file = CreateFileA(File("").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(file);
        return true;
    })) << "the launched script kept its file";
}

TEST_F(DesktopDownload, FailedDownloadLeavesTheUsersFile) {
    {
        std::ofstream mine(File(""), std::ios::binary);
        mine << "the user's own";
    }
    server_.SetRoute("/data/tarvex-update-test.cmd", 200, "@echo forged\r\n");
    BoxAnswerer user(IDYES);
    EXPECT_EQ(0, Check(user));
    EXPECT_FALSE(CloseWasPosted());
    std::ifstream in(File(""), std::ios::binary);
    EXPECT_EQ("the user's own",
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    EXPECT_FALSE(Exists(File("_new")));
    EXPECT_FALSE(Exists(File("_old")));
    EXPECT_FALSE(Exists(marker_));
}

} // namespace

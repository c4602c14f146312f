// The update check of the real Tarvex.exe, copied into a program folder of its own and pointed by
// "UpdateUrl" at the loopback server: the query it sends, the questions (answered here as a user would),
// declined versions, the install with its staged names, archives and rollback, and the restart.
#include "base/SpecialFolder.h"
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"
#include "tests/common/ArchiveMaker.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>
#include <ctime>
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

// The answer document: version, the files list and the restart element as given.
std::string AnswerDocument(const char *version, const std::string &files, const std::string &restart) {
    return std::string("<?xml version=\"1.0\"?><update><application>") + kCaption +
           "</application><info><en>Version " + version + " is out.</en></info><version>" + version +
           "</version><files>" + files + "</files>" + restart + "</update>";
}

class UpdateWindow : public ::testing::Test {
protected:
    UpdateWindow()
        : autoUpdate_(HKEY_CURRENT_USER, kKey, "AutoUpdate"),
          lastCheck_(HKEY_CURRENT_USER, kKey, "LastCheck"),
          declined_(HKEY_CURRENT_USER, kKey, "LastCheckVersion"), url_(HKEY_CURRENT_USER, kKey, "UpdateUrl") {
    }

    void SetUp() override {
        ASSERT_TRUE(server_.Start(300)) << server_.Problem();
        const std::string program = folder_.File(TARVEX_PROGRAM_FILE);
        ASSERT_TRUE(CopyFileA(TarvexDriver::ProgramPath().c_str(), program.c_str(), FALSE));
        TarvexDriver::SetProgramPath(program);
        WriteUserDword(kKey, "AutoUpdate", 1);
        DeleteUserValue(kKey, "LastCheck");
        DeleteUserValue(kKey, "LastCheckVersion");
        WriteUserString(kKey, "UpdateUrl", server_.Url("/data/update.php?p=tarvex").c_str());
    }
    void TearDown() override { TarvexDriver::SetProgramPath(""); }

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

    LoopbackServer server_;
    TempFolder folder_{"UpdateProgram"};
    SavedRegistryValue autoUpdate_, lastCheck_, declined_, url_;
};

TEST_F(UpdateWindow, QueryCarriesVersionAndIdentifierAndStoresTheTime) {
    Serve(AnswerDocument("1.00", "", ""));
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
    Serve(AnswerDocument("1.01", "<url name=\"data.txt\">" + server_.Url("/files/data.txt") + "</url>", ""));
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

// ---- installs ----

struct InstallCase {
    const char *name;
    std::vector<std::pair<std::string, std::string>> before; // files in the program folder
    std::string files;                                       // the <files> list, "@" for the server
    std::vector<std::pair<std::string, std::string>> after;  // expected content; "" = must not exist
};

class UpdateInstall : public UpdateWindow, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(UpdateInstall, FolderEndsAsExpectedAndNothingIsLaunched) {
    const InstallCase &c = GetParam();
    for (const auto &file : c.before)
        ASSERT_TRUE(folder_.WriteFile(file.first.c_str(), file.second));
    for (const char *served : {"data.txt", "readme.html", "b.txt"})
        server_.SetRoute((std::string("/files/") + served).c_str(), 200, std::string("new ") + served);
    TempFolder scratch("UpdateZip");
    std::string zip;
    ASSERT_TRUE(
        MakeArchive(scratch.File("pack.zip"), {{"zipped.txt", "new zipped"}, {"sub/inner.txt", "inner"}}));
    zip = scratch.ReadFile("pack.zip");
    server_.SetRoute("/files/pack.zip", 200, zip);
    std::string files = c.files;
    for (size_t at; (at = files.find('@')) != std::string::npos;)
        files.replace(at, 1, server_.Url("/files/"));
    // No restart element: the files go in place, nothing is launched and the window stays.
    Serve(AnswerDocument("1.01", files, ""));
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDYES);
    // The install is over once the last "_new" file is gone or the rollback has run; give it time.
    Sleep(3000);
    for (const auto &file : c.after) {
        if (file.second.empty())
            EXPECT_FALSE(Exists(folder_.File(file.first.c_str()))) << c.name << ": " << file.first;
        else
            EXPECT_EQ(file.second, folder_.ReadFile(file.first.c_str())) << c.name << ": " << file.first;
    }
    EXPECT_TRUE(driver.Running());
    EXPECT_TRUE(IsWindow(driver.Dialog()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateInstall,
    ::testing::Values(
        InstallCase{"FilesAndArchive",
                    {{"data.txt", "old data"}, {"readme.html", "old readme"}, {"zipped.txt", "old zipped"}},
                    "<url name=\"data.txt\">@data.txt</url><url name=\"readme.html\">@readme.html</url>"
                    "<url name=\"zipped.txt\" zip=\"pack.zip\">@pack.zip</url>",
                    {{"data.txt", "new data.txt"},
                     {"data_old.txt", "old data"},
                     {"readme.html", "new readme.html"},
                     {"readme.html_old.html", "old readme"},
                     {"zipped.txt", "new zipped"},
                     {"zipped_old.txt", "old zipped"},
                     {"sub\\inner.txt", "inner"},
                     {"pack_new.zip", ""},
                     {"data_new.txt", ""},
                     {"readme.html_new.html", ""}}},
        // b.txt is not in the folder: the backup fails there and a.txt comes back.
        InstallCase{
            "RollbackWhenABackupFails",
            {{"data.txt", "old data"}},
            "<url name=\"data.txt\">@data.txt</url><url name=\"b.txt\">@b.txt</url>",
            {{"data.txt", "old data"}, {"data_old.txt", ""}, {"data_new.txt", ""}, {"b_new.txt", ""}}},
        InstallCase{"RollbackWhenADownloadFails",
                    {{"data.txt", "old data"}},
                    "<url name=\"data.txt\">@data.txt</url><url name=\"c.txt\">@missing.txt</url>",
                    {{"data.txt", "old data"}, {"data_new.txt", ""}, {"c_new.txt", ""}}},
        InstallCase{"NameOutsideTheFolderIsRefused",
                    {{"data.txt", "old data"}},
                    "<url name=\"data.txt\">@data.txt</url><url name=\"..\\evil.txt\">@b.txt</url>",
                    {{"data.txt", "old data"},
                     {"data_new.txt", ""},
                     {"..\\evil.txt", ""},
                     {"..\\evil_new.txt", ""}}}),
    [](const ::testing::TestParamInfo<InstallCase> &info) { return info.param.name; });

// ---- restarts ----

TEST_F(UpdateWindow, RestartQuestionThenTheNewProgramStartsAndTheOldWindowCloses) {
    const std::string program = folder_.File(TARVEX_PROGRAM_FILE);
    server_.SetRoute("/files/" TARVEX_PROGRAM_FILE, 200, folder_.ReadFile(TARVEX_PROGRAM_FILE));
    Serve(AnswerDocument("1.01", "<url name=\"" TARVEX_PROGRAM_FILE "\">" + server_.Url("/files/" TARVEX_PROGRAM_FILE) + "</url>",
                         "<restart><en>Restart now?</en></restart>"));
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

TEST_F(UpdateWindow, EmptyRestartTextLaunchesTheDesktopDownloadAtOnce) {
    // Where the program puts a download without a name: the user's desktop.
    char desktop[MAX_PATH] = {};
    ASSERT_TRUE(SpecialFolder(0, desktop));
    const std::string launched = std::string(desktop) + "\\tarvex-update-test.cmd";
    const std::string marker = folder_.File("launched.txt");
    DeleteFileA(launched.c_str());
    server_.SetRoute("/files/get", 200, "@echo launched> \"" + marker + "\"\r\n");
    Serve(AnswerDocument("1.01", "<url>" + server_.Url("/files/get?f=tarvex-update-test.cmd") + "</url>",
                         "<restart><en></en></restart>"));
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDYES);
    EXPECT_TRUE(driver.WaitForExit(kWaitMs)) << "the window did not close";
    EXPECT_TRUE(TarvexDriver::WaitUntil(kWaitMs, [&] { return Exists(marker); })) << "nothing was launched";
    EXPECT_TRUE(Exists(launched));
    DeleteFileA(launched.c_str());
}

} // namespace

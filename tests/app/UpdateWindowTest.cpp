// The update check of the real Tarvex.exe, copied into a program folder of its own and pointed by
// "UpdateUrl" at the loopback server: the window's part of it. The query it sends, the question (answered
// here as a user would) from the weekly check and from the box, Yes installing and the restart. What the
// check does with an answer is tested in-process (tests/update/UpdateInstallTest.cpp).
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/ProcessRunner.h"
#include "tests/common/PublishTool.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>
#include <ctime>
#include <string>

namespace {

const char *const kKey = kTarvexSettingsKey;
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

// The maker's test key pair; the copied program carries its public half.
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
    std::string Publish(const PublishTool::Files &release, const std::string &arguments) {
        TempFolder work("Publish");
        std::string answer;
        EXPECT_EQ(1, PublishTool::MakeAnswer(work, keys->File("maker.key"), release,
                                             "--application \"" + std::string(kCaption) + "\" " + arguments,
                                             answer));
        for (const auto &file : release)
            server_.SetRoute(("/data/" + file.first).c_str(), 200, file.second);
        EXPECT_TRUE(server_.SetRoute("/data/update.php", 200, answer));
        return answer;
    }
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
    // The weekly gate itself is UpdateClientTest's table: the stored time shows the window asks it.
}

TEST_F(UpdateWindow, WeeklyQuestionDeclinedThenTheBoxAsksAgain) {
    Publish({{"data.txt", "new data"}}, "--version 1.01 --info en=New");
    TarvexDriver driver;
    Start(driver);
    Answer(driver, IDNO);
    ASSERT_TRUE(TarvexDriver::WaitUntil(5000, [] { return ReadUserString("LastCheckVersion") == "1.01"; }));
    // Ticking the box checks at once, without the week's gate and the declined version.
    driver.Click(IDC_AUTOUPDATE);
    ASSERT_TRUE(TarvexDriver::WaitUntil(5000, [&] { return driver.Checked(IDC_AUTOUPDATE) == 0; }));
    driver.Click(IDC_AUTOUPDATE);
    Answer(driver, IDNO);
    EXPECT_EQ(2, QueriesSoFar());
}

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

} // namespace

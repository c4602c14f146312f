// SpecialFolder against the running system, with HKEY_LOCAL_MACHINE redirected for the machine temp folder.
#include "base/SpecialFolder.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TestRegistry.h"
#include <shlobj.h>
#include <gtest/gtest.h>
#include <string>

namespace {
const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

int IsDirectory(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int EndsInBackslash(const std::string &path) {
    return !path.empty() && path.back() == '\\';
}

std::string Lower(std::string text) {
    CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string Environment(const char *name) {
    char value[1024] = {};
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? value : "";
}

std::string WindowsDirectoryWithBackslash() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string path = windows;
    if (!EndsInBackslash(path))
        path += '\\';
    return path;
}

// Sets an environment variable for the scope of a test and puts the old value back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char *name, const char *value) : name_(name) {
        char old[32768];
        DWORD length = GetEnvironmentVariableA(name, old, sizeof(old));
        hadValue_ = length > 0 && length < sizeof(old);
        if (hadValue_)
            old_ = old;
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), hadValue_ ? old_.c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    std::string name_, old_;
    int hadValue_ = 0;
};

// The machine temp folder with HKEY_LOCAL_MACHINE seen through a private test key.
std::string MachineTempWith(ScopedTestKey &machine, int *result) {
    ScopedRootRedirect redirect(HKEY_LOCAL_MACHINE, machine.Handle());
    EXPECT_TRUE(redirect.Active());
    char buffer[MAX_PATH];
    *result = SpecialFolder(MachineTempFolder, buffer);
    return buffer;
}
} // namespace

// --- EnsureBackslash -------------------------------------------------------------------------------

TEST(EnsureBackslash, AppendsOnlyWhenMissing) {
    char text[MAX_PATH] = "C:\\dir";
    EXPECT_EQ(1, EnsureBackslash(text));
    EXPECT_STREQ("C:\\dir\\", text);
    EXPECT_EQ(1, EnsureBackslash(text));
    EXPECT_STREQ("C:\\dir\\", text);
    char empty[MAX_PATH] = "";
    EXPECT_EQ(1, EnsureBackslash(empty));
    EXPECT_STREQ("\\", empty);
}

TEST(EnsureBackslash, NeverWritesPastTheBuffer) {
    char text[MAX_PATH + 1];
    memset(text, 'a', sizeof(text));
    text[MAX_PATH - 1] = 0; // 259 characters: full
    text[MAX_PATH] = '#';   // guard byte behind the 260-byte buffer
    EXPECT_EQ(0, EnsureBackslash(text));
    EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), strlen(text));
    EXPECT_EQ('#', text[MAX_PATH]);
    text[MAX_PATH - 2] = 0; // 258 characters: room for exactly one more
    EXPECT_EQ(1, EnsureBackslash(text));
    EXPECT_EQ('\\', text[MAX_PATH - 2]);
    EXPECT_EQ(0, text[MAX_PATH - 1]);
    EXPECT_EQ('#', text[MAX_PATH]);
}

// --- the machine temporary folder ------------------------------------------------------------------

TEST(SpecialFolderMachineTemp, WithoutVariablesFallsBackToWindowsTemp) {
    ScopedTestKey machine("MachineTemp");
    ASSERT_TRUE(machine.Valid());
    int result = 0;
    std::string path = MachineTempWith(machine, &result);
    EXPECT_EQ(1, result);
    EXPECT_EQ(WindowsDirectoryWithBackslash() + "Temp\\", path);
}

TEST(SpecialFolderMachineTemp, TmpWinsAndIsExpanded) {
    ScopedTestKey machine("MachineTemp");
    ASSERT_TRUE(machine.Valid());
    ScopedEnvironment variable("TARVEX_TEST_ROOT", "C:\\expanded");
    const char tmp[] = "%TARVEX_TEST_ROOT%\\tmp";
    ASSERT_EQ(1, machine.SetRaw(kEnvironmentKey, "TMP", REG_EXPAND_SZ, tmp, sizeof(tmp)));
    ASSERT_EQ(1, machine.SetString(kEnvironmentKey, "TEMP", "C:\\other"));
    int result = 0;
    EXPECT_EQ("C:\\expanded\\tmp\\", MachineTempWith(machine, &result));
    EXPECT_EQ(1, result);
}

TEST(SpecialFolderMachineTemp, TempServesWhenTmpIsMissingOrEmpty) {
    ScopedTestKey machine("MachineTemp");
    ASSERT_TRUE(machine.Valid());
    ASSERT_EQ(1, machine.SetString(kEnvironmentKey, "TEMP", "C:\\from-temp\\"));
    int result = 0;
    EXPECT_EQ("C:\\from-temp\\", MachineTempWith(machine, &result));
    EXPECT_EQ(1, result);
    // An empty TMP would give "\", the root of whatever drive is current.
    ASSERT_EQ(1, machine.SetString(kEnvironmentKey, "TMP", ""));
    EXPECT_EQ("C:\\from-temp\\", MachineTempWith(machine, &result));
}

TEST(SpecialFolderMachineTemp, ExpansionTooLongForThePathBufferIsNotUsed) {
    ScopedTestKey machine("MachineTemp");
    ASSERT_TRUE(machine.Valid());
    std::string longValue(300, 'x');
    ScopedEnvironment variable("TARVEX_TEST_LONG", longValue.c_str());
    ASSERT_EQ(1, machine.SetRaw(kEnvironmentKey, "TMP", REG_EXPAND_SZ, "%TARVEX_TEST_LONG%", 19));
    int result = 0;
    EXPECT_EQ(WindowsDirectoryWithBackslash() + "Temp\\", MachineTempWith(machine, &result));
    EXPECT_EQ(1, result);
}

// --- the system's own directories ------------------------------------------------------------------

TEST(SpecialFolderSystem, WindowsAndSystemDirectoriesExistAndEndInBackslash) {
    char windows[MAX_PATH], system[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(WindowsFolder, windows));
    ASSERT_EQ(1, SpecialFolder(SystemFolder, system));
    EXPECT_TRUE(EndsInBackslash(windows));
    EXPECT_TRUE(EndsInBackslash(system));
    EXPECT_TRUE(IsDirectory(windows));
    EXPECT_TRUE(IsDirectory(system));
    // The system directory lies inside the Windows directory.
    EXPECT_EQ(0u, Lower(system).find(Lower(windows)));
    EXPECT_GT(strlen(system), strlen(windows));
}

TEST(SpecialFolderSystem, CurrentDirectoryEndsInBackslash) {
    TempFolder folder("Current");
    ASSERT_TRUE(folder.Valid());
    char previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, previous));
    std::string inside = std::string(folder.Path()) + "sub";
    ASSERT_TRUE(CreateDirectoryA(inside.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(inside.c_str()));
    char buffer[MAX_PATH];
    int result = SpecialFolder(CurrentFolder, buffer);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(1, result);
    EXPECT_EQ(Lower(inside + "\\"), Lower(buffer));
}

TEST(SpecialFolderSystem, TempPathEndsInBackslash) {
    char buffer[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(TempPathFolder, buffer));
    EXPECT_TRUE(EndsInBackslash(buffer));
    EXPECT_TRUE(IsDirectory(buffer));
}

TEST(SpecialFolderSystem, TempPathTooLongIsAFailureNotARootFolder) {
    std::string longPath = "C:\\" + std::string(300, 't');
    ScopedEnvironment tmp("TMP", longPath.c_str());
    ScopedEnvironment temp("TEMP", longPath.c_str());
    char buffer[MAX_PATH];
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, SpecialFolder(TempPathFolder, buffer));
    EXPECT_STREQ("", buffer);
}

// --- profiles --------------------------------------------------------------------------------------

TEST(SpecialFolderProfiles, UserProfileMatchesTheEnvironmentAndLiesInTheProfilesFolder) {
    char profiles[MAX_PATH], user[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(ProfilesFolder, profiles));
    ASSERT_EQ(1, SpecialFolder(UserProfileFolder, user));
    std::string expected = Environment("USERPROFILE");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Lower(expected), Lower(user));
    std::string parent = Lower(profiles);
    if (!EndsInBackslash(parent))
        parent += '\\';
    EXPECT_EQ(0u, Lower(user).find(parent));
}

// Some systems (Wine among them) do not provide the default profile: then the buffer must say so.
TEST(SpecialFolderProfiles, DefaultUserProfileIsAnotherProfileOrNothing) {
    char profiles[MAX_PATH], user[MAX_PATH], defaultUser[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(ProfilesFolder, profiles));
    ASSERT_EQ(1, SpecialFolder(UserProfileFolder, user));
    memset(defaultUser, 'z', sizeof(defaultUser));
    if (SpecialFolder(DefaultUserProfileFolder, defaultUser)) {
        EXPECT_EQ(0u, Lower(defaultUser).find(Lower(profiles)));
        EXPECT_NE(Lower(user), Lower(defaultUser));
    } else {
        EXPECT_STREQ("", defaultUser);
    }
}

// --- shell folders ---------------------------------------------------------------------------------

TEST(SpecialFolderShell, LocalApplicationDataMatchesTheEnvironment) {
    std::string expected = Environment("LOCALAPPDATA");
    if (expected.empty())
        GTEST_SKIP() << "LOCALAPPDATA is not set";
    char buffer[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(CSIDL_LOCAL_APPDATA, buffer));
    EXPECT_EQ(Lower(expected), Lower(buffer));
}

TEST(SpecialFolderShell, DesktopIsAFolder) {
    char buffer[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(CSIDL_DESKTOPDIRECTORY, buffer));
    EXPECT_TRUE(IsDirectory(buffer));
    char desktop[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(0, desktop));
    EXPECT_EQ(Lower(buffer), Lower(desktop));
}

TEST(SpecialFolderShell, UnknownOrVirtualFoldersGiveNothing) {
    char buffer[MAX_PATH];
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, SpecialFolder(0xFF, buffer));
    EXPECT_STREQ("", buffer);
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, SpecialFolder(CSIDL_DRIVES, buffer)); // "My Computer" has no file system path
    EXPECT_STREQ("", buffer);
}

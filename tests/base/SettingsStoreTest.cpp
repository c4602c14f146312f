// IniSettings and SettingsStore: file locations, the doubling reader, numbers, and the store's modes
// against real INI files and real registry keys.
#include "base/IniSettings.h"
#include "base/SettingsStore.h"
#include "base/TextString.h"
#include "tests/common/TempFolder.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string>

namespace {
std::string ProgramDirectory() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.rfind('\\') + 1);
}

int FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Pattern(size_t length) {
    std::string text(length, ' ');
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>('A' + i % 23);
    return text;
}

// What the platform itself reads from the file, for checking writes independently of the reader.
std::string PlatformRead(const std::string &file, const char *section, const char *key) {
    char buffer[512] = {};
    GetPrivateProfileStringA(section, key, "<missing>", buffer, sizeof(buffer), file.c_str());
    return buffer;
}

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const char *path) {
        GetCurrentDirectoryA(sizeof(saved_), saved_);
        changed_ = SetCurrentDirectoryA(path) != FALSE;
    }
    ~ScopedCurrentDirectory() { SetCurrentDirectoryA(saved_); }
    int Changed() const { return changed_; }

private:
    char saved_[MAX_PATH + 1] = {};
    int changed_ = 0;
};

class IniSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Valid());
        ASSERT_EQ(1, ini_.SetFile(file_.c_str(), 99)); // another kind: appended to the (empty) path
        ASSERT_EQ(file_, ini_.Path());
    }
    TempFolder folder_{"Ini"};
    std::string file_ = folder_.File("settings.ini");
    IniSettings ini_;
};
} // namespace

// --- Where the file lives
// -----------------------------------------------------------------------------------

TEST(IniSettingsLocation, ProgramDirectoryKind) {
    IniSettings ini;
    ASSERT_EQ(1, ini.SetFile("beside.ini", kIniProgramDirectory));
    EXPECT_EQ(ProgramDirectory() + "beside.ini", ini.Path());
}

TEST(IniSettingsLocation, WindowsDirectoryKindKeepsTheBareName) {
    char windows[MAX_PATH + 1] = {};
    ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
    char name[64];
    snprintf(name, sizeof(name), "TarvexTest-%lu.ini", GetCurrentProcessId());
    std::string expected = std::string(windows) + "\\" + name;
    DeleteFileA(expected.c_str());

    IniSettings ini;
    ASSERT_EQ(1, ini.SetFile(name, kIniWindowsDirectory));
    EXPECT_STREQ(name, ini.Path());
    // The platform resolves the bare name in the Windows directory.
    EXPECT_EQ(1, ini.WriteString("Section", "Key", "value"));
    EXPECT_TRUE(FileExists(expected));
    EXPECT_EQ("value", PlatformRead(expected, "Section", "Key"));
    DeleteFileA(expected.c_str());
}

TEST(IniSettingsLocation, LocalAppDataKindOnVistaAndLater) {
    OSVERSIONINFOA record = {};
    record.dwOSVersionInfoSize = sizeof(record);
    ASSERT_TRUE(GetVersionExA(&record));
    IniSettings ini;
    ASSERT_EQ(1, ini.SetFile("local.ini", kIniLocalAppData));
    if (record.dwPlatformId == VER_PLATFORM_WIN32_NT && record.dwMajorVersion >= 6) {
        char folder[MAX_PATH + 1] = {};
        ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder)));
        std::string expected = folder;
        if (expected.back() != '\\')
            expected += '\\';
        EXPECT_EQ(expected + "local.ini", ini.Path());
    } else {
        EXPECT_EQ(ProgramDirectory() + "local.ini", ini.Path());
    }
}

TEST(IniSettingsLocation, CurrentDirectoryKindAddsTheSeparatorOnce) {
    TempFolder folder("Cwd");
    ASSERT_TRUE(folder.Valid());
    IniSettings ini;
    {
        ScopedCurrentDirectory cwd(folder.Path());
        ASSERT_TRUE(cwd.Changed());
        ASSERT_EQ(1, ini.SetFile("here.ini", kIniCurrentDirectory));
    }
    EXPECT_EQ(folder.File("here.ini"), ini.Path());
    {
        ScopedCurrentDirectory cwd("C:\\");
        ASSERT_TRUE(cwd.Changed());
        ASSERT_EQ(1, ini.SetFile("root.ini", kIniCurrentDirectory));
    }
    EXPECT_STREQ("C:\\root.ini", ini.Path());
}

TEST(IniSettingsLocation, OtherKindsAppendToThePreviousPath) {
    IniSettings ini;
    ASSERT_EQ(1, ini.SetFile("sub\\", kIniProgramDirectory));
    ASSERT_EQ(1, ini.SetFile("file.ini", 7));
    EXPECT_EQ(ProgramDirectory() + "sub\\file.ini", ini.Path());
}

// --- Reading texts
// ---------------------------------------------------------------------------------------------

TEST_F(IniSettingsTest, MissingKeyGivesTheDefaultOrEmpty) {
    TextString text;
    EXPECT_EQ(1, ini_.ReadString("Settings", "Missing", text, "fallback"));
    EXPECT_STREQ("fallback", text.Text());
    text = "stale";
    EXPECT_EQ(1, ini_.ReadString("Settings", "Missing", text));
    EXPECT_STREQ("", text.Text());
}

TEST_F(IniSettingsTest, WrittenTextReadsBack) {
    ASSERT_EQ(1, ini_.WriteString("Settings", "Name", "some value"));
    EXPECT_EQ("some value", PlatformRead(file_, "Settings", "Name"));
    TextString text;
    EXPECT_EQ(1, ini_.ReadString("Settings", "Name", text));
    EXPECT_STREQ("some value", text.Text());
    EXPECT_EQ(10, text.Length());
}

TEST_F(IniSettingsTest, ThousandCharactersNeedTwoDoublings) {
    std::string value = Pattern(1000);
    ASSERT_EQ(1, ini_.WriteString("Settings", "Long", value.c_str()));
    TextString text; // capacity 260
    ASSERT_EQ(1, ini_.ReadString("Settings", "Long", text));
    EXPECT_EQ(value, text.Text());
    EXPECT_EQ(1034u, text.Capacity()); // 260 -> 518 -> 1,034
}

TEST_F(IniSettingsTest, ValueThatExactlyFillsTheBufferIsStillWhole) {
    // 258 characters fill the 259 offered to the last one, which looks like a cut value: read again, bigger.
    std::string value = Pattern(258);
    ASSERT_EQ(1, ini_.WriteString("Settings", "Edge", value.c_str()));
    TextString text;
    ASSERT_EQ(1, ini_.ReadString("Settings", "Edge", text));
    EXPECT_EQ(value, text.Text());
    std::string shorter = Pattern(257);
    ASSERT_EQ(1, ini_.WriteString("Settings", "Shorter", shorter.c_str()));
    TextString first;
    ASSERT_EQ(1, ini_.ReadString("Settings", "Shorter", first));
    EXPECT_EQ(shorter, first.Text());
    EXPECT_EQ(260u, first.Capacity());
}

TEST_F(IniSettingsTest, SeveralThousandCharactersComeBackWhole) {
    std::string value = Pattern(6000);
    ASSERT_EQ(1, ini_.WriteString("Settings", "Huge", value.c_str()));
    TextString text;
    ASSERT_EQ(1, ini_.ReadString("Settings", "Huge", text));
    EXPECT_EQ(6000, text.Length());
    EXPECT_EQ(value, text.Text());
}

TEST_F(IniSettingsTest, ValueLongerThanSixAttemptsStaysCut) {
    std::string value = Pattern(10000);
    ASSERT_EQ(1, ini_.WriteString("Settings", "TooLong", value.c_str()));
    TextString text;
    ASSERT_EQ(1, ini_.ReadString("Settings", "TooLong", text));
    // The sixth attempt offers 8,257 characters: 8,256 and the terminator.
    EXPECT_EQ(8258u, text.Capacity());
    EXPECT_EQ(8256, text.Length());
    EXPECT_EQ(value.substr(0, 8256), text.Text());
}

TEST_F(IniSettingsTest, TinyOutputStringStillGrows) {
    ASSERT_EQ(1, ini_.WriteString("Settings", "Name", "a value longer than one byte"));
    TextString text(1);
    ASSERT_EQ(1, ini_.ReadString("Settings", "Name", text));
    EXPECT_STREQ("a value longer than one byte", text.Text());
}

TEST_F(IniSettingsTest, DefaultMayBeTheOutputItself) {
    std::string value = Pattern(700);
    TextString text;
    text = value.c_str();
    ASSERT_EQ(1, ini_.ReadString("Settings", "Missing", text, text.Text()));
    EXPECT_EQ(value, text.Text());
}

// --- Numbers -----------------------------------------------------------------------------------------------

TEST_F(IniSettingsTest, NumbersRoundTripAcrossSixtyFourBits) {
    ASSERT_EQ(1, ini_.WriteNumber("Numbers", "Max", 18446744073709551615ull));
    EXPECT_EQ("18446744073709551615", PlatformRead(file_, "Numbers", "Max"));
    EXPECT_EQ(18446744073709551615ull, ini_.ReadNumber("Numbers", "Max", 1));
    ASSERT_EQ(1, ini_.WriteNumber("Numbers", "Zero", 0));
    EXPECT_EQ(0u, ini_.ReadNumber("Numbers", "Zero", 1));
}

TEST_F(IniSettingsTest, TextThatIsNotANumberGivesTheDefault) {
    ASSERT_TRUE(folder_.WriteFile("numbers.ini", "[N]\r\nWord=abc\r\nEmpty=\r\nLeading=7 apples\r\n"
                                                 "Spaced=   42   \r\n"));
    IniSettings ini;
    ASSERT_EQ(1, ini.SetFile(folder_.File("numbers.ini").c_str(), 99));
    EXPECT_EQ(5u, ini.ReadNumber("N", "Word", 5));
    EXPECT_EQ(6u, ini.ReadNumber("N", "Empty", 6));
    EXPECT_EQ(8u, ini.ReadNumber("N", "Missing", 8));
    EXPECT_EQ(7u, ini.ReadNumber("N", "Leading", 9)); // one number, then text
    EXPECT_EQ(42u, ini.ReadNumber("N", "Spaced", 9));
}

// --- SettingsStore
// ------------------------------------------------------------------------------------------

namespace {
// The store's own INI file beside the test program; removed once all tests have run.
std::string StoreIniPath() {
    return ProgramDirectory() + "SettingsStoreTest.ini";
}

class SettingsStoreTest : public ::testing::Test {
protected:
    static void TearDownTestSuite() { DeleteFileA(StoreIniPath().c_str()); }
    void SetUp() override { ASSERT_TRUE(key_.Valid()); }
    ScopedTestKey key_{"Store"};
};
} // namespace

TEST_F(SettingsStoreTest, InitNamesTheIniFileAfterTheProgram) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreIni, HKEY_CURRENT_USER, key_.Path()));
    EXPECT_EQ(StoreIniPath(), store.Ini().Path());
    SettingsStore named;
    ASSERT_EQ(1, named.Init(kStoreIni, HKEY_CURRENT_USER, key_.Path(), "other.ini"));
    EXPECT_EQ(ProgramDirectory() + "other.ini", named.Ini().Path());
}

TEST_F(SettingsStoreTest, KeyPathJoinsTheSubkeyWithoutALeadingSeparator) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreRegistry, HKEY_CURRENT_USER, "Software\\Maker\\Tool"));
    TextString path;
    ASSERT_EQ(1, store.KeyPath(path, "Sub"));
    EXPECT_STREQ("Software\\Maker\\Tool\\Sub", path.Text());
    // Below the root itself the subkey stands alone: the registry refuses a path that starts with '\'.
    ASSERT_EQ(1, store.Init(kStoreRegistry, HKEY_CURRENT_USER, ""));
    ASSERT_EQ(1, store.KeyPath(path, key_.Path()));
    EXPECT_STREQ(key_.Path(), path.Text());
    ASSERT_EQ(1, store.WriteNumber("Value", 9, key_.Path()));
    EXPECT_EQ(9u, store.ReadNumber("Value", 0, key_.Path()));
}

TEST_F(SettingsStoreTest, IniModeUsesTheSettingsSectionBesideTheProgram) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreIni, HKEY_CURRENT_USER, key_.Path()));
    ASSERT_EQ(1, store.WriteNumber("LastCheck", 1234567890u));
    ASSERT_EQ(1, store.WriteString("LastCheckVersion", "2.5"));
    EXPECT_EQ("1234567890", PlatformRead(StoreIniPath(), "Settings", "LastCheck"));
    EXPECT_EQ("2.5", PlatformRead(StoreIniPath(), "Settings", "LastCheckVersion"));
    EXPECT_EQ(1234567890u, store.ReadNumber("LastCheck", 0));
    TextString text;
    EXPECT_EQ(1, store.ReadString("LastCheckVersion", text));
    EXPECT_STREQ("2.5", text.Text());
    // Nothing went to the registry.
    EXPECT_FALSE(key_.GetRaw(nullptr, "LastCheck", nullptr, nullptr));
}

TEST_F(SettingsStoreTest, IniModeTakesTheLastArgumentAsSection) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreIni, HKEY_CURRENT_USER, key_.Path()));
    ASSERT_EQ(1, store.WriteNumber("Counter", 17, "Other"));
    EXPECT_EQ("17", PlatformRead(StoreIniPath(), "Other", "Counter"));
    EXPECT_EQ("<missing>", PlatformRead(StoreIniPath(), "Settings", "Counter"));
    EXPECT_EQ(17u, store.ReadNumber("Counter", 0, "Other"));
    EXPECT_EQ(3u, store.ReadNumber("Counter", 3));
}

TEST_F(SettingsStoreTest, IniModeNumbersAreCutToThirtyTwoBitsAndJunkGivesTheDefault) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreIni, HKEY_CURRENT_USER, key_.Path()));
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "Wide", "4294967301", StoreIniPath().c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "Junk", "soon", StoreIniPath().c_str()));
    EXPECT_EQ(5u, store.ReadNumber("Wide", 0));
    EXPECT_EQ(99u, store.ReadNumber("Junk", 99));
}

TEST_F(SettingsStoreTest, IniModeReadStringSucceedsWithTheDefault) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreIni, HKEY_CURRENT_USER, key_.Path()));
    TextString text;
    EXPECT_EQ(1, store.ReadString("NeverWritten", text, "default"));
    EXPECT_STREQ("default", text.Text());
}

TEST_F(SettingsStoreTest, RegistryModeUsesTheKeyPathAndSubkeys) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreRegistry, HKEY_CURRENT_USER, key_.Path(), "RegistryMode.ini"));
    ASSERT_EQ(1, store.WriteNumber("LastCheck", 42));
    ASSERT_EQ(1, store.WriteString("Text", "hello", "Sub"));
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(key_.GetRaw(nullptr, "LastCheck", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    ASSERT_TRUE(key_.GetRaw("Sub", "Text", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(42u, store.ReadNumber("LastCheck", 0));
    EXPECT_EQ(7u, store.ReadNumber("LastCheck", 7, "Sub"));
    TextString text;
    EXPECT_EQ(1, store.ReadString("Text", text, nullptr, "Sub"));
    EXPECT_STREQ("hello", text.Text());
    EXPECT_EQ(0, store.ReadString("Missing", text, "fallback"));
    EXPECT_STREQ("fallback", text.Text());
    EXPECT_FALSE(FileExists(ProgramDirectory() + "RegistryMode.ini"));
}

TEST_F(SettingsStoreTest, RegistryWinsWhenBothModesAreSet) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(kStoreRegistry | kStoreIni, HKEY_CURRENT_USER, key_.Path(), "BothModes.ini"));
    ASSERT_EQ(1, store.WriteNumber("Value", 5));
    ASSERT_EQ(1, store.WriteString("Text", "x"));
    EXPECT_TRUE(key_.GetRaw(nullptr, "Value", nullptr, nullptr));
    EXPECT_TRUE(key_.GetRaw(nullptr, "Text", nullptr, nullptr));
    std::string ini = ProgramDirectory() + "BothModes.ini";
    EXPECT_FALSE(FileExists(ini));
    DeleteFileA(ini.c_str());
}

TEST_F(SettingsStoreTest, NoModeStoresNothingAndReadsDefaults) {
    SettingsStore store;
    ASSERT_EQ(1, store.Init(0, HKEY_CURRENT_USER, key_.Path(), "NoMode.ini"));
    EXPECT_EQ(11u, store.ReadNumber("Value", 11));
    EXPECT_EQ(0, store.WriteNumber("Value", 5));
    EXPECT_EQ(0, store.WriteString("Text", "x"));
    TextString text;
    text = "stale";
    EXPECT_EQ(0, store.ReadString("Text", text, "default"));
    EXPECT_STREQ("default", text.Text());
    EXPECT_FALSE(key_.GetRaw(nullptr, "Value", nullptr, nullptr));
    std::string ini = ProgramDirectory() + "NoMode.ini";
    EXPECT_FALSE(FileExists(ini));
    DeleteFileA(ini.c_str());
}

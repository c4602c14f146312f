// ModuleInfo tests: version numbers and caption from real version blocks, module paths, resource lookup
// across languages and system error texts.
#include "base/ModuleInfo.h"
#include "base/TextString.h"
#include "tests/common/resources/TestIds.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string OwnDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path);
    return text.substr(0, text.rfind('\\') + 1);
}

// Loads one of the probe modules built beside the test program.
class ProbeModule {
public:
    explicit ProbeModule(const char *name) { module_ = LoadLibraryA((OwnDirectory() + name).c_str()); }
    ~ProbeModule() {
        if (module_)
            FreeLibrary(module_);
    }
    HMODULE Handle() const { return module_; }

private:
    HMODULE module_ = nullptr;
};

// ---- version numbers and caption ----

TEST(VersionCaption, GermanBlockIsReadBeforeTheEnglishOne) {
    ModuleInfo info;
    EXPECT_STREQ("Probe [2.07]", info.VersionCaption("Probe", nullptr));
}

TEST(VersionCaption, ModuleWithoutVersionBlockGivesOneDotOne) {
    ProbeModule probe("AppVersionNone.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    EXPECT_STREQ("Tarvex [1.01]", info.VersionCaption("Tarvex", probe.Handle()));
}

TEST(VersionCaption, EnglishOnlyBlockAndThirdNumberIgnored) {
    ProbeModule probe("AppVersionEnglish.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    char buffer[ModuleInfo::kPathSize];
    const char *caption = info.VersionCaption("Tarvex", probe.Handle(), buffer);
    EXPECT_EQ(buffer, caption);
    EXPECT_STREQ("Tarvex [4.15]", buffer);
}

TEST(VersionCaption, MissingSecondNumberKeepsOne) {
    ProbeModule probe("AppVersionMajorOnly.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    EXPECT_STREQ("X [7.01]", info.VersionCaption("X", probe.Handle()));
}

TEST(VersionCaption, OwnBufferIsReusedAndOverwritten) {
    ProbeModule probe("AppVersionLarge.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    const char *first = info.VersionCaption("A", nullptr);
    const char *second = info.VersionCaption("B", probe.Handle());
    EXPECT_EQ(first, second);
    EXPECT_STREQ("B [300.05]", second);
}

TEST(VersionNumbers, PacksTheLowBytesOfBothNumbers) {
    ProbeModule probe("AppVersionLarge.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    uint32_t number = 0;
    TextString text;
    EXPECT_EQ(1, info.VersionNumbers(probe.Handle(), &number, &text));
    // 300 & 0xFF = 44.
    EXPECT_EQ((44u << 8) | 5u, number);
    EXPECT_STREQ("300.5", text.Text());
}

TEST(VersionNumbers, NoVersionBlockGivesOneDotOneAndNoText) {
    ProbeModule probe("AppVersionNone.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    uint32_t number = 0;
    TextString text;
    text.Assign("stale");
    EXPECT_EQ(0, info.VersionNumbers(probe.Handle(), &number, &text));
    EXPECT_EQ(0x0101u, number);
    EXPECT_STREQ("", text.Text());
}

TEST(VersionString, GermanFirstThenEnglishThenNothing) {
    ModuleInfo info;
    TextString value;
    ASSERT_EQ(1, info.VersionString("CompanyName", value));
    EXPECT_STREQ("Probe GmbH", value.Text());
    ASSERT_EQ(1, info.VersionString("Comments", value));
    EXPECT_STREQ("english only", value.Text());
    value.Assign("kept");
    EXPECT_EQ(0, info.VersionString("NoSuchValue", value));
    EXPECT_STREQ("kept", value.Text());
}

TEST(VersionString, NamedFile) {
    ProbeModule probe("AppVersionEnglish.dll");
    ASSERT_TRUE(probe.Handle());
    ModuleInfo info;
    TextString value;
    ASSERT_EQ(1,
              info.VersionString("CompanyName", value, (OwnDirectory() + "AppVersionEnglish.dll").c_str()));
    EXPECT_STREQ("Probe English", value.Text());
    EXPECT_EQ(0, info.VersionString("CompanyName", value, (OwnDirectory() + "AppVersionNone.dll").c_str()));
    EXPECT_EQ(0, info.VersionString("CompanyName", value, (OwnDirectory() + "NoSuchFile.dll").c_str()));
}

// ---- module paths ----

TEST(ModulePaths, DirectoryKeepsTheBackslashAndPrefixesTheFileName) {
    char file[ModuleInfo::kPathSize], directory[ModuleInfo::kPathSize];
    ASSERT_EQ(1, ModuleInfo::ModuleFileName(nullptr, file));
    ASSERT_EQ(1, ModuleInfo::ModuleDirectory(nullptr, directory));
    size_t length = strlen(directory);
    ASSERT_GT(length, 0u);
    EXPECT_EQ('\\', directory[length - 1]);
    EXPECT_EQ(0, strncmp(file, directory, length));
    EXPECT_EQ(nullptr, strchr(file + length, '\\'));
    EXPECT_STREQ(OwnDirectory().c_str(), directory);
}

TEST(ModulePaths, OtherModule) {
    ProbeModule probe("AppVersionNone.dll");
    ASSERT_TRUE(probe.Handle());
    char file[ModuleInfo::kPathSize];
    ASSERT_EQ(1, ModuleInfo::ModuleFileName(probe.Handle(), file));
    EXPECT_EQ(0, lstrcmpiA(file, (OwnDirectory() + "AppVersionNone.dll").c_str()));
}

// ---- resource lookup ----

std::string DataText(const void *data, DWORD size) {
    return std::string(static_cast<const char *>(data), strnlen(static_cast<const char *>(data), size));
}

TEST(FindResourceAnyLanguage, ExactLanguageWinsOverOthers) {
    DWORD size = 0;
    const void *data = ModuleInfo::FindResourceAnyLanguage(GetModuleHandleA(nullptr), "TVXDATA",
                                                           MAKEINTRESOURCEA(ID_DATA_TWO_LANGUAGES),
                                                           MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), &size);
    ASSERT_TRUE(data);
    EXPECT_EQ(3u, size);
    EXPECT_EQ("fr", DataText(data, size));
    data = ModuleInfo::FindResourceAnyLanguage(GetModuleHandleA(nullptr), "TVXDATA",
                                               MAKEINTRESOURCEA(ID_DATA_TWO_LANGUAGES),
                                               MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), &size);
    ASSERT_TRUE(data);
    EXPECT_EQ("de", DataText(data, size));
}

TEST(FindResourceAnyLanguage, OtherSubLanguageFallsBackToThePrimaryLanguage) {
    DWORD size = 0;
    // Swiss French is not there; French (France) is.
    const void *data = ModuleInfo::FindResourceAnyLanguage(
        GetModuleHandleA(nullptr), "TVXDATA", MAKEINTRESOURCEA(ID_DATA_TWO_LANGUAGES),
        MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_SWISS), &size);
    ASSERT_TRUE(data);
    EXPECT_EQ("fr", DataText(data, size));
}

TEST(FindResourceAnyLanguage, ResourceOnlyInGermanIsFoundFromAnyLanguage) {
    const WORD languages[] = {0, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), 1033, 2057};
    for (WORD language : languages) {
        DWORD size = 0;
        const void *data = ModuleInfo::FindResourceAnyLanguage(
            GetModuleHandleA(nullptr), "TVXDATA", MAKEINTRESOURCEA(ID_DATA_GERMAN_ONLY), language, &size);
        ASSERT_TRUE(data) << "language " << language;
        EXPECT_EQ("de-only", DataText(data, size));
    }
}

TEST(FindResourceAnyLanguage, MissingNameTypeOrEmptyDataGivesNone) {
    DWORD size = 1234;
    HINSTANCE self = GetModuleHandleA(nullptr);
    EXPECT_EQ(nullptr, ModuleInfo::FindResourceAnyLanguage(self, "TVXDATA", MAKEINTRESOURCEA(999), 0, &size));
    EXPECT_EQ(nullptr, ModuleInfo::FindResourceAnyLanguage(self, "NOSUCHTYPE",
                                                           MAKEINTRESOURCEA(ID_DATA_GERMAN_ONLY), 0, &size));
    EXPECT_EQ(nullptr, ModuleInfo::FindResourceAnyLanguage(self, "TVXDATA", MAKEINTRESOURCEA(ID_DATA_EMPTY),
                                                           1033, &size));
    EXPECT_EQ(1234u, size);
}

TEST(FindResourceAnyLanguage, SizeIsOptionalAndDialogsAreFound) {
    const void *data = ModuleInfo::FindResourceAnyLanguage(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(5),
                                                           MAKEINTRESOURCEA(IDD_OLD_FONT), 0, nullptr);
    ASSERT_TRUE(data);
    // A classic template starts with its style, which carries DS_SETFONT.
    DWORD style;
    memcpy(&style, data, 4);
    EXPECT_TRUE(style & DS_SETFONT);
}

// ---- system error text ----

TEST(SystemErrorText, KnownCodeHasOneLineWithoutTrailingBlanks) {
    ModuleInfo info;
    const char *text = info.SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(text);
    size_t length = strlen(text);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(nullptr, strpbrk(text, "\r\n"));
    EXPECT_NE(' ', text[length - 1]);
}

TEST(SystemErrorText, UnknownCodeGivesNone) {
    ModuleInfo info;
    char buffer[ModuleInfo::kPathSize];
    EXPECT_EQ(nullptr, info.SystemErrorText(0x2BADBEEF, buffer));
}

} // namespace

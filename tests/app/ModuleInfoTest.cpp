// ModuleInfo tests: version numbers and caption from real version blocks, module paths, resource lookup
// across languages, system error texts and the dialog-template font replacement on both template forms.
#include "app/ModuleInfo.h"
#include "base/TextString.h"
#include "tests/app/resources/TestIds.h"

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

// ---- dialog templates ----

// Builds dialog templates word by word, the way the resource compiler lays them out.
class TemplateBuilder {
public:
    void Word(WORD value) { bytes_.push_back(value & 0xFF), bytes_.push_back(value >> 8); }
    void Dword(DWORD value) { Word(LOWORD(value)), Word(HIWORD(value)); }
    void Byte(BYTE value) { bytes_.push_back(value); }
    void Text(const char *text) {
        for (; *text; ++text)
            Word(static_cast<BYTE>(*text));
        Word(0);
    }
    void Align4() {
        while (bytes_.size() % 4)
            bytes_.push_back(0);
    }
    void *Data() { return bytes_.data(); }
    DWORD Size() const { return static_cast<DWORD>(bytes_.size()); }
    std::vector<BYTE> bytes_;
};

const DWORD kDialogStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
const DWORD kItemStyle = WS_CHILD | WS_VISIBLE;

// Classic form: header, no menu, default class, title, font, then two items (a button and a static).
TemplateBuilder ClassicTemplate(DWORD style, const char *face, WORD points, int menuOrdinal = 0) {
    TemplateBuilder b;
    b.Dword(style), b.Dword(0), b.Word(2);
    b.Word(0), b.Word(0), b.Word(160), b.Word(60);
    if (menuOrdinal)
        b.Word(0xFFFF), b.Word(static_cast<WORD>(menuOrdinal));
    else
        b.Word(0);
    b.Word(0);
    b.Text("Probe");
    if (style & DS_SETFONT)
        b.Word(points), b.Text(face);
    b.Align4();
    b.Dword(kItemStyle | BS_PUSHBUTTON), b.Dword(0), b.Word(5), b.Word(5), b.Word(50), b.Word(14), b.Word(1);
    b.Word(0xFFFF), b.Word(0x0080), b.Text("Button one"), b.Word(0);
    b.Align4();
    b.Dword(kItemStyle | SS_LEFT), b.Dword(0), b.Word(5), b.Word(25), b.Word(100), b.Word(10), b.Word(2);
    b.Word(0xFFFF), b.Word(0x0082), b.Text("Static two"), b.Word(0);
    return b;
}

// Extended form with weight, italic and character set, a class name and the same two items.
TemplateBuilder ExtendedTemplate(DWORD style, const char *face, WORD points, WORD weight, BYTE italic) {
    TemplateBuilder b;
    b.Word(1), b.Word(0xFFFF), b.Dword(0), b.Dword(0), b.Dword(style), b.Word(2);
    b.Word(0), b.Word(0), b.Word(160), b.Word(60);
    b.Word(0);
    b.Word(0);
    b.Text("Extended probe");
    if (style & DS_SETFONT)
        b.Word(points), b.Word(weight), b.Byte(italic), b.Byte(DEFAULT_CHARSET), b.Text(face);
    b.Align4();
    b.Dword(0), b.Dword(0), b.Dword(kItemStyle | BS_PUSHBUTTON), b.Word(5), b.Word(5), b.Word(50), b.Word(14);
    b.Dword(1), b.Word(0xFFFF), b.Word(0x0080), b.Text("Button one"), b.Word(0);
    b.Align4();
    b.Dword(0), b.Dword(0), b.Dword(kItemStyle | SS_LEFT), b.Word(5), b.Word(25), b.Word(100), b.Word(10);
    b.Dword(2), b.Word(0xFFFF), b.Word(0x0082), b.Text("Static two"), b.Word(0);
    return b;
}

INT_PTR CALLBACK QuietProcedure(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Creates a hidden dialog from a template and reports its items' texts and the dialog font.
struct CreatedDialog {
    explicit CreatedDialog(const void *dialogTemplate) {
        window = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                            static_cast<const DLGTEMPLATE *>(dialogTemplate), nullptr,
                                            &QuietProcedure, 0);
    }
    ~CreatedDialog() {
        if (window)
            DestroyWindow(window);
    }
    std::string ItemText(int id) const {
        char text[64] = {};
        GetDlgItemTextA(window, id, text, sizeof text);
        return text;
    }
    LOGFONTA Font() const {
        LOGFONTA font = {};
        HFONT handle = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
        if (handle)
            GetObjectA(handle, sizeof font, &font);
        return font;
    }
    HWND window = nullptr;
};

int PixelHeightOfPoints(int points) {
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return -MulDiv(points, dpi, 72);
}

std::string FaceAt(const void *dialogTemplate, DWORD offset) {
    std::string face;
    const BYTE *p = static_cast<const BYTE *>(dialogTemplate) + offset;
    for (; p[0] || p[1]; p += 2)
        face += static_cast<char>(p[0]);
    return face;
}

TEST(LocateTemplateFont, ClassicAndExtendedOffsets) {
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, ModuleInfo::LocateTemplateFont(classic.Data(), classic.Size(), &point, &face));
    // 18-byte header, menu 0 (2), class 0 (2), "Probe" (12).
    EXPECT_EQ(34u, point);
    EXPECT_EQ(36u, face);
    EXPECT_EQ("MS Sans Serif", FaceAt(classic.Data(), face));

    TemplateBuilder extended = ExtendedTemplate(kDialogStyle | DS_SETFONT, "MS Shell Dlg", 8, 400, 0);
    ASSERT_EQ(1, ModuleInfo::LocateTemplateFont(extended.Data(), extended.Size(), &point, &face));
    // 26-byte header, menu (2), class (2), "Extended probe" (30); face after point, weight, italic, charset.
    EXPECT_EQ(60u, point);
    EXPECT_EQ(66u, face);
    EXPECT_EQ("MS Shell Dlg", FaceAt(extended.Data(), face));
}

TEST(LocateTemplateFont, MenuOrdinalTakesFourBytes) {
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "System", 10, 77);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, ModuleInfo::LocateTemplateFont(classic.Data(), classic.Size(), &point, &face));
    EXPECT_EQ(36u, point);
    EXPECT_EQ("System", FaceAt(classic.Data(), face));
}

TEST(LocateTemplateFont, NoFontOrCutShortGivesNothing) {
    TemplateBuilder plain = ClassicTemplate(kDialogStyle, "", 0);
    DWORD point = 0, face = 0;
    EXPECT_EQ(0, ModuleInfo::LocateTemplateFont(plain.Data(), plain.Size(), &point, &face));
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    // Cut inside the title: no field may be read past the end.
    EXPECT_EQ(0, ModuleInfo::LocateTemplateFont(classic.Data(), 28, &point, &face));
    EXPECT_EQ(0, ModuleInfo::LocateTemplateFont(classic.Data(), 10, &point, &face));
    EXPECT_EQ(0, ModuleInfo::LocateTemplateFont(nullptr, 100, &point, &face));
}

TEST(ReplaceTemplateFont, TemplatesThatAreLeftAlone) {
    ModuleInfo info;
    TemplateBuilder tahoma = ClassicTemplate(kDialogStyle | DS_SETFONT, "Tahoma", 8);
    EXPECT_EQ(nullptr, info.ReplaceTemplateFont(tahoma.Data(), tahoma.Size(), 0));
    TemplateBuilder noFont = ClassicTemplate(kDialogStyle, "", 0);
    EXPECT_EQ(nullptr, info.ReplaceTemplateFont(noFont.Data(), noFont.Size(), 1));
    // The comparison is case-sensitive.
    TemplateBuilder lower = ExtendedTemplate(kDialogStyle | DS_SETFONT, "ms sans serif", 8, 400, 0);
    EXPECT_EQ(nullptr, info.ReplaceTemplateFont(lower.Data(), lower.Size(), 0));
    TemplateBuilder segoe = ExtendedTemplate(kDialogStyle | DS_SETFONT, "Segoe UI", 9, 400, 0);
    EXPECT_EQ(nullptr, info.ReplaceTemplateFont(segoe.Data(), segoe.Size(), 0));
}

TEST(ReplaceTemplateFont, FollowsTheSystemMessageFont) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = 340;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &metrics, 0));
    const char *face = metrics.lfMessageFont.lfFaceName;
    int known = !strcmp(face, "MS Sans Serif") || !strcmp(face, "Tahoma") || !strcmp(face, "Segoe UI");

    ModuleInfo info;
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    void *replaced = info.ReplaceTemplateFont(classic.Data(), classic.Size(), 0);
    if (!known) {
        EXPECT_EQ(nullptr, replaced) << face;
        return;
    }
    ASSERT_TRUE(replaced);
    DWORD point = 0, offset = 0;
    ASSERT_EQ(1, ModuleInfo::LocateTemplateFont(replaced, classic.Size() + 64, &point, &offset));
    std::string newFace = FaceAt(replaced, offset);
    if (info.FontInstalled(face)) {
        EXPECT_EQ(face, newFace);
        WORD points;
        memcpy(&points, static_cast<BYTE *>(replaced) + point, 2);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(MulDiv(-metrics.lfMessageFont.lfHeight, 72, GetDeviceCaps(screen, LOGPIXELSY)), points);
        ReleaseDC(nullptr, screen);
    } else {
        EXPECT_TRUE(newFace == "MS Shell Dlg 2" || newFace == "MS Shell Dlg") << newFace;
    }
    CreatedDialog dialog(replaced);
    ASSERT_TRUE(dialog.window);
    EXPECT_EQ(newFace, dialog.Font().lfFaceName);
    EXPECT_EQ("Button one", dialog.ItemText(1));
    ModuleInfo::FreeTemplate(replaced);
}

TEST(ChooseTemplateFont, UnknownMessageFacesAreNotTaken) {
    ModuleInfo info;
    char face[ModuleInfo::kFaceSize] = "untouched";
    WORD points = 77;
    EXPECT_EQ(0, info.ChooseTemplateFont("Arial", -12, 0, face, &points));
    EXPECT_EQ(0, info.ChooseTemplateFont("segoe ui", -12, 1, face, &points));
    EXPECT_STREQ("untouched", face);
    EXPECT_EQ(77, points);
}

TEST(ChooseTemplateFont, InstalledMessageFaceKeepsItsSize) {
    ModuleInfo info;
    if (!info.FontInstalled("Tahoma"))
        GTEST_SKIP() << "Tahoma is not installed here";
    char face[ModuleInfo::kFaceSize];
    WORD points = 0;
    ASSERT_EQ(1, info.ChooseTemplateFont("Tahoma", -12, 1, face, &points));
    EXPECT_STREQ("Tahoma", face);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(MulDiv(12, 72, GetDeviceCaps(screen, LOGPIXELSY)), points);
    ReleaseDC(nullptr, screen);
}

TEST(ChooseTemplateFont, SegoeWithPreferenceTakesShellDlg2AtEightPoints) {
    ModuleInfo info;
    if (!info.FontInstalled("MS Shell Dlg 2"))
        GTEST_SKIP() << "MS Shell Dlg 2 is not installed here";
    char face[ModuleInfo::kFaceSize];
    WORD points = 0;
    ASSERT_EQ(1, info.ChooseTemplateFont("Segoe UI", -12, 1, face, &points));
    EXPECT_STREQ("MS Shell Dlg 2", face);
    EXPECT_EQ(8, points);
}

TEST(ChooseTemplateFont, MissingMessageFaceFallsBackToShellDlgAtEightPoints) {
    ModuleInfo info;
    if (info.FontInstalled("Segoe UI"))
        GTEST_SKIP() << "Segoe UI is installed here";
    char face[ModuleInfo::kFaceSize];
    WORD points = 0;
    ASSERT_EQ(1, info.ChooseTemplateFont("Segoe UI", -16, 0, face, &points));
    EXPECT_STREQ(info.FontInstalled("MS Shell Dlg 2") ? "MS Shell Dlg 2" : "MS Shell Dlg", face);
    EXPECT_EQ(8, points);
}

// Rebuilding with a face longer or shorter than the old one must keep the items intact and aligned.
class RebuildTemplate : public ::testing::TestWithParam<const char *> {};

TEST_P(RebuildTemplate, ClassicItemsSurviveAndTheFontIsTheNewOne) {
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, ModuleInfo::LocateTemplateFont(classic.Data(), classic.Size(), &point, &face));
    void *rebuilt = ModuleInfo::RebuildTemplate(classic.Data(), classic.Size(), point, face, GetParam(), 11);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(GetParam(), FaceAt(rebuilt, face));
    {
        CreatedDialog dialog(rebuilt);
        ASSERT_TRUE(dialog.window);
        EXPECT_EQ("Button one", dialog.ItemText(1));
        EXPECT_EQ("Static two", dialog.ItemText(2));
        LOGFONTA font = dialog.Font();
        EXPECT_STREQ(GetParam(), font.lfFaceName);
        EXPECT_EQ(PixelHeightOfPoints(11), font.lfHeight);
    }
    ModuleInfo::FreeTemplate(rebuilt);
}

TEST_P(RebuildTemplate, ExtendedKeepsWeightAndItalic) {
    TemplateBuilder extended = ExtendedTemplate(kDialogStyle | DS_SETFONT, "MS Shell Dlg", 8, 700, 1);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, ModuleInfo::LocateTemplateFont(extended.Data(), extended.Size(), &point, &face));
    void *rebuilt = ModuleInfo::RebuildTemplate(extended.Data(), extended.Size(), point, face, GetParam(), 9);
    ASSERT_TRUE(rebuilt);
    {
        CreatedDialog dialog(rebuilt);
        ASSERT_TRUE(dialog.window);
        EXPECT_EQ("Button one", dialog.ItemText(1));
        EXPECT_EQ("Static two", dialog.ItemText(2));
        LOGFONTA font = dialog.Font();
        EXPECT_STREQ(GetParam(), font.lfFaceName);
        EXPECT_EQ(PixelHeightOfPoints(9), font.lfHeight);
        EXPECT_EQ(700, font.lfWeight);
        EXPECT_EQ(1, font.lfItalic);
    }
    ModuleInfo::FreeTemplate(rebuilt);
}

INSTANTIATE_TEST_SUITE_P(Faces, RebuildTemplate,
                         ::testing::Values("A", "Tahoma", "MS Shell Dlg 2", "Segoe UI",
                                           "A Rather Long Face Name X"));

} // namespace

// TemplateFont tests: locating, choosing and rebuilding the font of classic and extended dialog templates,
// and dialogs really created from the rebuilt templates.
#include "ui/TemplateFont.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

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
    ASSERT_EQ(1, TemplateFont::LocateTemplateFont(classic.Data(), classic.Size(), &point, &face));
    // 18-byte header, menu 0 (2), class 0 (2), "Probe" (12).
    EXPECT_EQ(34u, point);
    EXPECT_EQ(36u, face);
    EXPECT_EQ("MS Sans Serif", FaceAt(classic.Data(), face));

    TemplateBuilder extended = ExtendedTemplate(kDialogStyle | DS_SETFONT, "MS Shell Dlg", 8, 400, 0);
    ASSERT_EQ(1, TemplateFont::LocateTemplateFont(extended.Data(), extended.Size(), &point, &face));
    // 26-byte header, menu (2), class (2), "Extended probe" (30); face after point, weight, italic, charset.
    EXPECT_EQ(60u, point);
    EXPECT_EQ(66u, face);
    EXPECT_EQ("MS Shell Dlg", FaceAt(extended.Data(), face));
}

TEST(LocateTemplateFont, MenuOrdinalTakesFourBytes) {
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "System", 10, 77);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, TemplateFont::LocateTemplateFont(classic.Data(), classic.Size(), &point, &face));
    EXPECT_EQ(36u, point);
    EXPECT_EQ("System", FaceAt(classic.Data(), face));
}

TEST(LocateTemplateFont, NoFontOrCutShortGivesNothing) {
    TemplateBuilder plain = ClassicTemplate(kDialogStyle, "", 0);
    DWORD point = 0, face = 0;
    EXPECT_EQ(0, TemplateFont::LocateTemplateFont(plain.Data(), plain.Size(), &point, &face));
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    // Cut inside the title: no field may be read past the end.
    EXPECT_EQ(0, TemplateFont::LocateTemplateFont(classic.Data(), 28, &point, &face));
    EXPECT_EQ(0, TemplateFont::LocateTemplateFont(classic.Data(), 10, &point, &face));
    EXPECT_EQ(0, TemplateFont::LocateTemplateFont(nullptr, 100, &point, &face));
}

TEST(ReplaceTemplateFont, TemplatesThatAreLeftAlone) {
    TemplateBuilder tahoma = ClassicTemplate(kDialogStyle | DS_SETFONT, "Tahoma", 8);
    EXPECT_EQ(nullptr, TemplateFont::ReplaceTemplateFont(tahoma.Data(), tahoma.Size(), 0));
    TemplateBuilder noFont = ClassicTemplate(kDialogStyle, "", 0);
    EXPECT_EQ(nullptr, TemplateFont::ReplaceTemplateFont(noFont.Data(), noFont.Size(), 1));
    // The comparison is case-sensitive.
    TemplateBuilder lower = ExtendedTemplate(kDialogStyle | DS_SETFONT, "ms sans serif", 8, 400, 0);
    EXPECT_EQ(nullptr, TemplateFont::ReplaceTemplateFont(lower.Data(), lower.Size(), 0));
    TemplateBuilder segoe = ExtendedTemplate(kDialogStyle | DS_SETFONT, "Segoe UI", 9, 400, 0);
    EXPECT_EQ(nullptr, TemplateFont::ReplaceTemplateFont(segoe.Data(), segoe.Size(), 0));
}

TEST(ReplaceTemplateFont, FollowsTheSystemMessageFont) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = 340;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &metrics, 0));
    const char *face = metrics.lfMessageFont.lfFaceName;
    int known = !strcmp(face, "MS Sans Serif") || !strcmp(face, "Tahoma") || !strcmp(face, "Segoe UI");

    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    void *replaced = TemplateFont::ReplaceTemplateFont(classic.Data(), classic.Size(), 0);
    if (!known) {
        EXPECT_EQ(nullptr, replaced) << face;
        return;
    }
    ASSERT_TRUE(replaced);
    DWORD point = 0, offset = 0;
    ASSERT_EQ(1, TemplateFont::LocateTemplateFont(replaced, classic.Size() + 64, &point, &offset));
    std::string newFace = FaceAt(replaced, offset);
    if (TemplateFont::FontInstalled(face)) {
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
    TemplateFont::FreeTemplate(replaced);
}

TEST(ChooseTemplateFont, UnknownMessageFacesAreNotTaken) {
    char face[TemplateFont::kFaceSize] = "untouched";
    WORD points = 77;
    EXPECT_EQ(0, TemplateFont::ChooseTemplateFont("Arial", -12, 0, face, &points));
    EXPECT_EQ(0, TemplateFont::ChooseTemplateFont("segoe ui", -12, 1, face, &points));
    EXPECT_STREQ("untouched", face);
    EXPECT_EQ(77, points);
}

TEST(ChooseTemplateFont, InstalledMessageFaceKeepsItsSize) {
    if (!TemplateFont::FontInstalled("Tahoma"))
        GTEST_SKIP() << "Tahoma is not installed here";
    char face[TemplateFont::kFaceSize];
    WORD points = 0;
    ASSERT_EQ(1, TemplateFont::ChooseTemplateFont("Tahoma", -12, 1, face, &points));
    EXPECT_STREQ("Tahoma", face);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(MulDiv(12, 72, GetDeviceCaps(screen, LOGPIXELSY)), points);
    ReleaseDC(nullptr, screen);
}

TEST(ChooseTemplateFont, SegoeWithPreferenceTakesShellDlg2AtEightPoints) {
    if (!TemplateFont::FontInstalled("MS Shell Dlg 2"))
        GTEST_SKIP() << "MS Shell Dlg 2 is not installed here";
    char face[TemplateFont::kFaceSize];
    WORD points = 0;
    ASSERT_EQ(1, TemplateFont::ChooseTemplateFont("Segoe UI", -12, 1, face, &points));
    EXPECT_STREQ("MS Shell Dlg 2", face);
    EXPECT_EQ(8, points);
}

TEST(ChooseTemplateFont, MissingMessageFaceFallsBackToShellDlgAtEightPoints) {
    if (TemplateFont::FontInstalled("Segoe UI"))
        GTEST_SKIP() << "Segoe UI is installed here";
    char face[TemplateFont::kFaceSize];
    WORD points = 0;
    ASSERT_EQ(1, TemplateFont::ChooseTemplateFont("Segoe UI", -16, 0, face, &points));
    EXPECT_STREQ(TemplateFont::FontInstalled("MS Shell Dlg 2") ? "MS Shell Dlg 2" : "MS Shell Dlg", face);
    EXPECT_EQ(8, points);
}

// Rebuilding with a face longer or shorter than the old one must keep the items intact and aligned.
class RebuildTemplate : public ::testing::TestWithParam<const char *> {};

TEST_P(RebuildTemplate, ClassicItemsSurviveAndTheFontIsTheNewOne) {
    TemplateBuilder classic = ClassicTemplate(kDialogStyle | DS_SETFONT, "MS Sans Serif", 8);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, TemplateFont::LocateTemplateFont(classic.Data(), classic.Size(), &point, &face));
    void *rebuilt =
        TemplateFont::RebuildTemplate(classic.Data(), classic.Size(), point, face, GetParam(), 11);
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
    TemplateFont::FreeTemplate(rebuilt);
}

TEST_P(RebuildTemplate, ExtendedKeepsWeightAndItalic) {
    TemplateBuilder extended = ExtendedTemplate(kDialogStyle | DS_SETFONT, "MS Shell Dlg", 8, 700, 1);
    DWORD point = 0, face = 0;
    ASSERT_EQ(1, TemplateFont::LocateTemplateFont(extended.Data(), extended.Size(), &point, &face));
    void *rebuilt =
        TemplateFont::RebuildTemplate(extended.Data(), extended.Size(), point, face, GetParam(), 9);
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
    TemplateFont::FreeTemplate(rebuilt);
}

INSTANTIATE_TEST_SUITE_P(Faces, RebuildTemplate,
                         ::testing::Values("A", "Tahoma", "MS Shell Dlg 2", "Segoe UI",
                                           "A Rather Long Face Name X"));

} // namespace

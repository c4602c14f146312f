// ProblemReportDialog: the in-memory template, the texts, set-up, colours, links and answers.
#include "crash/ProblemReportDialog.h"
#include "base/ModuleInfo.h"
#include <commctrl.h>
#include <cstring>
#include <initializer_list>

namespace {

const char kHttp[] = "http://";
const UINT kSetCueBanner = 0x1501;
const wchar_t kCueBanner[] = L" optional";
const int kHeadingHeight = 40;

// Writes a classic dialog template: little-endian words and double words, items on double-word bounds.
class TemplateWriter {
public:
    explicit TemplateWriter(uint8_t *block, size_t size) : block_(block), size_(size) {
        memset(block, 0, size);
    }

    void Word(uint16_t value) {
        if (at_ + 2 <= size_)
            memcpy(block_ + at_, &value, 2);
        at_ += 2;
    }
    void Dword(uint32_t value) {
        Word(static_cast<uint16_t>(value));
        Word(static_cast<uint16_t>(value >> 16));
    }
    void Text(const char *text) {
        for (; *text; ++text)
            Word(static_cast<uint8_t>(*text));
        Word(0);
    }
    void Align() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
    // One item: class by its atom (0x80 button, 0x81 edit, 0x82 static).
    void Item(DWORD style, short x, short y, short cx, short cy, uint16_t id, uint16_t classAtom,
              const char *text) {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(static_cast<uint16_t>(x));
        Word(static_cast<uint16_t>(y));
        Word(static_cast<uint16_t>(cx));
        Word(static_cast<uint16_t>(cy));
        Word(id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0); // no creation data
    }
    size_t Size() const { return at_; }

private:
    uint8_t *block_;
    size_t size_;
    size_t at_ = 0;
};

enum : uint16_t { kButton = 0x80, kEdit = 0x81, kStatic = 0x82 };
const uint16_t kNoId = 0xFFFF;

// Standard icon sizes: a metric between them is raised to the next one up.
int StandardIconSize(int size) {
    if (size > 48)
        return 256;
    if (size > 32)
        return 48;
    if (size > 16)
        return 32;
    return size;
}

void ReadVersionValue(ModuleInfo &info, const char *name, const char *file, TextString &out) {
    if (!info.VersionString(name, out, file))
        out.Assign("");
}

} // namespace

const char ProblemReportDialog::kHeadingFonts[] = "Segoe UI;Verdana;MS Sans Serif";

ProblemReportData::ProblemReportData() : description(kDescriptionCapacity), email(kEmailCapacity) {
    description.Assign("");
    email.Assign("");
}

void ProblemReportData::Fill(const char *dumpFile, const char *reportFile, uint32_t icon,
                             const char *versionFile) {
    ModuleInfo info;
    ReadVersionValue(info, "ProductName", versionFile, productName);
    ReadVersionValue(info, "CompanyName", versionFile, companyName);
    if (companyName.Length() <= 0)
        companyName.Assign("us");
    TextString comments, specialBuild;
    ReadVersionValue(info, "Comments", versionFile, comments);
    ReadVersionValue(info, "SpecialBuild", versionFile, specialBuild);
    ProblemReportDialog::WebAddressFrom(comments.Text(), specialBuild.Text(), webAddress);
    dumpPath.Assign(dumpFile ? dumpFile : "");
    reportPath.Assign(reportFile ? reportFile : "");
    iconId = icon;
}

void ProblemReportDialog::WebAddressFrom(const char *comments, const char *specialBuild,
                                         TextString &address) {
    address.Assign("");
    for (const char *value : {comments, specialBuild}) {
        const char *start = value ? strstr(value, kHttp) : nullptr;
        if (!start)
            continue;
        const char *end = strchr(start, ']');
        address.Assign(start,
                       end ? static_cast<uint32_t>(end - start) : static_cast<uint32_t>(strlen(start)));
        return;
    }
}

const char *ProblemReportDialog::FileNameOf(const char *path) {
    if (!path)
        return "";
    const char *name = path;
    for (const char *at = path; *at; ++at)
        if ((*at == '\\' || *at == '/') && at[1])
            name = at + 1;
    return name;
}

void ProblemReportDialog::PleaseTellText(const ProblemReportData &data, int linkForm, TextString &text) {
    if (data.webAddress.Length() <= 0) {
        text.Format("Please tell %s about this problem.", data.companyName.Text());
        return;
    }
    TextString linkText;
    linkText.Assign(&data.webAddress);
    linkText.Replace(kHttp, "", 1);
    if (linkForm)
        text.Format(
            "Please tell %s about this problem.\n\nYou can check the website <a href=\"%s\">%s</a> for a "
            "newer version.",
            data.companyName.Text(), data.webAddress.Text(), linkText.Text());
    else
        text.Format(
            "Please tell %s about this problem.\n\nYou can check the website '%s' for a newer version.",
            data.companyName.Text(), linkText.Text());
}

void ProblemReportDialog::FilesText(const ProblemReportData &data, int linkForm, TextString &text) {
    const char *report = data.reportPath.Text();
    const char *dump = data.dumpPath.Text();
    if (data.dumpPath.Length() > 0) {
        if (linkForm)
            text.Format("The files <a href=\"%s\">%s</a> and <a href=\"%s\">%s</a> will be send. They do not "
                        "contain any personal information.",
                        report, FileNameOf(report), dump, FileNameOf(dump));
        else
            text.Format("The files %s and %s will be send. They do not contain any personal information.",
                        FileNameOf(report), FileNameOf(dump));
    } else if (linkForm) {
        text.Format(
            "The file <a href=\"%s\">%s</a> will be send. It does not contain any personal information.",
            report, FileNameOf(report));
    } else {
        text.Format("The file %s will be send. It does not contain any personal information.",
                    FileNameOf(report));
    }
}

void ProblemReportDialog::BuildTemplate(uint8_t (&block)[kTemplateSize]) {
    TemplateWriter out(block, sizeof(block));
    out.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT);
    out.Dword(0);
    out.Word(12);
    out.Word(0);
    out.Word(0);
    out.Word(428);
    out.Word(201);
    out.Word(0); // no menu
    out.Word(0); // the standard dialog class
    out.Text("Dialog");
    out.Word(8);
    out.Text("MS Sans Serif");
    out.Item(SS_WHITERECT, 0, 0, 429, 167, kNoId, kStatic, "");
    out.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 241, 177, 100, 14, kSend, kButton, "Send Problem Report");
    out.Item(BS_PUSHBUTTON | WS_TABSTOP, 351, 177, 60, 14, kDontSend, kButton, "Don't Send");
    out.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 40, 86, 370, 14, kDescription, kEdit, "");
    out.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 40, 119, 370, 14, kEmail, kEdit, "");
    out.Item(WS_GROUP, 40, 144, 370, 18, kFilesText, kStatic, "Static");
    out.Item(WS_GROUP, 40, 35, 370, 26, kPleaseTellText, kStatic, "Static");
    out.Item(SS_ICON, 10, 10, 20, 20, kIcon, kStatic, "");
    out.Item(WS_GROUP | SS_CENTERIMAGE, 40, 12, 370, 14, kHeading, kStatic, "Static");
    out.Item(WS_GROUP, 40, 74, 370, 8, kDescriptionLabel, kStatic, "Static");
    out.Item(WS_GROUP, 40, 107, 370, 8, kEmailLabel, kStatic, "Static");
    out.Item(SS_ETCHEDHORZ, 0, 166, 429, 1, kSeparator, kStatic, "");
}

INT_PTR ProblemReportDialog::Run(ProblemReportData &data) {
    alignas(4) uint8_t block[kTemplateSize];
    BuildTemplate(block);
    ProblemReportDialog dialog(data);
    INT_PTR result = dialog.RunModalIndirect(GetModuleHandleA(nullptr), block, sizeof(block), 0, nullptr);
    return result == 1 ? 1 : 0;
}

void ProblemReportDialog::SetDialogIcons() {
    if (!data_.iconId)
        return;
    SetIcons(static_cast<int>(data_.iconId), StandardIconSize(GetSystemMetrics(SM_CXICON)),
             StandardIconSize(GetSystemMetrics(SM_CYICON)));
    // A shared icon: the system keeps it, nobody frees it.
    HICON itemIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(data_.iconId));
    if (itemIcon)
        SendDlgItemMessageA(window_, kIcon, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(itemIcon));
}

int ProblemReportDialog::OnInitDialog() {
    data_.whiteBrush.Reset(CreateSolidBrush(data_.whiteColour));
    SetText(data_.productName.Text());
    SetDialogIcons();
    SetUpTexts();
    data_.divider.Attach(Item(kSeparator));
    return kInitDone;
}

void ProblemReportDialog::SetUpTexts() {
    TextString text;
    text.Format("%s has stopped working.", data_.productName.Text());
    HWND heading = Item(kHeading);
    data_.heading.Attach(heading, StyledStatic::kFittedFont | StyledStatic::kFontList, kHeadingFonts,
                         kHeadingHeight, kHeadingColour);
    SetWindowTextA(heading, text.Text());

    const uint32_t linkOptions = SysLinkControl::kDialogUnits | SysLinkControl::kNoParentHook;
    PleaseTellText(data_, 1, text);
    if (data_.pleaseTellLink.Create(window_, text.Text(), 40, 35, 370, 26, linkOptions)) {
        ShowWindow(Item(kPleaseTellText), SW_HIDE);
    } else {
        PleaseTellText(data_, 0, text);
        SetItemText(kPleaseTellText, text.Text());
    }
    data_.pleaseTellText.Assign(&text);

    HWND label = Item(kDescriptionLabel);
    data_.descriptionLabel.Attach(label, StyledStatic::kWindowFont, nullptr, 0, kLabelColour);
    SetWindowTextA(label, "Can you please describe what you were doing when the problem occurred?");
    SendDlgItemMessageA(window_, kDescription, EM_LIMITTEXT, ProblemReportData::kDescriptionCapacity - 2, 0);
    SendDlgItemMessageA(window_, kDescription, kSetCueBanner, FALSE, reinterpret_cast<LPARAM>(kCueBanner));

    label = Item(kEmailLabel);
    data_.emailLabel.Attach(label, StyledStatic::kWindowFont, nullptr, 0, kLabelColour);
    SetWindowTextA(label, "Your E-mail address:");
    SendDlgItemMessageA(window_, kEmail, EM_LIMITTEXT, ProblemReportData::kEmailCapacity - 2, 0);
    SendDlgItemMessageA(window_, kEmail, kSetCueBanner, FALSE, reinterpret_cast<LPARAM>(kCueBanner));

    FilesText(data_, 1, text);
    if (data_.filesLink.Create(window_, text.Text(), 40, 144, 370, 18, linkOptions)) {
        ShowWindow(Item(kFilesText), SW_HIDE);
    } else {
        FilesText(data_, 0, text);
        SetItemText(kFilesText, text.Text());
    }
    data_.filesText.Assign(&text);
}

void ProblemReportDialog::CopyAnswers() {
    char *description = data_.description.Buffer(ProblemReportData::kDescriptionCapacity);
    char *email = data_.email.Buffer(ProblemReportData::kEmailCapacity);
    if (description) {
        GetDlgItemTextA(window_, kDescription, description, ProblemReportData::kDescriptionCapacity - 1);
        data_.description.Recount();
    }
    if (email) {
        GetDlgItemTextA(window_, kEmail, email, ProblemReportData::kEmailCapacity - 1);
        data_.email.Recount();
    }
}

int ProblemReportDialog::OnCommand(int id, WPARAM, LPARAM) {
    switch (id) {
    case kSend:
        CopyAnswers();
        EndRun(1);
        return 1;
    case kDontSend:
    case IDCANCEL:
        EndRun(0);
        return 1;
    default:
        return 0;
    }
}

int ProblemReportDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        if ((data_.filesLink.Window() && control == data_.filesLink.Window()) || control == Item(kFilesText))
            SetTextColor(dc, kLabelColour);
        SetBkColor(dc, data_.whiteColour);
        // The handlers answer 32 bits; a GDI handle's value fits in them on 64-bit Windows too, and the
        // dialog procedure widens the answer again.
        return static_cast<int>(reinterpret_cast<INT_PTR>(data_.whiteBrush.Get()));
    }
    case WM_NOTIFY:
        return data_.pleaseTellLink.OnNotify(lParam) || data_.filesLink.OnNotify(lParam) ? 1 : 0;
    default:
        return DialogRunner::OnMessage(message, wParam, lParam);
    }
}

int ProblemReportDialog::OnDestroy() {
    // The painters and hooks let go of their windows while those still exist.
    data_.pleaseTellLink.Destroy();
    data_.filesLink.Destroy();
    data_.heading.Detach();
    data_.descriptionLabel.Detach();
    data_.emailLabel.Detach();
    data_.divider.Detach();
    return 0;
}

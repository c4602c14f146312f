// ProblemReportDialog: the "has stopped working" dialog that asks whether the crash report files may be
// sent, with a description and an e-mail address. It is built from a template in memory, so it needs no
// resources of the program it appears in, and runs on the program's one dialog base.
//
// Classes: ProblemReportData, ProblemReportDialog.
#pragma once

#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "ui/DialogRunner.h"
#include "ui/DividerHook.h"
#include "ui/StyledStatic.h"
#include "ui/SysLinkControl.h"
#include <cstdint>

// What the dialog shows and what it gives back; it lives on the caller's stack for one run of the dialog.
struct ProblemReportData {
    enum : uint32_t { kDescriptionCapacity = 2048, kEmailCapacity = 260 };

    ProblemReportData();
    ProblemReportData(const ProblemReportData &) = delete;
    ProblemReportData &operator=(const ProblemReportData &) = delete;

    // Product and company names and the web address from the version block of versionFile (the running
    // program when null), and the two report files.
    void Fill(const char *dumpFile, const char *reportFile, uint32_t icon, const char *versionFile = nullptr);

    SysLinkControl pleaseTellLink;
    SysLinkControl filesLink;
    StyledStatic heading;
    StyledStatic descriptionLabel;
    StyledStatic emailLabel;
    DividerHook divider;
    OwnedBrush whiteBrush;
    COLORREF whiteColour = RGB(255, 255, 255);
    uint32_t iconId = 0;
    TextString productName;
    TextString companyName;
    TextString webAddress;
    TextString dumpPath;
    TextString reportPath;
    TextString description;
    TextString email;
    // The texts the dialog put up, as shown by the links or by the plain statics.
    TextString pleaseTellText;
    TextString filesText;
};

class ProblemReportDialog : public DialogRunner {
public:
    enum { kTemplateSize = 520 };
    // Control ids of the template.
    enum : int {
        kSend = 1000,
        kDontSend = 1001,
        kIcon = 1003,
        kDescription = 1004,
        kEmail = 1005,
        kHeading = 1006,
        kFilesText = 1008,
        kPleaseTellText = 1010,
        kDescriptionLabel = 1011,
        kEmailLabel = 1012,
        kSeparator = 1013,
    };
    static constexpr COLORREF kHeadingColour = RGB(9, 55, 117);
    static constexpr COLORREF kLabelColour = RGB(96, 96, 96);
    static const char kHeadingFonts[];

    // Runs the dialog modally, without owner, on the module of the running program: 1 send, 0 do not send
    // (also when the dialog cannot be shown).
    static INT_PTR Run(ProblemReportData &data);
    // The dialog template: 12 controls, "MS Sans Serif" 8 (swapped for the message font before use).
    static void BuildTemplate(uint8_t (&block)[kTemplateSize]);

    // The web address in the first of comments and specialBuild that contains "http://": from there on, cut
    // before the first "]" after it; empty when neither has one.
    static void WebAddressFrom(const char *comments, const char *specialBuild, TextString &address);
    // The part after the last "\" or "/" that is followed by at least one character (the whole text when
    // there is none).
    static const char *FileNameOf(const char *path);
    // The please-tell and files texts, in the link form (markup) or the plain form.
    static void PleaseTellText(const ProblemReportData &data, int linkForm, TextString &text);
    static void FilesText(const ProblemReportData &data, int linkForm, TextString &text);

    explicit ProblemReportDialog(ProblemReportData &data) : data_(data) {}

    int OnInitDialog() override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnDestroy() override;

private:
    void SetDialogIcons();
    void SetUpTexts();
    void CopyAnswers();

    ProblemReportData &data_;
};

// SendProblemReport: the step after a crash report is written: when an upload server is configured, asks the
// user in the problem-report dialog and posts both files with the answers as a form to that server.
//
// Classes: ProblemReportSettings. Functions: SendProblemReport.
#pragma once

#include <cstdint>

// What the crash reporter configures for the upload; texts may be null or empty.
struct ProblemReportSettings {
    const char *uploadHost = nullptr;
    const char *uploadPath = nullptr;
    const char *productKey = nullptr;
    const char *sourceTag = nullptr;
    uint32_t iconId = 0; // icon resource of the program for the dialog; 0: none
};

// 1 when no upload host is set (nothing shown, nothing sent: the system's own crash handling should
// follow); 0 otherwise, whatever the user chose and whatever the upload did. dumpPath may be empty.
int SendProblemReport(const ProblemReportSettings &settings, const char *dumpPath, const char *reportPath);

// Resource and control ids shared by the resource script, the main dialog and the tests that drive it.
//
// Classes: none (resource ids and the version numbers).
#pragma once

// The program's version, set here and nowhere else: the version resource's numbers, its "FileVersion" text
// (major "." two-digit minor, as "1.00"), the caption's "[major.minor]" and the update check's own version.
// The minor number runs from 0 to 99.
#define TARVEX_VERSION_MAJOR 1
#define TARVEX_VERSION_MINOR 0

#define TARVEX_STRING_OF(x) #x
#define TARVEX_STRING(x) TARVEX_STRING_OF(x)
#if TARVEX_VERSION_MINOR < 10
#define TARVEX_VERSION_TEXT TARVEX_STRING(TARVEX_VERSION_MAJOR) ".0" TARVEX_STRING(TARVEX_VERSION_MINOR)
#else
#define TARVEX_VERSION_TEXT TARVEX_STRING(TARVEX_VERSION_MAJOR) "." TARVEX_STRING(TARVEX_VERSION_MINOR)
#endif

#define IDI_TARVEX 101
#define IDD_MAIN 102
#define IDI_PROCESSOR 104
#define IDC_LINKHAND 105
// The maker's public key for update answers (RCDATA, 32 bytes; the update client's own number for it).
#define IDR_UPDATE_KEY 110

#define IDC_EXIT 1000
#define IDC_PROCESSORS 1001
#define IDC_PERCENT_SLIDER 1002
#define IDC_GRAB 1003
#define IDC_PERCENT_LABEL 1004
#define IDC_LINK 1005
#define IDC_AUTOUPDATE 1006

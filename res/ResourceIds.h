// Resource and control ids shared by the resource script, the main dialog and the tests that drive it.
//
// Classes: none (resource ids and the version numbers).
#pragma once

// The program's version: the version resource's "FileVersion" and the caption's "[major.minor]".
#define TARVEX_VERSION_MAJOR 1
#define TARVEX_VERSION_MINOR 0
#define TARVEX_VERSION_TEXT "1.00"

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

// Ids of the app test programs' own resources.
//
// Classes: none (resource ids).
#pragma once

#define ID_DATA_GERMAN_ONLY 300
#define ID_DATA_TWO_LANGUAGES 301
#define ID_DATA_EMPTY 302
#define IDD_OLD_FONT 400
#define IDD_TAHOMA 401
#define IDI_PROBE 500
#define ID_FIRST 10
#define ID_SECOND 11
#define ID_LABEL 12

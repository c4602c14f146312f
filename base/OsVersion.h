// Operating-system identification: the 64-bit VersionCode (family/version bits low, service pack and
// edition bits high), version tests, the display name, the WOW64 test and the small version numbers.
//
// Functions: QueryVersion, QueryEdition, OsName, IsAtLeast, IsWow64, CommonControlsVersion, VersionByte.
#pragma once

#include "base/Win.h"
#include <cstdint>

typedef uint64_t VersionCode;

// Low-part bits (family and version).
enum : uint32_t {
    kOsNt = 0x1,
    kOs9x = 0x2,
    kOsWin32s = 0x4,
    kOsCe = 0x8,
    kOs95 = 0x10,
    kOs98 = 0x20,
    kOsMe = 0x40,
    kOsNt4 = 0x80,
    kOs2000 = 0x100,
    kOsXp = 0x200,
    kOs95Osr2 = 0x400,
    kOs98Se = 0x800,
    kOs2003 = 0x1000,
    kOsVista = 0x2000,
    kOs7 = 0x4000,
    kOsCe50 = 0x8000,
    kOsCe52 = 0x10000,
    kOs8 = 0x40000,
    kOs81 = 0x80000,
};

VersionCode QueryVersion();
VersionCode QueryEdition();
const char *OsName(char *buffer, VersionCode code);
int IsAtLeast(uint64_t mask);
int IsWow64(HANDLE process = nullptr);
uint32_t CommonControlsVersion();
uint8_t VersionByte();

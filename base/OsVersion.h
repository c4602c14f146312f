// Operating-system identification: the 64-bit VersionCode (family/version bits low, service pack and
// edition bits high), version tests, the display name, the WOW64 test and the small version numbers.
//
// Functions: QueryVersion, QueryEdition, OsName, IsAtLeast, CommonControlsVersion, VersionByte, and
// the decoders they run on the platform's answers (VersionFromRecord, EditionFromSuite, EditionFromRegistry,
// EditionFromMetrics, IsAtLeastFor, VersionByteFrom).
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

// High-part bits (service pack and edition).
enum : uint32_t {
    kEdFundamentals = 0x1,
    kEdServicePack1 = 0x2,
    kEdServicePack2 = 0x4,
    kEdServicePack3 = 0x8,
    kEdStarter = 0x10,
    kEdServerR2 = 0x20,
    kEdTabletPc = 0x40,
    kEdMediaCenter = 0x80,
    kEdMediaCenter2 = 0x100,
    kEdMediaCenter3 = 0x200,
    kEdMediaCenter4 = 0x400,
    kEdMediaCenter5 = 0x800,
    kEdRemoteSession = 0x1000,
    kEdPeBuilder = 0x2000,
    kEdMiniNt = 0x4000,
    kEdServer = 0x8000,
    kEdAdvancedServer = 0x10000,
    kEdDatacenter = 0x80000,
    kEdEnterprise = 0x100000,
    kEdEmbedded = 0x200000,
    kEdHome = 0x400000,
    kEdStorageServer = 0x800000,
    kEdTerminalServices = 0x1000000,
    kEdHomeServer = 0x2000000,
    kEdDomainController = 0x4000000,
};

VersionCode QueryVersion();
VersionCode QueryEdition();
const char *OsName(char *buffer, VersionCode code);
int IsAtLeast(uint64_t mask);
uint32_t CommonControlsVersion();
uint8_t VersionByte();

// Decoders: the public functions feed them the running system's answers; they also accept records of
// other Windows versions. Edition results are high-part bits already shifted into place.
VersionCode VersionFromRecord(const OSVERSIONINFOA &record);
uint64_t EditionFromSuite(uint16_t suiteMask, uint8_t productType);
// The HKEY_LOCAL_MACHINE probes: product options, MiniNT, PE Builder, Fundamentals, Media Center.
uint64_t EditionFromRegistry();
uint64_t EditionFromMetrics();
int IsAtLeastFor(uint64_t mask, const OSVERSIONINFOA &running);
// currentVersion is the "CurrentVersion" text or null; record is the fallback or null.
uint8_t VersionByteFrom(const char *currentVersion, const OSVERSIONINFOA *record);

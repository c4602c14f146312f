// Operating-system identification: decoding of version records of many Windows versions, the display
// names, the version tests, the edition probes under a redirected HKEY_LOCAL_MACHINE, and the running system.
#include "base/OsVersion.h"
#include "base/Wow64.h"
#include "base/RegistryKey.h"
#include "base/TextString.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {
OSVERSIONINFOA Record(DWORD platform, DWORD major, DWORD minor, const char *servicePack = "") {
    OSVERSIONINFOA record;
    memset(&record, 0, sizeof(record));
    record.dwOSVersionInfoSize = sizeof(record);
    record.dwPlatformId = platform;
    record.dwMajorVersion = major;
    record.dwMinorVersion = minor;
    strncpy(record.szCSDVersion, servicePack, sizeof(record.szCSDVersion) - 1);
    return record;
}

OSVERSIONINFOA Nt(DWORD major, DWORD minor, const char *servicePack = "") {
    return Record(VER_PLATFORM_WIN32_NT, major, minor, servicePack);
}
OSVERSIONINFOA Win9x(DWORD minor, const char *servicePack = "") {
    return Record(VER_PLATFORM_WIN32_WINDOWS, 4, minor, servicePack);
}

VersionCode Code(uint32_t low, uint32_t high = 0) {
    return (static_cast<uint64_t>(high) << 32) | low;
}

std::string Name(VersionCode code) {
    char buffer[256];
    return OsName(buffer, code);
}
} // namespace

// --- Decoding version records
// -----------------------------------------------------------------------------------

TEST(VersionFromRecord, WindowsNinetyFiveFamily) {
    EXPECT_EQ(Code(0x12), VersionFromRecord(Win9x(0)));
    EXPECT_EQ(Code(0x12), VersionFromRecord(Win9x(0, " A")));
    EXPECT_EQ(Code(0x402), VersionFromRecord(Win9x(0, " B")));
    EXPECT_EQ(Code(0x402), VersionFromRecord(Win9x(0, " C")));
    EXPECT_EQ(Code(0x22), VersionFromRecord(Win9x(10)));
    EXPECT_EQ(Code(0x22), VersionFromRecord(Win9x(10, " B")));
    EXPECT_EQ(Code(0x802), VersionFromRecord(Win9x(10, " A ")));
    EXPECT_EQ(Code(0x42), VersionFromRecord(Win9x(90, " ")));
    EXPECT_EQ(Code(0x2), VersionFromRecord(Win9x(3)));
    EXPECT_EQ(Code(0x2), VersionFromRecord(Record(VER_PLATFORM_WIN32_WINDOWS, 5, 0)));
}

TEST(VersionFromRecord, NtVersionsAndServicePacks) {
    EXPECT_EQ(Code(0x81), VersionFromRecord(Nt(4, 0, "Service Pack 6")));
    EXPECT_EQ(Code(0x101), VersionFromRecord(Nt(5, 0, "Service Pack 4")));
    EXPECT_EQ(Code(0x201), VersionFromRecord(Nt(5, 1)));
    EXPECT_EQ(Code(0x201, 0x2), VersionFromRecord(Nt(5, 1, "Service Pack 1")));
    EXPECT_EQ(Code(0x201, 0x4), VersionFromRecord(Nt(5, 1, "Service Pack 2")));
    EXPECT_EQ(Code(0x201, 0x8), VersionFromRecord(Nt(5, 1, "Service Pack 3")));
    EXPECT_EQ(Code(0x1001, 0x4), VersionFromRecord(Nt(5, 2, "Service Pack 2")));
    EXPECT_EQ(Code(0x2001, 0x4), VersionFromRecord(Nt(6, 0, "Service Pack 2")));
    EXPECT_EQ(Code(0x4001, 0x2), VersionFromRecord(Nt(6, 1, "Service Pack 1")));
    EXPECT_EQ(Code(0x40001), VersionFromRecord(Nt(6, 2)));
    EXPECT_EQ(Code(0x80001), VersionFromRecord(Nt(6, 3)));
    // Service packs are found anywhere in the text, not only at its start.
    EXPECT_EQ(Code(0x201, 0x8), VersionFromRecord(Nt(5, 1, "Beta Service Pack 3 build")));
}

TEST(VersionFromRecord, UnknownVersionsKeepOnlyTheirFamily) {
    EXPECT_EQ(Code(0x1), VersionFromRecord(Nt(10, 0)));
    EXPECT_EQ(Code(0x1), VersionFromRecord(Nt(3, 51, "Service Pack 5")));
    EXPECT_EQ(Code(0x1), VersionFromRecord(Nt(6, 4)));
    // The minor version must not leak into the major one.
    EXPECT_EQ(Code(0x1), VersionFromRecord(Nt(5, 0x10001)));
    EXPECT_EQ(Code(0x4), VersionFromRecord(Record(VER_PLATFORM_WIN32s, 3, 10)));
    EXPECT_EQ(Code(0), VersionFromRecord(Record(3, 5, 0)));
}

TEST(VersionFromRecord, ServicePackTextWithoutTerminatorIsReadInsideTheRecord) {
    OSVERSIONINFOA record = Nt(5, 1);
    const char tail[] = "Service Pack 3";
    memset(record.szCSDVersion, 'x', sizeof(record.szCSDVersion));
    memcpy(record.szCSDVersion + sizeof(record.szCSDVersion) - strlen(tail), tail, strlen(tail));
    EXPECT_EQ(Code(0x201, 0x8), VersionFromRecord(record));
}

// --- Display names -----------------------------------------------------------------------------------------

TEST(OsName, NinetyFiveFamilyAndOthersCarryNoTags) {
    EXPECT_EQ("Windows 95", Name(Code(0x12)));
    EXPECT_EQ("Windows 95 OSR2", Name(Code(0x402)));
    EXPECT_EQ("Windows 98", Name(Code(0x22)));
    EXPECT_EQ("Windows 98 SE", Name(Code(0x802)));
    EXPECT_EQ("Windows ME", Name(Code(0x42)));
    EXPECT_EQ("unknown dos kernel 0x2", Name(Code(0x2, 0xFFFFFFFF)));
    EXPECT_EQ("Windows 3.1", Name(Code(0x4)));
    EXPECT_EQ("Windows CE 5.0", Name(Code(0x8008)));
    EXPECT_EQ("Windows CE 5.2", Name(Code(0x10008)));
    EXPECT_EQ("unknown ce kernel 0x8", Name(Code(0x8)));
    EXPECT_EQ("unknown 0x0", Name(Code(0)));
    EXPECT_EQ("unknown 0x100", Name(Code(0x100)));
}

TEST(OsName, DecodedRecordsNameTheirVersions) {
    EXPECT_EQ("Windows 98 SE", Name(VersionFromRecord(Win9x(10, " A "))));
    EXPECT_EQ("unknown dos kernel 0x2", Name(VersionFromRecord(Record(VER_PLATFORM_WIN32_WINDOWS, 5, 0))));
    EXPECT_EQ("Windows NT4", Name(VersionFromRecord(Nt(4, 0))));
    EXPECT_EQ("Windows 2000", Name(VersionFromRecord(Nt(5, 0))));
    EXPECT_EQ("Windows XP", Name(VersionFromRecord(Nt(5, 1, "Service Pack 3"))));
    EXPECT_EQ("Windows Server 2003", Name(VersionFromRecord(Nt(5, 2))));
    EXPECT_EQ("Windows Vista", Name(VersionFromRecord(Nt(6, 0))));
    EXPECT_EQ("Windows 7", Name(VersionFromRecord(Nt(6, 1, "Service Pack 1"))));
    EXPECT_EQ("Windows 8", Name(VersionFromRecord(Nt(6, 2))));
    EXPECT_EQ("Windows 8.1", Name(VersionFromRecord(Nt(6, 3))));
}

TEST(OsName, UnknownNtKernelGetsNoTags) {
    EXPECT_EQ("unknown nt kernel 0x1", Name(VersionFromRecord(Nt(10, 0))));
    EXPECT_EQ("unknown nt kernel 0x1", Name(Code(0x1, 0x4000000 | 0x8000 | 0x1000)));
}

TEST(OsName, TagsFollowInTheirOrder) {
    EXPECT_EQ("Windows XP [Home Edition] [TerminalSession]", Name(Code(0x201, 0x401008)));
    EXPECT_EQ("Windows Server 2003 [Server] [Enterprise] [Domain Controller]",
              Name(Code(0x1001, 0x8000 | 0x100000 | 0x4000000)));
    EXPECT_EQ("Windows XP [MiniNT] [TabletPC] [MediaCenter]", Name(Code(0x201, 0x4000 | 0x40 | 0x80)));
    EXPECT_EQ("Windows Vista [Datacenter] [Embedded] [Storage Server] [Terminal Services] [Home Server]"
              " [Fundamentals for Legacy PCs]",
              Name(Code(0x2001, 0x80000 | 0x200000 | 0x800000 | 0x1000000 | 0x2000000 | 0x1)));
}

TEST(OsName, EitherTagsKeepTheirPrecedence) {
    EXPECT_EQ("Windows 2000 [Server]", Name(Code(0x101, 0x8000 | 0x10000)));
    EXPECT_EQ("Windows 2000 [Advanced Server]", Name(Code(0x101, 0x10000)));
    EXPECT_EQ("Windows XP [PE Builder]", Name(Code(0x201, 0x2000 | 0x4000)));
    EXPECT_EQ("Windows XP [MediaCenter 2004]", Name(Code(0x201, 0x80 | 0x100 | 0x800)));
    EXPECT_EQ("Windows XP [MediaCenter 2005]", Name(Code(0x201, 0x80 | 0x200 | 0x400)));
    EXPECT_EQ("Windows XP [MediaCenter 2005 Ex]", Name(Code(0x201, 0x400 | 0x800)));
    EXPECT_EQ("Windows Vista [MediaCenter Vista]", Name(Code(0x2001, 0x800)));
}

TEST(OsName, ServicePackStarterAndR2GiveNoTag) {
    EXPECT_EQ("Windows XP", Name(Code(0x201, 0x2 | 0x4 | 0x8 | 0x10 | 0x20)));
    // A server that is not a domain controller.
    EXPECT_EQ("Windows Server 2003 [Server]", Name(Code(0x1001, 0x8000)));
}

TEST(OsName, FirstNtVersionBitWins) {
    EXPECT_EQ("Windows XP", Name(Code(0x201 | 0x4000)));
    EXPECT_EQ("Windows NT4", Name(Code(0x81 | 0x100)));
}

TEST(OsName, LongestNameFitsTheBuffer) {
    // Every tag, with the longer choice wherever there is one: 254 characters.
    uint32_t high = 0xFFFFFFFFu & ~(0x8000u | 0x100u | 0x200u);
    char buffer[300];
    memset(buffer, 0x5A, sizeof(buffer));
    const char *name = OsName(buffer, Code(0x1001, high));
    ASSERT_EQ(buffer, name);
    EXPECT_EQ(254u, strlen(name));
    EXPECT_EQ(0,
              strncmp(name,
                      "Windows Server 2003 [Advanced Server] [PE Builder] [TabletPC] [MediaCenter 2005 Ex]",
                      83));
    EXPECT_EQ(std::string(" [Fundamentals for Legacy PCs] [TerminalSession]"), std::string(name + 254 - 48));
    for (size_t i = 255; i < sizeof(buffer); ++i)
        ASSERT_EQ(0x5A, buffer[i]) << i;
}

// --- Editions from the extended record
// -----------------------------------------------------------------------

TEST(EditionFromSuite, SuiteBitsAndProductType) {
    auto high = [](uint16_t suite, uint8_t product) {
        return static_cast<uint32_t>(EditionFromSuite(suite, product) >> 32);
    };
    EXPECT_EQ(0u, static_cast<uint32_t>(EditionFromSuite(0xFFFF, 2))); // only the high part
    EXPECT_EQ(0x80000u, high(VER_SUITE_DATACENTER, VER_NT_SERVER));
    EXPECT_EQ(0x100000u | 0x8000u, high(VER_SUITE_ENTERPRISE, VER_NT_SERVER));
    EXPECT_EQ(0x200000u, high(VER_SUITE_EMBEDDEDNT, VER_NT_WORKSTATION));
    EXPECT_EQ(0x400000u, high(VER_SUITE_PERSONAL, VER_NT_WORKSTATION));
    EXPECT_EQ(0x800000u, high(VER_SUITE_STORAGE_SERVER, VER_NT_SERVER));
    EXPECT_EQ(0x1000000u, high(VER_SUITE_TERMINAL, VER_NT_SERVER));
    EXPECT_EQ(0u, high(VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS, VER_NT_WORKSTATION));
    EXPECT_EQ(0u, high(VER_SUITE_SINGLEUSERTS, VER_NT_WORKSTATION));
    EXPECT_EQ(0x2000000u, high(0x8000, VER_NT_SERVER));
    EXPECT_EQ(0x8000u, high(VER_SUITE_SMALLBUSINESS, VER_NT_SERVER));
    EXPECT_EQ(0x4000000u, high(0, VER_NT_DOMAIN_CONTROLLER));
    EXPECT_EQ(0u, high(0, VER_NT_SERVER));
}

// --- Version tests ---------------------------------------------------------------------------------------

TEST(IsAtLeastFor, VistaMask) {
    EXPECT_EQ(1, IsAtLeastFor(0x2000, Nt(6, 0)));
    EXPECT_EQ(1, IsAtLeastFor(0x2000, Nt(6, 1, "Service Pack 1")));
    EXPECT_EQ(1, IsAtLeastFor(0x2000, Nt(6, 3)));
    EXPECT_EQ(1, IsAtLeastFor(0x2000, Nt(10, 0)));
    EXPECT_EQ(0, IsAtLeastFor(0x2000, Nt(5, 1, "Service Pack 3")));
    EXPECT_EQ(0, IsAtLeastFor(0x2000, Nt(5, 2)));
    EXPECT_EQ(0, IsAtLeastFor(0x2000, Win9x(90)));
}

TEST(IsAtLeastFor, XpWithServicePackTwo) {
    uint64_t mask = Code(0x200, 0x4);
    EXPECT_EQ(0, IsAtLeastFor(mask, Nt(5, 1)));
    EXPECT_EQ(0, IsAtLeastFor(mask, Nt(5, 1, "Service Pack 1")));
    EXPECT_EQ(1, IsAtLeastFor(mask, Nt(5, 1, "Service Pack 2")));
    EXPECT_EQ(1, IsAtLeastFor(mask, Nt(5, 1, "Service Pack 3")));
    EXPECT_EQ(1, IsAtLeastFor(mask, Nt(5, 2)));
    EXPECT_EQ(1, IsAtLeastFor(mask, Nt(6, 0)));
    EXPECT_EQ(0, IsAtLeastFor(mask, Nt(5, 0, "Service Pack 4")));
}

TEST(IsAtLeastFor, ServicePackRequirementsMeanThatOrLater) {
    EXPECT_EQ(1, IsAtLeastFor(Code(0x200, 0x2), Nt(5, 1, "Service Pack 1")));
    EXPECT_EQ(1, IsAtLeastFor(Code(0x200, 0x2), Nt(5, 1, "Service Pack 3")));
    EXPECT_EQ(0, IsAtLeastFor(Code(0x200, 0x8), Nt(5, 1, "Service Pack 2")));
    EXPECT_EQ(1, IsAtLeastFor(Code(0x200, 0x8), Nt(5, 1, "Service Pack 3")));
    EXPECT_EQ(0, IsAtLeastFor(Code(0x4000, 0x4), Nt(6, 1, "Service Pack 1")));
    EXPECT_EQ(1, IsAtLeastFor(Code(0x4000, 0x2), Nt(6, 1, "Service Pack 1")));
}

TEST(IsAtLeastFor, LowestRequestedVersionAtOrBelowTheRunningOneDecides) {
    // Windows 7 without service pack against "7 with SP2 or XP with SP3": XP decides, and 7 is above it.
    EXPECT_EQ(1, IsAtLeastFor(Code(0x4000 | 0x200, 0x8), Nt(6, 1)));
    // XP SP1 against "Vista or XP SP2": Vista is above the running system, XP SP2 decides.
    EXPECT_EQ(0, IsAtLeastFor(Code(0x2000 | 0x200, 0x4), Nt(5, 1, "Service Pack 1")));
    // The NT bit alone is any NT.
    EXPECT_EQ(1, IsAtLeastFor(0x1, Nt(4, 0)));
    EXPECT_EQ(1, IsAtLeastFor(0x1, Nt(10, 0)));
    // The NT bit is replaced by a listed version that decides against it.
    EXPECT_EQ(0, IsAtLeastFor(Code(0x1 | 0x200, 0x8), Nt(5, 1)));
}

TEST(IsAtLeastFor, NtOlderThanEveryListedVersionSatisfiesNone) {
    EXPECT_EQ(0, IsAtLeastFor(0x2000, Nt(3, 51)));
    EXPECT_EQ(0, IsAtLeastFor(0x80, Nt(3, 51)));
    EXPECT_EQ(1, IsAtLeastFor(0x1, Nt(3, 51)));
}

TEST(IsAtLeastFor, NewerThanEveryListedVersionSatisfiesAll) {
    EXPECT_EQ(1, IsAtLeastFor(0x80000, Nt(10, 0)));
    EXPECT_EQ(1, IsAtLeastFor(Code(0x80000, 0x8), Nt(10, 0)));
    EXPECT_EQ(1, IsAtLeastFor(Code(0x80, 0x8), Nt(6, 4)));
}

TEST(IsAtLeastFor, NinetyFiveFamily) {
    EXPECT_EQ(1, IsAtLeastFor(0x2, Win9x(0)));
    EXPECT_EQ(1, IsAtLeastFor(0x10, Win9x(0)));
    EXPECT_EQ(0, IsAtLeastFor(0x400, Win9x(0)));
    EXPECT_EQ(1, IsAtLeastFor(0x400, Win9x(0, " B")));
    EXPECT_EQ(0, IsAtLeastFor(0x20, Win9x(0, " C")));
    EXPECT_EQ(1, IsAtLeastFor(0x20, Win9x(10)));
    EXPECT_EQ(0, IsAtLeastFor(0x800, Win9x(10)));
    EXPECT_EQ(0, IsAtLeastFor(0x400, Win9x(10)));
    EXPECT_EQ(1, IsAtLeastFor(0x800, Win9x(10, " A ")));
    EXPECT_EQ(0, IsAtLeastFor(0x40, Win9x(10, " A ")));
    EXPECT_EQ(1, IsAtLeastFor(0x40, Win9x(90)));
    EXPECT_EQ(1, IsAtLeastFor(0x400 | 0x800, Win9x(90)));
    EXPECT_EQ(0, IsAtLeastFor(0x1 | 0x200, Win9x(90)));
    // Major version 5 of the family answers only the family bit.
    EXPECT_EQ(1, IsAtLeastFor(0x2, Record(VER_PLATFORM_WIN32_WINDOWS, 5, 0)));
    EXPECT_EQ(0, IsAtLeastFor(0x10, Record(VER_PLATFORM_WIN32_WINDOWS, 5, 0)));
}

TEST(IsAtLeastFor, Win32sAndUnknownPlatforms) {
    EXPECT_EQ(1, IsAtLeastFor(0x4, Record(VER_PLATFORM_WIN32s, 3, 10)));
    EXPECT_EQ(0, IsAtLeastFor(0x1 | 0x2, Record(VER_PLATFORM_WIN32s, 3, 10)));
    EXPECT_EQ(0, IsAtLeastFor(0xFFFFFFFF, Record(3, 5, 0)));
}

// --- Version byte
// ----------------------------------------------------------------------------------------------

TEST(VersionByteFrom, TextFirstThenRecord) {
    OSVERSIONINFOA seven = Nt(6, 1);
    EXPECT_EQ(0x15, VersionByteFrom("5.1", &seven));
    EXPECT_EQ(0x16, VersionByteFrom("6.1", nullptr));
    EXPECT_EQ(0x36, VersionByteFrom("6.3", nullptr));
    EXPECT_EQ(0x16, VersionByteFrom("garbage", &seven));
    EXPECT_EQ(0x16, VersionByteFrom("6", &seven));
    EXPECT_EQ(0x16, VersionByteFrom(nullptr, &seven));
    OSVERSIONINFOA xp = Nt(5, 1);
    EXPECT_EQ(0x15, VersionByteFrom(nullptr, &xp));
    EXPECT_EQ(0, VersionByteFrom(nullptr, nullptr));
    EXPECT_EQ(0, VersionByteFrom("x.y", nullptr));
}

// --- Edition probes under a redirected HKEY_LOCAL_MACHINE
// -----------------------------------------------------

namespace {
class EditionProbeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(machine_.Valid()); }
    uint32_t ProbedHigh() {
        ScopedRootRedirect redirect(HKEY_LOCAL_MACHINE, machine_.Handle());
        EXPECT_TRUE(redirect.Active());
        return static_cast<uint32_t>(EditionFromRegistry() >> 32);
    }
    ScopedTestKey machine_{"Machine"};
};

const char kProductOptions[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
const char kMediaCenter[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center";
} // namespace

TEST_F(EditionProbeTest, RedirectionReallyHidesTheMachine) {
    ScopedRootRedirect redirect(HKEY_LOCAL_MACHINE, machine_.Handle());
    ASSERT_TRUE(redirect.Active());
    RegistryKey key;
    EXPECT_EQ(0, key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
}

TEST_F(EditionProbeTest, EmptyMachineAddsNothing) {
    EXPECT_EQ(0u, ProbedHigh());
}

TEST_F(EditionProbeTest, EveryProbeAtOnce) {
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "ServerNT"));
    ASSERT_TRUE(machine_.CreateSubkey("SYSTEM\\CurrentControlSet\\Control\\MiniNT"));
    ASSERT_TRUE(machine_.CreateSubkey("SYSTEM\\CurrentControlSet\\Control\\PE Builder"));
    ASSERT_TRUE(machine_.SetDword("SYSTEM\\WPA\\Fundamentals", "Installed", 1));
    ASSERT_TRUE(machine_.SetString(kMediaCenter, "Ident", "3.0"));
    EXPECT_EQ(0x8000u | 0x4000u | 0x2000u | 0x1u | 0x200u, ProbedHigh());
}

TEST_F(EditionProbeTest, ProductTypes) {
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "WinNT"));
    EXPECT_EQ(0u, ProbedHigh());
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "LanmanNT"));
    EXPECT_EQ(0x10000u, ProbedHigh());
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "lanmannt"));
    EXPECT_EQ(0x10000u, ProbedHigh());
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "SERVERNT"));
    EXPECT_EQ(0x8000u, ProbedHigh());
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "Something"));
    EXPECT_EQ(0u, ProbedHigh());
}

TEST_F(EditionProbeTest, OddProductTypeValuesAreHarmless) {
    ASSERT_TRUE(machine_.SetRaw(kProductOptions, "ProductType", REG_BINARY, "ServerNT", 8)); // no terminator
    EXPECT_EQ(0x8000u, ProbedHigh());
    std::string longer(400, 'S');
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", longer.c_str()));
    EXPECT_EQ(0u, ProbedHigh());
    std::string full(260, 'L'); // exactly the buffer, no terminator
    ASSERT_TRUE(machine_.SetRaw(kProductOptions, "ProductType", REG_BINARY, full.data(), 260));
    EXPECT_EQ(0u, ProbedHigh());
}

TEST_F(EditionProbeTest, FundamentalsNeedsExactlyOne) {
    ASSERT_TRUE(machine_.SetDword("SYSTEM\\WPA\\Fundamentals", "Installed", 2));
    EXPECT_EQ(0u, ProbedHigh());
    ASSERT_TRUE(machine_.SetDword("SYSTEM\\WPA\\Fundamentals", "Installed", 0));
    EXPECT_EQ(0u, ProbedHigh());
    const unsigned char one[4] = {1, 0, 0, 0};
    ASSERT_TRUE(machine_.SetRaw("SYSTEM\\WPA\\Fundamentals", "Installed", REG_BINARY, one, 4));
    EXPECT_EQ(0x1u, ProbedHigh());
}

TEST_F(EditionProbeTest, MediaCenterGenerations) {
    const struct {
        const char *ident;
        uint32_t bits;
    } cases[] = {{"2.0", 0x100}, {"3.1", 0x200}, {"4.0", 0x400}, {"5.0", 0x800}, {"1.0", 0},
                 {"6.0", 0},     {"abc", 0},     {"", 0},        {"5", 0x800},   {"2", 0x100}};
    for (const auto &c : cases) {
        ASSERT_TRUE(machine_.SetString(kMediaCenter, "Ident", c.ident));
        EXPECT_EQ(c.bits, ProbedHigh()) << c.ident;
    }
}

TEST_F(EditionProbeTest, QueryEditionAddsTheProbesToTheVersion) {
    ASSERT_TRUE(machine_.SetString(kProductOptions, "ProductType", "LanmanNT"));
    ASSERT_TRUE(machine_.CreateSubkey("SYSTEM\\CurrentControlSet\\Control\\MiniNT"));
    ASSERT_TRUE(machine_.SetString(kMediaCenter, "Ident", "5.0"));
    VersionCode version = QueryVersion();
    ASSERT_TRUE(version & kOsNt);
    OSVERSIONINFOEXA extended = {};
    extended.dwOSVersionInfoSize = sizeof(extended);
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&extended)));
    uint64_t expected = version | EditionFromSuite(extended.wSuiteMask, extended.wProductType) |
                        (static_cast<uint64_t>(0x10000 | 0x4000 | 0x800) << 32) | EditionFromMetrics();
    ScopedRootRedirect redirect(HKEY_LOCAL_MACHINE, machine_.Handle());
    ASSERT_TRUE(redirect.Active());
    VersionCode edition = QueryEdition();
    EXPECT_EQ(expected, edition);
    char buffer[256];
    std::string name = OsName(buffer, edition);
    EXPECT_NE(std::string::npos, name.find(" [Advanced Server] [MiniNT]")) << name;
    EXPECT_NE(std::string::npos, name.find(" [MediaCenter Vista]")) << name;
}

// --- The running system (a 64-bit Wine prefix that reports Windows 7 SP1)
// -------------------------------------

TEST(RunningSystem, QueryVersionDecodesThePlatformRecord) {
    OSVERSIONINFOA record = {};
    record.dwOSVersionInfoSize = sizeof(record);
    ASSERT_TRUE(GetVersionExA(&record));
    EXPECT_EQ(VersionFromRecord(record), QueryVersion());
    EXPECT_EQ(IsAtLeastFor(0x2000, record), IsAtLeast(0x2000));
    EXPECT_EQ(IsAtLeastFor(Code(0x200, 0x8), record), IsAtLeast(Code(0x200, 0x8)));
}

TEST(RunningSystem, ReportsWindowsSevenServicePackOne) {
    VersionCode code = QueryVersion();
    EXPECT_EQ(0x4001u, static_cast<uint32_t>(code));
    EXPECT_EQ(0x2u, static_cast<uint32_t>(code >> 32));
    EXPECT_EQ(1, IsAtLeast(0x2000));
    EXPECT_EQ(1, IsAtLeast(Code(0x4000, 0x2)));
    EXPECT_EQ(0, IsAtLeast(Code(0x4000, 0x4)));
    EXPECT_EQ(0, IsAtLeast(0x40000));
    EXPECT_EQ(0x16, VersionByte());
    char buffer[256];
    EXPECT_EQ(0, strncmp(OsName(buffer, QueryEdition()), "Windows 7", 9));
}

TEST(RunningSystem, QueryEditionKeepsTheVersionBits) {
    VersionCode version = QueryVersion();
    VersionCode edition = QueryEdition();
    EXPECT_EQ(static_cast<uint32_t>(version), static_cast<uint32_t>(edition));
    uint32_t servicePack = static_cast<uint32_t>(edition >> 32) & 0xE;
    EXPECT_EQ(static_cast<uint32_t>(version >> 32), servicePack);
}

TEST(RunningSystem, VersionByteMatchesTheRegistryText) {
    TextString text;
    ASSERT_EQ(1, ReadStringAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                              "CurrentVersion", text));
    EXPECT_EQ(VersionByteFrom(text.Text(), nullptr), VersionByte());
}

// The test prefix is a 64-bit one: the 32-bit program runs under WOW64 there and keeps the view flags; the
// 64-bit program is never under WOW64 and has no views to choose.
TEST(RunningSystem, OnlyTheThirtyTwoBitProgramIsWow64OnTheSixtyFourBitPrefix) {
    const int wow64 = sizeof(void *) == 4 ? 1 : 0;
    EXPECT_EQ(wow64, IsWow64());
    EXPECT_EQ(IsWow64(), IsWow64(GetCurrentProcess()));
    EXPECT_EQ(wow64 ? static_cast<uint32_t>(KEY_WOW64_64KEY) : 0u, FilterViewFlags(KEY_WOW64_64KEY));
    // A handle the call cannot use counts as "not under WOW64".
    EXPECT_EQ(0, IsWow64(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1230))));
}

TEST(RunningSystem, CommonControlsVersionIsKnown) {
    uint32_t version = CommonControlsVersion();
    EXPECT_GE(version >> 16, 5u) << std::hex << version;
    EXPECT_LE(version >> 16, 6u) << std::hex << version;
}

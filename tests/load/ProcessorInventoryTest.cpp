// Processor inventory and its system-information binding: fake processors under a redirected
// HKEY_LOCAL_MACHINE (count, names as stored, speed fall-backs, the 95/98/Me naming), the speed record,
// a missing NtQuerySystemInformation, and this machine's real processors.
#include "base/TextString.h"
#include "base/Win.h"
#include "base/SystemInfoQuery.h"
#include "load/UsageSampler.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <string>

// ---- The speed record -------------------------------------------------------------------------------

TEST(SpeedFromSystemRecord, HertzAtOffsetFourWinsOverTheRegistry) {
    uint8_t bytes[15] = {};
    const uint32_t hertz = 2400000000u;
    memcpy(bytes + 4, &hertz, 4);
    ProcessorSpeedRecord record;
    memcpy(&record, bytes, sizeof(record));
    EXPECT_EQ(2400u, SpeedFromSystemRecord(0, &record, 3333));
    EXPECT_EQ(2400u, SpeedFromSystemRecord(0, &record, 0));
}

TEST(SpeedFromSystemRecord, FailedQueryOrZeroKeepsTheRegistryValue) {
    ProcessorSpeedRecord record = {};
    EXPECT_EQ(3333u, SpeedFromSystemRecord(0, &record, 3333));
    record.hertz = 2400000000u;
    EXPECT_EQ(3333u, SpeedFromSystemRecord(static_cast<LONG>(0xC0000003), &record, 3333));
    EXPECT_EQ(0u, SpeedFromSystemRecord(static_cast<LONG>(0xC00000FF), &record, 0));
}

// ---- SystemInfoQuery --------------------------------------------------------------------------------

namespace {
struct QueryCall {
    ULONG infoClass = 0;
    void *buffer = nullptr;
    ULONG length = 0;
    ULONG *returned = nullptr;
};
QueryCall g_call;

LONG WINAPI RecordingQuery(ULONG infoClass, void *buffer, ULONG length, ULONG *returned) {
    g_call.infoClass = infoClass;
    g_call.buffer = buffer;
    g_call.length = length;
    g_call.returned = returned;
    return 0x1234;
}
} // namespace

TEST(SystemInfoQuery, MissingFunctionAnswersUnavailableWithoutTouchingTheBuffer) {
    SystemInfoQuery query("kernel32.dll");
    uint8_t buffer[44];
    memset(buffer, 0xAB, sizeof(buffer));
    ULONG returned = 77;
    EXPECT_EQ(static_cast<LONG>(0xC00000FF), query.Query(0, buffer, sizeof(buffer), &returned));
    EXPECT_EQ(0, query.Available());
    EXPECT_EQ(77u, returned);
    for (uint8_t byte : buffer)
        ASSERT_EQ(0xAB, byte);
}

TEST(SystemInfoQuery, MissingLibraryAnswersUnavailable) {
    SystemInfoQuery query("TarvexNoSuchLibrary.dll");
    uint8_t buffer[4] = {};
    EXPECT_EQ(static_cast<LONG>(0xC00000FF), query.Query(0, buffer, sizeof(buffer), nullptr));
    EXPECT_EQ(0, query.Available());
}

TEST(SystemInfoQuery, ArgumentsAndStatusPassThroughUnchanged) {
    SystemInfoQuery query(nullptr, RecordingQuery);
    uint8_t buffer[15];
    ULONG returned = 0;
    EXPECT_EQ(1, query.Available());
    EXPECT_EQ(0x1234, query.Query(43, buffer, 15, &returned));
    EXPECT_EQ(43u, g_call.infoClass);
    EXPECT_EQ(buffer, g_call.buffer);
    EXPECT_EQ(15u, g_call.length);
    EXPECT_EQ(&returned, g_call.returned);
}

TEST(SystemInfoQuery, RealBasicInformationCountsTheProcessors) {
    SystemInfoQuery query;
    ASSERT_EQ(1, query.Available());
    // The record's layout differs between the 32-bit and the 64-bit system: its size and the count's place
    // come from the record type, and the system must take exactly that size.
    SystemBasicRecord basic = {};
    ULONG returned = 0;
    EXPECT_EQ(0, query.Query(0, &basic, sizeof(basic), &returned));
    EXPECT_EQ(sizeof(basic), returned);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.dwNumberOfProcessors, basic.processorCount);
    EXPECT_NE(0u, basic.addresses[1]); // the highest user address: the pointer-sized fields line up
    EXPECT_EQ(info.lpMaximumApplicationAddress, reinterpret_cast<void *>(basic.addresses[1]));
}

// ---- Fake processors under a redirected HKEY_LOCAL_MACHINE ------------------------------------------

namespace {
const char kProcessors[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor";

std::string ProcessorKey(unsigned index) {
    return std::string(kProcessors) + "\\" + std::to_string(index);
}

// The system-information answers the fake machine gives: speed record status and hertz.
LONG g_speedStatus = static_cast<LONG>(0xC0000003);
uint32_t g_speedHertz = 0;
int g_speedQueries = 0;

LONG WINAPI FakeMachineQuery(ULONG infoClass, void *buffer, ULONG length, ULONG *) {
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    if (infoClass == 0 && length >= sizeof(SystemBasicRecord)) {
        bytes[offsetof(SystemBasicRecord, processorCount)] = 4;
        return 0;
    }
    if (infoClass == 43) {
        ++g_speedQueries;
        if (length != 15)
            return static_cast<LONG>(0xC0000004);
        if (g_speedStatus == 0)
            memcpy(bytes + 4, &g_speedHertz, 4);
        return g_speedStatus;
    }
    return static_cast<LONG>(0xC0000003);
}

class FakeProcessors : public ::testing::Test {
protected:
    void SetUp() override {
        g_speedStatus = static_cast<LONG>(0xC0000003);
        g_speedHertz = 0;
        g_speedQueries = 0;
        ASSERT_TRUE(key_.Valid());
        for (unsigned i = 0; i < 4; ++i) {
            const std::string key = ProcessorKey(i);
            const std::string name = "   Fake Processor " + std::to_string(i) + " @ 2.40GHz";
            ASSERT_TRUE(key_.SetString(key.c_str(), "ProcessorNameString", name.c_str()));
            ASSERT_TRUE(key_.SetString(key.c_str(), "Identifier", "x86 Family 6 Model 42 Stepping 7"));
            ASSERT_TRUE(key_.SetString(key.c_str(), "VendorIdentifier", "FakeVendorInc"));
            ASSERT_TRUE(key_.SetDword(key.c_str(), "~MHz", 2394 + i));
        }
        redirect_.reset(new ScopedRootRedirect(HKEY_LOCAL_MACHINE, key_.Handle()));
        ASSERT_TRUE(redirect_->Active());
    }
    void TearDown() override { redirect_.reset(); }

    ScopedTestKey key_{"Processors"};
    std::unique_ptr<ScopedRootRedirect> redirect_;
};
} // namespace

TEST_F(FakeProcessors, FourProcessorsAnswerForIndexesZeroToThreeOnly) {
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name;
    for (uint32_t index = 0; index < 4; ++index)
        EXPECT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, index)) << index;
    EXPECT_EQ(0, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, 4));
    EXPECT_EQ(0, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, 0xFFFFFFFFu));
}

TEST_F(FakeProcessors, MissingProcessorTouchesNoOutput) {
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name, vendor, identifier;
    name.Assign("before");
    vendor.Assign("vendor before");
    identifier.Assign("identifier before");
    uint32_t mhz = 77;
    EXPECT_EQ(0, sampler.ProcessorInventory(name, &vendor, &identifier, &mhz, 4));
    EXPECT_STREQ("before", name.Text());
    EXPECT_STREQ("vendor before", vendor.Text());
    EXPECT_STREQ("identifier before", identifier.Text());
    EXPECT_EQ(77u, mhz);
    EXPECT_EQ(0, g_speedQueries);
}

TEST_F(FakeProcessors, NtNamesComeFromProcessorNameStringWithLeadingBlanksKept) {
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name, vendor, identifier;
    uint32_t mhz = 0;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, &vendor, &identifier, &mhz, 2));
    EXPECT_STREQ("   Fake Processor 2 @ 2.40GHz", name.Text());
    EXPECT_EQ(static_cast<int>(strlen("   Fake Processor 2 @ 2.40GHz")), name.Length());
    EXPECT_STREQ("FakeVendorInc", vendor.Text());
    EXPECT_STREQ("x86 Family 6 Model 42 Stepping 7", identifier.Text());
    // The speed query fails on this fake machine: the registry's value stands.
    EXPECT_EQ(2396u, mhz);
    EXPECT_EQ(1, g_speedQueries);
}

TEST_F(FakeProcessors, NinetyFiveFamilyNamesComeFromIdentifierAndLeaveTheIdentifierAlone) {
    UsageSampler sampler(0, nullptr);
    TextString name, identifier;
    identifier.Assign("untouched");
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, &identifier, nullptr, 1));
    EXPECT_STREQ("x86 Family 6 Model 42 Stepping 7", name.Text());
    EXPECT_STREQ("untouched", identifier.Text());
}

TEST_F(FakeProcessors, SystemSpeedRecordWinsOverTheRegistry) {
    g_speedStatus = 0;
    g_speedHertz = 2400000000u;
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name;
    uint32_t mhz = 0;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, &mhz, 3));
    EXPECT_EQ(2400u, mhz);
}

TEST_F(FakeProcessors, NoSpeedAnywhereGivesZero) {
    ASSERT_TRUE(key_.SetString(ProcessorKey(1).c_str(), "ProcessorNameString", "No Speed"));
    HKEY processor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(key_.Handle(), ProcessorKey(1).c_str(), 0, KEY_ALL_ACCESS, &processor));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(processor, "~MHz"));
    RegCloseKey(processor);
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name;
    uint32_t mhz = 1234;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, &mhz, 1));
    EXPECT_STREQ("No Speed", name.Text());
    EXPECT_EQ(0u, mhz);
    // A succeeding query that reports 0 Hz is no speed either.
    g_speedStatus = 0;
    g_speedHertz = 0;
    mhz = 1234;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, &mhz, 1));
    EXPECT_EQ(0u, mhz);
}

TEST_F(FakeProcessors, MissingValuesKeepThePreviousContent) {
    ASSERT_TRUE(key_.CreateSubkey(ProcessorKey(4).c_str()));
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name, vendor, identifier;
    name.Assign("kept name");
    vendor.Assign("kept vendor");
    identifier.Assign("kept identifier");
    uint32_t mhz = 55;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, &vendor, &identifier, &mhz, 4));
    EXPECT_STREQ("kept name", name.Text());
    EXPECT_STREQ("kept vendor", vendor.Text());
    EXPECT_STREQ("kept identifier", identifier.Text());
    EXPECT_EQ(0u, mhz);
}

TEST_F(FakeProcessors, DataStoredWithoutTerminatorKeepsItsLastCharacter) {
    ASSERT_TRUE(key_.SetRaw(ProcessorKey(0).c_str(), "ProcessorNameString", REG_SZ, "Bare", 4));
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ("Bare", name.Text());
}

TEST_F(FakeProcessors, NameLengthLimit) {
    const std::string longest(259, 'n');
    ASSERT_TRUE(key_.SetString(ProcessorKey(0).c_str(), "ProcessorNameString", longest.c_str()));
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(longest, name.Text());
    // One more character does not fit the 260 bytes: the name stays as it was.
    const std::string tooLong(260, 'x');
    ASSERT_TRUE(key_.SetString(ProcessorKey(0).c_str(), "ProcessorNameString", tooLong.c_str()));
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(longest, name.Text());
}

TEST_F(FakeProcessors, IndexIsWrittenInDecimalWithoutLeadingZeros) {
    ASSERT_TRUE(key_.SetString((std::string(kProcessors) + "\\12").c_str(), "ProcessorNameString", "Twelve"));
    ASSERT_TRUE(
        key_.SetString((std::string(kProcessors) + "\\012").c_str(), "ProcessorNameString", "Padded"));
    UsageSampler sampler(1, FakeMachineQuery);
    TextString name;
    ASSERT_EQ(1, sampler.ProcessorInventory(name, nullptr, nullptr, nullptr, 12));
    EXPECT_STREQ("Twelve", name.Text());
}

// ---- This machine's processors ----------------------------------------------------------------------

namespace {
std::string RegistryText(HKEY key, const char *name) {
    char buffer[512] = {};
    DWORD size = sizeof(buffer) - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    return buffer;
}
} // namespace

TEST(RealProcessors, OneAnswerPerProcessorWithTheRegistrysDescriptions) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    UsageSampler sampler;
    ASSERT_EQ(1, sampler.IsNt());

    // What the speed record says on this system decides which speed to expect.
    SystemInfoQuery query;
    ProcessorSpeedRecord record = {};
    const LONG speedStatus = query.Query(43, &record, sizeof(record), nullptr);

    uint32_t count = 0;
    for (;; ++count) {
        TextString name, vendor, identifier;
        name.Assign("<missing>");
        vendor.Assign("<missing>");
        identifier.Assign("<missing>");
        uint32_t mhz = 0xDEADBEEF;
        if (!sampler.ProcessorInventory(name, &vendor, &identifier, &mhz, count))
            break;
        ASSERT_LT(count, 1024u) << "the inventory does not end";
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProcessorKey(count).c_str(), 0, KEY_READ, &key));
        EXPECT_EQ(RegistryText(key, "ProcessorNameString"), name.Text());
        EXPECT_EQ(RegistryText(key, "VendorIdentifier"), vendor.Text());
        EXPECT_EQ(RegistryText(key, "Identifier"), identifier.Text());
        DWORD registryMhz = 0, size = sizeof(registryMhz);
        if (RegQueryValueExA(key, "~MHz", nullptr, nullptr, reinterpret_cast<BYTE *>(&registryMhz), &size) !=
            ERROR_SUCCESS)
            registryMhz = 0;
        RegCloseKey(key);
        EXPECT_EQ(SpeedFromSystemRecord(speedStatus, &record, registryMhz), mhz);
    }
    EXPECT_EQ(info.dwNumberOfProcessors, count);
}

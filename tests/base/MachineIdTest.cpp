// MachineId: the text form and check byte, every registry source and fall-back against a redirected
// HKEY_LOCAL_MACHINE, the real machine's sources (volume, WMI) and the stability of the result.
#include "base/MachineId.h"
#include "base/TextString.h"
#include "base/WmiQuery.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
uint8_t Sum(const std::string &text) {
    uint8_t sum = 0;
    for (unsigned char c : text)
        sum = static_cast<uint8_t>(sum + c);
    return sum;
}

uint8_t Xor(const std::string &text) {
    uint8_t digest = 0;
    for (unsigned char c : text)
        digest ^= c;
    return digest;
}

std::string TextOf(const MachineIdBytes &id) {
    TextString text;
    MachineId::ToText(id, text);
    return text.Text();
}

int IsWellFormed(const std::string &text) {
    if (text.size() != MachineId::kTextLength)
        return 0;
    for (size_t i = 0; i < text.size(); ++i) {
        int dash = i % 5 == 4;
        if (dash ? text[i] != '-'
                 : !(isdigit(static_cast<unsigned char>(text[i])) || (text[i] >= 'A' && text[i] <= 'F')))
            return 0;
    }
    return 1;
}

const char kNtCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kDiskEnum[] = "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
const char kScsiUnit[] =
    "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id 0";

std::string ScsiUnit(unsigned port, unsigned bus, unsigned target) {
    char path[200];
    snprintf(path, sizeof(path), kScsiUnit, port, bus, target);
    return path;
}

// HKEY_LOCAL_MACHINE seen as an empty private key for the test's lifetime.
class RedirectedMachineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(machine_.Valid());
        redirect_.reset(new ScopedRootRedirect(HKEY_LOCAL_MACHINE, machine_.Handle()));
        ASSERT_TRUE(redirect_->Active());
    }
    void TearDown() override { redirect_.reset(); }

    MachineIdBytes Compute(uint32_t purpose = MachineId::kUpdateCheck, uint32_t sources = 0) {
        MachineIdBytes id;
        MachineId(sources).ComputeBytes(purpose, id);
        return id;
    }

    ScopedTestKey machine_{"Machine"};
    std::unique_ptr<ScopedRootRedirect> redirect_;
};
} // namespace

// --- Bytes to text -----------------------------------------------------------------------------------------

TEST(MachineIdText, CheckByteAndWordOrder) {
    struct Case {
        uint8_t bytes[7];
        uint8_t check;
        const char *text;
    };
    const Case cases[] = {
        {{0x10, 0xA3, 0x61, 0x5C, 0x3E, 0x00, 0x02}, 0x4D, "A310-5C61-003E-4D02"},
        {{0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0xEF, "0010-0000-0000-EF00"},
        {{0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 0x10, "FF10-FFFF-FFFF-1000"},
        {{0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0xE8, "0110-0302-0504-E806"},
        {{0x10, 0x0a, 0xb0, 0x0c, 0xd0, 0x0e, 0xf0}, 0x77, "0A10-0CB0-0ED0-77F0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        MachineIdBytes id;
        memcpy(id.bytes, c.bytes, 7);
        id.bytes[7] = 0x55;
        MachineId::Seal(id);
        EXPECT_EQ(c.check, id.bytes[7]);
        EXPECT_EQ(c.text, TextOf(id));
    }
}

// --- Registry sources, with the platform sources left out --------------------------------------------------

TEST_F(RedirectedMachineTest, NoSourceStillGivesAWellFormedText) {
    const uint32_t purposes[] = {0, 2, 4, 0xFF, 0x1234};
    for (uint32_t purpose : purposes) {
        TextString text;
        MachineId(0).Compute(purpose, text);
        uint8_t p = static_cast<uint8_t>(purpose);
        char expected[32];
        snprintf(expected, sizeof(expected), "0010-0000-0000-%02X%02X", static_cast<uint8_t>(~(0x10 ^ p)), p);
        EXPECT_STREQ(expected, text.Text());
    }
}

TEST_F(RedirectedMachineTest, EachRegistrySourceAndItsFallBacks) {
    struct Value {
        std::string key;
        const char *name;
        DWORD type;
        std::string data;
    };
    struct Case {
        const char *what;
        std::vector<Value> values;
        int byte;
        uint8_t expected;
    };
    const std::string productId = "55274-640-1234567-23456";
    const std::string address6("\x01\x02\x03\x04\x05\x06", 6);
    const std::string sz(1, '\0');
    const Case cases[] = {
        {"version 6.1", {{kNtCurrentVersion, "CurrentVersion", REG_SZ, "6.1" + sz}}, 2, 0x16},
        {"version 5.1", {{kNtCurrentVersion, "CurrentVersion", REG_SZ, "5.1" + sz}}, 2, 0x15},
        {"version 10.0", {{kNtCurrentVersion, "CurrentVersion", REG_SZ, "10.0" + sz}}, 2, 0x0A},
        {"version unreadable", {{kNtCurrentVersion, "CurrentVersion", REG_SZ, "six" + sz}}, 2, 0},
        {"product id", {{kNtCurrentVersion, "ProductId", REG_SZ, productId + sz}}, 1, Sum(productId)},
        // The last fall-back of the adapter is the product id too.
        {"adapter from product id",
         {{kNtCurrentVersion, "ProductId", REG_SZ, productId + sz}},
         4,
         Xor(productId)},
        {"adapter from MAC",
         {{"SOFTWARE\\Microsoft\\Windows Genuine Advantage", "MAC", REG_SZ, "00-1A-2B-3C-4D-5E" + sz},
          {"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData", "NetworkAddress", REG_BINARY,
           address6},
          {kNtCurrentVersion, "ProductId", REG_SZ, productId + sz}},
         4,
         Xor("00-1A-2B-3C-4D-5E")},
        {"adapter from network address",
         {{"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData", "NetworkAddress", REG_BINARY,
           address6},
          {kNtCurrentVersion, "ProductId", REG_SZ, productId + sz}},
         4,
         0x01 ^ 0x02 ^ 0x03 ^ 0x04 ^ 0x05 ^ 0x06},
        // Longer than six bytes is no address: the next source counts.
        {"adapter address too long",
         {{"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData", "NetworkAddress", REG_BINARY,
           address6 + "\x07\x08"},
          {kNtCurrentVersion, "ProductId", REG_SZ, productId + sz}},
         4,
         Xor(productId)},
        {"disks listed",
         {{kDiskEnum, "Count", REG_DWORD, std::string("\x02\0\0\0", 4)},
          {kDiskEnum, "0", REG_SZ, "IDE\\DiskST3500_0001" + sz},
          {kDiskEnum, "1", REG_SZ, "USBSTOR\\Disk&Ven_X" + sz}},
         5,
         static_cast<uint8_t>(Sum("IDE\\DiskST3500_0001") + Sum("USBSTOR\\Disk&Ven_X"))},
        // A damaged count is bounded, the values that are there still count.
        {"disk count damaged",
         {{kDiskEnum, "Count", REG_DWORD, std::string("\xFF\xFF\xFF\xFF", 4)},
          {kDiskEnum, "0", REG_SZ, "IDE\\DiskST3500_0001" + sz},
          {kDiskEnum, "1", REG_SZ, "USBSTOR\\Disk&Ven_X" + sz}},
         5,
         static_cast<uint8_t>(Sum("IDE\\DiskST3500_0001") + Sum("USBSTOR\\Disk&Ven_X"))},
        // No disk list: the SCSI units; a missing target ends its bus, the next bus goes on.
        {"scsi units",
         {{kDiskEnum, "Count", REG_DWORD, std::string("\0\0\0\0", 4)},
          {ScsiUnit(0, 0, 0), "Identifier", REG_SZ, "VBOX HARDDISK" + sz},
          {ScsiUnit(0, 0, 1), "Identifier", REG_SZ, "VBOX CD-ROM" + sz},
          {ScsiUnit(0, 0, 3), "Identifier", REG_SZ, "behind a gap" + sz},
          {ScsiUnit(1, 2, 0), "Identifier", REG_SZ, "ATA DISK" + sz},
          {ScsiUnit(9, 9, 9), "Identifier", REG_SZ, "no target 0" + sz}},
         5,
         static_cast<uint8_t>(Sum("VBOX HARDDISK") + Sum("VBOX CD-ROM") + Sum("ATA DISK"))},
        // A unit without an identifier still counts as opened: the sum of nothing.
        {"scsi unit without identifier", {{ScsiUnit(0, 0, 0), "Other", REG_SZ, "x" + sz}}, 5, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(1, DeleteKeyTree(machine_.Handle(), "SOFTWARE"));
        ASSERT_EQ(1, DeleteKeyTree(machine_.Handle(), "SYSTEM"));
        ASSERT_EQ(1, DeleteKeyTree(machine_.Handle(), "HARDWARE"));
        for (const Value &v : c.values)
            ASSERT_EQ(1, machine_.SetRaw(v.key.c_str(), v.name, v.type, v.data.data(),
                                         static_cast<DWORD>(v.data.size())));
        MachineIdBytes id = Compute();
        EXPECT_EQ(c.expected, id.bytes[c.byte]);
        EXPECT_EQ(0x10, id.bytes[0]);
        EXPECT_EQ(MachineId::kUpdateCheck, id.bytes[6]);
    }
}

// --- The real machine --------------------------------------------------------------------------------------

TEST(MachineIdReal, StableWellFormedAndThePurposeOnlyInTheLastGroup) {
    TextString first, again, report;
    MachineId().Compute(MachineId::kUpdateCheck, first);
    MachineId().Compute(MachineId::kUpdateCheck, again);
    MachineId().Compute(MachineId::kProblemReport, report);
    std::string a = first.Text(), b = again.Text(), r = report.Text();
    EXPECT_TRUE(IsWellFormed(a)) << a;
    EXPECT_EQ(a, b);
    EXPECT_EQ("10", a.substr(2, 2));
    EXPECT_EQ(a.substr(0, 15), r.substr(0, 15));
    EXPECT_EQ("04", a.substr(17, 2));
    EXPECT_EQ("02", r.substr(17, 2));
    EXPECT_NE(a.substr(15, 2), r.substr(15, 2));
}

TEST(MachineIdReal, PlatformSourcesAreRead) {
    MachineIdBytes all, none;
    MachineId(MachineId::kAllSources).ComputeBytes(0, all);
    MachineId(0).ComputeBytes(0, none);
    // The volume serial of the system drive is read only when asked for.
    EXPECT_EQ(0, none.bytes[3]);
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<uint8_t>(serial ^ serial >> 8 ^ serial >> 16 ^ serial >> 24), all.bytes[3]);
    EXPECT_EQ(0x10, all.bytes[0]);
}

TEST(WmiQueryTest, ReadsAStringPropertyOfTheFirstObject) {
    const char *adapters = "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true";
    struct Case {
        const char *nameSpace, *query, *property;
        int found;
    };
    const Case cases[] = {
        {"ROOT\\CIMV2", "SELECT * FROM Win32_OperatingSystem", "Caption", 1},
        {"ROOT\\CIMV2", adapters, "MACAddress", 1},
        // Not a string, no such property, no object, no such namespace, no query.
        {"ROOT\\CIMV2", adapters, "IPEnabled", 0},
        {"ROOT\\CIMV2", adapters, "NoSuchProperty", 0},
        {"ROOT\\CIMV2", "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index=987654", "MACAddress",
         0},
        {"ROOT\\NOSUCHSPACE", adapters, "MACAddress", 0},
        {"ROOT\\CIMV2", "this is no query", "MACAddress", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.query) + " " + c.property);
        TextString out;
        out.Assign("stale");
        EXPECT_EQ(c.found, WmiQuery().Run(c.nameSpace, c.query, c.property, out));
        EXPECT_EQ(c.found, out.Length() > 0) << out.Text();
    }
    TextString mac;
    ASSERT_EQ(1, WmiQuery().Run("ROOT\\CIMV2", adapters, "MACAddress", mac));
    EXPECT_EQ(17, mac.Length()) << mac.Text();
}

TEST_F(RedirectedMachineTest, AdapterFromWmiWhenTheRegistryHasNone) {
    TextString mac;
    // WMI answers from the system itself, not from the redirected registry.
    ASSERT_EQ(1, WmiQuery().Run("ROOT\\CIMV2",
                                "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true",
                                "MACAddress", mac));
    machine_.SetString(kNtCurrentVersion, "ProductId", "not reached");
    EXPECT_EQ(Xor(mac.Text()), Compute(0, MachineId::kWmiAdapter).bytes[4]);
    EXPECT_EQ(Xor("not reached"), Compute(0, 0).bytes[4]);
}

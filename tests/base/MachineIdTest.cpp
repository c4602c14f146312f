// MachineId: the text form and check byte, every registry source and fall-back against a redirected
// HKEY_LOCAL_MACHINE, and the sources beyond the registry (version record, volume, WMI).
#include "base/MachineId.h"
#include "base/TextString.h"
#include "base/WmiQuery.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <cstring>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

namespace {
// The 8-bit sum and XOR of a text's bytes.
uint8_t Sum(const std::string &text) {
    return static_cast<uint8_t>(
        std::accumulate(text.begin(), text.end(), 0, [](int a, char c) { return a + c; }));
}

uint8_t Xor(const std::string &text) {
    return static_cast<uint8_t>(
        std::accumulate(text.begin(), text.end(), 0, [](int a, char c) { return a ^ c; }));
}

const char kNtCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kUuidData[] = "SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData";
const char kDiskEnum[] = "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
const char kAdapters[] = "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true";

struct Value {
    std::string key;
    const char *name;
    DWORD type;
    std::string data;
};

Value Sz(const std::string &key, const char *name, const std::string &text) {
    return {key, name, REG_SZ, text + '\0'};
}

Value DiskCount(uint32_t count) {
    return {kDiskEnum, "Count", REG_DWORD, std::string(reinterpret_cast<const char *>(&count), 4)};
}

Value ScsiUnit(unsigned port, unsigned bus, unsigned target, const char *identifier) {
    char path[200];
    snprintf(path, sizeof(path),
             "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id 0", port,
             bus, target);
    return Sz(path, "Identifier", identifier);
}

// The first IP-enabled adapter's address as WMI gives it ("" when it gives none), asked once: every ask
// starts COM and the WMI service, which takes seconds.
const std::string &WmiAdapterAddress() {
    static const std::string address = [] {
        TextString mac;
        WmiQuery().Run("ROOT\\CIMV2", kAdapters, "MACAddress", mac);
        return std::string(mac.Text());
    }();
    return address;
}

// HKEY_LOCAL_MACHINE seen as an empty private key for the test's lifetime.
class RedirectedMachineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(machine_.Valid() && redirect_.Active()); }
    MachineIdBytes Compute(uint32_t purpose = MachineId::kUpdateCheck, uint32_t sources = 0) {
        MachineIdBytes id;
        MachineId(sources).ComputeBytes(purpose, id);
        return id;
    }

    ScopedTestKey machine_{"Machine"};
    ScopedRootRedirect redirect_{HKEY_LOCAL_MACHINE, machine_.Handle()};
};
} // namespace

TEST(MachineIdText, CheckByteAndWordOrder) {
    struct Case {
        uint8_t bytes[7];
        uint8_t check;
        const char *text;
    };
    const Case cases[] = {
        {{0x10, 0xA3, 0x61, 0x5C, 0x3E, 0x00, 0x02}, 0x4D, "A310-5C61-003E-4D02"},
        {{0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 0x10, "FF10-FFFF-FFFF-1000"},
        {{0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0xE8, "0110-0302-0504-E806"},
    };
    for (const Case &c : cases) {
        MachineIdBytes id;
        memcpy(id.bytes, c.bytes, 7);
        id.bytes[7] = 0x55;
        MachineId::Seal(id);
        EXPECT_EQ(c.check, id.bytes[7]) << c.text;
        TextString text;
        MachineId::ToText(id, text);
        EXPECT_STREQ(c.text, text.Text());
    }
}

TEST_F(RedirectedMachineTest, NoSourceStillGivesAWellFormedText) {
    for (uint32_t purpose : {0u, 2u, 4u, 0xFFu, 0x1234u}) {
        TextString text;
        MachineId(0).Compute(purpose, text);
        uint8_t p = static_cast<uint8_t>(purpose);
        char expected[32];
        snprintf(expected, sizeof(expected), "0010-0000-0000-%02X%02X", static_cast<uint8_t>(~(0x10 ^ p)), p);
        EXPECT_STREQ(expected, text.Text());
    }
}

TEST_F(RedirectedMachineTest, EachRegistrySourceAndItsFallBacks) {
    const std::string productId = "55274-640-1234567-23456", macText = "00-1A-2B-3C-4D-5E";
    const std::string address("\x01\x02\x03\x04\x05\x06", 6);
    const Value product = Sz(kNtCurrentVersion, "ProductId", productId),
                mac = Sz("SOFTWARE\\Microsoft\\Windows Genuine Advantage", "MAC", macText),
                network = {kUuidData, "NetworkAddress", REG_BINARY, address},
                longNetwork = {kUuidData, "NetworkAddress", REG_BINARY, address + "\x07\x08"},
                disk0 = Sz(kDiskEnum, "0", "IDE\\DiskST3500_0001"),
                disk1 = Sz(kDiskEnum, "1", "USBSTOR\\Disk&Ven_X");
    const uint8_t diskSum = Sum("IDE\\DiskST3500_0001"
                                "USBSTOR\\Disk&Ven_X");
    struct Case {
        const char *what;
        int byte;
        uint8_t expected;
        std::vector<Value> values;
    };
    const Case cases[] = {
        {"version", 2, 0x16, {Sz(kNtCurrentVersion, "CurrentVersion", "6.1")}},
        {"version 10", 2, 0x0A, {Sz(kNtCurrentVersion, "CurrentVersion", "10.0")}},
        {"version unreadable", 2, 0, {Sz(kNtCurrentVersion, "CurrentVersion", "six")}},
        {"product id", 1, Sum(productId), {product}},
        // The adapter: the first of MAC text, network address and (last) the product id that is there.
        {"adapter from product id", 4, Xor(productId), {product}},
        {"adapter from MAC", 4, Xor(macText), {mac, network, product}},
        {"adapter from network address", 4, Xor(address), {network, product}},
        // Longer than six bytes is no address: the next source counts.
        {"adapter address too long", 4, Xor(productId), {longNetwork, product}},
        // A damaged count is bounded, the values that are there still count.
        {"disks listed", 5, diskSum, {DiskCount(2), disk0, disk1}},
        {"disk count damaged", 5, diskSum, {DiskCount(0xFFFFFFFF), disk0, disk1}},
        // No disk list: the SCSI units; a missing target ends its bus, the next bus goes on.
        {"scsi units",
         5,
         Sum("VBOX HARDDISK"
             "VBOX CD-ROM"
             "ATA DISK"),
         {DiskCount(0), ScsiUnit(0, 0, 0, "VBOX HARDDISK"), ScsiUnit(0, 0, 1, "VBOX CD-ROM"),
          ScsiUnit(0, 0, 3, "behind a gap"), ScsiUnit(1, 2, 0, "ATA DISK"),
          ScsiUnit(9, 9, 9, "no target 0")}},
        // A unit without an identifier still counts as opened: the sum of nothing.
        {"scsi unit without identifier", 5, 0, {{ScsiUnit(0, 0, 0, "").key, "Other", REG_SZ, "x"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const char *root : {"SOFTWARE", "SYSTEM", "HARDWARE"})
            ASSERT_EQ(1, DeleteKeyTree(machine_.Handle(), root));
        for (const Value &v : c.values)
            ASSERT_EQ(1, machine_.SetRaw(v.key.c_str(), v.name, v.type, v.data.data(),
                                         static_cast<DWORD>(v.data.size())));
        MachineIdBytes id = Compute();
        EXPECT_EQ(c.expected, id.bytes[c.byte]);
        EXPECT_EQ(0x10, id.bytes[0]);
        EXPECT_EQ(MachineId::kUpdateCheck, id.bytes[6]);
    }
}

// Every source the machine has beyond the (redirected, so empty) registry: the volume, the version record
// and, with no adapter in the registry, WMI's answer ahead of the product id. WMI is asked once here, through
// MachineId, and once for the answer to compare with (it starts COM and the WMI service: seconds).
TEST_F(RedirectedMachineTest, EverySourceOfTheDefaultAndWmiAheadOfTheProductId) {
    const std::string &mac = WmiAdapterAddress();
    ASSERT_EQ(17u, mac.size()) << mac;
    machine_.SetString(kNtCurrentVersion, "ProductId", "not reached");
    MachineIdBytes all, withoutWmi;
    MachineId().ComputeBytes(MachineId::kUpdateCheck, all);
    MachineId(MachineId::kAllSources & ~MachineId::kWmiAdapter)
        .ComputeBytes(MachineId::kUpdateCheck, withoutWmi);
    EXPECT_EQ(Xor(mac), all.bytes[4]);
    EXPECT_EQ(Xor("not reached"), withoutWmi.bytes[4]);
    for (int i : {0, 1, 2, 3, 5, 6})
        EXPECT_EQ(withoutWmi.bytes[i], all.bytes[i]) << "byte " << i;
    TextString text;
    MachineId::ToText(all, text);
    EXPECT_TRUE(
        std::regex_match(text.Text(), std::regex("[0-9A-F]{2}10-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{2}04")))
        << text.Text();
    // The version comes from the version record when the registry has none.
    EXPECT_NE(0, all.bytes[2]);
    // The volume serial of the system drive is read only when asked for.
    EXPECT_EQ(0, Compute(0, 0).bytes[3]);
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<uint8_t>(serial ^ serial >> 8 ^ serial >> 16 ^ serial >> 24), all.bytes[3]);
}

TEST(WmiQueryTest, ReadsAStringPropertyOfTheFirstObject) {
    // The adapter's address, asked once for the whole program.
    EXPECT_EQ(17u, WmiAdapterAddress().size()) << WmiAdapterAddress();
    struct Case {
        const char *nameSpace, *query, *property;
    };
    // Each answers nothing, and empties what it was given.
    const Case cases[] = {
        // Not a string, no such property, no object, no such namespace, no query.
        {"ROOT\\CIMV2", kAdapters, "IPEnabled"},
        {"ROOT\\CIMV2", kAdapters, "NoSuchProperty"},
        {"ROOT\\CIMV2", "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE Index=987654", "MACAddress"},
        {"ROOT\\NOSUCHSPACE", kAdapters, "MACAddress"},
        {"ROOT\\CIMV2", "this is no query", "MACAddress"},
    };
    for (const Case &c : cases) {
        TextString out;
        out.Assign("stale");
        EXPECT_EQ(0, WmiQuery().Run(c.nameSpace, c.query, c.property, out)) << c.query << " " << c.property;
        EXPECT_EQ(0, out.Length()) << out.Text();
    }
}

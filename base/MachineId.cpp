// MachineId: the installation's identifier, from whatever sources the system lets us read.
#include "base/MachineId.h"
#include "base/RegistryKey.h"
#include "base/TextString.h"
#include "base/WmiQuery.h"
#include <cstdio>
#include <cstring>

namespace {
const char kNtCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const uint32_t kView64 = 0x100; // KEY_WOW64_64KEY, kept only for a 32-bit process on 64-bit Windows
const DWORD kTextBytes = 260;
// Far more disks than any machine has; a damaged "Count" must not keep us reading for ever.
const uint32_t kMostDisks = 1024;

// The 8-bit sum of a text read into a fixed buffer: up to its terminator or the bytes the read returned.
uint8_t SumOf(const char *bytes, DWORD size) {
    uint8_t sum = 0;
    for (DWORD i = 0; i < size && bytes[i]; ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(bytes[i]));
    return sum;
}

uint8_t XorOf(const uint8_t *bytes, size_t size) {
    uint8_t digest = 0;
    for (size_t i = 0; i < size; ++i)
        digest ^= bytes[i];
    return digest;
}

// A string value into a fixed 260-byte buffer; 1 when read, with *size the bytes returned.
int ReadText(RegistryKey &key, const char *name, char (&buffer)[kTextBytes], DWORD *size) {
    *size = kTextBytes;
    if (key.ReadBinary(name, buffer, size))
        return 1;
    *size = 0;
    buffer[0] = 0;
    return 0;
}

// A binary value of at most six bytes; the buffer is all zero when it cannot be read.
int ReadAddress(const char *subkey, const char *name, uint8_t (&address)[6]) {
    RegistryKey key;
    DWORD size = sizeof(address);
    if (key.Open(HKEY_LOCAL_MACHINE, subkey) && key.ReadBinary(name, address, &size))
        return 1;
    memset(address, 0, sizeof(address));
    return 0;
}
} // namespace

void MachineId::Compute(uint32_t purpose, TextString &out) {
    MachineIdBytes id;
    ComputeBytes(purpose, id);
    ToText(id, out);
}

void MachineId::ComputeBytes(uint32_t purpose, MachineIdBytes &id) {
    version_ = QueryVersion();
    id.bytes[0] = 0x10;
    id.bytes[2] = VersionDigest();
    id.bytes[3] = VolumeDigest();
    id.bytes[1] = ProductIdDigest();
    id.bytes[4] = AdapterDigest();
    id.bytes[5] = DiskDigest();
    id.bytes[6] = static_cast<uint8_t>(purpose);
    Seal(id);
}

void MachineId::Seal(MachineIdBytes &id) {
    uint8_t check = 0;
    for (int i = 0; i < 7; ++i)
        check ^= static_cast<uint8_t>(~id.bytes[i]);
    id.bytes[7] = check;
}

void MachineId::ToText(const MachineIdBytes &id, TextString &out) {
    const uint8_t *b = id.bytes;
    out.Format("%04X-%04X-%04X-%04X", b[1] << 8 | b[0], b[3] << 8 | b[2], b[5] << 8 | b[4], b[7] << 8 | b[6]);
}

uint8_t MachineId::VersionDigest() const {
    TextString text;
    int haveText = ReadStringAt(HKEY_LOCAL_MACHINE, kNtCurrentVersion, "CurrentVersion", text, "", 0);
    OSVERSIONINFOA record;
    memset(&record, 0, sizeof(record));
    record.dwOSVersionInfoSize = sizeof(record);
    int haveRecord = (sources_ & kVersionRecord) && GetVersionExA(&record);
    return VersionByteFrom(haveText ? text.Text() : nullptr, haveRecord ? &record : nullptr);
}

uint8_t MachineId::VolumeDigest() const {
    if (!(sources_ & kVolumeSerial))
        return 0;
    // An empty or missing drive must not put a system message box in front of the user.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    char root[MAX_PATH] = {};
    DWORD serial = 0;
    UINT length = GetWindowsDirectoryA(root, sizeof(root));
    int read = length >= 3 && length < sizeof(root);
    if (read) {
        root[3] = 0;
        read = GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    }
    SetErrorMode(previous);
    if (!read)
        return 0;
    return static_cast<uint8_t>(serial ^ serial >> 8 ^ serial >> 16 ^ serial >> 24);
}

uint8_t MachineId::ProductIdDigest() const {
    RegistryKey key;
    int opened = IsNt() ? key.Open(HKEY_LOCAL_MACHINE, kNtCurrentVersion, kView64)
                        : key.Open(HKEY_LOCAL_MACHINE, kCurrentVersion);
    if (!opened)
        return 0;
    char text[kTextBytes];
    DWORD size = 0;
    ReadText(key, "ProductId", text, &size);
    return SumOf(text, size);
}

uint8_t MachineId::AdapterDigest() const {
    uint8_t address[6] = {};
    TextString text;
    if (!IsNt()) {
        if (!ReadAddress("System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00", "HardwareAddress",
                         address))
            ReadStringAt(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductId", text, "", 0);
    } else if (ReadStringAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Genuine Advantage", "MAC", text,
                            "", 0)) {
    } else if (ReadAddress("SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData", "NetworkAddress",
                           address)) {
    } else if ((sources_ & kWmiAdapter) &&
               WmiQuery().Run("ROOT\\CIMV2",
                              "SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true",
                              "MACAddress", text)) {
    } else {
        ReadStringAt(HKEY_LOCAL_MACHINE, kNtCurrentVersion, "ProductId", text, "", kView64);
    }
    if (text.Length() > 0)
        return XorOf(reinterpret_cast<const uint8_t *>(text.Text()), static_cast<size_t>(text.Length()));
    return XorOf(address, sizeof(address));
}

uint8_t MachineId::DiskDigest() const {
    if (!IsNt())
        return 0;
    RegistryKey key;
    char text[kTextBytes];
    DWORD size = 0;
    uint8_t sum = 0;
    int read = 0;
    uint32_t count = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum") &&
        key.ReadDword("Count", &count) && count >= 1) {
        if (count > kMostDisks)
            count = kMostDisks;
        for (uint32_t i = 0; i < count; ++i) {
            char name[16];
            snprintf(name, sizeof(name), "%u", i);
            if (ReadText(key, name, text, &size)) {
                sum = static_cast<uint8_t>(sum + SumOf(text, size));
                read = 1;
            }
        }
    }
    key.Close();
    if (read)
        return sum;
    // No disk list: the identifiers of the SCSI units instead.
    sum = 0;
    for (unsigned port = 0; port < 10; ++port) {
        for (unsigned bus = 0; bus < 10; ++bus) {
            for (unsigned target = 0; target < 10; ++target) {
                char path[160];
                snprintf(
                    path, sizeof(path),
                    "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id 0",
                    port, bus, target);
                if (!key.Open(HKEY_LOCAL_MACHINE, path))
                    break;
                ReadText(key, "Identifier", text, &size);
                sum = static_cast<uint8_t>(sum + SumOf(text, size));
                key.Close();
            }
        }
    }
    return sum;
}

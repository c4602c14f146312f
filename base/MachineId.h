// MachineId: a short, stable text that tells one installation from another without carrying readable personal
// data: one-byte digests of the Windows version, product id, system volume, network adapter and disks, with a
// format tag, the caller's purpose value and a check byte, written as "%04X-%04X-%04X-%04X".
//
// Classes: MachineId, MachineIdBytes.
#pragma once

#include "base/OsVersion.h"
#include <cstdint>

class TextString;

// Byte 0 format tag, 1 product-id sum, 2 version, 3 volume, 4 adapter, 5 disks, 6 purpose, 7 check byte.
struct MachineIdBytes {
    uint8_t bytes[8];
};

class MachineId {
public:
    // Purpose values of the callers.
    enum : uint32_t { kProblemReport = 2, kUpdateCheck = 4 };
    // The sources that are not registry values; a caller in a hurry (or a test) may leave some out.
    enum : uint32_t {
        kVersionRecord = 0x1, // GetVersionExA, when "CurrentVersion" cannot be read
        kVolumeSerial = 0x2,
        kWmiAdapter = 0x4, // slow: starts COM and WMI
        kAllSources = 0x7,
    };
    enum { kTextLength = 19 };

    explicit MachineId(uint32_t sources = kAllSources) : sources_(sources) {}
    MachineId(const MachineId &) = delete;
    MachineId &operator=(const MachineId &) = delete;

    // Never fails: a source that cannot be read contributes 0 (or its fall-back), and out always receives a
    // 19-character text.
    void Compute(uint32_t purpose, TextString &out);
    void ComputeBytes(uint32_t purpose, MachineIdBytes &id);

    // Fills byte 7 from bytes 0 to 6.
    static void Seal(MachineIdBytes &id);
    // The four little-endian 16-bit words in upper-case hexadecimal.
    static void ToText(const MachineIdBytes &id, TextString &out);

private:
    uint8_t VersionDigest() const;
    uint8_t VolumeDigest() const;
    uint8_t ProductIdDigest() const;
    uint8_t AdapterDigest() const;
    uint8_t DiskDigest() const;
    int IsNt() const { return (version_ & kOsNt) != 0; }

    uint32_t sources_;
    VersionCode version_ = 0;
};

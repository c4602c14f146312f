// ProcessorDescription: the CentralProcessor keys of HKEY_LOCAL_MACHINE and the speed record (class 43).
#include "base/ProcessorDescription.h"
#include "base/RegistryKey.h"
#include "base/TextString.h"
#include <cstring>

namespace {

const ULONG kProcessorSpeed = 43;

// Reads a text value as stored (blanks kept) into out: at most 260 bytes with the terminator, so at most
// 259 characters. A missing or longer value leaves out unchanged.
void ReadDescription(HKEY key, const char *valueName, TextString &out) {
    char buffer[260];
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &size) !=
        ERROR_SUCCESS)
        return;
    // Data stored without a terminator keeps its last character when there is room after it.
    if (size < sizeof(buffer))
        buffer[size] = 0;
    else
        buffer[sizeof(buffer) - 1] = 0;
    out.Assign(buffer);
}

} // namespace

int ReadProcessorDescription(SystemInfoQuery &query, int nt, uint32_t index, TextString &name,
                             TextString *vendor, TextString *identifier, uint32_t *mhz) {
    TextString path;
    path.Format("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u", index);
    RegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, path.Text()))
        return 0;
    ReadDescription(key.Handle(), nt ? "ProcessorNameString" : "Identifier", name);
    if (vendor)
        ReadDescription(key.Handle(), "VendorIdentifier", *vendor);
    if (identifier && nt)
        ReadDescription(key.Handle(), "Identifier", *identifier);
    if (mhz) {
        *mhz = 0;
        uint32_t registryMhz = 0;
        if (key.ReadDword("~MHz", &registryMhz))
            *mhz = registryMhz;
        ProcessorSpeedRecord record;
        memset(&record, 0, sizeof(record));
        const LONG status = query.Query(kProcessorSpeed, &record, sizeof(record), nullptr);
        *mhz = SpeedFromSystemRecord(status, &record, *mhz);
    }
    key.Close();
    return 1;
}

uint32_t SpeedFromSystemRecord(LONG status, const ProcessorSpeedRecord *record, uint32_t registryMhz) {
    if (status != 0 || !record)
        return registryMhz;
    return record->hertz ? record->hertz / 1000000u : registryMhz;
}

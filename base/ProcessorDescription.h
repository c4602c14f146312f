// ProcessorDescription: the description the system keeps for one logical processor (name, vendor, identifier
// and clock), read from the registry and, for the clock, from the system's processor speed record. The
// main window asks it through each record's sampler, the crash report asks it directly.
//
// Functions: ReadProcessorDescription, SpeedFromSystemRecord. Structures: ProcessorSpeedRecord.
#pragma once

#include "base/SystemInfoQuery.h"
#include "base/Win.h"
#include <cstdint>

class TextString;

#pragma pack(push, 1)
// What NtQuerySystemInformation class 43 fills, as far as it is read.
struct ProcessorSpeedRecord {
    uint8_t unused[4];
    uint32_t hertz;
    uint8_t tail[7];
};
#pragma pack(pop)
static_assert(sizeof(ProcessorSpeedRecord) == 15, "class 43 record");

// Reads processor index's description: 1 when its registry key exists (outputs filled as far as the values
// exist), 0 when not (nothing touched). nt: the NT family names the processor in "ProcessorNameString", the
// 95/98/Me family in "Identifier". vendor, identifier and mhz may be null; identifier is read on NT only.
int ReadProcessorDescription(SystemInfoQuery &query, int nt, uint32_t index, TextString &name,
                             TextString *vendor, TextString *identifier, uint32_t *mhz);

// The processor speed from the system's speed record when the query succeeded with a non-zero value, else
// registryMhz.
uint32_t SpeedFromSystemRecord(LONG status, const ProcessorSpeedRecord *record, uint32_t registryMhz);

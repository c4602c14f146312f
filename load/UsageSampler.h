// UsageSampler: how busy one processor (or the whole machine) has been since it was last asked, from the
// system's per-processor times on NT or the machine-wide statistic of the 95/98/Me family; it also reads
// the processor descriptions that the system keeps in the registry.
//
// Classes: UsageSampler. Functions: ProcessorUsagePercent, MachineUsagePercent, SpeedFromSystemRecord.
#pragma once

#include "base/Win.h"
#include "load/SystemInfoQuery.h"
#include <cstdint>

class TextString;

class UsageSampler {
public:
    // Sample's index for the whole machine (NT family only).
    enum : uint32_t { kWholeMachine = 0xFFFFFFFFu };

    UsageSampler();
    // The family chosen by the caller; a non-null function answers in place of ntdll (tests).
    UsageSampler(int nt, SystemInfoQuery::QueryFunction function);
    ~UsageSampler();
    UsageSampler(const UsageSampler &) = delete;
    UsageSampler &operator=(const UsageSampler &) = delete;

    // Whole percent since the previous call; 0 whenever no value can be had (and on the first call).
    uint32_t Sample(uint32_t index);

    // Reads processor index's description: 1 when its registry key exists (outputs filled as far as the
    // values exist), 0 when not (nothing touched). vendor, identifier and mhz may be null.
    int ProcessorInventory(TextString &name, TextString *vendor, TextString *identifier, uint32_t *mhz,
                           uint32_t index);

    int IsNt() const { return nt_; }
    uint32_t ProcessorCount() const { return basicInformation_[40]; }

private:
    void Initialize(int nt);
    uint32_t SampleProcessor(uint32_t index);
    uint32_t SampleWholeMachine();
    uint32_t SampleStatistic();

    SystemInfoQuery query_;
    int nt_ = 0;
    uint8_t basicInformation_[44];
    uint64_t previousTotal_ = 0;
    uint64_t previousIdle_ = 0; // 0: no previous sample
    uint8_t *times_ = nullptr;
    // What a sample without any elapsed time answers: the previous result.
    uint32_t previousResult_ = 0;
};

// Busy share of one processor over an interval: 100 minus the truncated idle share, within 0..100.
// 0 (and percent untouched) when no time was accounted in the interval.
int ProcessorUsagePercent(uint64_t idleDelta, uint64_t totalDelta, uint32_t *percent);

// Busy share of the whole machine from the idle time summed over count processors against the clock,
// rounded to the nearest percent within 0..100. 0 (and percent untouched) when the clock did not advance.
int MachineUsagePercent(int64_t idleDelta, int64_t clockDelta, uint32_t count, uint32_t *percent);

// The processor speed from the system's 15-byte speed record (hertz at byte offset 4) when the query
// succeeded with a non-zero value, else registryMhz.
uint32_t SpeedFromSystemRecord(LONG status, const uint8_t *record, uint32_t registryMhz);

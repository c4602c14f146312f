// UsageSampler: how busy one processor (or the whole machine) has been since it was last asked, from the
// system's per-processor times on NT or the machine-wide statistic of the 95/98/Me family; it also reads
// the processor descriptions that the system keeps in the registry.
//
// Classes: UsageSampler (and the system records it reads). Functions: ProcessorUsagePercent,
// MachineUsagePercent.
#pragma once

#include "base/Win.h"
#include "base/ProcessorGroups.h"
#include "base/ProcessorDescription.h"
#include "base/SystemInfoQuery.h"
#include <cstddef>
#include <cstdint>

class TextString;

// The records NtQuerySystemInformation fills, as far as the sampler reads them; the rest is kept as
// padding so that the sizes handed to the system are the ones it expects.
struct SystemBasicRecord { // class 0
    uint32_t unused[7];
    ULONG_PTR addresses[3]; // the user address range and the active processors' mask: pointer-sized
    uint8_t processorCount; // a signed byte to the system; read unsigned so that it cannot go negative
};
struct ProcessorTimesEntry { // class 8, one per processor; times in 100-nanosecond units
    uint64_t idleTime;
    uint64_t kernelTime; // includes the idle time
    uint64_t userTime;
    uint8_t unused[24];
};
struct TimeOfDayRecord { // class 3
    uint64_t bootTime;
    uint64_t currentTime;
    uint8_t unused[16];
};
struct PerformanceRecord { // class 2
    uint64_t idleTime;     // summed over all processors
    uint8_t unused[304];
};
// Three pointer-sized fields move the count: 44 bytes with the count at 40 in a 32-bit program, 64 bytes
// with it at 56 in a 64-bit one.
static_assert(sizeof(SystemBasicRecord) == (sizeof(void *) == 8 ? 64 : 44), "class 0 record");
static_assert(offsetof(SystemBasicRecord, processorCount) == (sizeof(void *) == 8 ? 56 : 40),
              "class 0 count");
static_assert(sizeof(ProcessorTimesEntry) == 48, "class 8 entry");
static_assert(sizeof(TimeOfDayRecord) == 32, "class 3 record");
static_assert(sizeof(PerformanceRecord) == 312, "class 2 record");

class UsageSampler {
public:
    // Sample's index for the whole machine (NT family only).
    enum : uint32_t { kWholeMachine = 0xFFFFFFFFu };

    UsageSampler();
    // The family chosen by the caller; a non-null function answers in place of ntdll (tests).
    UsageSampler(int nt, SystemInfoQuery::QueryFunction function);
    // A simulated machine with processor groups (tests): its queries and its group layout.
    UsageSampler(int nt, SystemInfoQuery::QueryFunction function, SystemInfoQuery::QueryExFunction exFunction,
                 const ProcessorGroups::Functions &groups);
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
    // Processors the sampler can measure: those of every group where the system has groups, else the
    // system's own count.
    uint32_t ProcessorCount() const;
    // The group layout the sampler measures by; workers pin by the same one, so that a row's usage is the
    // usage of the processor its worker runs on.
    const ProcessorGroups &Groups() const { return groups_; }

private:
    void Initialize(int nt);
    uint32_t SampleProcessor(uint32_t index);
    uint32_t SampleWholeMachine();
    uint32_t SampleStatistic();

    // The times of the processors of the group index lies in; the entry of index, or null.
    const ProcessorTimesEntry *QueryTimes(uint32_t index);

    SystemInfoQuery query_;
    ProcessorGroups groups_;
    int nt_ = 0;
    SystemBasicRecord basicInformation_;
    uint64_t previousTotal_ = 0;
    uint64_t previousIdle_ = 0; // 0: no previous sample
    ProcessorTimesEntry *times_ = nullptr;
    // What a sample without any elapsed time answers: the previous result.
    uint32_t previousResult_ = 0;
};

// Busy share of one processor over an interval: 100 minus the truncated idle share, within 0..100.
// 0 (and percent untouched) when no time was accounted in the interval.
int ProcessorUsagePercent(uint64_t idleDelta, uint64_t totalDelta, uint32_t *percent);

// Busy share of the whole machine from the idle time summed over count processors against the clock,
// rounded to the nearest percent within 0..100. 0 (and percent untouched) when the clock did not advance.
int MachineUsagePercent(int64_t idleDelta, int64_t clockDelta, uint32_t count, uint32_t *percent);

// UsageSampler: per-processor and machine-wide usage, and the registry's processor descriptions.
#include "load/UsageSampler.h"
#include "base/OsVersion.h"
#include "base/RegistryKey.h"
#include "base/TextString.h"
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
enum : ULONG {
    kBasicInformation = 0,
    kPerformanceInformation = 2,
    kTimeOfDayInformation = 3,
    kProcessorTimes = 8,
};
const char kCpuUsageValue[] = "KERNEL\\CPUUsage";

// The statistic values are read as 4 raw bytes whatever their registry type.
int ReadStatistic(const char *subkey, uint32_t *out) {
    RegistryKey key;
    if (!key.Open(HKEY_DYN_DATA, subkey))
        return 0;
    uint32_t value = 0;
    DWORD size = sizeof(value);
    LONG status = RegQueryValueExA(key.Handle(), kCpuUsageValue, nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(&value), &size);
    if (status != ERROR_SUCCESS || size != sizeof(value))
        return 0;
    *out = value;
    return 1;
}

} // namespace

UsageSampler::UsageSampler() {
    Initialize(static_cast<int>(QueryVersion() & kOsNt));
}

UsageSampler::UsageSampler(int nt, SystemInfoQuery::QueryFunction function)
    : query_(function ? nullptr : "ntdll.dll", function) {
    Initialize(nt);
}

UsageSampler::UsageSampler(int nt, SystemInfoQuery::QueryFunction function,
                           SystemInfoQuery::QueryExFunction exFunction,
                           const ProcessorGroups::Functions &groups)
    : query_(nullptr, function, exFunction), groups_(groups) {
    Initialize(nt);
}

uint32_t UsageSampler::ProcessorCount() const {
    if (groups_.GroupCount() > 1)
        return groups_.Count();
    return basicInformation_.processorCount;
}

void UsageSampler::Initialize(int nt) {
    times_ = nullptr;
    memset(&basicInformation_, 0, sizeof(basicInformation_));
    if (!nt) {
        nt_ = 0;
        return;
    }
    nt_ = 1;
    // A failed query must not leave a partly written count behind.
    if (query_.Query(kBasicInformation, &basicInformation_, sizeof(basicInformation_), nullptr) != 0)
        memset(&basicInformation_, 0, sizeof(basicInformation_));
    // One group's entries at a time: the system's count, or a whole group where there are several.
    const uint32_t entries = groups_.GroupCount() > 1
                                 ? static_cast<uint32_t>(ProcessorGroups::kGroupSize)
                                 : static_cast<uint32_t>(basicInformation_.processorCount);
    if (ProcessorCount())
        times_ = static_cast<ProcessorTimesEntry *>(malloc(entries * sizeof(ProcessorTimesEntry)));
    previousTotal_ = 0;
    previousIdle_ = 0;
}

UsageSampler::~UsageSampler() {
    if (!nt_) {
        uint32_t ignored = 0;
        ReadStatistic("PerfStats\\StopStat", &ignored);
    } else {
        free(times_);
        times_ = nullptr;
    }
}

uint32_t UsageSampler::Sample(uint32_t index) {
    if (!nt_)
        return SampleStatistic();
    if (!query_.Available())
        return 0;
    if (ProcessorCount() == 0)
        return 0;
    if (index == kWholeMachine)
        return SampleWholeMachine();
    return SampleProcessor(index);
}

const ProcessorTimesEntry *UsageSampler::QueryTimes(uint32_t index) {
    if (index >= ProcessorCount() || !times_)
        return nullptr;
    if (groups_.GroupCount() <= 1) {
        const uint32_t count = basicInformation_.processorCount;
        if (query_.Query(kProcessorTimes, times_, count * sizeof(ProcessorTimesEntry), nullptr) != 0)
            return nullptr;
        return &times_[index];
    }
    // Beyond one group the plain query answers for the caller's group only; the group-aware one is asked
    // about the group that holds index, whose entries are numbered by the bits of the group's mask.
    uint16_t group = 0;
    uint32_t bit = 0;
    if (!groups_.Place(index, &group, &bit) || bit >= ProcessorGroups::kGroupSize)
        return nullptr;
    if (query_.QueryGroup(kProcessorTimes, group, times_,
                          ProcessorGroups::kGroupSize * sizeof(ProcessorTimesEntry), nullptr) != 0)
        return nullptr;
    return &times_[bit];
}

uint32_t UsageSampler::SampleProcessor(uint32_t index) {
    const ProcessorTimesEntry *times = QueryTimes(index);
    if (!times)
        return 0;
    const ProcessorTimesEntry &entry = *times;
    const uint64_t idle = entry.idleTime;
    const uint64_t total = entry.kernelTime + entry.userTime;
    uint32_t result = 0;
    if (previousIdle_ != 0 && !ProcessorUsagePercent(idle - previousIdle_, total - previousTotal_, &result)) {
        // No time accounted since the previous sample: keep it, so that the next one spans the whole
        // interval, and answer as before.
        return previousResult_;
    }
    previousIdle_ = idle;
    previousTotal_ = total;
    previousResult_ = result;
    return result;
}

uint32_t UsageSampler::SampleWholeMachine() {
    TimeOfDayRecord timeOfDay;
    if (query_.Query(kTimeOfDayInformation, &timeOfDay, sizeof(timeOfDay), nullptr) != 0)
        return 0;
    PerformanceRecord performance;
    if (query_.Query(kPerformanceInformation, &performance, sizeof(performance), nullptr) != 0)
        return 0;
    const uint64_t now = timeOfDay.currentTime;
    const uint64_t idle = performance.idleTime;
    // Here the previous idle field holds the previous clock reading, the previous total the idle sum.
    uint32_t result = 0;
    if (previousIdle_ != 0 &&
        !MachineUsagePercent(static_cast<int64_t>(idle - previousTotal_),
                             static_cast<int64_t>(now - previousIdle_), ProcessorCount(), &result))
        return previousResult_;
    previousIdle_ = now;
    previousTotal_ = idle;
    previousResult_ = result;
    return result;
}

uint32_t UsageSampler::SampleStatistic() {
    uint32_t ignored = 0;
    ReadStatistic("PerfStats\\StartStat", &ignored);
    uint32_t result = 0;
    if (!ReadStatistic("PerfStats\\StatData", &result))
        return 0;
    return result;
}

int UsageSampler::ProcessorInventory(TextString &name, TextString *vendor, TextString *identifier,
                                     uint32_t *mhz, uint32_t index) {
    return ReadProcessorDescription(query_, nt_, index, name, vendor, identifier, mhz);
}

int ProcessorUsagePercent(uint64_t idleDelta, uint64_t totalDelta, uint32_t *percent) {
    const int64_t total = static_cast<int64_t>(totalDelta);
    // Two samples within one tick of the system's accounting see no time pass (and a counter that went
    // backwards gives no usable interval either).
    if (total <= 0)
        return 0;
    const long double idleShare =
        static_cast<long double>(static_cast<int64_t>(idleDelta)) * 100.0L / static_cast<long double>(total);
    // The counters are sampled one after the other, so idle can outrun the total by a tick.
    long double busy = 100.0L - truncl(idleShare);
    if (busy < 0)
        busy = 0;
    if (busy > 100)
        busy = 100;
    *percent = static_cast<uint32_t>(busy);
    return 1;
}

int MachineUsagePercent(int64_t idleDelta, int64_t clockDelta, uint32_t count, uint32_t *percent) {
    if (clockDelta <= 0 || count == 0)
        return 0;
    long double busy = truncl(100.0L -
                              static_cast<long double>(idleDelta) / static_cast<long double>(clockDelta) *
                                  100.0L / static_cast<long double>(count) +
                              0.5L);
    if (busy < 0)
        busy = 0;
    if (busy > 100)
        busy = 100;
    *percent = static_cast<uint32_t>(busy);
    return 1;
}

// ProcessorClock: the power manager's processor information, read for every processor at once.
#include "load/ProcessorClock.h"
#include "base/TextString.h"

namespace {
const int kProcessorInformation = 11;

// The system's record per processor (PROCESSOR_POWER_INFORMATION).
struct PowerRecord {
    ULONG number;
    ULONG maxMhz;
    ULONG currentMhz;
    ULONG mhzLimit;
    ULONG maxIdleState;
    ULONG currentIdleState;
};
} // namespace

ProcessorClock::ProcessorClock() {
    if (library_.Load("powrprof.dll"))
        function_ = library_.Function<PowerFunction>("CallNtPowerInformation");
}

ProcessorClock::ProcessorClock(PowerFunction function) : function_(function) {}

int ProcessorClock::Refresh(uint32_t count) {
    readings_.clear();
    if (!function_ || count == 0)
        return 0;
    std::vector<PowerRecord> records(count);
    const LONG status = function_(kProcessorInformation, nullptr, 0, records.data(),
                                  static_cast<ULONG>(count * sizeof(PowerRecord)));
    if (status != 0)
        return 0;
    readings_.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        readings_[i] = Reading{records[i].currentMhz, records[i].maxMhz, records[i].mhzLimit};
    return 1;
}

int ProcessorClock::Read(uint32_t index, Reading *reading) const {
    if (index >= readings_.size() || readings_[index].currentMhz == 0)
        return 0;
    *reading = readings_[index];
    return 1;
}

int ProcessorClock::Throttled(const Reading &reading) {
    return reading.limitMhz != 0 && reading.maxMhz != 0 && reading.limitMhz < reading.maxMhz;
}

void ProcessorClock::Describe(const Reading &reading, TextString &out) {
    out.Assign("");
    if (reading.currentMhz == 0)
        return;
    if (Throttled(reading))
        out.Format("%u Mhz, limit %u (throttled)", reading.currentMhz, reading.limitMhz);
    else
        out.Format("%u Mhz", reading.currentMhz);
}

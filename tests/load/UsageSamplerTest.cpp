// UsageSampler: the percentage rules, sampling against scripted system answers (per processor, whole
// machine, failures, no elapsed time), the 95/98/Me statistic and real processors under real load.
#include "base/Win.h"
#include "load/LoadWorker.h"
#include "load/ProcessorRecord.h"
#include "load/UsageSampler.h"
#include "base/WorkerThread.h"
#include "tests/common/TestRegistry.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// ---- Percentage rules -------------------------------------------------------------------------------

TEST(ProcessorUsagePercent, QuarterBusy) {
    uint32_t percent = 999;
    ASSERT_EQ(1, ProcessorUsagePercent(30000000, 40000000, &percent));
    EXPECT_EQ(25u, percent);
}

TEST(ProcessorUsagePercent, IdleProcessorIsZeroAndBusyOneIsHundred) {
    uint32_t percent = 999;
    ASSERT_EQ(1, ProcessorUsagePercent(40000000, 40000000, &percent));
    EXPECT_EQ(0u, percent);
    ASSERT_EQ(1, ProcessorUsagePercent(0, 40000000, &percent));
    EXPECT_EQ(100u, percent);
}

TEST(ProcessorUsagePercent, TruncatesInFavourOfIdleness) {
    uint32_t percent = 999;
    // 99.5 % idle: 100 - 99.
    ASSERT_EQ(1, ProcessorUsagePercent(995, 1000, &percent));
    EXPECT_EQ(1u, percent);
    // 0.5 % idle: 100 - 0.
    ASSERT_EQ(1, ProcessorUsagePercent(5, 1000, &percent));
    EXPECT_EQ(100u, percent);
}

TEST(ProcessorUsagePercent, NoElapsedTimeGivesNoAnswer) {
    uint32_t percent = 42;
    EXPECT_EQ(0, ProcessorUsagePercent(0, 0, &percent));
    EXPECT_EQ(0, ProcessorUsagePercent(100, 0, &percent));
    EXPECT_EQ(42u, percent);
}

TEST(ProcessorUsagePercent, CountersOutOfStepStayWithinRange) {
    uint32_t percent = 999;
    // Idle read a tick later than the total: more idle than time.
    ASSERT_EQ(1, ProcessorUsagePercent(41000000, 40000000, &percent));
    EXPECT_EQ(0u, percent);
    // An idle counter that went backwards (wrapping difference).
    ASSERT_EQ(1, ProcessorUsagePercent(static_cast<uint64_t>(-1000), 40000000, &percent));
    EXPECT_EQ(100u, percent);
    // A total that went backwards is no interval at all.
    percent = 7;
    EXPECT_EQ(0, ProcessorUsagePercent(10, static_cast<uint64_t>(-40000000), &percent));
    EXPECT_EQ(7u, percent);
}

TEST(MachineUsagePercent, OneOfFourProcessorsIdle) {
    uint32_t percent = 999;
    ASSERT_EQ(1, MachineUsagePercent(1000000, 1000000, 4, &percent));
    EXPECT_EQ(75u, percent);
}

TEST(MachineUsagePercent, RoundsToNearest) {
    uint32_t percent = 999;
    // 100 - 33.33 = 66.67 -> 67; a per-processor sample would truncate the idle share instead.
    ASSERT_EQ(1, MachineUsagePercent(1000000, 1000000, 3, &percent));
    EXPECT_EQ(67u, percent);
    // 100 - 12.5 = 87.5 -> 88 (half up).
    ASSERT_EQ(1, MachineUsagePercent(1000000, 2000000, 4, &percent));
    EXPECT_EQ(88u, percent);
}

TEST(MachineUsagePercent, EdgesStayWithinRange) {
    uint32_t percent = 999;
    ASSERT_EQ(1, MachineUsagePercent(4000000, 1000000, 4, &percent));
    EXPECT_EQ(0u, percent);
    ASSERT_EQ(1, MachineUsagePercent(5000000, 1000000, 4, &percent));
    EXPECT_EQ(0u, percent);
    ASSERT_EQ(1, MachineUsagePercent(-1000, 1000000, 4, &percent));
    EXPECT_EQ(100u, percent);
    percent = 9;
    EXPECT_EQ(0, MachineUsagePercent(1000, 0, 4, &percent));
    EXPECT_EQ(0, MachineUsagePercent(1000, 1000, 0, &percent));
    EXPECT_EQ(9u, percent);
}

// ---- Sampling against scripted system answers -------------------------------------------------------

namespace {
struct ScriptedSystem {
    uint8_t count = 2;
    uint64_t idle[4] = {};
    uint64_t kernel[4] = {}; // includes idle, as the system reports it
    uint64_t user[4] = {};
    uint64_t clock = 0;
    uint64_t idleSum = 0;
    LONG basicStatus = 0;
    LONG timesStatus = 0;
    LONG clockStatus = 0;
    int timesCalls = 0;
    std::vector<ULONG> lengths;
};
ScriptedSystem g_system;

LONG WINAPI ScriptedQuery(ULONG infoClass, void *buffer, ULONG length, ULONG *) {
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    switch (infoClass) {
    case 0:
        if (length < sizeof(SystemBasicRecord))
            return static_cast<LONG>(0xC0000004);
        bytes[offsetof(SystemBasicRecord, processorCount)] = g_system.count;
        return g_system.basicStatus;
    case 2:
        g_system.lengths.push_back(length);
        memcpy(bytes, &g_system.idleSum, 8);
        return 0;
    case 3:
        if (g_system.clockStatus)
            return g_system.clockStatus;
        memcpy(bytes + 8, &g_system.clock, 8);
        return 0;
    case 8:
        ++g_system.timesCalls;
        g_system.lengths.push_back(length);
        if (g_system.timesStatus)
            return g_system.timesStatus;
        for (uint32_t i = 0; i < g_system.count && (i + 1) * 48 <= length; ++i) {
            memcpy(bytes + i * 48, &g_system.idle[i], 8);
            memcpy(bytes + i * 48 + 8, &g_system.kernel[i], 8);
            memcpy(bytes + i * 48 + 16, &g_system.user[i], 8);
        }
        return 0;
    default:
        return static_cast<LONG>(0xC0000003);
    }
}

// Lets processor i run for busy and idle time (100 ns units).
void Advance(int i, uint64_t busyKernel, uint64_t busyUser, uint64_t idle) {
    g_system.idle[i] += idle;
    g_system.kernel[i] += busyKernel + idle;
    g_system.user[i] += busyUser;
}

class ScriptedSampling : public ::testing::Test {
protected:
    void SetUp() override {
        g_system = ScriptedSystem();
        for (int i = 0; i < 4; ++i) {
            g_system.idle[i] = 5000000000ull + i;
            g_system.kernel[i] = 6000000000ull + i;
            g_system.user[i] = 1000000000ull;
        }
        g_system.clock = 130000000000000000ull;
        g_system.idleSum = 9000000000ull;
    }
};
} // namespace

TEST_F(ScriptedSampling, FirstSampleIsZeroSecondIsTheUsageSinceTheFirst) {
    UsageSampler sampler(1, ScriptedQuery);
    ASSERT_EQ(2u, sampler.ProcessorCount());
    EXPECT_EQ(0u, sampler.Sample(1));
    Advance(1, 6000000, 4000000, 30000000);
    EXPECT_EQ(25u, sampler.Sample(1));
    Advance(1, 0, 0, 40000000);
    EXPECT_EQ(0u, sampler.Sample(1));
    Advance(1, 20000000, 20000000, 0);
    EXPECT_EQ(100u, sampler.Sample(1));
    // One buffer for every processor, 48 bytes each.
    ASSERT_FALSE(g_system.lengths.empty());
    EXPECT_EQ(96u, g_system.lengths.back());
}

TEST_F(ScriptedSampling, ReadsItsOwnProcessorsEntry) {
    UsageSampler first(1, ScriptedQuery), second(1, ScriptedQuery);
    first.Sample(0);
    second.Sample(1);
    Advance(0, 40000000, 0, 0);
    Advance(1, 0, 0, 40000000);
    EXPECT_EQ(100u, first.Sample(0));
    EXPECT_EQ(0u, second.Sample(1));
}

TEST_F(ScriptedSampling, IndexAtOrBeyondTheCountAnswersZeroWithoutAQuery) {
    UsageSampler sampler(1, ScriptedQuery);
    EXPECT_EQ(0u, sampler.Sample(2));
    EXPECT_EQ(0u, sampler.Sample(0x7FFFFFFF));
    EXPECT_EQ(0, g_system.timesCalls);
}

TEST_F(ScriptedSampling, NoProcessorCountAnswersZero) {
    g_system.count = 0;
    UsageSampler sampler(1, ScriptedQuery);
    EXPECT_EQ(0u, sampler.Sample(0));
    EXPECT_EQ(0u, sampler.Sample(UsageSampler::kWholeMachine));
    EXPECT_EQ(0, g_system.timesCalls);
}

TEST_F(ScriptedSampling, FailedBasicInformationCountsNoProcessors) {
    // The count the failed call left in the record is not trusted.
    g_system.basicStatus = static_cast<LONG>(0xC0000001);
    UsageSampler sampler(1, ScriptedQuery);
    EXPECT_EQ(0u, sampler.ProcessorCount());
    EXPECT_EQ(0u, sampler.Sample(0));
    EXPECT_EQ(0, g_system.timesCalls);
}

TEST_F(ScriptedSampling, FailedQueryAnswersZeroAndKeepsThePreviousSample) {
    UsageSampler sampler(1, ScriptedQuery);
    EXPECT_EQ(0u, sampler.Sample(0));
    Advance(0, 10000000, 0, 30000000);
    g_system.timesStatus = static_cast<LONG>(0xC0000001);
    EXPECT_EQ(0u, sampler.Sample(0));
    g_system.timesStatus = 0;
    Advance(0, 10000000, 0, 30000000);
    // Measured from the sample before the failure: 20 busy in 80.
    EXPECT_EQ(25u, sampler.Sample(0));
}

TEST_F(ScriptedSampling, NoElapsedTimeRepeatsThePreviousAnswer) {
    UsageSampler sampler(1, ScriptedQuery);
    sampler.Sample(0);
    Advance(0, 30000000, 0, 10000000);
    EXPECT_EQ(75u, sampler.Sample(0));
    EXPECT_EQ(75u, sampler.Sample(0));
    Advance(0, 0, 0, 40000000);
    EXPECT_EQ(0u, sampler.Sample(0));
}

TEST_F(ScriptedSampling, WholeMachineFirstZeroThenRoundedShare) {
    g_system.count = 4;
    UsageSampler sampler(1, ScriptedQuery);
    EXPECT_EQ(0u, sampler.Sample(UsageSampler::kWholeMachine));
    g_system.clock += 1000000;
    g_system.idleSum += 1000000;
    EXPECT_EQ(75u, sampler.Sample(UsageSampler::kWholeMachine));
    // The performance record is asked for with its full size.
    ASSERT_FALSE(g_system.lengths.empty());
    EXPECT_EQ(312u, g_system.lengths.back());
}

TEST_F(ScriptedSampling, WholeMachineClockFailureAnswersZero) {
    g_system.count = 4;
    UsageSampler sampler(1, ScriptedQuery);
    sampler.Sample(UsageSampler::kWholeMachine);
    g_system.clock += 1000000;
    g_system.clockStatus = static_cast<LONG>(0xC0000001);
    EXPECT_EQ(0u, sampler.Sample(UsageSampler::kWholeMachine));
    g_system.clockStatus = 0;
    g_system.clock += 1000000;
    g_system.idleSum += 4000000;
    // From the sample before the failure: 4 of 8 processor-intervals idle.
    EXPECT_EQ(50u, sampler.Sample(UsageSampler::kWholeMachine));
}

// ---- The 95/98/Me statistic -------------------------------------------------------------------------

namespace {
class DynamicDataStatistic : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(key_.Valid());
        redirect_.reset(new ScopedRootRedirect(HKEY_DYN_DATA, key_.Handle()));
        if (!redirect_->Active())
            GTEST_SKIP() << "HKEY_DYN_DATA cannot be redirected here";
    }
    void TearDown() override { redirect_.reset(); }

    ScopedTestKey key_{"DynData"};
    std::unique_ptr<ScopedRootRedirect> redirect_;
};
} // namespace

TEST_F(DynamicDataStatistic, EveryProcessorShowsTheMachineWideValue) {
    ASSERT_TRUE(key_.SetDword("PerfStats\\StatData", "KERNEL\\CPUUsage", 37));
    ASSERT_TRUE(key_.SetDword("PerfStats\\StartStat", "KERNEL\\CPUUsage", 1));
    UsageSampler sampler(0, nullptr);
    EXPECT_EQ(0, sampler.IsNt());
    EXPECT_EQ(37u, sampler.Sample(0));
    EXPECT_EQ(37u, sampler.Sample(3));
    EXPECT_EQ(37u, sampler.Sample(UsageSampler::kWholeMachine));
    ASSERT_TRUE(key_.SetDword("PerfStats\\StatData", "KERNEL\\CPUUsage", 64));
    EXPECT_EQ(64u, sampler.Sample(1));
}

TEST_F(DynamicDataStatistic, BinaryValueOfFourBytesIsRead) {
    const uint32_t value = 81;
    ASSERT_TRUE(key_.SetRaw("PerfStats\\StatData", "KERNEL\\CPUUsage", REG_BINARY, &value, 4));
    UsageSampler sampler(0, nullptr);
    EXPECT_EQ(81u, sampler.Sample(0));
}

TEST_F(DynamicDataStatistic, MissingOrShortValueAnswersZero) {
    UsageSampler sampler(0, nullptr);
    EXPECT_EQ(0u, sampler.Sample(0));
    ASSERT_TRUE(key_.SetRaw("PerfStats\\StatData", "KERNEL\\CPUUsage", REG_BINARY, "\x30\x00", 2));
    EXPECT_EQ(0u, sampler.Sample(0));
}

// ---- Real processors --------------------------------------------------------------------------------

namespace {
// Waits (bounded) for the worker's end. Wait answers 0 for a thread that has already ended, so the
// running bit is what tells.
int Ended(WorkerThread &worker, DWORD ms) {
    worker.Wait(ms);
    return !worker.Running();
}

} // namespace

TEST(RealUsageSampler, CountMatchesTheSystem) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    UsageSampler sampler;
    EXPECT_EQ(1, sampler.IsNt());
    EXPECT_EQ(info.dwNumberOfProcessors, sampler.ProcessorCount());
    EXPECT_EQ(0u, sampler.Sample(sampler.ProcessorCount()));
}

TEST(RealUsageSampler, ProcessorLoadedByAWorkerShowsHighUsage) {
    UsageSampler probe;
    ASSERT_GT(probe.ProcessorCount(), 0u);
    ProcessorRecord record;
    record.index = probe.ProcessorCount() - 1;
    ASSERT_EQ(1, record.worker.Start(LoadWorker, &record, 100));
    Sleep(200);
    UsageSampler sampler;
    EXPECT_EQ(0u, sampler.Sample(record.index));
    Sleep(1200);
    // Whoever else runs there, a processor with a spinning worker pinned to it is never idle.
    const uint32_t usage = sampler.Sample(record.index);
    record.worker.RequestStop();
    EXPECT_TRUE(Ended(record.worker, 10000));
    EXPECT_GE(usage, 80u);
    EXPECT_LE(usage, 100u);
}

TEST(RealUsageSampler, WholeMachineWithEveryProcessorLoaded) {
    UsageSampler sampler;
    const uint32_t count = sampler.ProcessorCount();
    ASSERT_GT(count, 0u);
    std::vector<std::unique_ptr<ProcessorRecord>> records;
    for (uint32_t i = 0; i < count && i < 32; ++i) {
        records.emplace_back(new ProcessorRecord);
        records.back()->index = i;
        ASSERT_EQ(1, records.back()->worker.Start(LoadWorker, records.back().get(), 100));
    }
    Sleep(200);
    EXPECT_EQ(0u, sampler.Sample(UsageSampler::kWholeMachine));
    Sleep(1200);
    const uint32_t usage = sampler.Sample(UsageSampler::kWholeMachine);
    for (auto &record : records)
        record->worker.RequestStop();
    for (auto &record : records)
        EXPECT_TRUE(Ended(record->worker, 10000));
    EXPECT_GE(usage, 80u);
    EXPECT_LE(usage, 100u);
}

// ---- Simulated machines with processor groups ------------------------------------------------------
// Two groups of 64; and two of 40, the second with processors 20 to 23 of its mask offline and the process
// in group 1, so that processor 40 is group 1, bit 0 and processor 60 is group 1, bit 24.

namespace {
WORD WINAPI TwoGroups() {
    return 2;
}
DWORD WINAPI SixtyFourPerGroup(WORD group) {
    return group < 2 ? 64 : 0;
}
DWORD WINAPI FortyPerGroup(WORD group) {
    return group < 2 ? 40 : 0;
}
uint64_t FortyWithAGap(WORD group) {
    return group == 0 ? 0xFFFFFFFFFFull : 0xFFFFF0FFFFFull;
}
BOOL WINAPI InGroupOne(HANDLE, GROUP_AFFINITY *affinity) {
    affinity->Group = 1;
    return TRUE;
}
GROUP_AFFINITY g_pinned;
BOOL WINAPI RecordPin(HANDLE, const GROUP_AFFINITY *affinity, GROUP_AFFINITY *) {
    g_pinned = *affinity;
    return TRUE;
}
const ProcessorGroups::Functions kBigMachine = {TwoGroups, SixtyFourPerGroup, nullptr, nullptr, RecordPin};
const ProcessorGroups::Functions kUnevenMachine = {TwoGroups, FortyPerGroup, FortyWithAGap, InGroupOne,
                                                   RecordPin};

// Processor p is busy p % 100 percent of the time; every call of the group query is one more second.
struct BigMachine {
    uint64_t second = 0;
    std::vector<USHORT> groupsAsked;
    int plainTimesCalls = 0;
};
BigMachine g_big;

LONG WINAPI BigMachineQuery(ULONG infoClass, void *buffer, ULONG length, ULONG *) {
    if (infoClass == 0 && length >= sizeof(SystemBasicRecord)) {
        // The plain answers speak of the caller's group only.
        static_cast<SystemBasicRecord *>(buffer)->processorCount = 64;
        return 0;
    }
    if (infoClass == 8)
        ++g_big.plainTimesCalls;
    return static_cast<LONG>(0xC0000003);
}

LONG WINAPI BigMachineGroupQuery(ULONG infoClass, void *input, ULONG inputLength, void *buffer, ULONG length,
                                 ULONG *) {
    if (infoClass != 8 || inputLength != sizeof(USHORT))
        return static_cast<LONG>(0xC000000D);
    const USHORT group = *static_cast<USHORT *>(input);
    if (group > 1 || length < 64 * sizeof(ProcessorTimesEntry))
        return static_cast<LONG>(0xC0000004);
    g_big.groupsAsked.push_back(group);
    ++g_big.second;
    ProcessorTimesEntry *entries = static_cast<ProcessorTimesEntry *>(buffer);
    for (uint32_t i = 0; i < 64; ++i) {
        const uint64_t busy = (group * 64 + i) % 100;
        entries[i].idleTime = g_big.second * (100 - busy) * 100000;
        entries[i].kernelTime = entries[i].idleTime;
        entries[i].userTime = g_big.second * busy * 100000;
    }
    return 0;
}
} // namespace

TEST(ProcessorGroups, NumbersMapOntoGroupsAndActiveBitsAndWorkersPinThere) {
    const bool wide = ProcessorGroups::kMaskBits == 64;
    const ProcessorGroups::Functions *big = &kBigMachine, *uneven = &kUnevenMachine;
    EXPECT_EQ(128u, ProcessorGroups(kBigMachine).Count());
    EXPECT_EQ(80u, ProcessorGroups(kUnevenMachine).Count());
    // loads: where a worker of this program can load the processor (a 32-bit one only in the process's own
    // group, and only on the 32 bits of its mask). The row's usage comes from the same group and bit.
    struct {
        const ProcessorGroups::Functions *machine;
        uint32_t index;
        int placed;
        uint16_t group;
        uint32_t bit;
        int loads;
    } const cases[] = {
        {big, 31, 1, 0, 31, 1},       {big, 32, 1, 0, 32, wide}, {big, 64, 1, 1, 0, wide},
        {big, 127, 1, 1, 63, wide},   {big, 128, 0, 0, 0, 0},    {uneven, 0, 1, 0, 0, wide},
        {uneven, 39, 1, 0, 39, wide}, {uneven, 40, 1, 1, 0, 1},  {uneven, 59, 1, 1, 19, 1},
        {uneven, 60, 1, 1, 24, 1},    {uneven, 67, 1, 1, 31, 1}, {uneven, 68, 1, 1, 32, wide},
        {uneven, 79, 1, 1, 43, wide}, {uneven, 80, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const ProcessorGroups groups(*c.machine);
        uint16_t group = 99;
        uint32_t bit = 99;
        ASSERT_EQ(c.placed, groups.Place(c.index, &group, &bit)) << c.index;
        if (c.placed) {
            EXPECT_EQ(c.group, group) << c.index;
            EXPECT_EQ(c.bit, bit) << c.index;
            g_big = BigMachine();
            UsageSampler sampler(1, BigMachineQuery, BigMachineGroupQuery, *c.machine);
            sampler.Sample(c.index);
            EXPECT_EQ((c.group * 64u + c.bit) % 100, sampler.Sample(c.index)) << c.index;
        }
        DWORD_PTR mask = 0;
        EXPECT_EQ(c.loads, groups.Locate(c.index, &group, &mask)) << c.index;
        g_pinned = GROUP_AFFINITY();
        g_pinned.Group = 99;
        EXPECT_EQ(c.loads, groups.Pin(c.index)) << c.index;
        if (c.loads) {
            EXPECT_EQ(c.group, g_pinned.Group) << c.index;
            EXPECT_EQ(static_cast<DWORD_PTR>(1) << c.bit, g_pinned.Mask) << c.index;
        }
    }
}

// Without groups (before Windows 7) the system affinity mask names the processors; a number past it is no
// processor this program can load, and a real thread is pinned to the last one.
TEST(ProcessorGroups, WithoutGroupsTheSystemMaskNamesTheProcessors) {
    const ProcessorGroups none(ProcessorGroups::Functions{});
    EXPECT_EQ(0, none.Known());
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    uint32_t count = 0;
    for (DWORD_PTR bits = system; bits; bits &= bits - 1)
        ++count;
    ASSERT_EQ(count, none.CountInGroup(0));
    uint16_t group = 5;
    DWORD_PTR mask = 0;
    EXPECT_EQ(0, none.Locate(count, &group, &mask));
    EXPECT_EQ(0, none.Pin(count));
    ASSERT_EQ(1, none.Locate(count - 1, &group, &mask));
    EXPECT_EQ(0u, group);
    EXPECT_NE(0u, mask & system);
    const DWORD_PTR before = SetThreadAffinityMask(GetCurrentThread(), system);
    ASSERT_EQ(1, none.Pin(count - 1));
    EXPECT_EQ(mask, SetThreadAffinityMask(GetCurrentThread(), before));
}

TEST(ProcessorGroups, BigMachineGivesARowAndAUsageValuePerProcessor) {
    // 128 processor keys, as the system lists them across both groups.
    ScopedTestKey key("BigMachine");
    ASSERT_TRUE(key.Valid());
    for (unsigned i = 0; i < 128; ++i) {
        const std::string path = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\" + std::to_string(i);
        ASSERT_TRUE(key.SetString(path.c_str(), "ProcessorNameString", ("Big " + std::to_string(i)).c_str()));
    }
    RecordList records;
    {
        ScopedRootRedirect redirect(HKEY_LOCAL_MACHINE, key.Handle());
        ASSERT_TRUE(redirect.Active());
        UsageSampler inventory(1, BigMachineQuery, BigMachineGroupQuery, kBigMachine);
        EXPECT_EQ(128u, inventory.ProcessorCount());
        ASSERT_EQ(128u, ProcessorRecord::AppendProcessors(inventory, records));
    }
    // One sampler per row, as the window keeps them: the second sample of each gives its processor's share.
    g_big = BigMachine();
    uint32_t rows = 0;
    for (ListEntry *entry = records.First(); entry; entry = records.Next(entry), ++rows) {
        ProcessorRecord *record = static_cast<ProcessorRecord *>(entry);
        EXPECT_STREQ(("Big " + std::to_string(record->index)).c_str(), record->name.Text());
        UsageSampler sampler(1, BigMachineQuery, BigMachineGroupQuery, kBigMachine);
        sampler.Sample(record->index);
        EXPECT_EQ(record->index % 100, sampler.Sample(record->index)) << record->index;
        ASSERT_GE(g_big.groupsAsked.size(), 2u);
        EXPECT_EQ(record->index / 64, g_big.groupsAsked.back()) << record->index;
    }
    EXPECT_EQ(128u, rows);
    EXPECT_EQ(0, g_big.plainTimesCalls);
    while (ListEntry *entry = records.First()) {
        records.Remove(entry);
        delete entry;
    }
}

// ProcessorGroups: the groups and their active masks from kernel32 (Windows 7 and later, else the system
// affinity mask), processor numbers mapped onto a group and a bit, and the pin of a thread.
#include "base/ProcessorGroups.h"
#include "base/DynamicLibrary.h"
#include <cstddef>
#include <vector>

namespace {

// GetLogicalProcessorInformationEx's answer for RelationGroup (4), as far as it is read here.
struct GroupInfo {
    BYTE maximumCount;
    BYTE activeCount;
    BYTE reserved[38];
    DWORD_PTR activeMask;
};
struct GroupRelation {
    DWORD relationship;
    DWORD size;
    WORD maximumGroupCount;
    WORD activeGroupCount;
    BYTE reserved[20];
    GroupInfo groups[1];
};
const DWORD kRelationGroup = 4;

uint64_t SystemActiveMask(WORD group) {
    typedef BOOL(WINAPI * InformationFunction)(DWORD, void *, DWORD *);
    DynamicLibrary kernel;
    InformationFunction information =
        kernel.Load("kernel32.dll") ? kernel.Function<InformationFunction>("GetLogicalProcessorInformationEx")
                                    : nullptr;
    if (!information)
        return 0;
    DWORD size = 0;
    information(kRelationGroup, nullptr, &size);
    if (size < sizeof(GroupRelation) - sizeof(GroupInfo))
        return 0;
    std::vector<uint8_t> buffer(size);
    if (!information(kRelationGroup, buffer.data(), &size))
        return 0;
    const GroupRelation *relation = reinterpret_cast<const GroupRelation *>(buffer.data());
    const size_t room = (size - offsetof(GroupRelation, groups)) / sizeof(GroupInfo);
    if (group >= relation->activeGroupCount || group >= room)
        return 0;
    return relation->groups[group].activeMask;
}

// The n-th set bit of mask (from 0), or 64 when the mask has fewer; bits past the last one that the mask
// shows follow it in order (a 32-bit program sees only the low half of a group's mask).
uint32_t NthBit(uint64_t mask, uint32_t count, uint32_t n) {
    if (n >= count)
        return 64;
    uint32_t last = 0;
    uint32_t seen = 0;
    for (uint32_t bit = 0; bit < 64; ++bit) {
        if (mask & (static_cast<uint64_t>(1) << bit)) {
            if (seen == n)
                return bit;
            ++seen;
            last = bit + 1;
        }
    }
    const uint32_t bit = last + (n - seen);
    return bit < 64 ? bit : 64;
}

uint32_t BitCount(uint64_t mask) {
    uint32_t count = 0;
    for (; mask; mask &= mask - 1)
        ++count;
    return count;
}

} // namespace

ProcessorGroups::ProcessorGroups() {
    DynamicLibrary kernel;
    Functions functions = {};
    if (kernel.Load("kernel32.dll")) {
        functions.groupCount = kernel.Function<WORD(WINAPI *)()>("GetActiveProcessorGroupCount");
        functions.activeCount = kernel.Function<DWORD(WINAPI *)(WORD)>("GetActiveProcessorCount");
        functions.threadGroupAffinity =
            kernel.Function<BOOL(WINAPI *)(HANDLE, GROUP_AFFINITY *)>("GetThreadGroupAffinity");
        functions.setThreadGroupAffinity =
            kernel.Function<BOOL(WINAPI *)(HANDLE, const GROUP_AFFINITY *, GROUP_AFFINITY *)>(
                "SetThreadGroupAffinity");
        if (functions.groupCount)
            functions.activeMask = SystemActiveMask;
    }
    // kernel32 stays loaded in every process: the functions stay valid after the library object is gone.
    Read(functions);
}

ProcessorGroups::ProcessorGroups(const Functions &functions) {
    Read(functions);
}

void ProcessorGroups::Read(const Functions &functions) {
    functions_ = functions;
    if (functions.threadGroupAffinity) {
        GROUP_AFFINITY own;
        ZeroMemory(&own, sizeof(own));
        if (functions.threadGroupAffinity(GetCurrentThread(), &own))
            ownGroup_ = own.Group;
    }
    uint32_t groups = functions.groupCount && functions.activeCount ? functions.groupCount() : 0;
    if (groups > kMostGroups)
        groups = kMostGroups;
    uint32_t total = 0;
    for (uint32_t group = 0; group < groups; ++group) {
        uint32_t count = functions.activeCount(static_cast<WORD>(group));
        // A group is never larger than its mask; a larger answer would map processors onto missing bits.
        if (count > kGroupSize)
            count = kGroupSize;
        const uint64_t mask = functions.activeMask ? functions.activeMask(static_cast<WORD>(group)) : 0;
        counts_[group] = count;
        // Without the system's mask the group's processors are its low bits.
        masks_[group] =
            mask ? mask : (count >= 64 ? ~static_cast<uint64_t>(0) : (static_cast<uint64_t>(1) << count) - 1);
        total += count;
    }
    if (total > 0) {
        groupCount_ = groups;
        total_ = total;
        known_ = 1;
        return;
    }
    // Before Windows 7 there is one group: the system affinity mask names its active processors.
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && system) {
        masks_[0] = system;
        counts_[0] = BitCount(system);
    }
    groupCount_ = 1;
    ownGroup_ = 0;
}

uint32_t ProcessorGroups::CountInGroup(uint32_t group) const {
    return group < groupCount_ ? counts_[group] : 0;
}

int ProcessorGroups::Place(uint32_t index, uint16_t *group, uint32_t *bit) const {
    uint32_t rest = index;
    for (uint32_t g = 0; g < groupCount_; ++g) {
        if (rest < counts_[g]) {
            const uint32_t found = NthBit(masks_[g], counts_[g], rest);
            if (found >= 64)
                return 0;
            *group = static_cast<uint16_t>(g);
            *bit = found;
            return 1;
        }
        rest -= counts_[g];
    }
    return 0;
}

int ProcessorGroups::Locate(uint32_t index, uint16_t *group, DWORD_PTR *mask) const {
    uint16_t placed = 0;
    uint32_t bit = 0;
    if (!Place(index, &placed, &bit) || bit >= kMaskBits)
        return 0;
    // A 32-bit process under WOW64 stays in its own group: its masks have no room for the others' bits
    // beyond 32, and the rows of the other groups are loaded by the 64-bit program.
    if (kMaskBits == 32 && placed != ownGroup_)
        return 0;
    *group = placed;
    *mask = static_cast<DWORD_PTR>(1) << bit;
    return 1;
}

int ProcessorGroups::Pin(uint32_t index) const {
    uint16_t group = 0;
    DWORD_PTR mask = 0;
    if (!Locate(index, &group, &mask))
        return 0;
    if (groupCount_ > 1 && functions_.setThreadGroupAffinity) {
        GROUP_AFFINITY affinity;
        ZeroMemory(&affinity, sizeof(affinity));
        affinity.Mask = mask;
        affinity.Group = group;
        return functions_.setThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr) ? 1 : 0;
    }
    return SetThreadAffinityMask(GetCurrentThread(), mask) != 0;
}

uint32_t ProcessorGroups::MachineProcessors() {
    DynamicLibrary kernel;
    typedef DWORD(WINAPI * ActiveCountFunction)(WORD);
    ActiveCountFunction activeCount = kernel.Load("kernel32.dll")
                                          ? kernel.Function<ActiveCountFunction>("GetActiveProcessorCount")
                                          : nullptr;
    const WORD kAllGroups = 0xFFFF;
    DWORD count = activeCount ? activeCount(kAllGroups) : 0;
    if (count == 0) {
        SYSTEM_INFO info;
        GetNativeSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count;
}

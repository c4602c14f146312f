// ProcessorGroups: the group counts from kernel32 (Windows 7 and later), and processor numbers mapped onto
// a group and an affinity bit.
#include "base/ProcessorGroups.h"
#include "base/DynamicLibrary.h"

ProcessorGroups::ProcessorGroups() {
    DynamicLibrary kernel;
    Functions functions = {nullptr, nullptr};
    if (kernel.Load("kernel32.dll")) {
        functions.groupCount = kernel.Function<WORD(WINAPI *)()>("GetActiveProcessorGroupCount");
        functions.activeCount = kernel.Function<DWORD(WINAPI *)(WORD)>("GetActiveProcessorCount");
    }
    // kernel32 stays loaded in every process: the answers are read now, while the library is held.
    Read(functions);
}

ProcessorGroups::ProcessorGroups(const Functions &functions) {
    Read(functions);
}

void ProcessorGroups::Read(const Functions &functions) {
    if (!functions.groupCount || !functions.activeCount)
        return;
    uint32_t groups = functions.groupCount();
    if (groups == 0)
        return;
    if (groups > kMostGroups)
        groups = kMostGroups;
    uint32_t total = 0;
    for (uint32_t group = 0; group < groups; ++group) {
        uint32_t count = functions.activeCount(static_cast<WORD>(group));
        // A group is never larger than its mask; a larger answer would map processors onto missing bits.
        if (count > kGroupSize)
            count = kGroupSize;
        counts_[group] = count;
        total += count;
    }
    if (total == 0)
        return;
    groupCount_ = groups;
    total_ = total;
    known_ = 1;
}

uint32_t ProcessorGroups::CountInGroup(uint32_t group) const {
    return group < groupCount_ ? counts_[group] : 0;
}

int ProcessorGroups::Locate(uint32_t index, uint16_t *group, DWORD_PTR *mask) const {
    uint32_t rest = index;
    if (known_) {
        for (uint32_t g = 0; g < groupCount_; ++g) {
            if (rest < counts_[g]) {
                if (rest >= kMaskBits)
                    break; // a 32-bit program's mask has no bit for it
                *group = static_cast<uint16_t>(g);
                *mask = static_cast<DWORD_PTR>(1) << rest;
                return 1;
            }
            rest -= counts_[g];
        }
    }
    *group = 0;
    *mask = static_cast<DWORD_PTR>(1) << (index % kMaskBits);
    return 0;
}

uint32_t ProcessorGroups::MachineProcessors() {
    DynamicLibrary kernel;
    typedef DWORD(WINAPI * ActiveCountFunction)(WORD);
    ActiveCountFunction activeCount =
        kernel.Load("kernel32.dll") ? kernel.Function<ActiveCountFunction>("GetActiveProcessorCount") : nullptr;
    const WORD kAllGroups = 0xFFFF;
    DWORD count = activeCount ? activeCount(kAllGroups) : 0;
    if (count == 0) {
        SYSTEM_INFO info;
        GetNativeSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count;
}

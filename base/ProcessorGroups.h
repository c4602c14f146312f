// ProcessorGroups: how the machine's logical processors fall into processor groups. Windows 7 and later put
// a machine with more than 64 logical processors into groups of at most 64; a thread runs in one group at a
// time and the system's per-processor queries answer group by group. Processors are numbered across the
// groups in order, as the processor list shows them: within a group, by the bits of its active mask (a
// processor taken offline leaves a gap in the mask, not in the numbers).
//
// Classes: ProcessorGroups.
#pragma once

#include "base/Win.h"
#include <cstdint>

class ProcessorGroups {
public:
    // The system's answers, looked up at run time (absent before Windows 7); tests give a simulated machine.
    // Any of them may be null.
    struct Functions {
        WORD(WINAPI *groupCount)();
        DWORD(WINAPI *activeCount)(WORD group);
        // The group's active processors as bits of its affinity mask. Null, or an answer of 0: the low
        // bits, as many as activeCount gives.
        uint64_t (*activeMask)(WORD group);
        // The calling thread's group (the process's own group for a thread that never left it).
        BOOL(WINAPI *threadGroupAffinity)(HANDLE thread, GROUP_AFFINITY *affinity);
        // Moves the calling thread to a group and mask.
        BOOL(WINAPI *setThreadGroupAffinity)
        (HANDLE thread, const GROUP_AFFINITY *affinity, GROUP_AFFINITY *previous);
    };
    enum : uint32_t {
        kMostGroups = 32,                  // what Windows supports today (2,048 processors)
        kGroupSize = 64,                   // processors a group holds at the most
        kMaskBits = sizeof(DWORD_PTR) * 8, // processors one affinity mask names: 32 or 64
    };

    // The real machine.
    ProcessorGroups();
    explicit ProcessorGroups(const Functions &functions);

    // 1 when the system told how its processors are grouped; 0 on systems without groups, where every
    // processor counts as group 0 and the process's system affinity mask tells which are active.
    int Known() const { return known_; }
    uint32_t GroupCount() const { return groupCount_; }
    uint32_t CountInGroup(uint32_t group) const;
    // Logical processors in all groups; 0 when unknown.
    uint32_t Count() const { return total_; }

    // Where processor index lies: its group and the number of its bit in that group's mask. 0 (outputs
    // untouched) past the last processor the system reported.
    int Place(uint32_t index, uint16_t *group, uint32_t *bit) const;
    // Where a worker of this program loads processor index: its group and the one-bit affinity mask. 0 when
    // this program cannot load it: past the last processor, or, in a 32-bit program, outside the process's
    // own group or past the 32 bits of its mask. Without known groups a processor is located on the system
    // affinity mask's bits.
    int Locate(uint32_t index, uint16_t *group, DWORD_PTR *mask) const;
    // Pins the calling thread to processor index; 1 when the system took it, 0 when this program cannot
    // load it or the system refused.
    int Pin(uint32_t index) const;

    // The machine's logical processors in all groups as the system itself counts them, also for a 32-bit
    // process under WOW64, which is shown 32 at the most.
    static uint32_t MachineProcessors();

private:
    void Read(const Functions &functions);

    Functions functions_ = {};
    int known_ = 0;
    uint32_t groupCount_ = 1;
    uint32_t total_ = 0;
    uint16_t ownGroup_ = 0;
    uint32_t counts_[kMostGroups] = {};
    uint64_t masks_[kMostGroups] = {};
};

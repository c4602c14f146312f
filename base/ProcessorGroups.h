// ProcessorGroups: how the machine's logical processors fall into processor groups. Windows 7 and later put
// a machine with more than 64 logical processors into groups of at most 64; a thread runs in one group at a
// time and the system's per-processor queries answer group by group. Processors are numbered across the
// groups in order, as the processor list shows them.
//
// Classes: ProcessorGroups.
#pragma once

#include "base/Win.h"
#include <cstdint>

class ProcessorGroups {
public:
    // The system's answers, looked up at run time (absent before Windows 7); tests give a simulated machine.
    struct Functions {
        WORD(WINAPI *groupCount)();
        DWORD(WINAPI *activeCount)(WORD group);
    };
    enum : uint32_t {
        kMostGroups = 32,                       // what Windows supports today (2,048 processors)
        kGroupSize = 64,                        // processors a group holds at the most
        kMaskBits = sizeof(DWORD_PTR) * 8,      // processors one affinity mask names: 32 or 64
    };

    // The real machine.
    ProcessorGroups();
    explicit ProcessorGroups(const Functions &functions);

    // 1 when the system told how its processors are grouped; 0 on systems without groups, where every
    // processor counts as group 0.
    int Known() const { return known_; }
    uint32_t GroupCount() const { return groupCount_; }
    uint32_t CountInGroup(uint32_t group) const;
    // Logical processors in all groups; 0 when unknown.
    uint32_t Count() const { return total_; }

    // Where processor index runs: its group and its bit in that group's affinity mask. Without known groups,
    // or past the last one, the index wraps onto the bits of one mask (32 in a 32-bit program), as a plain
    // thread affinity mask does. 1 when index is a processor the system reported, 0 when it wrapped.
    int Locate(uint32_t index, uint16_t *group, DWORD_PTR *mask) const;

    // The machine's logical processors in all groups as the system itself counts them, also for a 32-bit
    // process under WOW64, which is shown 32 at the most.
    static uint32_t MachineProcessors();

private:
    void Read(const Functions &functions);

    int known_ = 0;
    uint32_t groupCount_ = 1;
    uint32_t total_ = 0;
    uint32_t counts_[kMostGroups] = {};
};

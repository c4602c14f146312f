// ProcessorRecord: what the program keeps per logical processor: its description, its list row, the
// thread that loads it and its own usage sampler; and the enumeration that makes one per processor.
//
// Classes: ProcessorRecord.
#pragma once

#include "base/RecordList.h"
#include "base/TextString.h"
#include "load/UsageSampler.h"
#include "base/WorkerThread.h"
#include <atomic>
#include <cstdint>

class ProcessorRecord : public ListEntry {
public:
    ProcessorRecord();
    ~ProcessorRecord() override;

    uint32_t index = 0; // processor number, for the registry path and the thread affinity
    int32_t row = 0;    // the list view row made for this processor
    // Members are destroyed bottom-up: the sampler first, the worker (which ends a running thread) last.
    WorkerThread worker;
    TextString name;
    TextString vendor;
    uint32_t mhz = 0; // 0 when no speed was found
    UsageSampler sampler;
    // Written by the worker when it starts: 1 when the system would not pin it to this processor (the
    // load then runs wherever the system puts it). Read by the window for the row's text.
    std::atomic<int> pinFailed{0};
    // The worker's processor time at the last usage refresh, for the load thread's own share.
    uint64_t loggedCpuTime = 0;

    // The processor enumeration: asks inventory for processor 0, 1, 2, ... and appends one record per
    // answer to list until the first processor that is not there (or memory runs out). Returns the number
    // of records appended.
    static uint32_t AppendProcessors(UsageSampler &inventory, RecordList &list);
};

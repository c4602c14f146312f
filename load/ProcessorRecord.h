// ProcessorRecord: what the program keeps per logical processor: its description, its list row, the
// thread that loads it and its own usage sampler.
#pragma once

#include "base/RecordList.h"
#include "base/TextString.h"
#include "load/UsageSampler.h"
#include "base/WorkerThread.h"
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
};

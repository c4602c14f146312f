// ProcessorRecord: construction with room for the registry's descriptions, and the processor enumeration.
#include "load/ProcessorRecord.h"

#include <memory>
#include <new>

// The registry texts are read with a limit of 260 bytes.
ProcessorRecord::ProcessorRecord() : name(260), vendor(260) {}

ProcessorRecord::~ProcessorRecord() = default;

uint32_t ProcessorRecord::AppendProcessors(UsageSampler &inventory, RecordList &list) {
    for (uint32_t index = 0;; ++index) {
        std::unique_ptr<ProcessorRecord> record(new (std::nothrow) ProcessorRecord);
        if (!record ||
            !inventory.ProcessorInventory(record->name, &record->vendor, nullptr, &record->mhz, index))
            return index;
        record->index = index;
        list.Append(record.release()); // the list's owner deletes it
    }
}

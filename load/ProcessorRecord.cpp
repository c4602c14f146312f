// ProcessorRecord: construction with room for the registry's descriptions.
#include "load/ProcessorRecord.h"

// The registry texts are read with a limit of 260 bytes.
ProcessorRecord::ProcessorRecord() : name(260), vendor(260) {}

ProcessorRecord::~ProcessorRecord() = default;

// RunLog: the record of a run that -l asks for: a CSV file with one header line and one row per second,
// each processor's load, usage, the load thread's own share and clock. Written and handed to the system row
// by row, so that a Tarvex ended by force loses at most the last second.
//
// Classes: RunLog.
#pragma once

#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "load/ProcessorClock.h"
#include <cstdint>
#include <vector>

class RunLog {
public:
    // One processor's figures of one row.
    struct Processor {
        int loaded;                    // its worker runs
        uint32_t usage;                // percent, as the Usage column shows it
        uint32_t ownShare;             // percent of the second the load thread itself ran
        ProcessorClock::Reading clock; // zeros where the system gives none
    };

    RunLog() = default;
    ~RunLog() = default;
    RunLog(const RunLog &) = delete;
    RunLog &operator=(const RunLog &) = delete;

    // Creates (or replaces) the file; 0 with the reason as a sentence in problem: no name, a folder, a
    // device, a folder that does not exist, a file another program holds open, or any other refusal.
    int Open(const char *path, TextString &problem);
    int IsOpen() const { return file_.IsValid(); }
    // 1 once a write failed: the log has ended (the file is closed) and the caller says so once.
    int Failed() const { return failed_; }

    int WriteHeader(uint32_t processors);
    int WriteRow(const SYSTEMTIME &localTime, uint64_t seconds, uint32_t target,
                 const std::vector<Processor> &processors);
    // A line of text (the mistake of a scripted run), as a comment row a CSV reader skips by its first cell.
    int WriteNote(const char *text);

    // The lines as they are written, without the line end.
    static void FormatHeader(uint32_t processors, TextString &out);
    static void FormatRow(const SYSTEMTIME &localTime, uint64_t seconds, uint32_t target,
                          const std::vector<Processor> &processors, TextString &out);

private:
    int WriteLine(const TextString &line);

    OwnedHandle file_;
    int failed_ = 0;
};

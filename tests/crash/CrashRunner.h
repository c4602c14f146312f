// CrashRunner: what the crash tests and the crash benchmark share: a program that will fault, started (with a
// temporary folder of its own) and waited for; the facts the crash program writes; the sections of a debug
// report; the header and exception stream of a minidump.
//
// Classes: CrashRunner, MinidumpSummary. Functions: ReadFacts, Fact, ReportSection.
#pragma once

#include "tests/common/ProcessRunner.h"
#include <cstdint>
#include <map>
#include <string>

// "name value" lines of the crash program's facts file, in file order per name.
typedef std::multimap<std::string, unsigned long long> CrashFacts;
CrashFacts ReadFacts(const std::string &path);
// The first value of a name; 0 when there is none.
unsigned long long Fact(const CrashFacts &facts, const char *name);
// The text of a report section ("Stack", "Log", "ModuleList", "ThreadList") up to the next one; "<none>" when
// the report has no such section. "" gives what comes before the first section.
std::string ReportSection(const std::string &report, const char *name);

struct MinidumpSummary {
    int valid = 0;        // "MDMP" signature and a stream directory inside the file
    int hasException = 0; // an exception stream (type 6)
    uint32_t threadId = 0, code = 0;
    uint64_t address = 0;
    int Read(const std::string &bytes);
};

// Starting a program that will fault and waiting, bounded, for its end come from ProcessRunner; the files it
// leaves behind are read with these.
class CrashRunner : public ProcessRunner {
public:
    static std::string ReadWhole(const std::string &path);
    static int Exists(const std::string &path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

// CrashRunner: what the crash tests and the crash benchmark share: starting a program that will fault (with a
// temporary folder of its own) and waiting, bounded, for its end; the facts the crash program writes; the
// sections of a debug report; the header and exception stream of a minidump.
//
// Classes: CrashRunner, MinidumpSummary. Functions: ReadFacts, Fact, ReportSection.
#pragma once

#include "base/Win.h"
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

class CrashRunner {
public:
    CrashRunner() = default;
    ~CrashRunner() { Kill(); }
    CrashRunner(const CrashRunner &) = delete;
    CrashRunner &operator=(const CrashRunner &) = delete;

    // Starts commandLine with its output going nowhere and, when tempFolder is given, TMP and TEMP set to it.
    int Start(const std::string &commandLine, const char *tempFolder = nullptr);
    // 1 when the process ended within timeoutMs (its exit code is kept).
    int WaitForEnd(DWORD timeoutMs);
    void Kill();
    HANDLE Process() const { return process_; }
    DWORD ExitCode() const { return exitCode_; }
    // A visible top-level window of the process with this caption (any when null), waited for.
    HWND WaitForWindow(const char *caption, DWORD timeoutMs) const;

    // Starts a Unix program through Wine (it runs natively; nothing to wait for). 1 when it started.
    static int RunUnix(const std::string &commandLine);
    static std::string UnixPathOf(const std::string &windowsPath);
    static std::string ReadWhole(const std::string &path);
    static int Exists(const std::string &path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // The folder of the running program, with its trailing backslash.
    static std::string OwnFolder();
    template <typename Pred> static int WaitUntil(DWORD timeoutMs, Pred pred) {
        for (DWORD start = GetTickCount();; Sleep(20)) {
            if (pred())
                return 1;
            if (GetTickCount() - start > timeoutMs)
                return 0;
        }
    }

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    DWORD exitCode_ = STILL_ACTIVE;
};

// CrashRunner: what the crash tests and the crash benchmark share: starting a program that will fault with a
// temporary folder of its own and waiting (bounded) for its end, reading the facts the crash program writes,
// splitting a debug report into its sections and reading a minidump's header and exception stream.
//
// Classes: CrashRunner, CrashFacts, ReportSections, MinidumpSummary.
#pragma once

#include "base/Win.h"
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// "name value" lines of the crash program's facts file.
struct CrashFacts {
    std::map<std::string, std::vector<unsigned long long>> values;
    int Read(const std::string &path);
    unsigned long long First(const char *name) const;
    const std::vector<unsigned long long> &All(const char *name) const;
};

// A debug report cut at its section headers.
struct ReportSections {
    explicit ReportSections(const std::string &text);
    std::string head;    // exception, location and register lines, processors, system and architecture
    std::string stack;   // after "\r\nStack:\r\n"
    std::string log;     // after "\r\nLog:\r\n"
    std::string modules; // after "\r\nModuleList:\r\n"
    std::string threads; // after "\r\nThreadList:\r\n"
    int hasStack = 0, hasLog = 0, hasModules = 0, hasThreads = 0;
};

// The header and exception stream of a minidump file.
struct MinidumpSummary {
    int valid = 0;         // "MDMP" signature and a readable stream directory
    int hasException = 0;  // an exception stream (type 6)
    uint32_t threadId = 0; // of the exception stream
    uint32_t code = 0;     // exception code
    uint64_t address = 0;  // exception address
    int Read(const std::string &bytes);
};

class CrashRunner {
public:
    // The process's temporary folder is given by TMP and TEMP; null keeps the caller's.
    CrashRunner() = default;
    ~CrashRunner();
    CrashRunner(const CrashRunner &) = delete;
    CrashRunner &operator=(const CrashRunner &) = delete;

    // Starts commandLine (its output goes nowhere); 1 when the process runs.
    int Start(const std::string &commandLine, const char *tempFolder = nullptr);
    // 1 when the process ended within timeoutMs; its exit code is kept.
    int WaitForEnd(DWORD timeoutMs);
    void Kill();
    HANDLE Process() const { return process_; }
    DWORD ProcessId() const { return processId_; }
    DWORD ExitCode() const { return exitCode_; }
    // A visible top-level window of the process with this caption (any caption when null); null when none
    // appeared within timeoutMs.
    HWND WaitForWindow(const char *caption, DWORD timeoutMs) const;

    static std::string ReadWhole(const std::string &path);
    static int Exists(const std::string &path);
    static int CopyProgram(const std::string &from, const std::string &to);
    // The Unix path of a Windows path (Wine only; empty elsewhere).
    static std::string UnixPathOf(const std::string &windowsPath);
    // Starts a Unix program through Wine (it runs natively); 1 when it was started.
    static int RunUnix(const std::string &commandLine);
    // The folder of the running test program, with its trailing backslash.
    static std::string OwnFolder();
    // Waits, checking every 20 ms; 1 when pred() became true within timeoutMs.
    template <typename Pred> static int WaitUntil(DWORD timeoutMs, Pred pred) {
        DWORD start = GetTickCount();
        for (;;) {
            if (pred())
                return 1;
            if (GetTickCount() - start > timeoutMs)
                return 0;
            Sleep(20);
        }
    }

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    DWORD exitCode_ = STILL_ACTIVE;
};

// ProcessRunner: a program the tests and benchmarks start and watch from outside: the process, its visible
// windows, its threads, bounded waits and a forced end; also Unix programs started through Wine.
//
// Classes: ProcessRunner.
#pragma once

#include "base/Win.h"
#include <string>
#include <vector>

class ProcessRunner {
public:
    ProcessRunner() = default;
    // Ends the process by force when it is still running.
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner &) = delete;
    ProcessRunner &operator=(const ProcessRunner &) = delete;

    // Ends the previous process, then starts commandLine with its output going nowhere and, when tempFolder
    // is given, TMP and TEMP set to it; 1 when the process runs.
    int Start(const std::string &commandLine, const char *tempFolder = nullptr);
    // 1 when the process ended within timeoutMs (its exit code is kept).
    int WaitForEnd(DWORD timeoutMs);
    int Running() const;
    void Kill();
    HANDLE Process() const { return process_; }
    DWORD ProcessId() const { return processId_; }
    DWORD ExitCode() const { return exitCode_; }
    // A visible top-level window of the process with this caption (any when null; the caption followed by
    // " - " and a state counts too), of this class when one is given, other than exclude; null when none appeared in time or the process ended.
    HWND WaitForWindow(const char *caption, DWORD timeoutMs, const char *className = nullptr,
                       HWND exclude = nullptr) const;
    // Ids of the process's threads right now, sorted.
    std::vector<DWORD> ThreadIds() const;

    // A window's text, asked for with a time limit so that a hung program cannot hang the test.
    static std::string WindowText(HWND window);
    // Starts a Unix program through Wine (it runs natively; nothing to wait for). 1 when it started.
    static int RunUnix(const std::string &commandLine);
    // "" when there is none (not under Wine).
    static std::string UnixPathOf(const std::string &windowsPath);
    // The folder of the running program, with its trailing backslash.
    static std::string OwnFolder();
    // Waits until pred() is true, checking every 20 ms; 1 when it became true in time.
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

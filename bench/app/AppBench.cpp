// AppBench: the real Tarvex.exe measured from outside: time to a visible dialog, its own processor use
// while idle, its working set, and how long a Stop click takes until every worker thread has ended, side by
// side with an earlier build's when one is named.
//
// Usage: AppBench [path of Tarvex.exe] [idle seconds] [path of an earlier Tarvex.exe]
//        (defaults: <build>\Tarvex.exe, 30, none)
#include "res/ResourceIds.h"
#include "tests/app/driver/TarvexDriver.h"

#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Maximum(const std::vector<double> &values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

int64_t Cpu100ns(const FILETIME &kernel, const FILETIME &user) {
    return (static_cast<int64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<int64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

// The process's processor time: GetProcessTimes where the system answers it for another process, else
// the sum over its threads (Wine reports per-thread times of other processes but not the process total).
int64_t ProcessCpu100ns(const TarvexDriver &driver) {
    FILETIME created, exited, kernel, user;
    int64_t total = 0;
    if (GetProcessTimes(driver.Process(), &created, &exited, &kernel, &user))
        total = Cpu100ns(kernel, user);
    int64_t threads = 0;
    for (DWORD id : driver.ThreadIds()) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        if (!thread)
            continue;
        if (GetThreadTimes(thread, &created, &exited, &kernel, &user))
            threads += Cpu100ns(kernel, user);
        CloseHandle(thread);
    }
    return total > threads ? total : threads;
}

int Close(TarvexDriver &driver) {
    driver.Click(IDC_EXIT);
    DWORD code = 1;
    return driver.WaitForExit(20000, &code) && code == 0;
}

// Milliseconds from process creation to the visible, initialised dialog.
double StartUpMs() {
    TarvexDriver driver;
    double start = Now();
    if (!driver.Start(""))
        return -1;
    if (!driver.WaitForDialog(30000))
        return -1;
    // The dialog is found once visible; its controls are filled before it is shown.
    double elapsed = Now() - start;
    Close(driver);
    return elapsed;
}

// Stop click to the last worker thread's end, over rounds of Grab/Stop at the given percentage.
std::vector<double> StopLatencies(int percent, int rounds, DWORD loadMs) {
    std::vector<double> latencies;
    TarvexDriver driver;
    char arguments[32];
    snprintf(arguments, sizeof arguments, "-u %d", percent);
    if (!driver.Start(arguments) || !driver.WaitForDialog(30000))
        return latencies;
    Sleep(500);
    std::vector<DWORD> idle = driver.ThreadIds();
    for (int round = 0; round < rounds; ++round) {
        driver.PostCommand(IDC_GRAB);
        if (!TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Stop"; }))
            break;
        Sleep(loadMs);
        std::vector<DWORD> now = driver.ThreadIds(), workers;
        std::set_difference(now.begin(), now.end(), idle.begin(), idle.end(), std::back_inserter(workers));
        std::vector<HANDLE> handles;
        for (DWORD id : workers) {
            HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
            if (thread)
                handles.push_back(thread);
        }
        double start = Now();
        driver.PostCommand(IDC_GRAB);
        DWORD waited = handles.empty() ? WAIT_FAILED
                                       : WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                                handles.data(), TRUE, 10000);
        double elapsed = Now() - start;
        for (HANDLE thread : handles)
            CloseHandle(thread);
        if (waited >= WAIT_OBJECT_0 + handles.size())
            break;
        latencies.push_back(elapsed);
        TarvexDriver::WaitUntil(5000, [&] { return driver.Text(IDC_GRAB) == "Grab"; });
        Sleep(200);
    }
    Close(driver);
    return latencies;
}

// "median / max (rounds)", or why there is none.
std::string Cell(const std::vector<double> &latencies) {
    if (latencies.empty())
        return "no measurement";
    char text[64];
    snprintf(text, sizeof text, "%7.1f / %7.1f (%zu)", Median(latencies), Maximum(latencies),
             latencies.size());
    return text;
}

} // namespace

int main(int argc, char **argv) {
    // Each figure shows as soon as it is measured, even when the caller's time limit ends the run.
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc > 1 && argv[1][0])
        TarvexDriver::SetProgramPath(argv[1]);
    int idleSeconds = argc > 2 ? atoi(argv[2]) : 30;
    if (idleSeconds < 1)
        idleSeconds = 30;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    printf("AppBench: %s, %lu processors\n", TarvexDriver::ProgramPath().c_str(),
           system.dwNumberOfProcessors);

    std::vector<double> startUps;
    for (int i = 0; i < 5; ++i) {
        double ms = StartUpMs();
        if (ms < 0) {
            printf("start-up: the dialog did not appear\n");
            return 1;
        }
        startUps.push_back(ms);
    }
    printf("start-up to visible dialog: median %.0f ms, max %.0f ms (5 starts)\n", Median(startUps),
           Maximum(startUps));

    // Idle, without a log and with one (-l writes a row every second): the log must not make idle use
    // noticeably higher.
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string log = std::string(folder) + "AppBenchLog.csv";
    const std::string withLog = "-l \"" + log + "\"";
    printf("idle, %d s each  | processor use (goal < 0.5 %%) | working set | private\n", idleSeconds);
    for (const char *arguments : {"", withLog.c_str()}) {
        TarvexDriver driver;
        if (!driver.Start(arguments) || !driver.WaitForDialog(30000)) {
            printf("idle: the dialog did not appear\n");
            return 1;
        }
        Sleep(2000);
        int64_t cpuBefore = ProcessCpu100ns(driver);
        double start = Now();
        Sleep(idleSeconds * 1000);
        int64_t cpuAfter = ProcessCpu100ns(driver);
        double wall = Now() - start;
        double percent = (cpuAfter - cpuBefore) / 10000.0 / wall * 100.0;
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(driver.Process(), &memory, sizeof memory);
        printf("%-16s | %.3f %% of one processor          | %.1f MiB    | %.1f MiB\n",
               *arguments ? "with -l" : "without a log", percent, memory.WorkingSetSize / 1048576.0,
               memory.PagefileUsage / 1048576.0);
        Close(driver);
    }
    DeleteFileA(log.c_str());

    // Right after Grab the workers are still finding their busy count; a few seconds later they run their
    // settled duty cycle. Stop is measured in both, for each program.
    const std::string after = TarvexDriver::ProgramPath();
    const std::string before = argc > 3 ? argv[3] : "";
    if (!before.empty())
        printf("stop latency, before: %s\n", before.c_str());
    printf("stop latency, after:  %s\n", after.c_str());
    printf("stop latency (Stop click to every worker thread ended), median / max in ms:\n");
    printf("percent | load before Stop | %-21s | %-21s\n", "before ms", "after ms");
    double worstAfter = 0, worstMedianAfter = 0;
    int complete = 1;
    for (int percent : {50, 90, 99, 100}) {
        for (DWORD loadMs : {1200u, 4000u}) {
            const int rounds = loadMs > 2000 ? 3 : 5;
            std::vector<double> beforeLatencies;
            if (!before.empty()) {
                TarvexDriver::SetProgramPath(before);
                beforeLatencies = StopLatencies(percent, rounds, loadMs);
            }
            TarvexDriver::SetProgramPath(after);
            const std::vector<double> afterLatencies = StopLatencies(percent, rounds, loadMs);
            if (afterLatencies.empty())
                complete = 0;
            worstAfter = std::max(worstAfter, Maximum(afterLatencies));
            worstMedianAfter = std::max(worstMedianAfter, Median(afterLatencies));
            printf("%5d %% | %14.1f s | %-21s | %-21s\n", percent, loadMs / 1000.0,
                   before.empty() ? "-" : Cell(beforeLatencies).c_str(), Cell(afterLatencies).c_str());
            fflush(stdout);
        }
    }
    // Other programs on the machine can delay a single round; the medians show the program's own behaviour.
    printf(
        "goal: stop latency under 100 ms at every percentage: medians %s (worst median %.1f ms), every round "
        "%s (worst %.1f ms)\n",
        complete && worstMedianAfter < 100.0 ? "met" : "not met", worstMedianAfter,
        complete && worstAfter < 100.0 ? "met" : "not met", worstAfter);
    return 0;
}

// CrashBench: how long the crash reporter takes from the fault to both files closed (the later of the two
// files' last writes), and how large the files are: for the crash program (its fault time is in its facts
// file) and for Tarvex.exe loading every processor at 50 %, made to fault from outside with a thread at
// address 0. Usage: CrashBench <CrashProgram.exe> <Tarvex.exe> [runs]
#include "tests/common/ClosedUpdateUrl.h"
#include "tests/crash/CrashRunner.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

uint64_t Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Last write time (100-ns units) and size of a file; 0 when it is missing.
uint64_t Written(const std::string &path, uint64_t *size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

struct Figures {
    // Fault to both files closed, to the dump closed, to the text report closed, to the process's end.
    std::vector<double> reportMs, dumpMs, textMs, endMs;
    uint64_t dumpBytes = 0, textBytes = 0;
};

std::string MakeFolder(const char *purpose, int run) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string folder = std::string(temp) + "TarvexCrashBench-" + purpose + "-" +
                         std::to_string(GetCurrentProcessId()) + "-" + std::to_string(run) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void RemoveFolder(const std::string &folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Both files' figures once the process has ended; 0 when a file is missing.
int Collect(const std::string &base, uint64_t faultTime, uint64_t endTime, Figures &figures) {
    uint64_t dumpBytes = 0, textBytes = 0;
    uint64_t dump = Written(base + "_Debug.dmp", &dumpBytes);
    uint64_t text = Written(base + "_Debug.txt", &textBytes);
    if (!dump || !text || !faultTime)
        return 0;
    figures.reportMs.push_back((std::max(dump, text) - static_cast<double>(faultTime)) / 10000.0);
    figures.dumpMs.push_back((dump - static_cast<double>(faultTime)) / 10000.0);
    figures.textMs.push_back((text - static_cast<double>(faultTime)) / 10000.0);
    figures.endMs.push_back((endTime - static_cast<double>(faultTime)) / 10000.0);
    figures.dumpBytes = dumpBytes;
    figures.textBytes = textBytes;
    return 1;
}

int RunCrashProgram(const std::string &program, int run, Figures &figures) {
    std::string folder = MakeFolder("Program", run);
    std::string copy = folder + "CrashProgram.exe";
    CrashRunner runner;
    int ok = CopyFileA(program.c_str(), copy.c_str(), FALSE) &&
             runner.Start("\"" + copy + "\" write0 \"" + folder + "facts.txt\"", folder.c_str()) &&
             runner.WaitForEnd(120000);
    uint64_t end = Now();
    ok = ok && Collect(folder + "CrashProgram", Fact(ReadFacts(folder + "facts.txt"), "time"), end, figures);
    runner.Kill();
    RemoveFolder(folder);
    return ok;
}

int RunTarvex(const std::string &program, int run, Figures &figures) {
    std::string folder = MakeFolder("Tarvex", run);
    std::string copy = folder + TARVEX_PROGRAM_FILE;
    ClosedUpdateUrl noUpdateServer;
    CrashRunner runner;
    int ok = CopyFileA(program.c_str(), copy.c_str(), FALSE) &&
             runner.Start("\"" + copy + "\" -u 50 -s", folder.c_str()) &&
             runner.WaitForWindow(nullptr, 30000);
    uint64_t fault = 0;
    if (ok) {
        // The load settles over its first cycles.
        Sleep(2000);
        fault = Now();
        HANDLE thread = CreateRemoteThread(runner.Process(), nullptr, 0, nullptr, nullptr, 0, nullptr);
        ok = thread != nullptr;
        if (thread)
            CloseHandle(thread);
    }
    ok = ok && runner.WaitForEnd(120000);
    uint64_t end = Now();
    ok = ok && Collect(folder + TARVEX_PROGRAM_STEM, fault, end, figures);
    runner.Kill();
    RemoveFolder(folder);
    return ok;
}

void Print(const char *what, const Figures &figures, int runs) {
    if (figures.reportMs.empty()) {
        printf("%-28s no complete run of %d\n", what, runs);
        return;
    }
    auto stats = [](std::vector<double> values, double *median, double *low, double *high) {
        std::sort(values.begin(), values.end());
        *median = values[values.size() / 2];
        *low = values.front();
        *high = values.back();
    };
    double median, low, high, endMedian, dumpMedian, textMedian, ignored, ignoredToo;
    stats(figures.reportMs, &median, &low, &high);
    stats(figures.endMs, &endMedian, &ignored, &ignoredToo);
    stats(figures.dumpMs, &dumpMedian, &ignored, &ignoredToo);
    stats(figures.textMs, &textMedian, &ignored, &ignoredToo);
    printf("%-28s runs=%zu/%d fault_to_files_closed_ms median=%.0f min=%.0f max=%.0f  "
           "(dump_closed_ms median=%.0f text_closed_ms median=%.0f)  "
           "fault_to_process_end_ms median=%.0f  dump_bytes=%llu report_bytes=%llu\n",
           what, figures.reportMs.size(), runs, median, low, high, dumpMedian, textMedian, endMedian,
           static_cast<unsigned long long>(figures.dumpBytes),
           static_cast<unsigned long long>(figures.textBytes));
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: CrashBench <CrashProgram.exe> <Tarvex.exe> [runs]\n");
        return 2;
    }
    int runs = argc > 3 ? atoi(argv[3]) : 5;
    if (runs < 1)
        runs = 1;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    printf("processors=%lu runs=%d\n", system.dwNumberOfProcessors, runs);
    Figures program, tarvex;
    for (int run = 0; run < runs; ++run)
        RunCrashProgram(argv[1], run, program);
    Print("crash_program write0", program, runs);
    for (int run = 0; run < runs; ++run)
        RunTarvex(argv[2], run, tarvex);
    Print("tarvex_50%_all_processors", tarvex, runs);
    return program.reportMs.empty() || tarvex.reportMs.empty() ? 1 : 0;
}

// LoadBench: loads every processor the inventory finds at one percentage for a while and reports what the
// program's own samplers saw, each worker's processor time and how long stopping took.
//
// Usage: LoadBench <percent> <seconds> [warm-up ms]
// Lines on stdout (flushed at once, so that a watcher can read the system's counters at the same moment):
//   PROCESSORS <n>
//   BEGIN                      the measured window starts (after the warm-up)
//   END                        the measured window ends
//   SAMPLER <index> <percent>  UsageSampler over the window
//   OWN <index> <percent>      the worker thread's own processor time over the window
//   STOP_LATENCY_MS <ms>       from the first stop request to the end of the last worker
//   DONE
#include "base/RecordList.h"
#include "base/Win.h"
#include "load/LoadWorker.h"
#include "load/ProcessorRecord.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
double Seconds(const LARGE_INTEGER &from, const LARGE_INTEGER &to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

uint64_t ThreadTime100ns(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return k.QuadPart + u.QuadPart;
}

void Line(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fputc('\n', stdout);
    fflush(stdout);
}
} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: LoadBench <percent> <seconds> [warm-up ms]\n");
        return 2;
    }
    const int percent = atoi(argv[1]);
    const double seconds = atof(argv[2]);
    const DWORD warmUpMs = argc > 3 ? static_cast<DWORD>(atoi(argv[3])) : 1000;
    if (percent < 0 || percent > 100 || seconds <= warmUpMs / 1000.0) {
        fprintf(stderr, "LoadBench: percent 0..100 and seconds longer than the warm-up\n");
        return 2;
    }

    // The same enumeration the main window does: one record per answer, until the first 0.
    RecordList list;
    std::vector<ProcessorRecord *> records;
    UsageSampler inventory;
    ProcessorRecord::AppendProcessors(inventory, list);
    for (ListEntry *entry = list.First(); entry; entry = list.Next(entry))
        records.push_back(static_cast<ProcessorRecord *>(entry));
    Line("PROCESSORS %u", static_cast<unsigned>(records.size()));

    for (ProcessorRecord *record : records)
        if (!record->worker.Start(LoadWorker, record, percent))
            Line("START_FAILED %u", record->index);
    std::vector<HANDLE> threads;
    for (ProcessorRecord *record : records)
        threads.push_back(OpenThread(THREAD_QUERY_INFORMATION, FALSE, record->worker.ThreadId()));

    Sleep(warmUpMs);
    std::vector<uint64_t> ownBefore;
    for (size_t i = 0; i < records.size(); ++i) {
        records[i]->sampler.Sample(records[i]->index);
        ownBefore.push_back(ThreadTime100ns(threads[i]));
    }
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    Line("BEGIN");

    Sleep(static_cast<DWORD>(seconds * 1000.0) - warmUpMs);

    std::vector<uint32_t> usage;
    std::vector<uint64_t> ownAfter;
    for (size_t i = 0; i < records.size(); ++i) {
        usage.push_back(records[i]->sampler.Sample(records[i]->index));
        ownAfter.push_back(ThreadTime100ns(threads[i]));
    }
    QueryPerformanceCounter(&end);
    Line("END");
    const double window = Seconds(begin, end);
    for (size_t i = 0; i < records.size(); ++i) {
        Line("SAMPLER %u %u", records[i]->index, usage[i]);
        Line("OWN %u %.1f", records[i]->index,
             window > 0 ? static_cast<double>(ownAfter[i] - ownBefore[i]) / (window * 1e7) * 100.0 : 0.0);
    }

    LARGE_INTEGER stopBegin, stopEnd;
    QueryPerformanceCounter(&stopBegin);
    for (ProcessorRecord *record : records)
        record->worker.RequestStop();
    int allEnded = 1;
    // Wait answers 0 for a worker that has already ended; the running bit tells.
    for (ProcessorRecord *record : records) {
        record->worker.Wait(10000);
        if (record->worker.Running())
            allEnded = 0;
    }
    QueryPerformanceCounter(&stopEnd);
    Line("STOP_LATENCY_MS %.1f%s", Seconds(stopBegin, stopEnd) * 1000.0, allEnded ? "" : " (not all ended)");

    for (HANDLE thread : threads)
        if (thread)
            CloseHandle(thread);
    for (ProcessorRecord *record : records) {
        list.Remove(record);
        delete record;
    }
    Line("DONE");
    return allEnded ? 0 : 1;
}

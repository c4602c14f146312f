// CrashProgram: faults on purpose, one way per switch, so that the crash tests can look at what the crash
// reporter leaves behind. Usage: CrashProgram <fault> <facts file> [upload host] [upload path]
// The facts file receives, before the fault, the thread ids and names and the faulting function's address.
#include "crash/CrashReporter.h"
#include <cstdio>
#include <string>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

// The reporter is the first global object, as in the program itself.
static CrashReporter crashReporter(CrashReporter::kDefaultOptions);

namespace {

FILE *g_facts = nullptr;
HANDLE g_go = nullptr;
const char kMainName[] = "CrashProgram main thread";
// Longer than a report's name field (99 characters).
char g_longName[160];

// Values as wide as an address: a long has 32 bits in a 64-bit Windows program.
void Fact(const char *name, unsigned long long value) {
    fprintf(g_facts, "%s %s\n", name, std::to_string(value).c_str());
}

// The arbitrary-user-pointer slot of the thread information block, where a report finds a thread's name.
void NameThisThread(const void *name) {
    NT_TIB *block;
#ifdef _WIN64
    asm volatile("movq %%gs:0x30, %0" : "=r"(block));
#else
    asm volatile("movl %%fs:0x18, %0" : "=r"(block));
#endif
    block->ArbitraryUserPointer = const_cast<void *>(name);
}

volatile int g_deeper = 1;

} // namespace

// The faulting functions: plain names, never inlined, so that the report's stack can name them.
extern "C" {

__attribute__((noinline)) void CrashWriteNull() {
    volatile int *volatile target = nullptr;
    *target = 1;
}

__attribute__((noinline)) int CrashDivideByZero() {
    volatile int zero = 0;
    return 7 / zero;
}

__attribute__((noinline)) void CrashThrowUncaught() {
    throw std::runtime_error("nobody catches this");
}

__attribute__((noinline)) void CrashRaiseUnknown() {
    ULONG_PTR arguments[2] = {0x1234, 0x5678};
    RaiseException(0xE0C0FFEE, 0, 2, arguments);
}

__attribute__((noinline)) int CrashRecurse(int depth) {
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    // The result depends on the call, so the recursion cannot become a loop.
    return g_deeper ? CrashRecurse(depth + 1) + pad[0] : pad[0];
}

DWORD WINAPI CrashThreadMain(void *) {
    NameThisThread(g_longName);
    WaitForSingleObject(g_go, INFINITE);
    CrashWriteNull();
    return 0;
}

DWORD WINAPI IdleThreadMain(void *) {
    // A slot that does not point at readable text gives an empty name.
    NameThisThread(reinterpret_cast<void *>(0x10));
    Sleep(INFINITE);
    return 0;
}

} // extern "C"

int main(int argc, char **argv) {
    if (argc < 3)
        return 2;
    const char *fault = argv[1];
    if (argc > 3)
        crashReporter.UploadHost().Assign(argv[3]);
    if (argc > 4)
        crashReporter.UploadPath().Assign(argv[4]);
    // The variant with a web address carries an icon for the dialog.
    if (FindResourceA(nullptr, MAKEINTRESOURCEA(7), MAKEINTRESOURCEA(14)))
        crashReporter.SetIconId(7);
    crashReporter.ProductKey().Assign("crashprobe");
    crashReporter.SourceTag().Assign("tests");
    if (!strcmp(fault, "log"))
        crashReporter.LogText().Assign("first log line\r\nsecond %s line\r\n");

    memset(g_longName, 'N', sizeof(g_longName) - 1);
    g_longName[sizeof(g_longName) - 1] = 0;
    NameThisThread(kMainName);
    g_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_facts = fopen(argv[2], "w");
    if (!g_facts)
        return 3;
    DWORD id = 0;
    CloseHandle(CreateThread(nullptr, 0, IdleThreadMain, nullptr, 0, &id));
    Fact("idle", id);
    Fact("main", GetCurrentThreadId());

    struct Entry {
        const char *name;
        void *function;
    };
    const Entry functions[] = {
        {"write0", reinterpret_cast<void *>(&CrashWriteNull)},
        {"log", reinterpret_cast<void *>(&CrashWriteNull)},
        {"thread", reinterpret_cast<void *>(&CrashWriteNull)},
        {"twothreads", reinterpret_cast<void *>(&CrashWriteNull)},
        {"divide", reinterpret_cast<void *>(&CrashDivideByZero)},
        {"cpp", reinterpret_cast<void *>(&CrashThrowUncaught)},
        {"raise", reinterpret_cast<void *>(&CrashRaiseUnknown)},
        {"overflow", reinterpret_cast<void *>(&CrashRecurse)},
    };
    for (const Entry &entry : functions)
        if (!strcmp(fault, entry.name))
            Fact("function", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(entry.function)));

    int workers = !strcmp(fault, "thread") ? 1 : !strcmp(fault, "twothreads") ? 2 : 0;
    for (int i = 0; i < workers; ++i) {
        CloseHandle(CreateThread(nullptr, 0, CrashThreadMain, nullptr, 0, &id));
        Fact("worker", id);
    }
    // Every thread has its name by now; the workers fault together when the event is set.
    Sleep(200);
    // When the fault happens, for the benchmark: the system time in 100-nanosecond units.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    fprintf(g_facts, "time %llu\n",
            (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    fclose(g_facts);

    if (workers) {
        SetEvent(g_go);
        Sleep(INFINITE);
    } else if (!strcmp(fault, "write0") || !strcmp(fault, "log")) {
        CrashWriteNull();
    } else if (!strcmp(fault, "divide")) {
        return CrashDivideByZero();
    } else if (!strcmp(fault, "cpp")) {
        CrashThrowUncaught();
    } else if (!strcmp(fault, "raise")) {
        CrashRaiseUnknown();
    } else if (!strcmp(fault, "overflow")) {
        return CrashRecurse(0);
    } else if (!strcmp(fault, "none")) {
        // A report without an exception, as a program may ask for one.
        return crashReporter.WriteReport(nullptr) == 1 ? 0 : 4;
    }
    return 5;
}

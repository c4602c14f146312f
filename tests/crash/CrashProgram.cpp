// CrashProgram: faults on purpose, one way per switch, so that the crash tests can look at what the crash
// reporter leaves behind. Usage: CrashProgram <fault> <facts file> [upload host] [upload path]
// The facts file receives, before the fault, the thread ids and names and the faulting function's address.
// Two switches fault a second thread while the report of the main thread's fault is under way: "heaplock"
// while that thread holds the process heap's lock, "afterdialog" once the problem-report dialog is up.
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
HANDLE g_ready = nullptr;
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

__attribute__((noinline)) int CrashReadAt16() {
    volatile int *volatile source = reinterpret_cast<int *>(16);
    return *source;
}

__attribute__((noinline)) void CrashJumpToNull() {
    void (*volatile target)() = nullptr;
    target();
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

// Whether this process shows a visible dialog (the problem-report dialog).
BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[16] = {};
    GetClassNameA(window, name, sizeof(name));
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && !strcmp(name, "#32770")) {
        *reinterpret_cast<int *>(found) = 1;
        return FALSE;
    }
    return TRUE;
}

// The second fault of the two-fault switches: waits (bounded) for its moment, then divides by zero, so that
// its code differs from the first fault's.
DWORD WINAPI SecondFaultMain(void *parameter) {
    const int holdHeap = parameter != nullptr;
    WaitForSingleObject(g_go, INFINITE);
    if (holdHeap)
        HeapLock(GetProcessHeap());
    SetEvent(g_ready);
    for (int waited = 0; waited < 30000; waited += 10) {
        int dialog = 0;
        if (holdHeap ? CrashReporter::Reporting()
                     : (EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&dialog)), dialog))
            break;
        Sleep(10);
    }
    return CrashDivideByZero();
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
    g_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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
        {"read16", reinterpret_cast<void *>(&CrashReadAt16)},
        {"exec0", reinterpret_cast<void *>(&CrashJumpToNull)},
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
    const int heapLock = !strcmp(fault, "heaplock");
    if (heapLock || !strcmp(fault, "afterdialog")) {
        CloseHandle(CreateThread(nullptr, 0, SecondFaultMain, heapLock ? &g_go : nullptr, 0, &id));
        Fact("second", id);
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
    } else if (heapLock) {
        // Nothing from here to the fault may need the heap: the second thread holds its lock.
        SetEvent(g_go);
        WaitForSingleObject(g_ready, INFINITE);
        CrashWriteNull();
    } else if (!strcmp(fault, "afterdialog")) {
        SetEvent(g_go);
        CrashWriteNull();
    } else if (!strcmp(fault, "write0") || !strcmp(fault, "log")) {
        CrashWriteNull();
    } else if (!strcmp(fault, "read16")) {
        return CrashReadAt16();
    } else if (!strcmp(fault, "exec0")) {
        CrashJumpToNull();
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

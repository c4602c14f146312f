// DebugHelpTable: binding dbghelp and ntdll, starting and ending the symbol handler, and the thread facts.
#include "crash/DebugHelpTable.h"
#include "base/ModuleInfo.h"
#include "base/TextString.h"
#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace {
// NtQueryInformationThread classes: ThreadBasicInformation, ThreadQuerySetWin32StartAddress.
const ULONG kThreadBasicInformationClass = 0;
const ULONG kThreadStartAddressClass = 9;
// A thread environment block starts with the thread information block; its arbitrary-user-pointer slot
// holds the thread's name.
const size_t kArbitraryUserPointerOffset = offsetof(NT_TIB, ArbitraryUserPointer);

// The address of a thread's environment block. The system's basic thread information names it directly;
// on x86 the descriptor of the thread's FS selector is the older way. Wine answers the FS selector with the
// block of the thread that asks, whatever thread it is asked about, so the selector comes second. x64 has
// no selector descriptors.
uintptr_t ThreadBlockOf(HANDLE thread, DWORD fsSelector,
                        DebugHelpTable::NtQueryInformationThreadFunction query) {
    if (query) {
        struct {
            LONG exitStatus;
            void *block;
            void *clientId[2];
            ULONG_PTR affinity;
            LONG priority;
            LONG basePriority;
        } basic;
        memset(&basic, 0, sizeof(basic));
        if (query(thread, kThreadBasicInformationClass, &basic, sizeof(basic), nullptr) >= 0 && basic.block)
            return reinterpret_cast<uintptr_t>(basic.block);
    }
#ifdef _WIN64
    (void)fsSelector;
    return 0;
#else
    LDT_ENTRY entry;
    if (!GetThreadSelectorEntry(thread, fsSelector, &entry))
        return 0;
    return entry.BaseLow | (static_cast<uintptr_t>(entry.HighWord.Bytes.BaseMid) << 16) |
           (static_cast<uintptr_t>(entry.HighWord.Bytes.BaseHi) << 24);
#endif
}
} // namespace

void DebugHelpTable::RequiredSlots(FunctionSlot (&slots)[kRequired]) {
    const FunctionSlot required[kRequired] = {
        FunctionSlot::For("MiniDumpWriteDump", MiniDumpWriteDump),
        FunctionSlot::For("SymInitialize", SymInitialize),
        FunctionSlot::For("SymSetOptions", SymSetOptions),
        FunctionSlot::For("SymGetSymFromAddr64", SymGetSymFromAddr64),
        FunctionSlot::For("SymFromAddr", SymFromAddr),
        FunctionSlot::For("SymGetModuleInfo64", SymGetModuleInfo64),
        FunctionSlot::For("StackWalk64", StackWalk64),
        FunctionSlot::For("SymFunctionTableAccess64", SymFunctionTableAccess64),
        FunctionSlot::For("SymGetModuleBase64", SymGetModuleBase64),
        FunctionSlot::For("SymGetLineFromAddr64", SymGetLineFromAddr64),
    };
    for (uint32_t i = 0; i < kRequired; ++i)
        slots[i] = required[i];
}

int DebugHelpTable::Load() {
    Unload();
    DebugHelpTable &t = *this;
    FunctionSlot required[kRequired];
    RequiredSlots(required);
    if (!t.dbghelp.Load("dbghelp.dll") || !t.dbghelp.BindAll(required, kRequired)) {
        Unload();
        return 0;
    }
    t.SymLoadModuleEx = t.dbghelp.Function<DebugHelpTable::SymLoadModuleExFunction>("SymLoadModuleEx");
    if (t.ntdll.Load("ntdll.dll"))
        t.NtQueryInformationThread =
            t.ntdll.Function<DebugHelpTable::NtQueryInformationThreadFunction>("NtQueryInformationThread");

    // A report names a handful of modules, the process holds dozens: symbols are read only for a module
    // an address is looked up in, and only when that happens.
    t.SymSetOptions(SYMOPT_LOAD_LINES | SYMOPT_DEFERRED_LOADS);

    // Symbols are looked for beside the program first, then where the debugging tools are told to look.
    TextString path(512);
    path.Assign("");
    char directory[MAX_PATH];
    if (ModuleInfo::ModuleDirectory(nullptr, directory) && directory[0]) {
        path.Append(directory);
        path.Append(';');
    }
    for (const char *variable : {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH", "SYSTEMROOT"}) {
        char value[MAX_PATH];
        DWORD length = GetEnvironmentVariableA(variable, value, sizeof(value));
        if (length > 0 && length < sizeof(value)) {
            path.Append(value);
            path.Append(';');
        }
    }
    if (path.Length() > 0)
        path.Delete(path.Length() - 1, 1);
    // Not invading the process also keeps the dump writer fast: Wine's x64 one copies the unwind tables of
    // every module the symbol handler holds into the dump, tens of thousands of small blocks.
    if (!t.SymInitialize(GetCurrentProcess(), path.Text(), t.SymLoadModuleEx ? FALSE : TRUE)) {
        Unload();
        return 0;
    }
    t.symbolsReady = 1;
    return 1;
}

void DebugHelpTable::Unload() {
    DebugHelpTable &t = *this;
    if (t.symbolsReady) {
        // Not part of the table the report uses, but without it the symbol handler's state would outlive
        // the library and a later report in this process could not start a fresh one.
        typedef BOOL(WINAPI * SymCleanupFunction)(HANDLE);
        SymCleanupFunction cleanup = t.dbghelp.Function<SymCleanupFunction>("SymCleanup");
        if (cleanup)
            cleanup(GetCurrentProcess());
    }
    t.symbolsReady = 0;
    FunctionSlot required[kRequired];
    RequiredSlots(required);
    for (const FunctionSlot &slot : required)
        slot.store(slot.target, nullptr);
    t.SymLoadModuleEx = nullptr;
    t.NtQueryInformationThread = nullptr;
    t.dbghelp.Free();
    t.ntdll.Free();
}

// Reads a thread's name: the text its environment block's arbitrary-user-pointer slot points at. Every
// read goes through ReadProcessMemory, so a slot holding rubbish gives an empty or short name, never a fault.
void DebugHelpTable::ThreadName(HANDLE thread, DWORD fsSelector, char *name, uint32_t size) const {
    name[0] = 0;
    uintptr_t block = thread ? ThreadBlockOf(thread, fsSelector, NtQueryInformationThread) : 0;
    if (!block)
        return;
    uintptr_t text = 0;
    SIZE_T got = 0;
    HANDLE process = GetCurrentProcess();
    if (!ReadProcessMemory(process, reinterpret_cast<const void *>(block + kArbitraryUserPointerOffset),
                           &text, sizeof(text), &got) ||
        got != sizeof(text) || !text)
        return;
    // In page-sized steps, so that a name ending just before an unreadable page is still read whole.
    uint32_t length = 0;
    while (length < size - 1) {
        uintptr_t at = text + length;
        uint32_t toPageEnd = 0x1000 - static_cast<uint32_t>(at & 0xFFF);
        uint32_t want = size - 1 - length;
        if (want > toPageEnd)
            want = toPageEnd;
        if (!ReadProcessMemory(process, reinterpret_cast<const void *>(at), name + length, want, &got) ||
            got != want)
            break;
        const void *end = memchr(name + length, 0, want);
        if (end) {
            length = static_cast<uint32_t>(static_cast<const char *>(end) - name);
            break;
        }
        length += want;
    }
    name[length] = 0;
}

uint64_t DebugHelpTable::ThreadStart(HANDLE thread) const {
    // The answer is a pointer: 4 bytes in a 32-bit process, 8 in a 64-bit one.
    void *start = nullptr;
    if (!NtQueryInformationThread || !thread ||
        NtQueryInformationThread(thread, kThreadStartAddressClass, &start, sizeof(start), nullptr) < 0)
        return 0;
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(start));
}

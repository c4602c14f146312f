// DebugHelpTable: the dbghelp and ntdll entry points a crash report needs, bound at run time only while a
// report is written, with the symbol handler they drive and the thread facts read through ntdll.
//
// Classes: DebugHelpTable.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/Win.h"
#include <dbghelp.h>
#include <cstdint>

class DebugHelpTable {
public:
    typedef LONG(WINAPI *NtQueryInformationThreadFunction)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    typedef BOOL(WINAPI *MiniDumpWriteDumpFunction)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                    PMINIDUMP_EXCEPTION_INFORMATION,
                                                    PMINIDUMP_USER_STREAM_INFORMATION,
                                                    PMINIDUMP_CALLBACK_INFORMATION);
    typedef BOOL(WINAPI *SymInitializeFunction)(HANDLE, PCSTR, BOOL);
    typedef DWORD(WINAPI *SymSetOptionsFunction)(DWORD);
    typedef BOOL(WINAPI *SymGetSymFromAddr64Function)(HANDLE, DWORD64, PDWORD64, PIMAGEHLP_SYMBOL64);
    typedef BOOL(WINAPI *SymFromAddrFunction)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO);
    typedef BOOL(WINAPI *SymGetModuleInfo64Function)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
    typedef BOOL(WINAPI *StackWalk64Function)(DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID,
                                              PREAD_PROCESS_MEMORY_ROUTINE64,
                                              PFUNCTION_TABLE_ACCESS_ROUTINE64, PGET_MODULE_BASE_ROUTINE64,
                                              PTRANSLATE_ADDRESS_ROUTINE64);
    typedef BOOL(WINAPI *SymGetLineFromAddr64Function)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64);
    typedef DWORD64(WINAPI *SymLoadModuleExFunction)(HANDLE, HANDLE, PCSTR, PCSTR, DWORD64, DWORD,
                                                     PMODLOAD_DATA, DWORD);

    DebugHelpTable() = default;
    ~DebugHelpTable() { Unload(); }
    DebugHelpTable(const DebugHelpTable &) = delete;
    DebugHelpTable &operator=(const DebugHelpTable &) = delete;

    // Binds every entry point and starts the symbol handler for this process: 1 when symbols are ready,
    // 0 (nothing bound) when dbghelp or one of its required functions is missing.
    int Load();
    // Cleans the symbol handler up and lets both libraries go; every entry point is null afterwards.
    void Unload();
    // A thread's name, read from its environment block; empty when it has none or it cannot be read.
    void ThreadName(HANDLE thread, DWORD fsSelector, char *name, uint32_t size) const;
    // A thread's start address as the system records it; 0 when it cannot be asked.
    uint64_t ThreadStart(HANDLE thread) const;

    DynamicLibrary dbghelp;
    DynamicLibrary ntdll;
    NtQueryInformationThreadFunction NtQueryInformationThread = nullptr;
    MiniDumpWriteDumpFunction MiniDumpWriteDump = nullptr;
    SymInitializeFunction SymInitialize = nullptr;
    SymSetOptionsFunction SymSetOptions = nullptr;
    SymGetSymFromAddr64Function SymGetSymFromAddr64 = nullptr;
    SymFromAddrFunction SymFromAddr = nullptr;
    SymGetModuleInfo64Function SymGetModuleInfo64 = nullptr;
    StackWalk64Function StackWalk64 = nullptr;
    PFUNCTION_TABLE_ACCESS_ROUTINE64 SymFunctionTableAccess64 = nullptr;
    PGET_MODULE_BASE_ROUTINE64 SymGetModuleBase64 = nullptr;
    SymGetLineFromAddr64Function SymGetLineFromAddr64 = nullptr;
    // Optional: with it the symbol handler starts empty and a module is added when an address in it is
    // looked up; without it every module of the process is added at the start.
    SymLoadModuleExFunction SymLoadModuleEx = nullptr;
    // The symbol handler was initialised for this process and is cleaned up with the table.
    int symbolsReady = 0;

private:
    // Without any one of these there is no report worth the name; SymLoadModuleEx and ntdll's thread query
    // are optional.
    enum : uint32_t { kRequired = 10 };
    void RequiredSlots(FunctionSlot (&slots)[kRequired]);
};

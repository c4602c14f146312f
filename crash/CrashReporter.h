// CrashReporter: the process-wide unhandled-exception filter that leaves a plain-text debug report and a
// minidump beside the program (or in the temporary folder), registers both with Windows Error Reporting and
// hands them to the problem-report step.
//
// Classes: CrashReporter, DebugHelpTable, ModuleRecord, ThreadRecord.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"
#include <dbghelp.h>
#include <cstdint>
#include <memory>

// The dbghelp and ntdll entry points the report needs, resolved only while a report is written.
struct DebugHelpTable {
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
};

// One module as the dump writer reported it.
struct ModuleRecord {
    std::unique_ptr<ModuleRecord> next;
    std::unique_ptr<wchar_t[]> path;
    uint64_t base = 0;
    uint32_t size = 0;
    uint32_t checksum = 0;
    uint32_t timeStamp = 0; // seconds since 1970-01-01 00:00 UTC
    VS_FIXEDFILEINFO version = {};
};

// One thread as the dump writer reported it.
struct ThreadRecord {
    enum { kNameSize = 100 }; // 99 characters and the terminator
    std::unique_ptr<ThreadRecord> next;
    uint32_t id = 0;
    uint64_t stackBase = 0;
    uint64_t stackEnd = 0;
    char name[kNameSize] = {};
    uint64_t startAddress = 0;
};

class CrashReporter {
public:
    // Option bits.
    enum : uint32_t { kNoFilter = 0x8 };
    // The option word the program starts with: the filter is installed.
    enum : uint32_t { kDefaultOptions = 0x1F0000 };

    // Applies the options and, unless kNoFilter is set, installs the filter. The newest reporter is the one
    // the filter reports through.
    explicit CrashReporter(uint32_t options = kDefaultOptions);
    ~CrashReporter();
    CrashReporter(const CrashReporter &) = delete;
    CrashReporter &operator=(const CrashReporter &) = delete;

    static CrashReporter *Instance() { return instance_; }
    // 1 once a report of this process has begun (it is never cleared).
    static int Reporting() { return reporting_ != 0; }

    // 1: this reporter's filter becomes the process's top-level filter; anything else puts the one back that
    // was in place before.
    void InstallFilter(int mode);
    // The top-level filter: the first unhandled exception of the process is reported, every later one passes.
    static LONG WINAPI Filter(EXCEPTION_POINTERS *pointers);

    // Writes both files, runs the problem-report step and returns its result (1: no upload host, the
    // system's handling should follow; 0: the problem-report step ran). pointers may be null. The work is
    // done on a thread with a stack of its own while the calling thread waits, so a thread whose stack has
    // overflowed can still be reported.
    int WriteReport(EXCEPTION_POINTERS *pointers);

    int LoadDebugHelp();
    void UnloadDebugHelp();
    // Symbol name of an address, else "module@offset". 1 with text filled.
    int DescribeAddress(uint64_t address, TextString &text);
    int ModuleNameOf(uint64_t address, TextString &name, uint64_t *base);
    int LineOf(uint64_t address, TextString &fileName, uint32_t *lineNumber);
    // The "Stack:" frame lines of the thread whose context this is, written to file.
    void WriteStack(CONTEXT *context, HANDLE file);
    // Adds the module that holds address to the symbol handler unless it is there already. 1 when the
    // handler knows the module afterwards.
    int LoadModuleAt(uint64_t address);

    // The report files of the last report (empty before one was written, the dump name empty when no dump
    // was attempted).
    const char *DumpPath() const { return dumpPath_.Text(); }
    const char *ReportPath() const { return reportPath_.Text(); }

    uint32_t Options() const { return options_; }
    // Upload settings read by the problem-report step; empty unless a program sets them.
    TextString &UploadHost() { return uploadHost_; }
    TextString &UploadPath() { return uploadPath_; }
    TextString &ProductKey() { return productKey_; }
    TextString &SourceTag() { return sourceTag_; }
    uint32_t IconId() const { return iconId_; }
    void SetIconId(uint32_t id) { iconId_ = id; }
    // Appended to the report under "Log:" when not empty.
    TextString &LogText() { return logText_; }
    const DebugHelpTable &DebugHelp() const { return debugHelp_; }

private:
    struct ReportJob;
    static DWORD WINAPI ReportThread(void *parameter);
    static int32_t DumpRoutine(void *context, int32_t value);
    // The stack walk's look-ups, adding each module the walk reaches.
    static PVOID CALLBACK FunctionTableAt(HANDLE process, DWORD64 address);
    static DWORD64 CALLBACK ModuleBaseAt(HANDLE process, DWORD64 address);
    static BOOL CALLBACK CollectRecord(void *parameter, const PMINIDUMP_CALLBACK_INPUT input,
                                       PMINIDUMP_CALLBACK_OUTPUT output);
    int WriteReportFor(EXCEPTION_POINTERS *pointers, DWORD threadId);
    // The symbol name alone (the first two steps of DescribeAddress).
    int SymbolNameOf(uint64_t address, TextString &text);
    void WriteDump(ReportJob &job);
    void WriteText(ReportJob &job, HANDLE file, EXCEPTION_POINTERS *pointers, DWORD threadId);
    // One line of the thread list (its start address described by the symbols, when they are ready).
    void WriteThread(HANDLE file, const ThreadRecord &record, int nt);

    static CrashReporter *instance_;
    // The reporter whose WriteStack is walking; the walk's look-ups carry no context of their own.
    static CrashReporter *walking_;
    static volatile LONG reporting_;

    uint32_t options_;
    uint32_t iconId_ = 0;
    TextString uploadHost_;
    TextString uploadPath_;
    TextString productKey_;
    TextString sourceTag_;
    TextString logText_;
    DebugHelpTable debugHelp_;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter_ = nullptr;
    int filterInstalled_ = 0;
    void (*previousTerminate_)() = nullptr;
    CrashReporter *previousInstance_ = nullptr;
    // Set when the report of this process is complete; other threads that fault meanwhile wait for it, for a
    // bounded time.
    OwnedHandle reportDone_;
    // Threads that must never wait for the report: the faulting one and the reporter's own.
    volatile DWORD faultingThread_ = 0;
    volatile DWORD reportThread_ = 0;
    volatile DWORD dumpThread_ = 0;
    TextString dumpPath_;
    TextString reportPath_;
};

// CrashReporter: the process-wide unhandled-exception filter that leaves a plain-text debug report and a
// minidump beside the program (or in the temporary folder), registers both with Windows Error Reporting and
// hands them to the problem-report step.
//
// Classes: CrashReporter.
#pragma once

#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "crash/DebugHelpTable.h"
#include "crash/TextReport.h"
#include <dbghelp.h>
#include <cstdint>
#include <memory>

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
    // One "Stack:" line: the frame's function (or module and address), its first four parameters and, when
    // the symbols know it, its source line. count is the frame's place in the walk, 0 for the faulting one.
    void WriteFrame(TextReport &report, const STACKFRAME64 &frame, int count);
    void WriteDump(ReportJob &job);
    void WriteText(ReportJob &job, HANDLE file, EXCEPTION_POINTERS *pointers, DWORD threadId);

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

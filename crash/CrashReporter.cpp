// CrashReporter: the filter, the report thread, the minidump with its module and thread collector, the
// order of the text report and the symbol look-ups over dbghelp.
#include "crash/CrashReporter.h"
#include "base/ModuleInfo.h"
#include "base/OwnedChain.h"
#include "base/WorkerThread.h"
#include "crash/ReportFile.h"
#include "crash/SendProblemReport.h"
#include "crash/TextReport.h"
#include "crash/WerRegistration.h"
#include <exception>
#include <cstdlib>
#include <new>
#include <cstddef>
#include <cstring>
#include <memory>

namespace {

// The report's own stack: symbol look-ups and the dump writer are deep, the faulting thread may have none.
const SIZE_T kReportStackSize = 1024 * 1024;
// How long a thread that faults while another one reports waits before it ends the process.
const DWORD kSecondFaultWaitMs = 5000;
// A damaged stack can make the walk go round in circles; no real stack of ours is this deep.
const int kMostFrames = 512;

#ifdef _WIN64
const DWORD kStackMachine = IMAGE_FILE_MACHINE_AMD64;
#else
const DWORD kStackMachine = IMAGE_FILE_MACHINE_I386;
#endif

// Sign-extended 32-bit addresses come back with all upper bits set; the 32-bit report shows them as 32-bit.
uint64_t CleanAddress(uint64_t address) {
#ifdef _WIN64
    return address;
#else
    return (address >> 32) == 0xFFFFFFFFu ? (address & 0xFFFFFFFFu) : address;
#endif
}

uint64_t AddressOf(const void *pointer) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
}

void TerminateWithReport() {
    // A C++ exception nobody catches: let it reach the filter as the exception it is, while the frames that
    // threw it are still on the stack.
    RaiseException(TextReport::kCppExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    abort();
}

} // namespace

CrashReporter *CrashReporter::instance_ = nullptr;
CrashReporter *CrashReporter::walking_ = nullptr;
volatile LONG CrashReporter::reporting_ = 0;

// Everything a report needs on its way through the report thread, the dump thread and the collector.
struct CrashReporter::ReportJob {
    CrashReporter *reporter = nullptr;
    EXCEPTION_POINTERS *pointers = nullptr;
    DWORD threadId = 0;
    int result = 1;
    // The dump writer's arguments.
    HANDLE dumpFile = INVALID_HANDLE_VALUE;
    // The collector's lists, in the order the dump writer reported; the tails are where the next one goes.
    std::unique_ptr<ModuleRecord> modules;
    std::unique_ptr<ModuleRecord> *moduleTail = &modules;
    std::unique_ptr<ThreadRecord> threads;
    std::unique_ptr<ThreadRecord> *threadTail = &threads;

    ~ReportJob() {
        ReleaseChain(modules);
        ReleaseChain(threads);
    }
};

CrashReporter::CrashReporter(uint32_t options) : options_(options) {
    reportDone_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    previousInstance_ = instance_;
    instance_ = this;
    if (!(options_ & kNoFilter)) {
        InstallFilter(1);
        // The reporter is built on the main thread, before anything else runs there.
        WorkerThread::GuaranteeStackForFaults();
    }
}

CrashReporter::~CrashReporter() {
    // Later faults (in the runtime's own clean-up) go to the system rather than to a reporter that is gone.
    InstallFilter(0);
    if (instance_ == this)
        instance_ = previousInstance_;
    UnloadDebugHelp();
}

void CrashReporter::InstallFilter(int mode) {
    if (mode == 1) {
        if (filterInstalled_)
            return;
        previousFilter_ = SetUnhandledExceptionFilter(&CrashReporter::Filter);
        previousTerminate_ = std::set_terminate(&TerminateWithReport);
        filterInstalled_ = 1;
    } else if (filterInstalled_) {
        SetUnhandledExceptionFilter(previousFilter_);
        std::set_terminate(previousTerminate_);
        filterInstalled_ = 0;
    }
}

LONG WINAPI CrashReporter::Filter(EXCEPTION_POINTERS *pointers) {
    CrashReporter *self = instance_;
    if (!self)
        return EXCEPTION_CONTINUE_SEARCH;
    if (InterlockedCompareExchange(&reporting_, 1, 0) != 0) {
        // A fault on the reporter's own threads cannot wait for itself.
        DWORD me = GetCurrentThreadId();
        if (me == self->faultingThread_ || me == self->reportThread_ || me == self->dumpThread_)
            return EXCEPTION_CONTINUE_SEARCH;
        // Another thread is reporting. Were this fault passed on at once, the system would end the process
        // in the middle of that report, so it gives the report time to finish; but only so much, since this
        // thread may hold a lock the report needs (the heap's, the loader's, one inside a library), and then
        // the report never finishes. Either way the process ends here, with this fault's code: files the
        // report has finished are complete under their names, unfinished ones only have temporary names.
        if (self->reportDone_.IsValid())
            WaitForSingleObject(self->reportDone_.Get(), kSecondFaultWaitMs);
        const EXCEPTION_RECORD *exception = pointers ? pointers->ExceptionRecord : nullptr;
        TerminateProcess(GetCurrentProcess(),
                         exception ? exception->ExceptionCode : EXCEPTION_ACCESS_VIOLATION);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    int result = self->WriteReport(pointers);
    if (self->reportDone_.IsValid())
        SetEvent(self->reportDone_.Get());
    return result == 1 ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER;
}

int CrashReporter::WriteReport(EXCEPTION_POINTERS *pointers) {
    // The calling thread may have run out of stack (that may be its very fault): it does nothing but start
    // the report thread and wait for it.
    ReportJob job;
    job.reporter = this;
    job.pointers = pointers;
    job.threadId = GetCurrentThreadId();
    faultingThread_ = job.threadId;
    OwnedHandle thread(CreateThread(nullptr, kReportStackSize, &CrashReporter::ReportThread, &job,
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread.IsValid())
        return WriteReportFor(pointers, job.threadId);
    WaitForSingleObject(thread.Get(), INFINITE);
    return job.result;
}

DWORD WINAPI CrashReporter::ReportThread(void *parameter) {
    ReportJob *job = static_cast<ReportJob *>(parameter);
    job->reporter->reportThread_ = GetCurrentThreadId();
    job->result = job->reporter->WriteReportFor(job->pointers, job->threadId);
    // A thread whose stack has overflowed cannot carry the system's own crash handling: under Wine it faults
    // again inside it and is silently ended, leaving the process running without it. With the report
    // written, this thread ends the process in its place.
    const EXCEPTION_RECORD *exception = job->pointers ? job->pointers->ExceptionRecord : nullptr;
    if (exception && exception->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
    return 0;
}

int CrashReporter::WriteReportFor(EXCEPTION_POINTERS *pointers, DWORD threadId) {
    ReportJob job;
    job.reporter = this;
    job.pointers = pointers;
    job.threadId = threadId;

    // The two places for the files: beside the program, else the temporary folder.
    TextString second;
    char temp[520];
    DWORD tempLength = GetTempPathA(sizeof(temp), temp);
    if (tempLength == 0 || tempLength >= sizeof(temp))
        temp[0] = 0;
    second.Format("%sMiniDump", temp);
    TextString first;
    char program[MAX_PATH];
    DWORD programLength = GetModuleFileNameA(nullptr, program, sizeof(program));
    if (programLength == 0 || programLength >= sizeof(program)) {
        first.Assign("MiniDump");
    } else {
        program[programLength] = 0;
        // Only a dot in the file name starts an extension; one in a folder name does not.
        char *dot = strrchr(program, '.');
        char *slash = strrchr(program, '\\');
        if (dot && (!slash || dot > slash))
            *dot = 0;
        first.Assign(program);
    }

    // Each file gets its final name only once it is complete: a process ended in the middle of a report (by
    // a second fault, by the user) leaves no half-written file under it.
    WerRegistration registration;
    ReportFile dump;
    if (LoadDebugHelp() && dump.Create(first, second, "dmp")) {
        job.dumpFile = dump.Handle();
        WriteDump(job);
        job.dumpFile = INVALID_HANDLE_VALUE;
        dump.Commit();
        registration.Register(dump.Name());
    }

    ReportFile report;
    if (report.Create(first, second, "txt")) {
        WriteText(job, report.Handle(), pointers, threadId);
        report.Commit();
        registration.Register(report.Name());
    }
    dumpPath_.Assign(dump.Name());
    reportPath_.Assign(report.Name());

    ProblemReportSettings settings;
    settings.uploadHost = uploadHost_.Text();
    settings.uploadPath = uploadPath_.Text();
    settings.productKey = productKey_.Text();
    settings.sourceTag = sourceTag_.Text();
    settings.iconId = iconId_;
    int result = SendProblemReport(settings, dump.Name(), report.Name());
    UnloadDebugHelp();
    return result;
}

int32_t CrashReporter::DumpRoutine(void *context, int32_t) {
    ReportJob *job = static_cast<ReportJob *>(context);
    CrashReporter *self = job->reporter;
    self->dumpThread_ = GetCurrentThreadId();
    MINIDUMP_EXCEPTION_INFORMATION exception;
    exception.ThreadId = job->threadId;
    exception.ExceptionPointers = job->pointers;
    exception.ClientPointers = FALSE;
    MINIDUMP_CALLBACK_INFORMATION callback;
    callback.CallbackRoutine = &CrashReporter::CollectRecord;
    callback.CallbackParam = job;
    BOOL written = self->debugHelp_.MiniDumpWriteDump(
        GetCurrentProcess(), GetCurrentProcessId(), job->dumpFile, MiniDumpNormal,
        job->pointers ? &exception : nullptr, nullptr, &callback);
    return written ? 1 : 0;
}

void CrashReporter::WriteDump(ReportJob &job) {
    if (!debugHelp_.MiniDumpWriteDump)
        return;
    // The dump writer describes the calling thread from where it stands, so it runs on a thread of its own.
    WorkerThread writer;
    if (writer.Start(&CrashReporter::DumpRoutine, &job, 0))
        writer.Wait(0);
    else
        DumpRoutine(&job, 0);
}

BOOL CALLBACK CrashReporter::CollectRecord(void *parameter, const PMINIDUMP_CALLBACK_INPUT input,
                                           PMINIDUMP_CALLBACK_OUTPUT output) {
    ReportJob *job = static_cast<ReportJob *>(parameter);
    if (!job || !input)
        return TRUE;
    // The dump writer's own thread is report machinery, not the program: its stack and registers say nothing
    // about the fault (Wine even pairs the faulting thread's registers with the writer's whole stack).
    if (input->CallbackType == ThreadCallback && output && input->Thread.ThreadId == GetCurrentThreadId())
        output->ThreadWriteFlags &= ~(ThreadWriteStack | ThreadWriteContext);
    if (input->CallbackType == ModuleCallback) {
        const MINIDUMP_MODULE_CALLBACK &module = input->Module;
        std::unique_ptr<ModuleRecord> record(new (std::nothrow) ModuleRecord);
        if (!record)
            return TRUE;
        size_t length = module.FullPath ? wcslen(module.FullPath) : 0;
        record->path.reset(new (std::nothrow) wchar_t[length + 1]);
        if (!record->path)
            return TRUE;
        if (length)
            memcpy(record->path.get(), module.FullPath, length * sizeof(wchar_t));
        record->path[length] = 0;
        record->base = CleanAddress(module.BaseOfImage);
        record->size = module.SizeOfImage;
        record->checksum = module.CheckSum;
        record->timeStamp = module.TimeDateStamp;
        record->version = module.VersionInfo;
        ModuleRecord *added = record.get();
        *job->moduleTail = std::move(record);
        job->moduleTail = &added->next;
    } else if (input->CallbackType == ThreadCallback) {
        const MINIDUMP_THREAD_CALLBACK &thread = input->Thread;
        std::unique_ptr<ThreadRecord> record(new (std::nothrow) ThreadRecord);
        if (!record)
            return TRUE;
        record->id = thread.ThreadId;
        record->stackBase = thread.StackBase;
        record->stackEnd = thread.StackEnd;
        // Wine's dump writer hands over no thread handle; the thread is then opened by its id.
        HANDLE handle = thread.ThreadHandle;
        OwnedHandle opened;
        if (!handle) {
            opened.Reset(OpenThread(THREAD_QUERY_INFORMATION | THREAD_GET_CONTEXT, FALSE, thread.ThreadId));
            handle = opened.Get();
        }
        const DebugHelpTable &table = job->reporter->debugHelp_;
        table.ThreadName(handle, thread.Context.SegFs, record->name, sizeof(record->name));
        record->startAddress = table.ThreadStart(handle);
        ThreadRecord *added = record.get();
        *job->threadTail = std::move(record);
        job->threadTail = &added->next;
    }
    return TRUE;
}

void CrashReporter::WriteText(ReportJob &job, HANDLE file, EXCEPTION_POINTERS *pointers, DWORD threadId) {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    const int nt = (version.dwPlatformId & 0x2) != 0;
    const EXCEPTION_RECORD *exception = pointers ? pointers->ExceptionRecord : nullptr;
    const CONTEXT *context = pointers ? pointers->ContextRecord : nullptr;

    TextReport report(file);
    if (exception)
        report.Exception(*exception, threadId, nt);
    if (context)
        report.Registers(*context);
    report.Processors();
    report.System(version, nt);
    if (context && debugHelp_.symbolsReady) {
        report.Piece("%s", "\r\nStack:\r\n");
        // The walk changes the context it is given; the exception's own record stays as it was.
        CONTEXT walked = *context;
        WriteStack(&walked, file);
    }
    if (logText_.Length() > 0) {
        report.Piece("%s", "\r\nLog:\r\n");
        report.Bytes(logText_.Text(), static_cast<uint32_t>(logText_.Length()));
    }
    // Each record goes right after its line.
    if (job.modules) {
        report.Piece("%s", "\r\nModuleList:\r\n");
        report.Piece("%s", "    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n");
        for (; job.modules; ReleaseFront(job.modules))
            report.Module(*job.modules);
        job.moduleTail = &job.modules;
    }
    if (job.threads) {
        report.Piece("%s", "\r\nThreadList:\r\n");
        report.Piece("%s", "Id         StackBase  StackEnd   StartAddress\r\n");
        for (; job.threads; ReleaseFront(job.threads)) {
            TextString start;
            if (!debugHelp_.symbolsReady || !DescribeAddress(job.threads->startAddress, start))
                start.Assign("");
            report.Thread(*job.threads, start.Text(), nt);
        }
        job.threadTail = &job.threads;
    }
}

int CrashReporter::LoadDebugHelp() {
    return debugHelp_.Load();
}

void CrashReporter::UnloadDebugHelp() {
    debugHelp_.Unload();
}

int CrashReporter::DescribeAddress(uint64_t address, TextString &text) {
    if (!debugHelp_.symbolsReady)
        return 0;
    if (SymbolNameOf(address, text))
        return 1;
    TextString module;
    uint64_t base = 0;
    if (!ModuleNameOf(address, module, &base))
        return 0;
    uint64_t value = address >= base ? address - base : address;
    if (module.Length() > 0)
        return text.Format("%s@0x%I64X", module.Text(), value);
    return text.Format("0x%I64X@0x%I64X", value, value);
}

int CrashReporter::LoadModuleAt(uint64_t address) {
    DebugHelpTable &t = debugHelp_;
    if (!t.symbolsReady)
        return 0;
    HANDLE process = GetCurrentProcess();
    if (t.SymGetModuleBase64(process, address))
        return 1;
    if (!t.SymLoadModuleEx)
        return 0;
    // Only an image mapping is a module; its allocation base is the module's handle.
    MEMORY_BASIC_INFORMATION region;
    if (!VirtualQuery(reinterpret_cast<const void *>(static_cast<uintptr_t>(address)), &region,
                      sizeof(region)) ||
        region.Type != MEM_IMAGE || !region.AllocationBase)
        return 0;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return 0;
    return t.SymLoadModuleEx(process, nullptr, path, nullptr, AddressOf(region.AllocationBase), 0, nullptr,
                             0) != 0;
}

PVOID CALLBACK CrashReporter::FunctionTableAt(HANDLE process, DWORD64 address) {
    CrashReporter *self = walking_;
    if (!self || !self->debugHelp_.SymFunctionTableAccess64)
        return nullptr;
    self->LoadModuleAt(address);
    return self->debugHelp_.SymFunctionTableAccess64(process, address);
}

DWORD64 CALLBACK CrashReporter::ModuleBaseAt(HANDLE process, DWORD64 address) {
    CrashReporter *self = walking_;
    if (!self || !self->debugHelp_.SymGetModuleBase64)
        return 0;
    self->LoadModuleAt(address);
    return self->debugHelp_.SymGetModuleBase64(process, address);
}

int CrashReporter::SymbolNameOf(uint64_t address, TextString &text) {
    DebugHelpTable &t = debugHelp_;
    if (!t.symbolsReady)
        return 0;
    LoadModuleAt(address);
    HANDLE process = GetCurrentProcess();
    {
        alignas(8) char buffer[88 + 412];
        memset(buffer, 0, sizeof(buffer));
        SYMBOL_INFO *symbol = reinterpret_cast<SYMBOL_INFO *>(buffer);
        symbol->SizeOfStruct = 88;
        symbol->MaxNameLen = 412;
        DWORD64 displacement = 0;
        if (t.SymFromAddr(process, address, &displacement, symbol)) {
            buffer[sizeof(buffer) - 1] = 0;
            return text.Assign(symbol->Name);
        }
    }
    {
        alignas(8) char buffer[24 + 476 + 8];
        memset(buffer, 0, sizeof(buffer));
        IMAGEHLP_SYMBOL64 *symbol = reinterpret_cast<IMAGEHLP_SYMBOL64 *>(buffer);
        symbol->SizeOfStruct = 24;
        symbol->MaxNameLength = 476;
        DWORD64 displacement = 0;
        if (t.SymGetSymFromAddr64(process, address, &displacement, symbol)) {
            buffer[sizeof(buffer) - 1] = 0;
            return text.Assign(symbol->Name);
        }
    }
    return 0;
}

int CrashReporter::ModuleNameOf(uint64_t address, TextString &name, uint64_t *base) {
    DebugHelpTable &t = debugHelp_;
    if (!t.symbolsReady)
        return 0;
    LoadModuleAt(address);
    HANDLE process = GetCurrentProcess();
    IMAGEHLP_MODULE64 module;
    static_assert(sizeof(module) >= 1672, "the module record dbghelp fills");
    memset(&module, 0, sizeof(module));
    module.SizeOfStruct = 1672;
    if (t.SymGetModuleInfo64(process, address, &module)) {
        module.ModuleName[sizeof(module.ModuleName) - 1] = 0;
        if (base)
            *base = module.BaseOfImage;
        return name.Assign(module.ModuleName);
    }
    DWORD64 moduleBase = t.SymGetModuleBase64(process, address);
    if (!moduleBase)
        return 0;
    char path[MAX_PATH];
    DWORD length =
        GetModuleFileNameA(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(moduleBase)), path, sizeof(path));
    if (length >= sizeof(path))
        length = sizeof(path) - 1;
    path[length] = 0;
    if (base)
        *base = moduleBase;
    const char *slash = strrchr(path, '\\');
    return name.Assign(slash ? slash + 1 : path);
}

int CrashReporter::LineOf(uint64_t address, TextString &fileName, uint32_t *lineNumber) {
    DebugHelpTable &t = debugHelp_;
    if (!t.symbolsReady)
        return 0;
    LoadModuleAt(address);
    IMAGEHLP_LINE64 line;
    memset(&line, 0, sizeof(line));
    line.SizeOfStruct = sizeof(line);
    DWORD displacement = 0;
    if (!t.SymGetLineFromAddr64(GetCurrentProcess(), address, &displacement, &line) || !line.FileName)
        return 0;
    if (lineNumber)
        *lineNumber = line.LineNumber;
    return fileName.Assign(line.FileName);
}

void CrashReporter::WriteStack(CONTEXT *context, HANDLE file) {
    DebugHelpTable &t = debugHelp_;
    if (!t.symbolsReady || !context)
        return;
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    STACKFRAME64 frame;
    memset(&frame, 0, sizeof(frame));
#ifdef _WIN64
    frame.AddrPC.Offset = context->Rip;
    frame.AddrFrame.Offset = context->Rbp;
    frame.AddrStack.Offset = context->Rsp;
#else
    frame.AddrPC.Offset = context->Eip;
    frame.AddrFrame.Offset = context->Ebp;
    frame.AddrStack.Offset = context->Esp;
#endif
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Mode = AddrModeFlat;
    TextReport report(file);
    CrashReporter *outerWalk = walking_;
    walking_ = this;
    uint64_t previousPc = 0;
    for (int count = 0; count < kMostFrames; ++count) {
        if (!t.StackWalk64(kStackMachine, GetCurrentProcess(), nullptr, &frame, context, nullptr,
                           &CrashReporter::FunctionTableAt, &CrashReporter::ModuleBaseAt, nullptr))
            break;
        const uint64_t pc = frame.AddrPC.Offset;
        if (count > 0 && pc == previousPc)
            break;
        previousPc = pc;
        WriteFrame(report, frame, count);
        if (frame.AddrReturn.Offset == 0)
            break;
    }
    walking_ = outerWalk;
    SetErrorMode(previousMode);
}

void CrashReporter::WriteFrame(TextReport &report, const STACKFRAME64 &frame, int count) {
    const uint64_t pc = frame.AddrPC.Offset;
    // The shared user page holds the system call stubs; a frame there says nothing.
    if ((pc >> 16) == 0x7FFE)
        return;
    // Above the first frame the program counter is a return address: it may already lie past the end of the
    // calling function (a call to a function that never returns is often its last instruction), so the call
    // itself, one byte back, is what is looked up.
    const uint64_t lookup = (count > 0 && pc > 0) ? pc - 1 : pc;
    TextString symbol;
    if (!SymbolNameOf(lookup, symbol) && !DescribeAddress(pc, symbol))
        symbol.Format(TARVEX_ADDRESS, CleanAddress(pc));
    TextString source, module;
    uint32_t line = 0;
    const int haveLine = LineOf(lookup, source, &line);
    uint64_t base = 0;
    const int haveModule = !haveLine && ModuleNameOf(pc, module, &base);
    const uint64_t p0 = CleanAddress(frame.Params[0]), p1 = CleanAddress(frame.Params[1]),
                   p2 = CleanAddress(frame.Params[2]), p3 = CleanAddress(frame.Params[3]);
    if (haveLine)
        report.Piece("%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X) - Line %u in %s\r\n", symbol.Text(), p0, p1, p2, p3,
                     line, source.Text());
    else if (haveModule)
        report.Piece("%s:%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", module.Text(), symbol.Text(), p0, p1, p2,
                     p3);
    else
        report.Piece("%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", symbol.Text(), p0, p1, p2, p3);
}

// CrashReporter: the filter, the report thread, the minidump with its module and thread collector, the
// text report and the symbol look-ups over dbghelp.
#include "crash/CrashReporter.h"
#include "base/ModuleInfo.h"
#include "base/OsVersion.h"
#include "base/OwnedChain.h"
#include "base/ProcessorInventory.h"
#include "base/SystemInfoQuery.h"
#include "base/WorkerThread.h"
#include "base/Wow64.h"
#include "crash/ReportFile.h"
#include "crash/SendProblemReport.h"
#include "crash/WerRegistration.h"
#include <exception>
#include <initializer_list>
#include <cstdlib>
#include <new>
#include <cstddef>
#include <cstring>
#include <memory>

namespace {

const DWORD kCppExceptionCode = 0xE06D7363;
// The report's own stack: symbol look-ups and the dump writer are deep, the faulting thread may have none.
const SIZE_T kReportStackSize = 1024 * 1024;
// How long a thread that faults while another one reports waits before it ends the process.
const DWORD kSecondFaultWaitMs = 5000;
// A damaged stack can make the walk go round in circles; no real stack of ours is this deep.
const int kMostFrames = 512;
// Processor registry keys are numbered from 0; the walk stops at the first missing one.
const uint32_t kMostProcessors = 1024;
// NtQueryInformationThread classes: ThreadBasicInformation, ThreadQuerySetWin32StartAddress.
const ULONG kThreadBasicInformationClass = 0;
const ULONG kThreadStartAddressClass = 9;
const DWORD kFixedVersionSignature = 0xFEEF04BD;
// A thread environment block starts with the thread information block; its arbitrary-user-pointer slot
// holds the thread's name.
const size_t kArbitraryUserPointerOffset = offsetof(NT_TIB, ArbitraryUserPointer);

// Addresses in the report are as wide as the program's own.
#ifdef _WIN64
#define TARVEX_ADDRESS "0x%016I64X"
const char kArchitecture[] = "x64";
const DWORD kStackMachine = IMAGE_FILE_MACHINE_AMD64;
#else
#define TARVEX_ADDRESS "0x%08I64X"
const char kArchitecture[] = "x86";
const DWORD kStackMachine = IMAGE_FILE_MACHINE_I386;
#endif

// What an access violation's first parameter says the program tried to do at the address.
const char *AccessKindOf(ULONG_PTR type) {
    switch (type) {
    case 0:
        return "Read from";
    case 8:
        return "Execute at";
    default:
        return "Write to";
    }
}

struct ExceptionName {
    DWORD code;
    const char *name;
};

const ExceptionName kExceptionNames[] = {
    {0x40010005, "Control-C"},
    {0x40010008, "Control-Break"},
    {0x80000002, "Datatype Misalignment"},
    {0x80000003, "Breakpoint"},
    {0xC0000005, "Access Violation"},
    {0xC0000006, "In Page Error"},
    {0xC0000017, "No Memory"},
    {0xC000001D, "Illegal Instruction"},
    {0xC0000025, "Noncontinuable Exception"},
    {0xC0000026, "Invalid Disposition"},
    {0xC000008C, "Array Bounds Exceeded"},
    {0xC000008D, "Float Denormal Operand"},
    {0xC000008E, "Float Divide by Zero"},
    {0xC000008F, "Float Inexact Result"},
    {0xC0000090, "Float Invalid Operation"},
    {0xC0000091, "Float Overflow"},
    {0xC0000092, "Float Stack Check"},
    {0xC0000093, "Float Underflow"},
    {0xC0000094, "Integer Divide by Zero"},
    {0xC0000095, "Integer Overflow"},
    {0xC0000096, "Privileged Instruction"},
    {0xC00000FD, "Stack Overflow"},
    {0xC0000142, "DLL Initialization Failed"},
    {kCppExceptionCode, "Microsoft C++ Exception"},
};

const char *ExceptionNameOf(DWORD code) {
    for (const ExceptionName &entry : kExceptionNames)
        if (entry.code == code)
            return entry.name;
    return "Exception";
}

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

// Formats one piece of the report and writes it as it is. A piece that cannot be formatted or written is
// lost; the pieces after it are still tried.
void WritePiece(HANDLE file, const char *format, ...) __attribute__((format(ms_printf, 2, 3)));
void WritePiece(HANDLE file, const char *format, ...) {
    if (file == INVALID_HANDLE_VALUE)
        return;
    TextString piece;
    va_list args;
    va_start(args, format);
    int formatted = piece.FormatV(format, args);
    va_end(args);
    if (!formatted || piece.Length() <= 0)
        return;
    DWORD written = 0;
    WriteFile(file, piece.Text(), static_cast<DWORD>(piece.Length()), &written, nullptr);
}

// The registers at the fault, in the program's own width.
void WriteRegisters(HANDLE file, const CONTEXT &c) {
#ifdef _WIN64
    WritePiece(file, "\r\nRAX=0x%016I64X, RBX=0x%016I64X, RCX=0x%016I64X, RDX=0x%016I64X\r\n", c.Rax, c.Rbx,
               c.Rcx, c.Rdx);
    WritePiece(file, "RSI=0x%016I64X, RDI=0x%016I64X, RBP=0x%016I64X, RSP=0x%016I64X\r\n", c.Rsi, c.Rdi,
               c.Rbp, c.Rsp);
    WritePiece(file, "R8 =0x%016I64X, R9 =0x%016I64X, R10=0x%016I64X, R11=0x%016I64X\r\n", c.R8, c.R9, c.R10,
               c.R11);
    WritePiece(file, "R12=0x%016I64X, R13=0x%016I64X, R14=0x%016I64X, R15=0x%016I64X\r\n", c.R12, c.R13,
               c.R14, c.R15);
    WritePiece(file, "RIP=0x%016I64X, Flags=0x%08X\r\n", c.Rip, (unsigned)c.EFlags);
    WritePiece(file, "CS=0x%04X, SS=0x%04X, DS=0x%04X, ES=0x%04X, FS=0x%04X, GS=0x%04X\r\n",
               (unsigned)c.SegCs, (unsigned)c.SegSs, (unsigned)c.SegDs, (unsigned)c.SegEs, (unsigned)c.SegFs,
               (unsigned)c.SegGs);
#else
    WritePiece(file, "\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n", (unsigned)c.Eax,
               (unsigned)(c.SegCs & 0xFFFF), (unsigned)c.Eip, (unsigned)c.EFlags);
    WritePiece(file, "EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n", (unsigned)c.Ebx,
               (unsigned)(c.SegSs & 0xFFFF), (unsigned)c.Esp, (unsigned)c.Ebp);
    WritePiece(file, "ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n", (unsigned)c.Ecx,
               (unsigned)(c.SegDs & 0xFFFF), (unsigned)c.Esi, (unsigned)(c.SegFs & 0xFFFF));
    WritePiece(file, "EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n", (unsigned)c.Edx,
               (unsigned)(c.SegEs & 0xFFFF), (unsigned)c.Edi, (unsigned)(c.SegGs & 0xFFFF));
#endif
}

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

// Reads a thread's name: the text its environment block's arbitrary-user-pointer slot points at. Every
// read goes through ReadProcessMemory, so a slot holding rubbish gives an empty or short name, never a fault.
void ReadThreadName(HANDLE thread, DWORD fsSelector, DebugHelpTable::NtQueryInformationThreadFunction query,
                    char *name, uint32_t size) {
    name[0] = 0;
    uintptr_t block = thread ? ThreadBlockOf(thread, fsSelector, query) : 0;
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

// The fixed version block of a module file. The dump writer is meant to hand it over with the module, but
// Wine's leaves it empty; the report then reads it from the file itself.
void ReadFileVersion(const wchar_t *path, VS_FIXEDFILEINFO &version) {
    if (!path || !*path)
        return;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (!size)
        return;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block)
        return;
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoW(path, 0, size, block.get()) &&
        VerQueryValueW(block.get(), L"\\", reinterpret_cast<void **>(&fixed), &length) && fixed &&
        length >= sizeof(*fixed) && fixed->dwSignature == kFixedVersionSignature)
        version = *fixed;
}

void TerminateWithReport() {
    // A C++ exception nobody catches: let it reach the filter as the exception it is, while the frames that
    // threw it are still on the stack.
    RaiseException(kCppExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
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
        DebugHelpTable &table = job->reporter->debugHelp_;
        ReadThreadName(handle, thread.Context.SegFs, table.NtQueryInformationThread, record->name,
                       sizeof(record->name));
        if (table.NtQueryInformationThread && handle) {
            // The answer is a pointer: 4 bytes in a 32-bit process, 8 in a 64-bit one.
            void *start = nullptr;
            if (table.NtQueryInformationThread(handle, kThreadStartAddressClass, &start, sizeof(start),
                                               nullptr) >= 0)
                record->startAddress = AddressOf(start);
        }
        ThreadRecord *added = record.get();
        *job->threadTail = std::move(record);
        job->threadTail = &added->next;
    }
    return TRUE;
}

namespace {
// The steps of the text report, in the order of its lines.
void WriteException(HANDLE file, const EXCEPTION_RECORD &exception, DWORD threadId, int nt) {
    WritePiece(file,
               nt ? "%s [0x%08X] at " TARVEX_ADDRESS " in Thread %u.\r\n"
                  : "%s [0x%08X] at " TARVEX_ADDRESS " in Thread 0x%08X.\r\n",
               ExceptionNameOf(exception.ExceptionCode), static_cast<unsigned>(exception.ExceptionCode),
               AddressOf(exception.ExceptionAddress), static_cast<unsigned>(threadId));
    if (exception.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && exception.NumberParameters > 1)
        WritePiece(file, "%s location " TARVEX_ADDRESS ".\r\n",
                   AccessKindOf(exception.ExceptionInformation[0]),
                   static_cast<uint64_t>(exception.ExceptionInformation[1]));
}

void WriteProcessors(HANDLE file) {
    SystemInfoQuery query;
    const int nt = (QueryVersion() & kOsNt) ? 1 : 0;
    TextString name, vendor, identifier;
    for (uint32_t index = 0; index < kMostProcessors; ++index) {
        uint32_t mhz = 0;
        // A value one processor lacks must not be taken from the one before.
        name.Assign("");
        vendor.Assign("");
        identifier.Assign("");
        if (!ReadProcessorDescription(query, nt, index, name, &vendor, &identifier, &mhz))
            break;
        name.TrimLeft();
        WritePiece(file, "\r\n%s %s %s %u Mhz", name.Text(), vendor.Text(), identifier.Text(), mhz);
    }
}

void WriteSystem(HANDLE file, OSVERSIONINFOA &version, int nt) {
    char osName[256];
    osName[0] = 0;
    const char *os = OsName(osName, QueryEdition());
    version.szCSDVersion[sizeof(version.szCSDVersion) - 1] = 0;
    WritePiece(file, "\r\n%s [%u.%u] Build %u %s\r\n", os ? os : "", (unsigned)version.dwMajorVersion,
               (unsigned)version.dwMinorVersion,
               (unsigned)(nt ? version.dwBuildNumber : (version.dwBuildNumber & 0xFFFF)),
               version.szCSDVersion);
    WritePiece(file, "%s%s Ansi\r\n", kArchitecture, IsWow64() ? " WOW64" : "");
}

void WriteModule(HANDLE file, ModuleRecord &record) {
    if (record.version.dwSignature != kFixedVersionSignature)
        ReadFileVersion(record.path.get(), record.version);
    char date[16] = "";
    char time[16] = "";
    uint64_t ticks = (static_cast<uint64_t>(record.timeStamp) + 11644473600ull) * 10000000ull;
    FILETIME utc, local;
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME parts;
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &parts)) {
        TextString piece;
        if (piece.Format("%2u.%02u.%04u", parts.wDay, parts.wMonth, parts.wYear))
            lstrcpynA(date, piece.Text(), sizeof(date));
        if (piece.Format("%2u:%02u:%02u", parts.wHour, parts.wMinute, parts.wSecond))
            lstrcpynA(time, piece.Text(), sizeof(time));
    }
    const VS_FIXEDFILEINFO &v = record.version;
    WritePiece(file,
               "%8u 0x%08X %10.10s %8.8s 0x%08X " TARVEX_ADDRESS
               " %4d.%04d.%05d.%06d %4d.%04d.%05d.%06d - %S\r\n",
               record.size, record.timeStamp, date, time, record.checksum, record.base,
               HIWORD(v.dwFileVersionMS), LOWORD(v.dwFileVersionMS), HIWORD(v.dwFileVersionLS),
               LOWORD(v.dwFileVersionLS), HIWORD(v.dwProductVersionMS), LOWORD(v.dwProductVersionMS),
               HIWORD(v.dwProductVersionLS), LOWORD(v.dwProductVersionLS), record.path.get());
}
} // namespace

void CrashReporter::WriteText(ReportJob &job, HANDLE file, EXCEPTION_POINTERS *pointers, DWORD threadId) {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    const int nt = (version.dwPlatformId & 0x2) != 0;
    const EXCEPTION_RECORD *exception = pointers ? pointers->ExceptionRecord : nullptr;
    const CONTEXT *context = pointers ? pointers->ContextRecord : nullptr;

    if (exception)
        WriteException(file, *exception, threadId, nt);
    if (context)
        WriteRegisters(file, *context);
    WriteProcessors(file);
    WriteSystem(file, version, nt);
    if (context && debugHelp_.symbolsReady) {
        WritePiece(file, "%s", "\r\nStack:\r\n");
        // The walk changes the context it is given; the exception's own record stays as it was.
        CONTEXT walked = *context;
        WriteStack(&walked, file);
    }
    if (logText_.Length() > 0) {
        WritePiece(file, "%s", "\r\nLog:\r\n");
        DWORD written = 0;
        WriteFile(file, logText_.Text(), static_cast<DWORD>(logText_.Length()), &written, nullptr);
    }
    // Each record goes right after its line.
    if (job.modules) {
        WritePiece(file, "%s", "\r\nModuleList:\r\n");
        WritePiece(file, "%s", "    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n");
        for (; job.modules; ReleaseFront(job.modules))
            WriteModule(file, *job.modules);
        job.moduleTail = &job.modules;
    }
    if (job.threads) {
        WritePiece(file, "%s", "\r\nThreadList:\r\n");
        WritePiece(file, "%s", "Id         StackBase  StackEnd   StartAddress\r\n");
        for (; job.threads; ReleaseFront(job.threads))
            WriteThread(file, *job.threads, nt);
        job.threadTail = &job.threads;
    }
}

void CrashReporter::WriteThread(HANDLE file, const ThreadRecord &record, int nt) {
    TextString start;
    if (!debugHelp_.symbolsReady || !DescribeAddress(record.startAddress, start))
        start.Assign("");
    WritePiece(file,
               nt ? "%-8u   " TARVEX_ADDRESS " " TARVEX_ADDRESS " " TARVEX_ADDRESS " %s %s\r\n"
                  : "0x%08X " TARVEX_ADDRESS " " TARVEX_ADDRESS " " TARVEX_ADDRESS " %s %s\r\n",
               record.id, record.stackBase, record.stackEnd, record.startAddress, start.Text(), record.name);
}

int CrashReporter::LoadDebugHelp() {
    UnloadDebugHelp();
    DebugHelpTable &t = debugHelp_;
    if (!t.dbghelp.Load("dbghelp.dll"))
        return 0;
    t.MiniDumpWriteDump = t.dbghelp.Function<DebugHelpTable::MiniDumpWriteDumpFunction>("MiniDumpWriteDump");
    t.SymInitialize = t.MiniDumpWriteDump
                          ? t.dbghelp.Function<DebugHelpTable::SymInitializeFunction>("SymInitialize")
                          : nullptr;
    t.SymSetOptions = t.SymInitialize
                          ? t.dbghelp.Function<DebugHelpTable::SymSetOptionsFunction>("SymSetOptions")
                          : nullptr;
    t.SymGetSymFromAddr64 =
        t.SymSetOptions
            ? t.dbghelp.Function<DebugHelpTable::SymGetSymFromAddr64Function>("SymGetSymFromAddr64")
            : nullptr;
    t.SymFromAddr = t.SymGetSymFromAddr64
                        ? t.dbghelp.Function<DebugHelpTable::SymFromAddrFunction>("SymFromAddr")
                        : nullptr;
    t.SymGetModuleInfo64 =
        t.SymFromAddr ? t.dbghelp.Function<DebugHelpTable::SymGetModuleInfo64Function>("SymGetModuleInfo64")
                      : nullptr;
    t.StackWalk64 = t.SymGetModuleInfo64
                        ? t.dbghelp.Function<DebugHelpTable::StackWalk64Function>("StackWalk64")
                        : nullptr;
    t.SymFunctionTableAccess64 =
        t.StackWalk64 ? t.dbghelp.Function<PFUNCTION_TABLE_ACCESS_ROUTINE64>("SymFunctionTableAccess64")
                      : nullptr;
    t.SymGetModuleBase64 = t.SymFunctionTableAccess64
                               ? t.dbghelp.Function<PGET_MODULE_BASE_ROUTINE64>("SymGetModuleBase64")
                               : nullptr;
    t.SymGetLineFromAddr64 =
        t.SymGetModuleBase64
            ? t.dbghelp.Function<DebugHelpTable::SymGetLineFromAddr64Function>("SymGetLineFromAddr64")
            : nullptr;
    if (!t.SymGetLineFromAddr64) {
        UnloadDebugHelp();
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
        UnloadDebugHelp();
        return 0;
    }
    t.symbolsReady = 1;
    return 1;
}

void CrashReporter::UnloadDebugHelp() {
    DebugHelpTable &t = debugHelp_;
    if (t.symbolsReady) {
        // Not part of the table the report uses, but without it the symbol handler's state would outlive
        // the library and a later report in this process could not start a fresh one.
        typedef BOOL(WINAPI * SymCleanupFunction)(HANDLE);
        SymCleanupFunction cleanup = t.dbghelp.Function<SymCleanupFunction>("SymCleanup");
        if (cleanup)
            cleanup(GetCurrentProcess());
    }
    t.symbolsReady = 0;
    t.NtQueryInformationThread = nullptr;
    t.MiniDumpWriteDump = nullptr;
    t.SymInitialize = nullptr;
    t.SymSetOptions = nullptr;
    t.SymGetSymFromAddr64 = nullptr;
    t.SymFromAddr = nullptr;
    t.SymGetModuleInfo64 = nullptr;
    t.StackWalk64 = nullptr;
    t.SymFunctionTableAccess64 = nullptr;
    t.SymGetModuleBase64 = nullptr;
    t.SymGetLineFromAddr64 = nullptr;
    t.SymLoadModuleEx = nullptr;
    t.dbghelp.Free();
    t.ntdll.Free();
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
    CrashReporter *outerWalk = walking_;
    walking_ = this;
    uint64_t previousPc = 0;
    int first = 1;
    for (int count = 0; count < kMostFrames; ++count) {
        if (!t.StackWalk64(kStackMachine, GetCurrentProcess(), nullptr, &frame, context, nullptr,
                           &CrashReporter::FunctionTableAt, &CrashReporter::ModuleBaseAt, nullptr))
            break;
        uint64_t pc = frame.AddrPC.Offset;
        if (!first && pc == previousPc)
            break;
        first = 0;
        previousPc = pc;

        // Above the first frame the program counter is a return address: it may already lie past the end of
        // the calling function (a call to a function that never returns is often its last instruction), so
        // the call itself, one byte back, is what is looked up.
        uint64_t lookup = (count > 0 && pc > 0) ? pc - 1 : pc;
        TextString symbol;
        if (!SymbolNameOf(lookup, symbol) && !DescribeAddress(pc, symbol))
            symbol.Format(TARVEX_ADDRESS, CleanAddress(pc));
        TextString source, module;
        uint32_t line = 0;
        int haveLine = LineOf(lookup, source, &line);
        int haveModule = 0;
        if (!haveLine) {
            uint64_t base = 0;
            haveModule = ModuleNameOf(pc, module, &base);
        }
        // The shared user page holds the system call stubs; a frame there says nothing.
        if ((pc >> 16) != 0x7FFE) {
            uint64_t p0 = CleanAddress(frame.Params[0]), p1 = CleanAddress(frame.Params[1]),
                     p2 = CleanAddress(frame.Params[2]), p3 = CleanAddress(frame.Params[3]);
            if (haveLine)
                WritePiece(file, "%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X) - Line %u in %s\r\n", symbol.Text(), p0,
                           p1, p2, p3, line, source.Text());
            else if (haveModule)
                WritePiece(file, "%s:%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", module.Text(), symbol.Text(),
                           p0, p1, p2, p3);
            else
                WritePiece(file, "%s(0x%I64X,0x%I64X,0x%I64X,0x%I64X)\r\n", symbol.Text(), p0, p1, p2, p3);
        }
        if (frame.AddrReturn.Offset == 0)
            break;
    }
    walking_ = outerWalk;
    SetErrorMode(previousMode);
}

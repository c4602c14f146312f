// TextReport: the pieces of the plain-text debug report, each written to the file as soon as it is made.
#include "crash/TextReport.h"
#include "base/OsVersion.h"
#include "base/ProcessorDescription.h"
#include "base/SystemInfoQuery.h"
#include "base/TextString.h"
#include "base/Wow64.h"
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>

namespace {
// Processor registry keys are numbered from 0; the walk stops at the first missing one.
const uint32_t kMostProcessors = 1024;
const DWORD kFixedVersionSignature = 0xFEEF04BD;
#ifdef _WIN64
const char kArchitecture[] = "x64";
#else
const char kArchitecture[] = "x86";
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
    {TextReport::kCppExceptionCode, "Microsoft C++ Exception"},
};

const char *ExceptionNameOf(DWORD code) {
    for (const ExceptionName &entry : kExceptionNames)
        if (entry.code == code)
            return entry.name;
    return "Exception";
}

uint64_t AddressOf(const void *pointer) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
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
} // namespace

void TextReport::Piece(const char *format, ...) {
    if (file_ == INVALID_HANDLE_VALUE)
        return;
    TextString piece;
    va_list args;
    va_start(args, format);
    int formatted = piece.FormatV(format, args);
    va_end(args);
    if (!formatted || piece.Length() <= 0)
        return;
    Bytes(piece.Text(), static_cast<uint32_t>(piece.Length()));
}

void TextReport::Bytes(const char *bytes, uint32_t count) {
    DWORD written = 0;
    if (file_ != INVALID_HANDLE_VALUE)
        WriteFile(file_, bytes, count, &written, nullptr);
}

void TextReport::Registers(const CONTEXT &c) {
#ifdef _WIN64
    Piece("\r\nRAX=0x%016I64X, RBX=0x%016I64X, RCX=0x%016I64X, RDX=0x%016I64X\r\n", c.Rax, c.Rbx, c.Rcx,
          c.Rdx);
    Piece("RSI=0x%016I64X, RDI=0x%016I64X, RBP=0x%016I64X, RSP=0x%016I64X\r\n", c.Rsi, c.Rdi, c.Rbp, c.Rsp);
    Piece("R8 =0x%016I64X, R9 =0x%016I64X, R10=0x%016I64X, R11=0x%016I64X\r\n", c.R8, c.R9, c.R10, c.R11);
    Piece("R12=0x%016I64X, R13=0x%016I64X, R14=0x%016I64X, R15=0x%016I64X\r\n", c.R12, c.R13, c.R14, c.R15);
    Piece("RIP=0x%016I64X, Flags=0x%08X\r\n", c.Rip, (unsigned)c.EFlags);
    Piece("CS=0x%04X, SS=0x%04X, DS=0x%04X, ES=0x%04X, FS=0x%04X, GS=0x%04X\r\n", (unsigned)c.SegCs,
          (unsigned)c.SegSs, (unsigned)c.SegDs, (unsigned)c.SegEs, (unsigned)c.SegFs, (unsigned)c.SegGs);
#else
    Piece("\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n", (unsigned)c.Eax,
          (unsigned)(c.SegCs & 0xFFFF), (unsigned)c.Eip, (unsigned)c.EFlags);
    Piece("EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n", (unsigned)c.Ebx, (unsigned)(c.SegSs & 0xFFFF),
          (unsigned)c.Esp, (unsigned)c.Ebp);
    Piece("ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n", (unsigned)c.Ecx, (unsigned)(c.SegDs & 0xFFFF),
          (unsigned)c.Esi, (unsigned)(c.SegFs & 0xFFFF));
    Piece("EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n", (unsigned)c.Edx, (unsigned)(c.SegEs & 0xFFFF),
          (unsigned)c.Edi, (unsigned)(c.SegGs & 0xFFFF));
#endif
}

void TextReport::Exception(const EXCEPTION_RECORD &exception, DWORD threadId, int nt) {
    Piece(nt ? "%s [0x%08X] at " TARVEX_ADDRESS " in Thread %u.\r\n"
             : "%s [0x%08X] at " TARVEX_ADDRESS " in Thread 0x%08X.\r\n",
          ExceptionNameOf(exception.ExceptionCode), static_cast<unsigned>(exception.ExceptionCode),
          AddressOf(exception.ExceptionAddress), static_cast<unsigned>(threadId));
    if (exception.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && exception.NumberParameters > 1)
        Piece("%s location " TARVEX_ADDRESS ".\r\n", AccessKindOf(exception.ExceptionInformation[0]),
              static_cast<uint64_t>(exception.ExceptionInformation[1]));
}

void TextReport::Processors() {
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
        Piece("\r\n%s %s %s %u Mhz", name.Text(), vendor.Text(), identifier.Text(), mhz);
    }
}

void TextReport::System(OSVERSIONINFOA &version, int nt) {
    char osName[256];
    osName[0] = 0;
    const char *os = OsName(osName, QueryEdition());
    version.szCSDVersion[sizeof(version.szCSDVersion) - 1] = 0;
    Piece("\r\n%s [%u.%u] Build %u %s\r\n", os ? os : "", (unsigned)version.dwMajorVersion,
          (unsigned)version.dwMinorVersion,
          (unsigned)(nt ? version.dwBuildNumber : (version.dwBuildNumber & 0xFFFF)), version.szCSDVersion);
    Piece("%s%s Ansi\r\n", kArchitecture, IsWow64() ? " WOW64" : "");
}

void TextReport::Module(ModuleRecord &record) {
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
    Piece("%8u 0x%08X %10.10s %8.8s 0x%08X " TARVEX_ADDRESS " %4d.%04d.%05d.%06d %4d.%04d.%05d.%06d - %S\r\n",
          record.size, record.timeStamp, date, time, record.checksum, record.base, HIWORD(v.dwFileVersionMS),
          LOWORD(v.dwFileVersionMS), HIWORD(v.dwFileVersionLS), LOWORD(v.dwFileVersionLS),
          HIWORD(v.dwProductVersionMS), LOWORD(v.dwProductVersionMS), HIWORD(v.dwProductVersionLS),
          LOWORD(v.dwProductVersionLS), record.path.get());
}

void TextReport::Thread(const ThreadRecord &record, const char *start, int nt) {
    Piece(nt ? "%-8u   " TARVEX_ADDRESS " " TARVEX_ADDRESS " " TARVEX_ADDRESS " %s %s\r\n"
             : "0x%08X " TARVEX_ADDRESS " " TARVEX_ADDRESS " " TARVEX_ADDRESS " %s %s\r\n",
          record.id, record.stackBase, record.stackEnd, record.startAddress, start, record.name);
}

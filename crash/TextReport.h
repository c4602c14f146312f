// TextReport: the plain-text debug report a crash leaves, written piece by piece in the order of its lines:
// the exception, the registers, the processors, the system, then (in the reporter's order) the stack, the
// log, the modules and the threads. A piece that cannot be formatted or written is lost; the pieces after it
// are still tried.
//
// ModuleRecord and ThreadRecord are the dump writer's records the report lists.
//
// Classes: TextReport, ModuleRecord, ThreadRecord.
#pragma once

#include "base/Win.h"
#include <cstdint>
#include <memory>

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

// Addresses in the report are as wide as the program's own.
#ifdef _WIN64
#define TARVEX_ADDRESS "0x%016I64X"
#else
#define TARVEX_ADDRESS "0x%08I64X"
#endif

class TextReport {
public:
    // The code of a C++ exception nobody caught.
    enum : DWORD { kCppExceptionCode = 0xE06D7363 };

    // Writes to file, which the caller owns; INVALID_HANDLE_VALUE writes nothing.
    explicit TextReport(HANDLE file) : file_(file) {}

    void Piece(const char *format, ...) __attribute__((format(ms_printf, 2, 3)));
    void Bytes(const char *bytes, uint32_t count);
    // The exception line, and for an access violation what was tried at which address.
    void Exception(const EXCEPTION_RECORD &exception, DWORD threadId, int nt);
    // The registers at the fault, in the program's own width.
    void Registers(const CONTEXT &context);
    // One line per processor the registry describes.
    void Processors();
    void System(OSVERSIONINFOA &version, int nt);
    // A module's line; its version is read from the file when the dump writer left it empty.
    void Module(ModuleRecord &record);
    // A thread's line, with its start address described as start.
    void Thread(const ThreadRecord &record, const char *start, int nt);

private:
    HANDLE file_;
};

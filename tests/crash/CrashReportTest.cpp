// Crash report tests: the crash program really faults in each way the filter must survive, and what it
// leaves behind is read back: both files in their place, the report's lines in their exact formats with the
// right values, its stack naming the faulting function, its module and thread lists, and a minidump that
// holds the exception. Then the files' places (a link at the report's name, a write-protected folder), and
// the real Tarvex.exe made to fault from outside.
#include "base/OsVersion.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/TempFolder.h"
#include "tests/crash/CrashRunner.h"

#include <dbghelp.h>
#include <gtest/gtest.h>
#include <psapi.h>
#include <algorithm>
#include <cstring>
#include <regex>

namespace {

const DWORD kCrashWaitMs = 60000;
const char kMainName[] = "CrashProgram main thread";

std::string Escaped(const char *text) {
    return std::regex_replace(text, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
}

std::string Hex8(unsigned long long value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08llX", value & 0xFFFFFFFFull);
    return text;
}

int Wow64() {
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

// One crash of a program copied into a folder of its own, with a private temporary folder beside it.
struct Crash {
    TempFolder folder{"Crash"};
    TempFolder temp{"CrashTemp"};
    CrashRunner runner;
    CrashFacts facts;
    std::string report, dump;
    int ended = 0;

    // Copies program (of the build's crash folder, or a full path) and runs it with the fault.
    void Run(const std::string &program, const char *fault, const std::string &extra = "") {
        std::string source =
            program.find('\\') == std::string::npos ? CrashRunner::OwnFolder() + program : program;
        std::string name = source.substr(source.rfind('\\') + 1);
        ASSERT_TRUE(CrashRunner::CopyProgram(source, folder.File(name.c_str()))) << source;
        std::string command = "\"" + folder.File(name.c_str()) + "\" " + fault + " \"" +
                              folder.File("facts.txt") + "\"" + extra;
        ASSERT_TRUE(runner.Start(command, temp.Path())) << command;
        ended = runner.WaitForEnd(kCrashWaitMs);
        facts.Read(folder.File("facts.txt"));
        std::string base = folder.File(name.substr(0, name.rfind('.')).c_str());
        report = CrashRunner::ReadWhole(base + "_Debug.txt");
        dump = CrashRunner::ReadWhole(base + "_Debug.dmp");
    }
};

struct FaultCase {
    const char *fault;
    const char *name;
    uint32_t code;
    const char *location;       // the location line, or null
    const char *function;       // named in the stack
    int faultsInFunction;       // the exception address lies in the function the facts name
    const char *faultingThread; // the fact naming the thread
};

const FaultCase kFaults[] = {
    {"write0", "Access Violation", 0xC0000005, "Write to location 0x00000000.\r\n", "CrashWriteNull", 1,
     "main"},
    {"divide", "Integer Divide by Zero", 0xC0000094, nullptr, "CrashDivideByZero", 1, "main"},
    {"cpp", "Microsoft C++ Exception", 0xE06D7363, nullptr, "CrashThrowUncaught", 0, "main"},
    {"raise", "Exception", 0xE0C0FFEE, nullptr, "CrashRaiseUnknown", 0, "main"},
    {"thread", "Access Violation", 0xC0000005, "Write to location 0x00000000.\r\n", "CrashThreadMain", 1,
     "worker"},
    {"twothreads", "Access Violation", 0xC0000005, "Write to location 0x00000000.\r\n", "CrashThreadMain", 1,
     "worker"},
    {"overflow", "Stack Overflow", 0xC00000FD, nullptr, "CrashRecurse", 1, "main"},
};

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, LeaveBothFilesWithTheLayoutsValues) {
    const FaultCase &c = GetParam();
    Crash crash;
    crash.Run("CrashProgram.exe", c.fault);
    ASSERT_TRUE(crash.ended) << "the process did not end";
    ASSERT_FALSE(crash.report.empty()) << "no report beside the program";
    EXPECT_FALSE(CrashRunner::Exists(crash.temp.File("MiniDump_Debug.txt")));
    ReportSections report(crash.report);

    // Exception line: exactly one, with the faulting thread's id in decimal.
    std::smatch m;
    std::regex exceptionLine("^" + Escaped(c.name) +
                             " \\[0x([0-9A-F]{8})\\] at 0x([0-9A-F]{8}) in Thread (\\d+)\\.\r\n");
    ASSERT_TRUE(std::regex_search(report.head, m, exceptionLine)) << report.head;
    EXPECT_EQ(c.code, std::stoul(m[1].str(), nullptr, 16));
    unsigned long long address = std::stoull(m[2].str(), nullptr, 16);
    unsigned long long thread = std::stoull(m[3].str());
    const auto &candidates = crash.facts.All(c.faultingThread);
    EXPECT_NE(candidates.end(), std::find(candidates.begin(), candidates.end(), thread)) << thread;
    EXPECT_EQ(std::string::npos, crash.report.find(" in Thread ", m.position(3))) << "a second report";
    if (c.faultsInFunction) {
        unsigned long long function = crash.facts.First("function");
        EXPECT_GE(address, function);
        EXPECT_LT(address, function + 0x80);
    }
    size_t next = m.length(0);
    if (c.location) {
        EXPECT_EQ(c.location, report.head.substr(next, strlen(c.location)));
        next += strlen(c.location);
    }

    // Registers: four lines in their formats, the instruction pointer at the exception.
    std::regex registers(
        "^\r\nEAX=0x[0-9A-F]{8}, CS=0x[0-9A-F]{4}, EIP=0x([0-9A-F]{8}), Flags=0x[0-9A-F]{8}\r\n"
        "EBX=0x[0-9A-F]{8}, SS=0x[0-9A-F]{4}, ESP=0x[0-9A-F]{8}, EBP=0x[0-9A-F]{8}\r\n"
        "ECX=0x[0-9A-F]{8}, DS=0x[0-9A-F]{4}, ESI=0x[0-9A-F]{8}, FS=0x[0-9A-F]{4}\r\n"
        "EDX=0x[0-9A-F]{8}, ES=0x[0-9A-F]{4}, EDI=0x[0-9A-F]{8}, GS=0x[0-9A-F]{4}\r\n");
    std::string rest = report.head.substr(next);
    ASSERT_TRUE(std::regex_search(rest, m, registers)) << rest;
    EXPECT_EQ(Hex8(address), "0x" + m[1].str());
    rest = m.suffix();

    // One piece per processor, then the system and architecture lines.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::regex processor("^\r\n[^\r\n]* [^\r\n]* [^\r\n]* \\d+ Mhz");
    unsigned processors = 0;
    while (std::regex_search(rest, m, processor)) {
        ++processors;
        rest = m.suffix();
    }
    EXPECT_EQ(system.dwNumberOfProcessors, processors);
    OSVERSIONINFOA version = {sizeof(version)};
    GetVersionExA(&version);
    char osName[256];
    char expected[600];
    snprintf(expected, sizeof(expected), "\r\n%s [%lu.%lu] Build %lu %s\r\n%s Ansi\r\n",
             OsName(osName, QueryEdition()), version.dwMajorVersion, version.dwMinorVersion,
             version.dwBuildNumber, version.szCSDVersion, Wow64() ? "x86 WOW64" : "x86");
    EXPECT_EQ(expected, rest);

    // The stack names the function that faulted, with its source file; no log was set.
    ASSERT_TRUE(report.hasStack);
    EXPECT_NE(std::string::npos, report.stack.find(std::string(c.function) + "(0x")) << report.stack;
    EXPECT_NE(std::string::npos, report.stack.find("CrashProgram.cpp\r\n")) << report.stack;
    EXPECT_FALSE(report.hasLog);

    // The program among the modules, its threads (with their names) among the threads.
    ASSERT_TRUE(report.hasModules);
    EXPECT_EQ(0u, report.modules.find(
                      "    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n"));
    std::regex programLine(
        "\r\n *\\d+ 0x[0-9A-F]{8} [ 0-9]{2}\\.\\d{2}\\.\\d{4} [ 0-9]{2}:\\d{2}:\\d{2} 0x[0-9A-F]{8} "
        "0x00400000    3\\.0014\\.00015\\.000000    3\\.0014\\.00015\\.000000 - ([^\r\n]*)\r\n");
    ASSERT_TRUE(std::regex_search(report.modules, m, programLine)) << report.modules.substr(0, 400);
    EXPECT_EQ(0, _stricmp(crash.folder.File("CrashProgram.exe").c_str(), m[1].str().c_str())) << m[1].str();
    ASSERT_TRUE(report.hasThreads);
    EXPECT_EQ(0u, report.threads.find("Id         StackBase  StackEnd   StartAddress\r\n"));
    auto row = [&](unsigned long long id) {
        std::regex line("\n(" + std::to_string(id) +
                        " *)0x[0-9A-F]{8} 0x[0-9A-F]{8} 0x[0-9A-F]{8} ([^\r\n]*)\r\n");
        std::smatch found;
        if (!std::regex_search(report.threads, found, line) || found[1].length() != 11)
            return std::string("<no row>");
        return found[2].str();
    };
    auto endsWith = [](const std::string &text, const std::string &end) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    EXPECT_TRUE(endsWith(row(crash.facts.First("main")), std::string(" ") + kMainName)) << report.threads;
    EXPECT_EQ("IdleThreadMain ", row(crash.facts.First("idle")));
    for (unsigned long long worker : crash.facts.All("worker"))
        EXPECT_EQ("CrashThreadMain " + std::string(99, 'N'), row(worker));

    // The dump holds the same exception.
    MinidumpSummary dump;
    ASSERT_TRUE(dump.Read(crash.dump)) << crash.dump.size() << " bytes";
    ASSERT_TRUE(dump.hasException);
    EXPECT_EQ(c.code, dump.code);
    EXPECT_EQ(thread, dump.threadId);
    EXPECT_EQ(address, dump.address & 0xFFFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(CrashProgram, Faults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return info.param.fault; });

// ---- the report without exception, the log ----

TEST(ReportContents, WithoutExceptionThereIsNoExceptionRegistersOrStackButTheListsAreThere) {
    Crash crash;
    crash.Run("CrashProgram.exe", "none");
    ASSERT_TRUE(crash.ended);
    EXPECT_EQ(0u, crash.runner.ExitCode()) << "WriteReport answers 1 without an upload host";
    ReportSections report(crash.report);
    EXPECT_EQ(0u, report.head.find("\r\n")) << report.head;
    EXPECT_EQ(std::string::npos, report.head.find("EAX="));
    EXPECT_FALSE(report.hasStack);
    EXPECT_TRUE(report.hasModules);
    EXPECT_TRUE(report.hasThreads);
    MinidumpSummary dump;
    EXPECT_TRUE(dump.Read(crash.dump));
    EXPECT_FALSE(dump.hasException);
}

TEST(ReportContents, LogTextFollowsTheStackUnchanged) {
    Crash crash;
    crash.Run("CrashProgram.exe", "log");
    ASSERT_TRUE(crash.ended);
    ReportSections report(crash.report);
    ASSERT_TRUE(report.hasLog);
    EXPECT_EQ("first log line\r\nsecond %s line\r\n", report.log);
    EXPECT_LT(crash.report.find("\r\nStack:\r\n"), crash.report.find("\r\nLog:\r\n"));
}

// ---- where the files go ----

TEST(ReportFiles, AreNewFilesNeverWrittenThroughALinkOrAppended) {
    Crash crash;
    // An old report that is a hard link to another file, and an old dump longer than a new one.
    ASSERT_TRUE(crash.folder.WriteFile("victim.txt", "this file must stay as it is"));
    ASSERT_TRUE(CreateHardLinkA(crash.folder.File("CrashProgram_Debug.txt").c_str(),
                                crash.folder.File("victim.txt").c_str(), nullptr));
    ASSERT_TRUE(crash.folder.WriteFile("CrashProgram_Debug.dmp", std::string(8 << 20, 'x')));
    crash.Run("CrashProgram.exe", "write0");
    ASSERT_TRUE(crash.ended);
    EXPECT_EQ("this file must stay as it is", crash.folder.ReadFile("victim.txt"));
    EXPECT_EQ(0u, crash.report.find("Access Violation [0xC0000005]"));
    MinidumpSummary dump;
    EXPECT_TRUE(dump.Read(crash.dump));
    EXPECT_EQ(std::string::npos, crash.dump.find("xxxxxxxx"));
}

// Makes a folder immutable (root ignores permission bits; this binds root as well) and undoes it on
// destruction, waiting until files can be created there again, so that the folder can be removed.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const TempFolder &folder)
        : folder_(folder), unix_(CrashRunner::UnixPathOf(folder.Path())) {}
    ~ImmutableFolder() {
        if (!set_)
            return;
        CrashRunner::RunUnix("/usr/bin/chattr -i \"" + unix_ + "\"");
        CrashRunner::WaitUntil(10000, [&] { return CanCreate(); });
    }
    // 1 once nothing can be created in the folder any more.
    int Set() {
        if (unix_.empty() || !CrashRunner::RunUnix("/usr/bin/chattr +i \"" + unix_ + "\""))
            return 0;
        set_ = 1;
        return CrashRunner::WaitUntil(5000, [&] { return !CanCreate(); });
    }
    // Every probe has a name of its own: one made just before the folder became immutable stays behind.
    int CanCreate() {
        std::string probe = folder_.File(("probe-" + std::to_string(probes_++)).c_str());
        HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 0;
        CloseHandle(file);
        DeleteFileA(probe.c_str());
        return 1;
    }

private:
    const TempFolder &folder_;
    std::string unix_;
    int set_ = 0;
    int probes_ = 0;
};

TEST(ReportFiles, WriteProtectedFolderSendsBothToTheTemporaryFolder) {
    Crash crash;
    ASSERT_TRUE(CrashRunner::CopyProgram(CrashRunner::OwnFolder() + "CrashProgram.exe",
                                         crash.folder.File("CrashProgram.exe")));
    ImmutableFolder protection(crash.folder);
    if (!protection.Set())
        GTEST_SKIP() << "this machine does not let the test write-protect a folder (chattr +i)";
    std::string command =
        "\"" + crash.folder.File("CrashProgram.exe") + "\" write0 \"" + crash.temp.File("facts.txt") + "\"";
    ASSERT_TRUE(crash.runner.Start(command, crash.temp.Path()));
    ASSERT_TRUE(crash.runner.WaitForEnd(kCrashWaitMs));
    EXPECT_FALSE(CrashRunner::Exists(crash.folder.File("CrashProgram_Debug.txt")));
    std::string report = CrashRunner::ReadWhole(crash.temp.File("MiniDump_Debug.txt"));
    EXPECT_EQ(0u, report.find("Access Violation [0xC0000005]")) << report.substr(0, 200);
    MinidumpSummary dump;
    EXPECT_TRUE(dump.Read(CrashRunner::ReadWhole(crash.temp.File("MiniDump_Debug.dmp"))));
    EXPECT_TRUE(dump.hasException);
}

// ---- the real program, made to fault from outside ----

// A function of Tarvex.exe found through its own debug information, as an offset from the image base.
uint64_t FunctionOffset(const std::string &program, const char *name) {
    HANDLE self = GetCurrentProcess();
    if (!SymInitialize(self, nullptr, FALSE))
        return 0;
    uint64_t offset = 0;
    DWORD64 base = SymLoadModuleEx(self, nullptr, program.c_str(), nullptr, 0, 0, nullptr, 0);
    alignas(8) char buffer[sizeof(SYMBOL_INFO) + 256] = {};
    SYMBOL_INFO *symbol = reinterpret_cast<SYMBOL_INFO *>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = 255;
    if (base && SymFromName(self, name, symbol))
        offset = symbol->Address - base;
    SymCleanup(self);
    return offset;
}

struct Injection {
    const char *name;
    const char *function;     // the remote thread's start, or null for address 0
    uintptr_t parameter;      // what it gets: an address nothing is mapped at
    const char *expectedLine; // the beginning of the report
    const char *stackStart;   // the first frame, or null
};

class TarvexFault : public ::testing::TestWithParam<Injection> {};

TEST_P(TarvexFault, LeavesItsReportBesideTheProgramAndEnds) {
    const Injection &c = GetParam();
    LoopbackServer server;
    ASSERT_TRUE(server.Start()) << server.Problem();
    std::string program = CrashRunner::OwnFolder() + "..\\..\\Tarvex.exe";
    uint64_t offset = 0;
    if (c.function) {
        offset = FunctionOffset(program, c.function);
        ASSERT_NE(0u, offset) << c.function << " not found in " << program;
    }
    Crash crash;
    ASSERT_TRUE(CrashRunner::CopyProgram(program, crash.folder.File("Tarvex.exe")));
    ASSERT_TRUE(crash.runner.Start("\"" + crash.folder.File("Tarvex.exe") + "\" -u 20", crash.temp.Path()));
    ASSERT_TRUE(crash.runner.WaitForWindow(nullptr, 30000)) << "no window";

    HMODULE module = nullptr;
    DWORD needed = 0;
    ASSERT_TRUE(EnumProcessModules(crash.runner.Process(), &module, sizeof(module), &needed));
    uintptr_t start = c.function ? reinterpret_cast<uintptr_t>(module) + static_cast<uintptr_t>(offset) : 0;
    DWORD thread = 0;
    HANDLE remote = CreateRemoteThread(crash.runner.Process(), nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(start),
                                       reinterpret_cast<void *>(c.parameter), 0, &thread);
    ASSERT_TRUE(remote);
    CloseHandle(remote);
    ASSERT_TRUE(crash.runner.WaitForEnd(kCrashWaitMs)) << "Tarvex did not end";

    std::string report = CrashRunner::ReadWhole(crash.folder.File("Tarvex_Debug.txt"));
    EXPECT_EQ(0u, report.find(c.expectedLine)) << report.substr(0, 300);
    EXPECT_NE(std::string::npos, report.find(" in Thread " + std::to_string(thread) + ".\r\n"));
    MinidumpSummary dump;
    ASSERT_TRUE(dump.Read(CrashRunner::ReadWhole(crash.folder.File("Tarvex_Debug.dmp"))));
    EXPECT_EQ(thread, dump.threadId);
    if (c.stackStart) {
        ReportSections sections(report);
        EXPECT_EQ(0u, sections.stack.find(c.stackStart)) << sections.stack;
        EXPECT_NE(std::string::npos, sections.stack.find("WorkerThread.cpp\r\n")) << sections.stack;
    }
    // Tarvex sets no upload host: nothing goes out, whatever runs on this machine.
    EXPECT_EQ(0, server.RequestCount());
}

const Injection kInjections[] = {
    {"AtAddressZero", nullptr, 0, "Access Violation [0xC0000005] at 0x00000000", nullptr},
    // A thread routine of ours handed an object that is not there: the stack names it and its source line.
    {"InOurOwnCode", "WorkerThread::Entry", 0x10, "Access Violation [0xC0000005] at 0x",
     "WorkerThread::Entry(0x"},
};

INSTANTIATE_TEST_SUITE_P(RemoteThread, TarvexFault, ::testing::ValuesIn(kInjections),
                         [](const ::testing::TestParamInfo<Injection> &info) { return info.param.name; });

} // namespace

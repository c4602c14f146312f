// Crash report tests: the crash program really faults in each way the filter must survive, and what it
// leaves behind is read back: both files in their place, the report's lines in their exact formats with the
// right values, its stack naming the faulting function, its module and thread lists, and a minidump that
// holds the exception. Then where the files go (a link at the report's name, a write-protected folder), and
// the real Tarvex.exe made to fault from outside.
#include "base/OsVersion.h"
#include "tests/common/SavedRegistryValue.h"
#include "tests/common/ClosedUpdateUrl.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/SettingsKey.h"
#include "tests/common/TempFolder.h"
#include "tests/crash/CrashRunner.h"

#include <dbghelp.h>
#include <gtest/gtest.h>
#include <psapi.h>
#include <algorithm>
#include <cstring>
#include <regex>
#include <vector>

namespace {

const DWORD kCrashWaitMs = 60000;

// What differs between the 32-bit and the 64-bit report: address width, registers, image base, the
// architecture line.
#ifdef _WIN64
#define ZERO_ADDRESS "0x0000000000000000"
const char kAddress[] = "0x([0-9A-F]{16})";
const char kAnyAddress[] = "0x[0-9A-F]{16}";
const char kImageBase[] = "0x0000000140000000";
const char kArchitecture[] = "x64";
const char kRegisters[] =
    "\r\nRAX=0x[0-9A-F]{16}, RBX=0x[0-9A-F]{16}, RCX=0x[0-9A-F]{16}, RDX=0x[0-9A-F]{16}\r\n"
    "RSI=0x[0-9A-F]{16}, RDI=0x[0-9A-F]{16}, RBP=0x[0-9A-F]{16}, RSP=0x[0-9A-F]{16}\r\n"
    "R8 =0x[0-9A-F]{16}, R9 =0x[0-9A-F]{16}, R10=0x[0-9A-F]{16}, R11=0x[0-9A-F]{16}\r\n"
    "R12=0x[0-9A-F]{16}, R13=0x[0-9A-F]{16}, R14=0x[0-9A-F]{16}, R15=0x[0-9A-F]{16}\r\n"
    "RIP=0x\\2, Flags=0x[0-9A-F]{8}\r\n"
    "CS=0x[0-9A-F]{4}, SS=0x[0-9A-F]{4}, DS=0x[0-9A-F]{4}, ES=0x[0-9A-F]{4}, "
    "FS=0x[0-9A-F]{4}, GS=0x[0-9A-F]{4}\r\n";
#else
#define ZERO_ADDRESS "0x00000000"
const char kAddress[] = "0x([0-9A-F]{8})";
const char kAnyAddress[] = "0x[0-9A-F]{8}";
const char kImageBase[] = "0x00400000";
const char kArchitecture[] = "x86";
const char kRegisters[] = "\r\nEAX=0x[0-9A-F]{8}, CS=0x[0-9A-F]{4}, EIP=0x\\2, Flags=0x[0-9A-F]{8}\r\n"
                          "EBX=0x[0-9A-F]{8}, SS=0x[0-9A-F]{4}, ESP=0x[0-9A-F]{8}, EBP=0x[0-9A-F]{8}\r\n"
                          "ECX=0x[0-9A-F]{8}, DS=0x[0-9A-F]{4}, ESI=0x[0-9A-F]{8}, FS=0x[0-9A-F]{4}\r\n"
                          "EDX=0x[0-9A-F]{8}, ES=0x[0-9A-F]{4}, EDI=0x[0-9A-F]{8}, GS=0x[0-9A-F]{4}\r\n";
#endif

int UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// A crash of a program copied into a folder of its own, with a private temporary folder.
struct Crash {
    TempFolder folder{"Crash"};
    TempFolder temp{"CrashTemp"};
    CrashRunner runner;
    CrashFacts facts;
    std::string report, dump;
    int ended = 0;

    // program: a file of the test's folder or a full path; arguments follow the copy's name.
    void Run(const std::string &program, const std::string &arguments) {
        std::string source =
            program.find('\\') == std::string::npos ? CrashRunner::OwnFolder() + program : program;
        std::string name = source.substr(source.rfind('\\') + 1);
        std::string copy = folder.File(name.c_str());
        ASSERT_TRUE(CopyFileA(source.c_str(), copy.c_str(), FALSE)) << source;
        ASSERT_TRUE(runner.Start("\"" + copy + "\" " + arguments, temp.Path()));
        ended = runner.WaitForEnd(kCrashWaitMs);
        facts = ReadFacts(folder.File("facts.txt"));
        std::string base = copy.substr(0, copy.rfind('.'));
        report = CrashRunner::ReadWhole(base + "_Debug.txt");
        dump = CrashRunner::ReadWhole(base + "_Debug.dmp");
    }
    void RunFault(const char *fault) {
        Run("CrashProgram.exe", std::string(fault) + " \"" + folder.File("facts.txt") + "\"");
    }
};

std::string Escaped(const char *text) {
    return std::regex_replace(text, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
}

struct FaultCase {
    const char *fault;
    const char *name;
    uint32_t code;
    const char *location;       // the location line, or null
    const char *function;       // named in the stack
    int inFunction;             // the exception address lies in the function the facts name
    const char *faultingThread; // the fact naming the thread
    const char *log;            // the Log: section, or null
};

const FaultCase kFaults[] = {
    {"write0", "Access Violation", 0xC0000005, "Write to location " ZERO_ADDRESS ".\r\n", "CrashWriteNull", 1,
     "main"},
    {"divide", "Integer Divide by Zero", 0xC0000094, nullptr, "CrashDivideByZero", 1, "main"},
    {"cpp", "Microsoft C++ Exception", 0xE06D7363, nullptr, "CrashThrowUncaught", 0, "main"},
    {"raise", "Exception", 0xE0C0FFEE, nullptr, "CrashRaiseUnknown", 0, "main"},
    {"thread", "Access Violation", 0xC0000005, "Write to location " ZERO_ADDRESS ".\r\n", "CrashThreadMain",
     1, "worker"},
    {"twothreads", "Access Violation", 0xC0000005, "Write to location " ZERO_ADDRESS ".\r\n",
     "CrashThreadMain", 1, "worker"},
    {"overflow", "Stack Overflow", 0xC00000FD, nullptr, "CrashRecurse", 1, "main"},
    {"log", "Access Violation", 0xC0000005, "Write to location " ZERO_ADDRESS ".\r\n", "CrashWriteNull", 1,
     "main", "first log line\r\nsecond %s line\r\n"},
};

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, LeaveBothFilesWithTheLayoutsValues) {
    const FaultCase &c = GetParam();
    // 64-bit Wine raises a stack overflow with about one page left, too little for its own dispatch, and
    // ends the thread without calling the filter; on 64-bit Windows the guarantee every thread of ours sets
    // leaves the filter room.
    if (c.code == 0xC00000FD && sizeof(void *) == 8 && UnderWine())
        GTEST_SKIP() << "64-bit Wine ends a thread whose stack overflowed without calling the filter";
    Crash crash;
    crash.RunFault(c.fault);
    ASSERT_TRUE(crash.ended) << "the process did not end";
    ASSERT_FALSE(crash.report.empty()) << "no report beside the program";
    EXPECT_FALSE(CrashRunner::Exists(crash.temp.File("MiniDump_Debug.txt")));
    std::string head = ReportSection(crash.report, "");

    // Exception line (one only), location line, four register lines with the instruction pointer there.
    std::smatch m;
    std::string pattern = "^" + Escaped(c.name) + " \\[0x([0-9A-F]{8})\\] at " + kAddress +
                          " in Thread (\\d+)\\.\r\n" + Escaped(c.location ? c.location : "") + kRegisters;
    ASSERT_TRUE(std::regex_search(head, m, std::regex(pattern))) << head;
    EXPECT_EQ(c.code, std::stoul(m[1].str(), nullptr, 16));
    unsigned long long address = std::stoull(m[2].str(), nullptr, 16), thread = std::stoull(m[3].str());
    auto threads = crash.facts.equal_range(c.faultingThread);
    EXPECT_TRUE(
        std::any_of(threads.first, threads.second, [&](const auto &fact) { return fact.second == thread; }));
    EXPECT_EQ(std::string::npos, crash.report.find(" in Thread ", m.position(3))) << "a second report";
    if (c.inFunction) {
        EXPECT_GE(address, Fact(crash.facts, "function"));
        EXPECT_LT(address, Fact(crash.facts, "function") + 0x80);
    }

    // One piece per processor, then the system and architecture lines.
    std::string rest = m.suffix();
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    unsigned processors = 0;
    for (std::regex piece("^\r\n[^\r\n]* [^\r\n]* [^\r\n]* \\d+ Mhz"); std::regex_search(rest, m, piece);
         rest = m.suffix())
        ++processors;
    EXPECT_EQ(system.dwNumberOfProcessors, processors);
    OSVERSIONINFOA version = {sizeof(version)};
    GetVersionExA(&version);
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    char osName[256], expected[600];
    snprintf(expected, sizeof(expected), "\r\n%s [%lu.%lu] Build %lu %s\r\n%s Ansi\r\n",
             OsName(osName, QueryEdition()), version.dwMajorVersion, version.dwMinorVersion,
             version.dwBuildNumber, version.szCSDVersion,
             (std::string(kArchitecture) + (wow ? " WOW64" : "")).c_str());
    EXPECT_EQ(expected, rest);

    // The stack names the faulting function with its source file; the log only when one was set.
    std::string stack = ReportSection(crash.report, "Stack");
    EXPECT_NE(std::string::npos, stack.find(std::string(c.function) + "(0x")) << stack;
    EXPECT_NE(std::string::npos, stack.find("CrashProgram.cpp\r\n")) << stack;
    EXPECT_EQ(c.log ? c.log : "<none>", ReportSection(crash.report, "Log"));

    // The program, with its version, among the modules; its threads, with their names, among the threads.
    std::string modules = ReportSection(crash.report, "ModuleList");
    EXPECT_EQ(0u, modules.find("    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n"));
    std::regex program(
        "\r\n *\\d+ 0x[0-9A-F]{8} [ 0-9]{2}\\.\\d{2}\\.\\d{4} [ 0-9]{2}:\\d{2}:\\d{2} 0x[0-9A-F]{8} " +
        std::string(kImageBase) +
        "    3\\.0014\\.00015\\.000000    3\\.0014\\.00015\\.000000 - ([^\r\n]*)\r\n");
    ASSERT_TRUE(std::regex_search(modules, m, program)) << modules.substr(0, 400);
    EXPECT_EQ(0, _stricmp(crash.folder.File("CrashProgram.exe").c_str(), m[1].str().c_str())) << m[1].str();
    std::string threadList = ReportSection(crash.report, "ThreadList");
    EXPECT_EQ(0u, threadList.find("Id         StackBase  StackEnd   StartAddress\r\n"));
    auto row = [&](unsigned long long id) {
        std::smatch found;
        std::regex line("\n(" + std::to_string(id) + " *)" + kAnyAddress + " " + kAnyAddress + " " +
                        kAnyAddress + " ([^\r\n]*)\r\n");
        return std::regex_search(threadList, found, line) && found[1].length() == 11 ? found[2].str()
                                                                                     : "<no row>";
    };
    std::string main = row(Fact(crash.facts, "main"));
    EXPECT_EQ(" CrashProgram main thread", main.substr(main.find(' '))) << threadList;
    EXPECT_EQ("IdleThreadMain ", row(Fact(crash.facts, "idle")));
    auto workers = crash.facts.equal_range("worker");
    for (auto worker = workers.first; worker != workers.second; ++worker)
        EXPECT_EQ("CrashThreadMain " + std::string(99, 'N'), row(worker->second));

    // The dump holds the same exception.
    MinidumpSummary dump;
    ASSERT_TRUE(dump.Read(crash.dump)) << crash.dump.size() << " bytes";
    EXPECT_TRUE(dump.hasException);
    EXPECT_EQ(c.code, dump.code);
    EXPECT_EQ(thread, dump.threadId);
    EXPECT_EQ(address, sizeof(void *) == 8 ? dump.address : dump.address & 0xFFFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(CrashProgram, Faults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return info.param.fault; });

TEST(ReportContents, WithoutExceptionThereIsNoExceptionRegistersOrStackButTheListsAreThere) {
    Crash crash;
    crash.RunFault("none");
    ASSERT_TRUE(crash.ended);
    EXPECT_EQ(0u, crash.runner.ExitCode()) << "WriteReport answers 1 without an upload host";
    EXPECT_EQ(0u, crash.report.find("\r\n")) << crash.report.substr(0, 200);
    EXPECT_EQ(std::string::npos, crash.report.find("AX="));
    EXPECT_EQ("<none>", ReportSection(crash.report, "Stack"));
    EXPECT_NE("<none>", ReportSection(crash.report, "ModuleList"));
    EXPECT_NE("<none>", ReportSection(crash.report, "ThreadList"));
    MinidumpSummary dump;
    EXPECT_TRUE(dump.Read(crash.dump));
    EXPECT_FALSE(dump.hasException);
}

// ---- where the files go ----

TEST(ReportFiles, AreNewFilesNeverWrittenThroughALinkOrAppended) {
    Crash crash;
    // An old report that is a hard link to another file, and an old dump longer than a new one.
    ASSERT_TRUE(crash.folder.WriteFile("victim.txt", "this file must stay as it is"));
    ASSERT_TRUE(CreateHardLinkA(crash.folder.File("CrashProgram_Debug.txt").c_str(),
                                crash.folder.File("victim.txt").c_str(), nullptr));
    ASSERT_TRUE(crash.folder.WriteFile("CrashProgram_Debug.dmp", std::string(8 << 20, 'x')));
    crash.RunFault("write0");
    ASSERT_TRUE(crash.ended);
    EXPECT_EQ("this file must stay as it is", crash.folder.ReadFile("victim.txt"));
    EXPECT_EQ(0u, crash.report.find("Access Violation [0xC0000005]"));
    MinidumpSummary dump;
    EXPECT_TRUE(dump.Read(crash.dump));
    EXPECT_EQ(std::string::npos, crash.dump.find("xxxxxxxx"));
}

// Makes a folder immutable (root ignores permission bits; this binds root too) until destruction, which
// waits until files can be created there again, so that the folder can be removed.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const TempFolder &folder)
        : folder_(folder), unix_(CrashRunner::UnixPathOf(folder.Path())) {}
    ~ImmutableFolder() {
        if (set_ && CrashRunner::RunUnix("/usr/bin/chattr -i \"" + unix_ + "\""))
            CrashRunner::WaitUntil(10000, [&] { return CanCreate(); });
    }
    int Set() {
        set_ = !unix_.empty() && CrashRunner::RunUnix("/usr/bin/chattr +i \"" + unix_ + "\"");
        return set_ && CrashRunner::WaitUntil(5000, [&] { return !CanCreate(); });
    }
    // Each probe has a name of its own: one made just as the folder became immutable stays behind.
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
    int set_ = 0, probes_ = 0;
};

TEST(ReportFiles, WriteProtectedFolderSendsBothToTheTemporaryFolder) {
    Crash crash;
    std::string copy = crash.folder.File("CrashProgram.exe");
    ASSERT_TRUE(CopyFileA((CrashRunner::OwnFolder() + "CrashProgram.exe").c_str(), copy.c_str(), FALSE));
    ImmutableFolder protection(crash.folder);
    if (!protection.Set())
        GTEST_SKIP() << "this machine does not let the test write-protect a folder (chattr +i)";
    ASSERT_TRUE(crash.runner.Start("\"" + copy + "\" write0 \"" + crash.temp.File("facts.txt") + "\"",
                                   crash.temp.Path()));
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
    DWORD64 base = SymLoadModuleEx(self, nullptr, program.c_str(), nullptr, 0, 0, nullptr, 0);
    alignas(8) char buffer[sizeof(SYMBOL_INFO) + 256] = {};
    SYMBOL_INFO *symbol = reinterpret_cast<SYMBOL_INFO *>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = 255;
    uint64_t offset = base && SymFromName(self, name, symbol) ? symbol->Address - base : 0;
    SymCleanup(self);
    return offset;
}

struct Injection {
    const char *name;
    const char *function;   // the remote thread's start, or null for address 0
    uintptr_t parameter;    // what it gets: an address nothing is mapped at
    const char *exception;  // the beginning of the report
    const char *stackStart; // the first frame, or null
};

const Injection kInjections[] = {
    // A jump to 0 is an execute fault at 0.
    {"AtAddressZero", nullptr, 0, "Access Violation [0xC0000005] at " ZERO_ADDRESS " in Thread ", nullptr},
    // A thread routine of ours handed an object that is not there: the stack names it and its source line.
    {"InOurOwnCode", "WorkerThread::Entry", 0x10, "Access Violation [0xC0000005] at 0x",
     "WorkerThread::Entry(0x"},
};

class TarvexFault : public ::testing::TestWithParam<Injection> {};

TEST_P(TarvexFault, LeavesItsReportBesideTheProgramAndEnds) {
    const Injection &c = GetParam();
    ClosedUpdateUrl noUpdateServer;
    LoopbackServer server;
    ASSERT_TRUE(server.Start()) << server.Problem();
    std::string program = CrashRunner::OwnFolder() + "..\\..\\" TARVEX_PROGRAM_FILE;
    uint64_t offset = c.function ? FunctionOffset(program, c.function) : 0;
    ASSERT_TRUE(!c.function || offset) << c.function << " not found in " << program;
    Crash crash;
    std::string copy = crash.folder.File(TARVEX_PROGRAM_FILE);
    ASSERT_TRUE(CopyFileA(program.c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(crash.runner.Start("\"" + copy + "\" -u 20", crash.temp.Path()));
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

    std::string report = CrashRunner::ReadWhole(crash.folder.File(TARVEX_PROGRAM_STEM "_Debug.txt"));
    EXPECT_EQ(0u, report.find(c.exception)) << report.substr(0, 300);
    EXPECT_NE(std::string::npos, report.find(" in Thread " + std::to_string(thread) + ".\r\n"));
    if (!c.function) {
        EXPECT_NE(std::string::npos, report.find(".\r\nExecute at location " ZERO_ADDRESS ".\r\n")) << report;
    }
    MinidumpSummary dump;
    ASSERT_TRUE(dump.Read(CrashRunner::ReadWhole(crash.folder.File(TARVEX_PROGRAM_STEM "_Debug.dmp"))));
    EXPECT_EQ(thread, dump.threadId);
    if (c.stackStart) {
        std::string stack = ReportSection(report, "Stack");
        EXPECT_EQ(0u, stack.find(c.stackStart)) << stack;
        EXPECT_NE(std::string::npos, stack.find("WorkerThread.cpp\r\n")) << stack;
    }
    // Tarvex sets no upload host: nothing goes out.
    EXPECT_EQ(0, server.RequestCount());
}

INSTANTIATE_TEST_SUITE_P(RemoteThread, TarvexFault, ::testing::ValuesIn(kInjections),
                         [](const ::testing::TestParamInfo<Injection> &info) { return info.param.name; });

// ---- what the location line says the program tried ----

struct AccessCase {
    const char *fault;
    const char *kind;
    uint64_t address;
};

// A write to 0 is Faults' first row; an execution at 0 is the thread started there (TarvexFault).
const AccessCase kAccessKinds[] = {
    {"read16", "Read from", 16},
};

class AccessKind : public ::testing::TestWithParam<AccessCase> {};

TEST_P(AccessKind, LocationLineNamesWhatWasTried) {
    const AccessCase &c = GetParam();
    Crash crash;
    crash.RunFault(c.fault);
    ASSERT_TRUE(crash.ended);
    char expected[80];
    snprintf(expected, sizeof(expected), "%s location 0x%0*llX.\r\n", c.kind, int(2 * sizeof(void *)),
             static_cast<unsigned long long>(c.address));
    size_t lineEnd = crash.report.find("\r\n");
    ASSERT_NE(std::string::npos, lineEnd) << crash.report.substr(0, 200);
    EXPECT_EQ(expected, crash.report.substr(lineEnd + 2, strlen(expected)));
}

INSTANTIATE_TEST_SUITE_P(CrashProgram, AccessKind, ::testing::ValuesIn(kAccessKinds),
                         [](const ::testing::TestParamInfo<AccessCase> &info) { return info.param.fault; });

// ---- a second fault while the first one is reported ----

const DWORD kSecondFaultCode = 0xC0000094; // the second thread divides by zero
const double kSecondFaultWaitS = 5.0;

double SecondsSince(unsigned long long fileTime) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (static_cast<double>(ticks) - static_cast<double>(fileTime)) / 1e7;
}

// Every report file (final or temporary name) in a folder.
std::vector<std::string> ReportFilesIn(const char *folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(folder) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name.find("_Debug.") != std::string::npos || name.find(".tmp") != std::string::npos)
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SecondFault, HoldingTheHeapLockEndsTheProcessWithinTheBoundAndLeavesNoHalfFile) {
    Crash crash;
    crash.RunFault("heaplock");
    double seconds = SecondsSince(Fact(crash.facts, "time"));
    ASSERT_TRUE(crash.ended) << "the process hangs";
    EXPECT_EQ(kSecondFaultCode, crash.runner.ExitCode());
    // It gave the report its time, and no more (starting and ending a process take a while too).
    EXPECT_GE(seconds, kSecondFaultWaitS - 0.5);
    EXPECT_LT(seconds, kSecondFaultWaitS + 10);
    // Whatever carries a final name is whole.
    if (!crash.report.empty()) {
        EXPECT_NE("<none>", ReportSection(crash.report, "ThreadList"));
        EXPECT_EQ("\r\n", crash.report.substr(crash.report.size() - 2));
    }
    MinidumpSummary dump;
    EXPECT_TRUE(crash.dump.empty() || dump.Read(crash.dump));
}

// The first report is written and its dialog is up when the second thread faults: the second fault writes
// nothing, in either place, and ends the process once its wait is over.
TEST(SecondFault, WhileTheDialogIsUpWritesNothingAndEndsTheProcess) {
    Crash crash;
    crash.Run("CrashProgram.exe", "afterdialog \"" + crash.folder.File("facts.txt") + "\" 127.0.0.1 /crash");
    EXPECT_TRUE(crash.ended) << "the process hangs";
    EXPECT_EQ(kSecondFaultCode, crash.runner.ExitCode());
    EXPECT_EQ((std::vector<std::string>{"CrashProgram_Debug.dmp", "CrashProgram_Debug.txt"}),
              ReportFilesIn(crash.folder.Path()));
    EXPECT_EQ(std::vector<std::string>(), ReportFilesIn(crash.temp.Path()));
    std::string first = "Access Violation [0xC0000005] at ";
    EXPECT_EQ(0u, crash.report.find(first)) << crash.report.substr(0, 200);
    EXPECT_NE(std::string::npos,
              crash.report.find(" in Thread " + std::to_string(Fact(crash.facts, "main")) + ".\r\n"));
    EXPECT_EQ(std::string::npos, crash.report.find("Integer Divide by Zero"));
}

// ---- a fault while the update check downloads ----

TEST(TarvexFaultDuringUpdate, ReportCompletesAndTheProcessEndsWhileTheAnswerTrickles) {
    LoopbackServer server;
    ASSERT_TRUE(server.Start()) << server.Problem();
    // The answer arrives 16 bytes every 200 ms: the check is still downloading when the fault comes.
    ASSERT_TRUE(server.SetRoute("/data/update.php", 200, std::string(64 * 1024, ' '), "slow:16:200"));
    ClosedUpdateUrl savedUrl;
    std::string url = server.Url("/data/update.php?p=tarvex");
    const char *const kTarvexKey = kTarvexSettingsKey;
    ASSERT_EQ(1, WriteUserString(kTarvexKey, "UpdateUrl", url.c_str()));
    SavedRegistryValue autoUpdate(HKEY_CURRENT_USER, kTarvexKey, "AutoUpdate");
    SavedRegistryValue lastCheck(HKEY_CURRENT_USER, kTarvexKey, "LastCheck");
    ASSERT_EQ(1, WriteUserDword(kTarvexKey, "AutoUpdate", 1));
    ASSERT_EQ(1, DeleteUserValue(kTarvexKey, "LastCheck"));

    Crash crash;
    std::string copy = crash.folder.File(TARVEX_PROGRAM_FILE);
    ASSERT_TRUE(
        CopyFileA((CrashRunner::OwnFolder() + "..\\..\\" TARVEX_PROGRAM_FILE).c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(crash.runner.Start("\"" + copy + "\" -u 20", crash.temp.Path()));
    // Once the query has come, the check waits for the trickling answer until the fault.
    ASSERT_TRUE(CrashRunner::WaitUntil(30000, [&] { return server.RequestCount() > 0; })) << "no query came";
    HANDLE remote = CreateRemoteThread(crash.runner.Process(), nullptr, 0, nullptr, nullptr, 0, nullptr);
    ASSERT_TRUE(remote);
    CloseHandle(remote);
    ASSERT_TRUE(crash.runner.WaitForEnd(kCrashWaitMs)) << "Tarvex did not end";

    std::string report = CrashRunner::ReadWhole(crash.folder.File(TARVEX_PROGRAM_STEM "_Debug.txt"));
    EXPECT_EQ(0u, report.find("Access Violation [0xC0000005]")) << report.substr(0, 300);
    EXPECT_NE("<none>", ReportSection(report, "ThreadList"));
    MinidumpSummary dump;
    EXPECT_TRUE(dump.Read(CrashRunner::ReadWhole(crash.folder.File(TARVEX_PROGRAM_STEM "_Debug.dmp"))));
    EXPECT_EQ(std::vector<std::string>(), ReportFilesIn(crash.temp.Path()));
}

} // namespace

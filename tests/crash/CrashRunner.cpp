// CrashRunner: program start and bounded waits, facts, report sections and minidump reading.
#include "tests/crash/CrashRunner.h"
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// CreateProcessA with the standard handles on NUL; environment may be null (the caller's).
int Launch(const std::string &commandLine, const char *environment, PROCESS_INFORMATION *info) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                  const_cast<char *>(environment), nullptr, &startup, info);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    return started != FALSE;
}

struct WindowSearch {
    DWORD processId;
    const char *caption;
    HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM parameter) {
    WindowSearch *search = reinterpret_cast<WindowSearch *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    if (owner != search->processId || !IsWindowVisible(window) ||
        (search->caption && strcmp(text, search->caption)))
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

CrashFacts ReadFacts(const std::string &path) {
    CrashFacts facts;
    std::ifstream in(path.c_str());
    std::string name;
    unsigned long long value = 0;
    while (in >> name >> value)
        facts.insert({name, value});
    return facts;
}

unsigned long long Fact(const CrashFacts &facts, const char *name) {
    auto found = facts.find(name);
    return found == facts.end() ? 0 : found->second;
}

std::string ReportSection(const std::string &report, const char *name) {
    const char *const kNames[] = {"Stack", "Log", "ModuleList", "ThreadList"};
    size_t start = 0;
    if (*name) {
        start = report.find(std::string("\r\n") + name + ":\r\n");
        if (start == std::string::npos)
            return "<none>";
        start += strlen(name) + 5;
    }
    size_t end = report.size();
    for (const char *other : kNames) {
        size_t at = report.find(std::string("\r\n") + other + ":\r\n", start);
        if (at != std::string::npos && at < end)
            end = at;
    }
    return report.substr(start, end - start);
}

int MinidumpSummary::Read(const std::string &bytes) {
    auto u32 = [&](size_t at) -> uint32_t {
        uint32_t value = 0;
        if (at + 4 <= bytes.size())
            memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    valid = bytes.size() >= 32 && bytes.compare(0, 4, "MDMP") == 0 &&
            u32(12) + static_cast<uint64_t>(u32(8)) * 12 <= bytes.size();
    for (uint32_t i = 0; valid && i < u32(8); ++i) {
        size_t entry = u32(12) + i * 12;
        size_t at = u32(entry + 8);
        // MINIDUMP_EXCEPTION_STREAM: thread id, alignment, then code, flags, record and address.
        if (u32(entry) == 6 && at + 32 <= bytes.size()) {
            hasException = 1;
            threadId = u32(at);
            code = u32(at + 8);
            address = u32(at + 24) | (static_cast<uint64_t>(u32(at + 28)) << 32);
        }
    }
    return valid;
}

int CrashRunner::Start(const std::string &commandLine, const char *tempFolder) {
    Kill();
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (const char *at = strings; at && *at; at += strlen(at) + 1)
        if (!tempFolder || (_strnicmp(at, "TMP=", 4) && _strnicmp(at, "TEMP=", 5)))
            block.append(at).push_back('\0');
    FreeEnvironmentStringsA(strings);
    if (tempFolder)
        block.append("TEMP=")
            .append(tempFolder)
            .append(1, '\0')
            .append("TMP=")
            .append(tempFolder)
            .append(1, '\0');
    block.push_back('\0');
    PROCESS_INFORMATION info = {};
    if (!Launch(commandLine, block.data(), &info))
        return 0;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    exitCode_ = STILL_ACTIVE;
    return 1;
}

int CrashRunner::WaitForEnd(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return 0;
    GetExitCodeProcess(process_, &exitCode_);
    return 1;
}

void CrashRunner::Kill() {
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

HWND CrashRunner::WaitForWindow(const char *caption, DWORD timeoutMs) const {
    WindowSearch search = {processId_, caption, nullptr};
    WaitUntil(timeoutMs, [&] {
        EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

int CrashRunner::RunUnix(const std::string &commandLine) {
    // The process information Wine returns for a Unix program describes no Windows process.
    PROCESS_INFORMATION info = {};
    if (!Launch(commandLine, nullptr, &info))
        return 0;
    for (HANDLE handle : {info.hThread, info.hProcess})
        if (handle)
            CloseHandle(handle);
    return 1;
}

std::string CrashRunner::UnixPathOf(const std::string &windowsPath) {
    typedef char *(CDECL * UnixFileNameFunction)(const WCHAR *);
    UnixFileNameFunction unixFileName = reinterpret_cast<UnixFileNameFunction>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    WCHAR wide[MAX_PATH * 2];
    char *unixPath =
        unixFileName && MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2)
            ? unixFileName(wide)
            : nullptr;
    std::string result = unixPath ? unixPath : "";
    if (unixPath)
        HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::string CrashRunner::ReadWhole(const std::string &path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string CrashRunner::OwnFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length < sizeof(path) ? length : 0);
    return folder.substr(0, folder.rfind('\\') + 1);
}

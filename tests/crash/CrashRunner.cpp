// CrashRunner: program start and bounded waits, facts, report sections and minidump reading.
#include "tests/crash/CrashRunner.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

int CrashFacts::Read(const std::string &path) {
    values.clear();
    std::ifstream in(path.c_str());
    std::string name;
    unsigned long long value = 0;
    while (in >> name >> value)
        values[name].push_back(value);
    return !values.empty();
}

unsigned long long CrashFacts::First(const char *name) const {
    auto found = values.find(name);
    return found == values.end() || found->second.empty() ? 0 : found->second.front();
}

const std::vector<unsigned long long> &CrashFacts::All(const char *name) const {
    static const std::vector<unsigned long long> none;
    auto found = values.find(name);
    return found == values.end() ? none : found->second;
}

ReportSections::ReportSections(const std::string &text) {
    struct Cut {
        const char *header;
        std::string *part;
        int *present;
    };
    const Cut cuts[] = {{"\r\nStack:\r\n", &stack, &hasStack},
                        {"\r\nLog:\r\n", &log, &hasLog},
                        {"\r\nModuleList:\r\n", &modules, &hasModules},
                        {"\r\nThreadList:\r\n", &threads, &hasThreads}};
    // Each section runs to the next header that is present.
    std::vector<std::pair<size_t, const Cut *>> found;
    for (const Cut &cut : cuts) {
        size_t at = text.find(cut.header);
        if (at != std::string::npos)
            found.push_back({at, &cut});
    }
    size_t headEnd = text.size();
    for (auto &entry : found)
        headEnd = entry.first < headEnd ? entry.first : headEnd;
    head = text.substr(0, headEnd);
    for (auto &entry : found) {
        size_t start = entry.first + strlen(entry.second->header);
        size_t end = text.size();
        for (auto &other : found)
            if (other.first > entry.first && other.first < end)
                end = other.first;
        *entry.second->part = text.substr(start, end - start);
        *entry.second->present = 1;
    }
}

int MinidumpSummary::Read(const std::string &bytes) {
    auto u32 = [&](size_t at) -> uint32_t {
        uint32_t value = 0;
        if (at + 4 <= bytes.size())
            memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    valid = bytes.size() >= 32 && bytes.compare(0, 4, "MDMP") == 0;
    if (!valid)
        return 0;
    uint32_t streams = u32(8), directory = u32(12);
    if (directory + static_cast<uint64_t>(streams) * 12 > bytes.size()) {
        valid = 0;
        return 0;
    }
    for (uint32_t i = 0; i < streams; ++i) {
        size_t entry = directory + i * 12;
        if (u32(entry) != 6)
            continue;
        // MINIDUMP_EXCEPTION_STREAM: thread id, alignment, then the exception record (code, flags, record,
        // address).
        size_t at = u32(entry + 8);
        if (at + 32 > bytes.size())
            break;
        hasException = 1;
        threadId = u32(at);
        code = u32(at + 8);
        address = u32(at + 24) | (static_cast<uint64_t>(u32(at + 28)) << 32);
    }
    return 1;
}

CrashRunner::~CrashRunner() {
    Kill();
}

int CrashRunner::Start(const std::string &commandLine, const char *tempFolder) {
    Kill();
    // The child's environment: ours, with its own temporary folder when one is given.
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (const char *at = strings; at && *at; at += strlen(at) + 1) {
        if (tempFolder && (!_strnicmp(at, "TMP=", 4) || !_strnicmp(at, "TEMP=", 5)))
            continue;
        block.append(at).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    if (tempFolder) {
        block.append("TEMP=").append(tempFolder).push_back('\0');
        block.append("TMP=").append(tempFolder).push_back('\0');
    }
    block.push_back('\0');

    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, &block[0], nullptr,
                                  &startup, &info);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started)
        return 0;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    exitCode_ = STILL_ACTIVE;
    return 1;
}

int CrashRunner::WaitForEnd(DWORD timeoutMs) {
    if (!process_)
        return 0;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
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

namespace {
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
    if (owner == search->processId && IsWindowVisible(window) &&
        (!search->caption || !strcmp(text, search->caption))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND CrashRunner::WaitForWindow(const char *caption, DWORD timeoutMs) const {
    WindowSearch search = {processId_, caption, nullptr};
    WaitUntil(timeoutMs, [&] {
        EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

std::string CrashRunner::ReadWhole(const std::string &path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int CrashRunner::Exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int CrashRunner::CopyProgram(const std::string &from, const std::string &to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

std::string CrashRunner::UnixPathOf(const std::string &windowsPath) {
    typedef char *(CDECL * UnixFileNameFunction)(const WCHAR *);
    UnixFileNameFunction unixFileName = reinterpret_cast<UnixFileNameFunction>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    WCHAR wide[MAX_PATH * 2];
    if (!unixFileName || !MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2))
        return std::string();
    char *unixPath = unixFileName(wide);
    if (!unixPath)
        return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

int CrashRunner::RunUnix(const std::string &commandLine) {
    // Wine runs a Unix program natively; the process information it returns describes no Windows process,
    // so the caller looks for the program's effect instead of waiting for it.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    BOOL started =
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (started) {
        if (info.hThread)
            CloseHandle(info.hThread);
        if (info.hProcess)
            CloseHandle(info.hProcess);
    }
    return started != FALSE;
}

std::string CrashRunner::OwnFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length < sizeof(path) ? length : 0);
    size_t slash = folder.rfind('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// ProcessRunner: process start with a private temporary folder, window and thread lookups, bounded waits.
#include "tests/common/ProcessRunner.h"
#include <tlhelp32.h>
#include <algorithm>
#include <cstring>

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

// The caller's environment with TMP and TEMP pointing at folder.
std::string EnvironmentWithTemp(const char *folder) {
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (const char *at = strings; at && *at; at += strlen(at) + 1)
        if (_strnicmp(at, "TMP=", 4) && _strnicmp(at, "TEMP=", 5))
            block.append(at).push_back('\0');
    FreeEnvironmentStringsA(strings);
    for (const char *name : {"TEMP=", "TMP="})
        block.append(name).append(folder).push_back('\0');
    block.push_back('\0');
    return block;
}

struct WindowSearch {
    DWORD processId;
    const char *caption;
    const char *className;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM parameter) {
    WindowSearch *search = reinterpret_cast<WindowSearch *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || window == search->exclude || !IsWindowVisible(window))
        return TRUE;
    char className[64] = {};
    GetClassNameA(window, className, sizeof(className));
    if (search->className && strcmp(className, search->className))
        return TRUE;
    if (search->caption) {
        // A window may tell its state after its name: "Tarvex [1.00] - loading for 0:00:05".
        const std::string text = ProcessRunner::WindowText(window), caption = search->caption;
        if (text != caption && text.compare(0, caption.size() + 3, caption + " - ") != 0)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

} // namespace

ProcessRunner::~ProcessRunner() {
    Kill();
    if (process_)
        CloseHandle(process_);
}

int ProcessRunner::Start(const std::string &commandLine, const char *tempFolder) {
    Kill();
    if (process_)
        CloseHandle(process_);
    process_ = nullptr;
    processId_ = 0;
    exitCode_ = STILL_ACTIVE;
    PROCESS_INFORMATION info = {};
    if (!Launch(commandLine, tempFolder ? EnvironmentWithTemp(tempFolder).data() : nullptr, &info))
        return 0;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    return 1;
}

int ProcessRunner::WaitForEnd(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return 0;
    GetExitCodeProcess(process_, &exitCode_);
    return 1;
}

int ProcessRunner::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void ProcessRunner::Kill() {
    if (Running()) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 10000);
    }
}

HWND ProcessRunner::WaitForWindow(const char *caption, DWORD timeoutMs, const char *className,
                                  HWND exclude) const {
    WindowSearch search = {processId_, caption, className, exclude, nullptr};
    WaitUntil(timeoutMs, [&] {
        EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr || !Running();
    });
    return search.found;
}

std::vector<DWORD> ProcessRunner::ThreadIds() const {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId_)
            ids.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string ProcessRunner::WindowText(HWND window) {
    char text[512] = {};
    DWORD_PTR copied = 0;
    // WM_GETTEXT is copied across processes by the system; a hung program must not hang the test.
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return std::string();
    return text;
}

int ProcessRunner::RunUnix(const std::string &commandLine) {
    // The process information Wine returns for a Unix program describes no Windows process.
    PROCESS_INFORMATION info = {};
    if (!Launch(commandLine, nullptr, &info))
        return 0;
    for (HANDLE handle : {info.hThread, info.hProcess})
        if (handle)
            CloseHandle(handle);
    return 1;
}

std::string ProcessRunner::UnixPathOf(const std::string &windowsPath) {
    // Wine's own export, answering on the process heap; Windows itself has none.
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

std::string ProcessRunner::OwnFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length < sizeof(path) ? length : 0);
    return folder.substr(0, folder.rfind('\\') + 1);
}

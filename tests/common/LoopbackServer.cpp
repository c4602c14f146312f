// LoopbackServer: starting the Python server as a Unix process from under Wine, and its control requests
// over Winsock.
#include "tests/common/LoopbackServer.h"
#include <winsock2.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef TARVEX_SOURCE_DIR
#error "TARVEX_SOURCE_DIR must name the source tree (a Unix path)"
#endif

namespace {
const DWORD kStartWaitMs = 20000;
const DWORD kStopWaitMs = 10000;
const DWORD kSocketTimeoutMs = 10000;

// Wine's own export: the Unix path of a Windows path, on the process heap. Absent on Windows itself, where
// these tests cannot start a Unix program anyway.
typedef char *(CDECL *UnixFileNameFunction)(const WCHAR *);

int FileExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int EqualNoCase(const std::string &a, const char *b) {
    return _stricmp(a.c_str(), b) == 0;
}
} // namespace

std::string LoopbackServer::Request::Header(const char *name) const {
    for (const auto &header : headers) {
        if (EqualNoCase(header.first, name))
            return header.second;
    }
    return std::string();
}

LoopbackServer::LoopbackServer() {
    WSADATA data;
    socketsReady_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

LoopbackServer::~LoopbackServer() {
    Stop();
    if (socketsReady_)
        WSACleanup();
}

void LoopbackServer::ClearProxyVariables() {
    static const char *const kNames[] = {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy",
                                         "HTTP_PROXY", "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY", "NO_PROXY"};
    for (const char *name : kNames) {
        SetEnvironmentVariableA(name, nullptr);
        // The C runtime keeps a copy of its own.
        std::string removal = std::string(name) + "=";
        _putenv(removal.c_str());
    }
}

std::string LoopbackServer::UnixPathOf(const std::string &windowsPath) {
    UnixFileNameFunction unixFileName = reinterpret_cast<UnixFileNameFunction>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixFileName)
        return std::string();
    WCHAR wide[MAX_PATH * 2];
    if (!MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2))
        return std::string();
    char *unixPath = unixFileName(wide);
    if (!unixPath)
        return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

int LoopbackServer::StartUnixProgram(const std::string &command) {
    // Wine runs a Unix program natively from CreateProcessA; the process information it returns describes no
    // Windows process, so the caller learns of its progress through the files it writes.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::string line = command;
    BOOL started =
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    return started != 0;
}

int LoopbackServer::Start(int idleSeconds) {
    Stop();
    problem_.clear();
    ClearProxyVariables();
    if (!socketsReady_ || !folder_.Valid()) {
        problem_ = "no sockets or no state folder";
        return 0;
    }
    DeleteFileA(folder_.File("port").c_str());
    DeleteFileA(folder_.File("stopped").c_str());
    std::string unixFolder = UnixPathOf(folder_.Path());
    if (unixFolder.empty()) {
        problem_ = "no Unix path for the state folder (not running under Wine?)";
        return 0;
    }
    const char *python = getenv("TARVEX_TEST_PYTHON");
    char command[2048];
    snprintf(command, sizeof(command), "%s -u \"%s/tests/update/HttpServer.py\" \"%s\" %d",
             python && *python ? python : "/usr/bin/python3", TARVEX_SOURCE_DIR, unixFolder.c_str(),
             idleSeconds);

    // Wine runs a Unix program natively from CreateProcessA; the process information it returns describes no
    // Windows process, so the server is found through its port file and ended by request.
    if (!StartUnixProgram(command)) {
        problem_ = std::string("CreateProcessA failed for: ") + command;
        return 0;
    }

    const DWORD begin = GetTickCount();
    while (!FileExists(folder_.File("port")) && GetTickCount() - begin < kStartWaitMs)
        Sleep(50);
    int port = atoi(folder_.ReadFile("port").c_str());
    if (port <= 0 || port > 65535) {
        problem_ = "no port within 20 s; server.log: " + folder_.ReadFile("server.log");
        return 0;
    }
    port_ = port;
    return 1;
}

void LoopbackServer::Stop() {
    if (!port_)
        return;
    std::string answer;
    Control("GET", "/_shutdown", {}, std::string(), &answer);
    const DWORD begin = GetTickCount();
    while (!FileExists(folder_.File("stopped")) && GetTickCount() - begin < kStopWaitMs)
        Sleep(20);
    port_ = 0;
}

std::string LoopbackServer::Url(const char *pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + (pathAndQuery ? pathAndQuery : "");
}

int LoopbackServer::Exchange(const std::string &request, int *status, std::string *body) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return 0;
    DWORD timeout = kSocketTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout), sizeof(timeout));
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout), sizeof(timeout));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ok = connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    for (size_t sent = 0; ok && sent < request.size();) {
        int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        ok = n > 0;
        sent += ok ? n : 0;
    }
    std::string reply;
    char chunk[8192];
    for (int n; ok && (n = recv(s, chunk, sizeof(chunk), 0)) > 0;)
        reply.append(chunk, n);
    closesocket(s);
    size_t headerEnd = reply.find("\r\n\r\n");
    if (!ok || reply.compare(0, 5, "HTTP/") != 0 || headerEnd == std::string::npos)
        return 0;
    *status = atoi(reply.c_str() + reply.find(' ') + 1);
    *body = reply.substr(headerEnd + 4);
    return 1;
}

int LoopbackServer::Control(const char *method, const char *path, const std::vector<std::string> &headers,
                            const std::string &body, std::string *answer) {
    if (!port_)
        return 0;
    std::string request = std::string(method) + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    for (const std::string &header : headers)
        request += header + "\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    int status = 0;
    return Exchange(request, &status, answer) && status == 200;
}

int LoopbackServer::SetRoute(const char *path, const Route &route) {
    std::vector<std::string> headers = {std::string("X-Route-Path: ") + path,
                                        "X-Status: " + std::to_string(route.status)};
    if (!route.behaviour.empty())
        headers.push_back("X-Behaviour: " + route.behaviour);
    for (const std::string &header : route.headers)
        headers.push_back("X-Header: " + header);
    std::string answer;
    return Control("PUT", "/_route", headers, route.body, &answer);
}

int LoopbackServer::SetRoute(const char *path, int status, const std::string &body, const char *behaviour) {
    Route route;
    route.status = status;
    route.body = body;
    route.behaviour = behaviour ? behaviour : "";
    return SetRoute(path, route);
}

int LoopbackServer::RequestCount() {
    std::string answer;
    return Control("GET", "/_count", {}, std::string(), &answer) ? atoi(answer.c_str()) : -1;
}

std::vector<LoopbackServer::Request> LoopbackServer::Requests() {
    std::vector<Request> requests;
    const int count = RequestCount();
    for (int i = 0; i < count; ++i) {
        std::string entry;
        if (!Control("GET", ("/_log/" + std::to_string(i)).c_str(), {}, std::string(), &entry))
            break;
        Request request;
        size_t lineEnd = entry.find('\n');
        std::string first = entry.substr(0, lineEnd);
        size_t space1 = first.find(' ');
        size_t space2 = first.find(' ', space1 + 1);
        request.method = first.substr(0, space1);
        request.path = first.substr(space1 + 1, space2 - space1 - 1);
        request.query = first.substr(space2 + 1);
        size_t position = lineEnd + 1;
        while (position < entry.size() && entry[position] != '\n') {
            size_t end = entry.find('\n', position);
            std::string line = entry.substr(position, end - position);
            size_t colon = line.find(": ");
            request.headers.emplace_back(line.substr(0, colon),
                                         colon == std::string::npos ? "" : line.substr(colon + 2));
            position = end + 1;
        }
        request.body = position < entry.size() ? entry.substr(position + 1) : std::string();
        requests.push_back(request);
    }
    return requests;
}

int LoopbackServer::ClearLog() {
    std::string answer;
    return Control("POST", "/_clear", {}, std::string(), &answer);
}

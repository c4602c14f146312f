// LoopbackServer: the tests' own HTTP server (tests/update/HttpServer.py) on 127.0.0.1, started and stopped
// by the test itself. Under Wine, CreateProcessA of a Unix program runs it natively; the server picks a free
// port and writes it to a file of a private state folder, which this side waits for. Routes are scripted and
// the request log read back over plain sockets, so the client under test is never used to check itself.
//
// Classes: LoopbackServer.
#pragma once

#include "base/Win.h"
#include "tests/common/TempFolder.h"
#include <string>
#include <utility>
#include <vector>

class LoopbackServer {
public:
    // One scripted answer. behaviour: "" (plain), "truncate:N", "slow:CHUNK:MS", "repeat:N", "nolength",
    // "range" (see HttpServer.py).
    struct Route {
        int status = 200;
        std::string body;
        std::vector<std::string> headers; // "Name: value"
        std::string behaviour;
    };
    // One recorded request.
    struct Request {
        std::string method;
        std::string path;
        std::string query;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // The first header of that name (letter case ignored); empty when there is none.
        std::string Header(const char *name) const;
    };

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    // Clears the proxy variables of this process (WinINet would honour them), starts the server and waits
    // up to 20 s for its port. idleSeconds: the server ends by itself after that long without a request.
    int Start(int idleSeconds = 60);
    // Asks the server to end and waits up to 10 s for it; also done by the destructor.
    void Stop();
    int Running() const { return port_ != 0; }
    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by pathAndQuery.
    std::string Url(const char *pathAndQuery) const;

    int SetRoute(const char *path, const Route &route);
    int SetRoute(const char *path, int status, const std::string &body, const char *behaviour = "");
    int RequestCount();
    // Every request recorded so far, in arrival order.
    std::vector<Request> Requests();
    int ClearLog();
    // What went wrong when Start failed (for the test's message).
    const std::string &Problem() const { return problem_; }

    // The Unix path of a Windows path (through Wine); empty when there is none.
    static std::string UnixPathOf(const std::string &windowsPath);
    // Starts a Unix program (a command line of Unix paths) detached from this process's output; 1 when it
    // started. Its end cannot be waited for: it tells of its progress through the files it writes.
    static int StartUnixProgram(const std::string &command);
    // Clears http_proxy, https_proxy, ftp_proxy, all_proxy, no_proxy in both letter cases.
    static void ClearProxyVariables();

private:
    // One control exchange over a fresh connection; the answer's status and body. 0 on a socket failure.
    int Exchange(const std::string &request, int *status, std::string *body);
    int Control(const char *method, const char *path, const std::vector<std::string> &headers,
                const std::string &body, std::string *answer);

    TempFolder folder_{"HttpServer"};
    int port_ = 0;
    int socketsReady_ = 0;
    std::string problem_;
};

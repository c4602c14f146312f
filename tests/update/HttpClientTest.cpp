// HttpClient against the tests' own HTTP server on 127.0.0.1: text limits and statuses, file downloads
// (complete bodies only, resume, events, cancel, throttling), general requests and the multipart form bytes.
#include "update/HttpClient.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {
const char kAgent[] = "TarvexTest/1.0";

std::string Pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>('A' + (i * 7 + i / 61) % 26);
    return bytes;
}

// What a callback saw, and how it answers.
struct Events {
    int sending = 0;              // SendRequest's codes rather than FetchFile's
    uint32_t refuse = 0xFFFFFFFF; // this code is answered 0
    uint64_t stopAt = 0;          // progress at or beyond this many bytes is answered 0
    uint32_t resume = 0;          // FetchFile 2: the resume flag to set
    uint32_t keepFile = 0;        // FetchFile 3: clear the delete flag
    uint32_t failedStatus = 0;    // FetchFile 3: the status it carried
    std::string addHeader;        // SendRequest 6: a header added through the hook
    HttpMemoryBlock *block = nullptr;
    uint32_t toFile = 0;
    std::vector<uint32_t> codes;
    std::map<uint32_t, std::string> texts;
    std::map<uint32_t, uint64_t> numbers;
};

uint32_t Record(uint32_t code, void *data, void *user) {
    Events &e = *static_cast<Events *>(user);
    e.codes.push_back(code);
    if (e.sending) {
        if (code <= 2 || code == 4)
            e.numbers[code] = *static_cast<uint64_t *>(data);
        if (code == 6 && !e.addHeader.empty()) {
            auto *hook = static_cast<HttpClient::HeaderHook *>(data);
            const DWORD addFlag = 0x20000000; // HTTP_ADDREQ_FLAG_ADD
            hook->addHeaders(hook->request, e.addHeader.c_str(), static_cast<DWORD>(-1), addFlag);
        }
        if (code == 10)
            *static_cast<uint32_t *>(data) = e.toFile;
        if (code == 12)
            *static_cast<HttpMemoryBlock **>(data) = e.block;
    } else {
        if (code <= 1)
            e.texts[code] = static_cast<HttpClient::TextPair *>(data)->value;
        if (code == 2)
            *static_cast<uint32_t *>(data) = e.resume;
        if (code == 3) {
            auto *failure = static_cast<HttpClient::FailureData *>(data);
            e.failedStatus = failure->status;
            if (e.keepFile)
                failure->deleteFile = 0;
        }
        if (code == 4 || code == 6)
            e.numbers[code] = *static_cast<uint64_t *>(data);
        if (code == 5 || code == 8)
            e.texts[code] = static_cast<const char *>(data);
    }
    const uint32_t progress = e.sending ? 4 : 6;
    return code == e.refuse || (code == progress && e.stopAt && e.numbers[code] >= e.stopAt) ? 0 : 1;
}

class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new LoopbackServer;
        started_ = server_->Start();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(started_) << server_->Problem();
        ASSERT_TRUE(folder_.Valid());
        ASSERT_TRUE(server_->ClearLog());
    }
    // Every operation gives its load back. (The module itself may stay a while: Wine's WinINet holds itself
    // loaded while its pool keeps idle connections.)
    void TearDown() override { EXPECT_EQ(0, client_.LoadCount()); }
    std::string Url(const char *path) { return server_->Url(path); }
    int FileExists(const std::string &path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    int Fetch(const char *path, const std::string &target, uint32_t limit = 0, Events *events = nullptr,
              uint32_t *status = nullptr, const char *headers = nullptr, uint32_t rateKb = 0) {
        return client_.FetchFile(Url(path).c_str(), kAgent, target.c_str(), limit, events ? Record : nullptr,
                                 events, headers, headers ? static_cast<uint32_t>(-1) : 0, status,
                                 HttpClient::kNoTimeout, rateKb, nullptr);
    }
    int Send(const char *path, const char *verb, const char *headers, const std::string &body,
             TextString *out, Events *events, uint32_t *status, uint32_t service = HttpClient::kServiceHttp) {
        return client_.SendRequest("127.0.0.1", path, kAgent, out, nullptr, 0, nullptr, nullptr, nullptr,
                                   nullptr, static_cast<uint16_t>(server_->Port()), service, verb, headers,
                                   static_cast<uint32_t>(-1), body.data(), static_cast<uint32_t>(body.size()),
                                   nullptr, nullptr, nullptr, Record, events, status, 0, 0, nullptr,
                                   HttpClient::kNoTimeout);
    }
    // The one request the server saw since the log was cleared.
    LoopbackServer::Request Only() {
        std::vector<LoopbackServer::Request> requests = server_->Requests();
        EXPECT_EQ(1u, requests.size());
        return requests.empty() ? LoopbackServer::Request() : requests[0];
    }

    static LoopbackServer *server_;
    static int started_;
    HttpClient client_;
    TempFolder folder_{"Http"};
};
LoopbackServer *HttpClientTest::server_ = nullptr;
int HttpClientTest::started_ = 0;
} // namespace

// --- loading and request flags ---------------------------------------------------------------------

TEST_F(HttpClientTest, LoadCountNestsAndNeverGoesBelowZero) {
    ASSERT_EQ(1, client_.LoadWinInet());
    ASSERT_EQ(1, client_.LoadWinInet());
    EXPECT_EQ(2, client_.LoadCount());
    EXPECT_NE(nullptr, GetModuleHandleA("wininet.dll"));
    EXPECT_EQ(1, client_.UnloadWinInet());
    EXPECT_EQ(0, client_.UnloadWinInet());
    EXPECT_EQ(0, client_.UnloadWinInet());
    // Unloading also drops form parts that were never posted.
    ASSERT_EQ(1, client_.AddFormField("a", "b"));
    client_.UnloadWinInet();
    EXPECT_EQ(nullptr, client_.FormParts());
}

TEST_F(HttpClientTest, RequestFlags) {
    struct Case {
        const char *url;
        int cookies;
        uint32_t flags;
    } cases[] = {
        {"http://127.0.0.1/", 0, 0x84080B00},
        {"https://example.invalid/", 0, 0x84880B00},
        {"HtTpS://x/", 1, 0x84800B00},
        {"http://https.invalid/", 0, 0x84080B00},
        {"https:/x", 0, 0x84080B00},
        {"ftp://x/", 1, 0x84000B00},
        {"", 0, 0x84080B00},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.flags, HttpClient::TextRequestFlags(c.url, c.cookies)) << c.url;
    struct PortCase {
        uint16_t port;
        int cookies, redirects;
        uint32_t flags;
    } ports[] = {
        {443, 1, 1, 0x84800300}, {80, 1, 1, 0x84000300}, {8443, 1, 1, 0x84000300},
        {444, 0, 1, 0x84080300}, {80, 1, 0, 0x84200300}, {443, 0, 0, 0x84A80300},
    };
    for (const PortCase &c : ports)
        EXPECT_EQ(c.flags, HttpClient::SendRequestFlags(c.port, c.cookies, c.redirects)) << c.port;
}

// --- FetchText ---------------------------------------------------------------------------------------

TEST_F(HttpClientTest, FetchTextLimitsAndStatuses) {
    const std::string body = Pattern(100);
    std::string repeated;
    while (repeated.size() < 200000)
        repeated += body;
    repeated.resize(200000);
    LoopbackServer::Route redirect;
    redirect.status = 302;
    redirect.headers = {"Location: /text/plain"};
    ASSERT_TRUE(server_->SetRoute("/text/redirect", redirect));
    struct Case {
        const char *path, *behaviour;
        int status;
        std::string body;
        uint32_t limit;
        int result;
        std::string text;
    } cases[] = {
        {"/text/plain", "", 200, body, 0, 1, body},
        {"/text/limit10", "", 200, body, 10, 1, body.substr(0, 10)},
        {"/text/limitexact", "", 200, body, 100, 1, body},
        {"/text/limitlarger", "", 200, body, 101, 1, body},
        {"/text/huge", "repeat:8000000", 200, body, 10, 1, body.substr(0, 10)},
        {"/text/bigchunks", "repeat:200000", 200, body, 0, 1, repeated},
        {"/text/nolength", "nolength", 200, body, 0, 1, body},
        {"/text/partial", "", 206, body, 0, 1, body},
        {"/text/cut", "truncate:40", 200, body, 0, 0, ""},
        {"/text/cutlimit", "truncate:40", 200, body, 20, 1, body.substr(0, 20)},
        // A limit larger than the body does not excuse a body cut short (an update answer has one).
        {"/text/cutlarger", "truncate:40", 200, body, 4096, 0, ""},
        {"/text/empty", "", 200, "", 0, 0, ""},
        {"/text/missing", "", 404, "gone", 0, 0, ""},
        {"/text/error", "", 500, "broken", 0, 0, ""},
        {"/text/redirect", "", 0, "", 0, 1, body},
    };
    for (const Case &c : cases) {
        if (c.status) {
            ASSERT_TRUE(server_->SetRoute(c.path, c.status, c.body, c.behaviour));
        }
        ASSERT_TRUE(server_->ClearLog());
        TextString text;
        std::string url = Url(c.path) + "?p=tarvex&v=1.0";
        EXPECT_EQ(c.result, client_.FetchText(url.c_str(), kAgent, text, c.limit)) << c.path;
        EXPECT_EQ(c.text, std::string(text.Text(), text.Length())) << c.path;
        LoopbackServer::Request first = server_->Requests().at(0);
        EXPECT_EQ("GET", first.method);
        EXPECT_EQ(c.path, first.path);
        EXPECT_EQ("p=tarvex&v=1.0", first.query);
        EXPECT_EQ(kAgent, first.Header("User-Agent"));
        EXPECT_EQ("*/*", first.Header("Accept"));
    }
    // A port nobody listens on (port 9 on loopback).
    TextString text;
    EXPECT_EQ(0, client_.FetchText("http://127.0.0.1:9/", kAgent, text));
    EXPECT_EQ(0, text.Length());
    EXPECT_NE(0u, strlen(client_.LastErrorText()));
}

// Answers every dialog of this process with one button and counts the dialogs, until told to stop.
struct DialogAnswerer {
    int button = IDOK;
    std::atomic<int> stop{0}, seen{0};

    static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
        DWORD process = 0;
        char name[16] = {};
        GetWindowThreadProcessId(window, &process);
        GetClassNameA(window, name, sizeof(name));
        if (process != GetCurrentProcessId() || !IsWindowVisible(window) || strcmp(name, "#32770") != 0)
            return TRUE;
        *reinterpret_cast<HWND *>(found) = window;
        return FALSE;
    }
    static DWORD WINAPI Run(void *self) {
        DialogAnswerer &a = *static_cast<DialogAnswerer *>(self);
        for (; !a.stop; Sleep(20)) {
            HWND dialog = nullptr;
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
            if (!dialog)
                continue;
            ++a.seen;
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED), 0);
            for (int i = 0; i < 250 && IsWindow(dialog) && IsWindowVisible(dialog); ++i)
                Sleep(20);
        }
        return 0;
    }
};

TEST_F(HttpClientTest, ProxyAuthenticationAsksAtMostTwice) {
    LoopbackServer::Route route;
    route.status = 407;
    route.body = "who are you";
    route.headers = {"Proxy-Authenticate: Basic realm=\"loopback\""};
    ASSERT_TRUE(server_->SetRoute("/proxy/auth", route));
    // The dialog belongs to the foreground window: one of our own.
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, owner);
    SetForegroundWindow(owner);
    // Without a proxy a 407 comes from the server itself: no dialog, a plain failure.
    struct Case {
        int button, proxy, dialogs;
    } cases[] = {{IDOK, 1, 2}, {IDCANCEL, 1, 1}, {IDOK, 0, 0}};
    const std::string proxy = "127.0.0.1:" + std::to_string(server_->Port());
    for (const Case &c : cases) {
        ASSERT_TRUE(server_->ClearLog());
        DialogAnswerer answerer;
        answerer.button = c.button;
        HANDLE thread = CreateThread(nullptr, 0, DialogAnswerer::Run, &answerer, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        TextString text;
        const std::string url = c.proxy ? "http://update.invalid/proxy/auth" : Url("/proxy/auth");
        EXPECT_EQ(0, client_.FetchText(url.c_str(), kAgent, text, 0, c.proxy ? proxy.c_str() : nullptr));
        answerer.stop = 1;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
        EXPECT_EQ(c.dialogs, answerer.seen.load()) << c.button;
        // WinINet itself may send once more with the credentials the dialog stored, never more.
        const int requests = server_->RequestCount();
        EXPECT_GE(requests, std::max(c.dialogs, 1)) << c.button;
        EXPECT_LE(requests, std::max(2 * c.dialogs, 1)) << c.button;
    }
    DestroyWindow(owner);
}

// --- FetchFile ---------------------------------------------------------------------------------------

// A download that fails in any way, the callback's cancel included, leaves no file (not even the one that was
// there) unless the callback keeps it; one that succeeds leaves exactly the body.
TEST_F(HttpClientTest, FetchFileLeavesTheWholeBodyOrNothing) {
    const std::string body = Pattern(200000);
    const uint32_t kNone = 0xFFFFFFFF;
    struct Case {
        const char *path, *behaviour;
        int status;
        uint32_t limit;
        int before; // a file is already at the target; -1: the target's folder does not exist
        int result;
        uint32_t outStatus;
        // With a callback: it answers 0 to this code, or to progress at this many bytes, and keeps the file.
        uint32_t refuse = kNone;
        uint64_t stopAt = 0;
        uint32_t keep = 0;
    } cases[] = {
        {"/file/plain", "", 200, 0, 0, 1, 200},
        {"/file/over", "", 200, 0, 1, 1, 200},
        {"/file/nolength", "nolength", 200, 0, 1, 1, 200},
        {"/file/missing", "", 404, 0, 0, 0, 404},
        {"/file/missingover", "", 404, 0, 1, 0, 404},
        {"/file/cut", "truncate:3000", 200, 0, 0, 0, 200},
        {"/file/cutover", "truncate:1", 200, 0, 1, 0, 200},
        {"/file/limit", "", 200, 4096, 1, 0, 200},
        {"/file/denied", "", 403, 0, 1, 0, 403},
        {"/file/plain", "", 200, 0, -1, 0, HttpClient::kStatusUnopened},
        // The whole slow body takes about half a second: a cancel must end the transfer well before.
        {"/file/slow", "slow:8192:20", 200, 0, 1, 0, 200, kNone, 4096, 0},
        {"/file/slow", "slow:8192:20", 200, 0, 1, 0, 200, kNone, 4096, 1},
        {"/file/slow", "slow:8192:20", 200, 0, 1, 0, 200, 2},
        {"/file/slow", "slow:8192:20", 200, 0, 1, 0, 200, 4},
        {"/file/slow", "slow:8192:20", 200, 0, 1, 0, 200, 7, 0, 1},
        {"/file/slow", "slow:8192:20", 200, 0, 1, 0, 200, 1},
        {"/file/missing", "", 404, 0, 1, 0, 404, kNone, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " refusing " + std::to_string(c.refuse) + " at " +
                     std::to_string(c.stopAt));
        LoopbackServer::Route route;
        route.status = c.status;
        route.body = body;
        route.behaviour = c.behaviour;
        route.headers = {"Content-Type: application/octet-stream"};
        ASSERT_TRUE(server_->SetRoute(c.path, route));
        std::string target = folder_.File(c.before < 0 ? "no-such-folder\\download.bin" : "download.bin");
        DeleteFileA(target.c_str());
        if (c.before > 0) {
            ASSERT_TRUE(folder_.WriteFile("download.bin", Pattern(9000).substr(7)));
        }
        Events events;
        events.refuse = c.refuse;
        events.stopAt = c.stopAt;
        events.keepFile = c.keep;
        const int withCallback = c.refuse != kNone || c.stopAt || c.keep;
        uint32_t status = 0;
        const DWORD begin = GetTickCount();
        EXPECT_EQ(c.result, Fetch(c.path, target, c.limit, withCallback ? &events : nullptr, &status));
        if (c.stopAt) {
            EXPECT_LT(GetTickCount() - begin, 400u);
        }
        EXPECT_EQ(c.outStatus, status);
        if (c.result) {
            EXPECT_EQ(body, folder_.ReadFile("download.bin"));
        } else {
            EXPECT_EQ(static_cast<int>(c.keep), FileExists(target));
        }
        if (withCallback) {
            EXPECT_EQ(1, std::count(events.codes.begin(), events.codes.end(), 3u));
            EXPECT_EQ(c.outStatus, events.failedStatus);
        }
    }
}

TEST_F(HttpClientTest, FetchFileEventsInOrder) {
    const std::string body = Pattern(3000);
    LoopbackServer::Route route, redirect;
    route.body = body;
    route.headers = {"Content-Type: application/x-test",
                     "Content-Disposition: attachment; filename=\"a.zip\""};
    ASSERT_TRUE(server_->SetRoute("/file/events", route));
    redirect.status = 302;
    redirect.headers = {"Location: " + Url("/file/events")};
    ASSERT_TRUE(server_->SetRoute("/file/moved", redirect));

    Events events;
    ASSERT_EQ(1, Fetch("/file/moved", folder_.File("events.bin"), 0, &events));
    EXPECT_EQ(std::vector<uint32_t>({8, 0, 1, 2, 4, 5, 6, 6, 6, 7}), events.codes);
    EXPECT_EQ(Url("/file/moved"), events.texts[8]);
    EXPECT_EQ("attachment; filename=\"a.zip\"", events.texts[0]);
    EXPECT_EQ("application/x-test", events.texts[1]);
    EXPECT_EQ(3000u, events.numbers[4]);
    EXPECT_EQ(Url("/file/events"), events.texts[5]); // the URL after the redirect
    EXPECT_EQ(3000u, events.numbers[6]);
    EXPECT_EQ(body, folder_.ReadFile("events.bin"));
}

TEST_F(HttpClientTest, FetchFileResume) {
    const std::string body = Pattern(6000);
    ASSERT_TRUE(server_->SetRoute("/resume/range", 200, body, "range"));
    ASSERT_TRUE(server_->SetRoute("/resume/full", 200, body, ""));
    ASSERT_TRUE(server_->SetRoute("/resume/nolength", 200, body, "nolength"));
    struct Case {
        const char *path, *headers;
        std::string before;
        uint32_t resume;
    } cases[] = {
        // The server continues the file: the rest is appended.
        {"/resume/range", "Range: bytes=2500-\r\n", body.substr(0, 2500), 1},
        // The server ignores the range and sends everything: it replaces the file instead of following it.
        {"/resume/full", "Range: bytes=2500-\r\n", body.substr(0, 2500), 1},
        // No length: written from the start, and an older, longer file loses its tail.
        {"/resume/nolength", nullptr, Pattern(9000), 1},
        {"/resume/range", nullptr, Pattern(9000), 0},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(server_->ClearLog());
        ASSERT_TRUE(folder_.WriteFile("resume.bin", c.before));
        Events events;
        events.resume = c.resume;
        EXPECT_EQ(1, Fetch(c.path, folder_.File("resume.bin"), 0, &events, nullptr, c.headers)) << c.path;
        EXPECT_EQ(body, folder_.ReadFile("resume.bin")) << c.path;
        EXPECT_EQ(c.headers ? "bytes=2500-" : "", Only().Header("Range"));
    }
}

TEST_F(HttpClientTest, RateLimitVisiblySlowsADownload) {
    const std::string body = Pattern(48 * 1024);
    ASSERT_TRUE(server_->SetRoute("/file/throttled", 200, body));
    DWORD begin = GetTickCount();
    ASSERT_EQ(1, Fetch("/file/throttled", folder_.File("fast.bin")));
    const DWORD fast = GetTickCount() - begin;
    begin = GetTickCount();
    // 48 chunks of 1 KB at 16 KB/s: 47 waits of 62.5 ms, close to 3 s.
    ASSERT_EQ(1, Fetch("/file/throttled", folder_.File("slow.bin"), 0, nullptr, nullptr, nullptr, 16));
    const DWORD slow = GetTickCount() - begin;
    EXPECT_GE(slow, 2000u);
    EXPECT_LT(slow, 10000u);
    EXPECT_LT(fast * 3, slow);
    EXPECT_EQ(body, folder_.ReadFile("slow.bin"));
}

// --- SendRequest -------------------------------------------------------------------------------------

TEST_F(HttpClientTest, SendRequestHeadersBodyAndTargets) {
    const std::string answer = Pattern(150000);
    ASSERT_TRUE(server_->SetRoute("/send/echo", 200, answer));
    ASSERT_TRUE(server_->SetRoute("/send/cut", 200, answer, "truncate:1000"));
    ASSERT_TRUE(server_->SetRoute("/send/missing", 404, "nothing here"));
    HttpMemoryBlock block;
    const std::string body("payload\0with a zero", 19);
    struct Case {
        const char *path, *verb;
        uint32_t target; // 0 text, 1 memory block, 2 file
        int result;
        uint32_t status;
        std::string expected;
    } cases[] = {
        {"/send/echo", "POST", 0, 1, 200, answer},
        {"/send/echo", "PUT", 1, 1, 200, answer},
        {"/send/echo", "POST", 2, 1, 200, answer},
        {"/send/cut", "GET", 0, 0, 200, answer.substr(0, 1000)},
        {"/send/missing", "GET", 0, 1, 404, "nothing here"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(server_->ClearLog());
        block.Clear();
        Events events;
        events.sending = 1;
        events.addHeader = "X-Added: through the hook";
        events.block = c.target == 1 ? &block : nullptr;
        events.toFile = c.target == 2;
        TextString out;
        out.Assign(c.target == 2 ? folder_.File("answer.bin").c_str() : "stale");
        uint32_t status = 0;
        EXPECT_EQ(c.result,
                  Send(c.path, c.verb, "X-Extra: one\r\nX-Other: two\r\n", body, &out, &events, &status))
            << c.path << " " << c.target;
        EXPECT_EQ(c.status, status) << c.path;
        std::string got = c.target == 0   ? std::string(out.Text(), out.Length())
                          : c.target == 1 ? std::string(block.Data(), static_cast<size_t>(block.Length()))
                                          : folder_.ReadFile("answer.bin");
        EXPECT_EQ(c.expected, got) << c.path << " " << c.target;
        EXPECT_EQ(c.expected.size(), events.numbers[4]) << c.path;
        EXPECT_EQ(5u, events.codes.back());
        LoopbackServer::Request request = Only();
        EXPECT_EQ(c.verb, request.method);
        EXPECT_EQ("one", request.Header("X-Extra"));
        EXPECT_EQ("two", request.Header("X-Other"));
        EXPECT_EQ("through the hook", request.Header("X-Added"));
        EXPECT_EQ(body, request.body);
    }
    // Refusing the form length, the header hook or the content length ends the request without reading; a
    // service other than HTTP and FTP sends nothing at all.
    struct Refusal {
        uint32_t refuse, service;
        int requests;
    } refusals[] = {{0, 3, 0}, {6, 3, 0}, {2, 3, 1}, {0xFFFFFFFF, 2, 0}};
    for (const Refusal &r : refusals) {
        ASSERT_TRUE(server_->ClearLog());
        Events events;
        events.sending = 1;
        events.refuse = r.refuse;
        TextString out;
        EXPECT_EQ(0, Send("/send/echo", "GET", nullptr, "", &out, &events, nullptr, r.service)) << r.refuse;
        EXPECT_EQ(0, out.Length());
        EXPECT_EQ(r.requests, server_->RequestCount()) << r.refuse;
        EXPECT_EQ(0, std::count(events.codes.begin(), events.codes.end(), 4u)) << r.refuse;
    }
}

// --- the multipart form ------------------------------------------------------------------------------

TEST_F(HttpClientTest, PostFormBytesArriveExactly) {
    const std::string delimiter = std::string("--") + HttpClient::kBoundary;
    ASSERT_EQ(std::string(31, '-') + "1234567890123", delimiter);
    std::string binary;
    for (int i = 0; i < 200000; ++i)
        binary += static_cast<char>((i * 31 + i / 256) & 0xFF);
    ASSERT_TRUE(folder_.WriteFile("dump.bin", binary));
    ASSERT_TRUE(folder_.WriteFile("empty.txt", ""));
    ASSERT_TRUE(server_->SetRoute("/upload", 200, "thanks"));
    auto field = [&](const std::string &name, const std::string &value) {
        return delimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
               "\r\n";
    };
    auto fileHeader = [&](const std::string &name, const std::string &fileName) {
        return delimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
               fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    };
    const std::string closing = delimiter + "--\r\n";
    const std::string all = field("user", "%s%n%x 100%") + fileHeader("dump", "dump.bin") + binary + "\r\n" +
                            fileHeader("note", "empty.txt") + "\r\n" + field("", "") + closing;
    // Every part, plainly, with events and with a generous upload limit; nothing added: only the closing
    // line; a file that cannot be opened: its header part still goes.
    struct Case {
        int parts, events; // parts: 0 none, 1 every kind, 2 a missing file
        uint32_t uploadKb;
        std::string body;
    } cases[] = {
        {1, 0, 0, all},
        {1, 1, 0, all},
        {1, 0, 100000, all},
        {0, 0, 0, closing},
        {2, 0, 0, fileHeader("f", "file.dmp") + closing},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(server_->ClearLog());
        if (c.parts == 1) {
            ASSERT_EQ(1, client_.AddFormField("user", "%s%n%x 100%"));
            ASSERT_EQ(1, client_.AddFormFile("dump", (std::string(folder_.Path()) + ".\\dump.bin").c_str()));
            ASSERT_EQ(1, client_.AddFormFile("note", folder_.File("empty.txt").c_str()));
            ASSERT_EQ(1, client_.AddFormField(nullptr, nullptr));
        } else if (c.parts == 2) {
            EXPECT_EQ(0, client_.AddFormFile("f", "C:\\no\\such/file.dmp"));
        }
        Events events;
        events.sending = 1;
        TextString out;
        uint32_t status = 0;
        ASSERT_EQ(1, client_.PostForm("127.0.0.1", "/upload", kAgent, &out, nullptr, 0, nullptr, nullptr,
                                      nullptr, nullptr, static_cast<uint16_t>(server_->Port()),
                                      HttpClient::kServiceHttp, nullptr, c.events ? Record : nullptr, &events,
                                      &status, 0, c.uploadKb, nullptr, HttpClient::kNoTimeout));
        EXPECT_EQ(200u, status);
        EXPECT_STREQ("thanks", out.Text());
        EXPECT_EQ(nullptr, client_.FormParts());
        LoopbackServer::Request request = Only();
        EXPECT_EQ("POST", request.method);
        EXPECT_EQ(std::string("multipart/form-data; boundary=") + HttpClient::kBoundary,
                  request.Header("Content-Type"));
        EXPECT_TRUE(request.body == c.body) << "sizes " << request.body.size() << " " << c.body.size();
        if (c.events) {
            EXPECT_EQ(c.body.size(), events.numbers[0]);
            EXPECT_EQ(c.body.size(), events.numbers[1]); // every byte reported as written
        }
    }
}

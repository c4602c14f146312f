// HttpClient: WinINet bound at run time, the three transfers and the multipart form builder.
#include "update/HttpClient.h"
#include "base/ModuleInfo.h"
#include <wininet.h>
#include <cstring>
#include <memory>
#include <new>

// The typed entry point of this client's library; only the declaration of wininet.h is used, never its
// import.
#define WININET(name) library_.Entry<decltype(&::name)>(WinInetLibrary::k##name)

namespace {
const uint32_t kFileFlags = 0x8408CB00;
const uint32_t kSendFlags = 0x84000300;
const uint32_t kNoRedirectFlag = 0x200000;
const uint32_t kChunkLimit = 65537;
const uint32_t kUploadPiece = 65536;
const DWORD kStatusQuery = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
const DWORD kLengthQuery = HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER;
const DWORD kProxyDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

// The transfer buffer of one request; null when memory is short, which fails the request.
std::unique_ptr<char[]> AllocateBuffer() {
    return std::unique_ptr<char[]>(new (std::nothrow) char[HttpClient::kReceiveBufferSize]);
}

// The sinks of the body reader: a text (the chunk made a string first), a file, a memory block.
int KeepInText(const char *bytes, uint32_t count, void *target) {
    const_cast<char *>(bytes)[count] = 0;
    return static_cast<TextString *>(target)->Append(bytes);
}

int KeepInFile(const char *bytes, uint32_t count, void *target) {
    return static_cast<DiskFile *>(target)->Write(count, nullptr, bytes);
}

int KeepInBlock(const char *bytes, uint32_t count, void *target) {
    return static_cast<HttpMemoryBlock *>(target)->Append(bytes, count);
}

int KeepNothing(const char *, uint32_t, void *) {
    return 1;
}

// The bytes a read may take: the rest of the limit when that is smaller than a chunk.
DWORD ChunkSize(uint32_t byteLimit, uint32_t remaining, uint32_t chunk) {
    return byteLimit && remaining < chunk ? remaining : chunk;
}
} // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    CloseInternet();
    form_.Clear();
}

int HttpClient::LoadWinInet() {
    return library_.Load();
}

int HttpClient::UnloadWinInet() {
    form_.Clear();
    return library_.Unload();
}

uint32_t HttpClient::TextRequestFlags(const char *url, int allowCookies) {
    uint32_t flags = kTextFlags;
    if (url && _strnicmp(url, "https://", 8) == 0)
        flags |= kSecureFlag;
    if (allowCookies)
        flags &= ~kNoCookiesFlag;
    return flags;
}

uint32_t HttpClient::SendRequestFlags(uint16_t port, int allowCookies, int allowRedirects) {
    uint32_t flags = kSendFlags;
    if (!allowCookies)
        flags |= kNoCookiesFlag;
    if (!allowRedirects)
        flags |= kNoRedirectFlag;
    // Only the port decides: a host name that merely looks secure must not turn TLS on or off.
    if (port == INTERNET_DEFAULT_HTTPS_PORT)
        flags |= kSecureFlag;
    return flags;
}

int HttpClient::OpenInternet(const char *agent, const char *proxy, uint32_t connectTimeout) {
    const int hasProxy = proxy && *proxy;
    internet_ =
        Own(WININET(InternetOpenA)(agent, hasProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG,
                                   hasProxy ? proxy : nullptr, nullptr, 0));
    if (!internet_)
        return 0;
    if (connectTimeout != kNoTimeout) {
        DWORD value = connectTimeout;
        WININET(InternetSetOptionA)(internet_.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof(value));
    }
    return 1;
}

WinInetHandle HttpClient::Own(InternetHandle handle) {
    return WinInetHandle(handle, WININET(InternetCloseHandle));
}

void HttpClient::CloseInternet() {
    internet_.Reset();
}

// A 407 on a direct connection comes from the server itself, not from a proxy: there is no proxy to log
// in to, and Wine's proxy dialog reads a proxy name that does not exist and crashes the process.
int HttpClient::ThroughProxy(char *buffer) {
    DWORD size = 4096;
    if (!WININET(InternetQueryOptionA)(internet_.Get(), INTERNET_OPTION_PROXY, buffer, &size))
        return 0;
    return reinterpret_cast<INTERNET_PROXY_INFO *>(buffer)->dwAccessType == INTERNET_OPEN_TYPE_PROXY;
}

void HttpClient::NoteLastError() {
    DWORD code = GetLastError();
    ModuleInfo info;
    if (!info.SystemErrorText(code, lastError_))
        lastError_[0] = 0;
}

void HttpClient::Throttle(Stopwatch &watch, int &started, uint32_t bytes, uint32_t limitKb) {
    if (!limitKb)
        return;
    if (started) {
        watch.Stop();
        double wait = bytes * (1.0 / 1024) * (1000.0 / limitKb) - static_cast<double>(watch.ElapsedMs());
        int ms = static_cast<int>(wait);
        if (ms > 0)
            Sleep(static_cast<DWORD>(ms));
    }
    watch.Start();
    started = 1;
}

HttpClient::BodyRead HttpClient::ReadBody(InternetHandle request, char *buffer, uint32_t chunk,
                                          uint32_t byteLimit, const BodySink &sink) {
    BodyRead read;
    Stopwatch watch;
    int watchStarted = 0;
    uint32_t remaining = byteLimit;
    for (;;) {
        DWORD got = 0;
        if (!WININET(InternetReadFile)(request, buffer, ChunkSize(byteLimit, remaining, chunk), &got)) {
            read.complete = 0;
            break;
        }
        read.readOnce = 1;
        if (got == 0)
            break;
        if (!sink.keep(buffer, got, sink.target)) {
            read.complete = 0;
            break;
        }
        read.total += got;
        if (sink.progress && !sink.progress(sink.progressEvent, &read.total, sink.user)) {
            read.cancelled = 1;
            break;
        }
        Throttle(watch, watchStarted, got, sink.rateLimitKb);
        if (byteLimit) {
            remaining -= got;
            if (remaining == 0) {
                read.limitUsed = 1;
                break;
            }
        }
    }
    return read;
}

int HttpClient::CutShort(InternetHandle request, const BodyRead &read) {
    uint32_t length = 0;
    return AnnouncedLength(request, length) && read.total < length;
}

uint32_t HttpClient::StatusOf(InternetHandle request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WININET(HttpQueryInfoA)(request, kStatusQuery, &status, &size, nullptr))
        return 0;
    return status;
}

int HttpClient::AnnouncedLength(InternetHandle request, uint32_t &length) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    const int known = WININET(HttpQueryInfoA)(request, kLengthQuery, &value, &size, nullptr) != 0;
    length = known ? value : 0;
    return known;
}

int HttpClient::ProxyAsksAgain(InternetHandle request, uint32_t status, HWND owner, char *buffer) {
    if (status != HTTP_STATUS_PROXY_AUTH_REQ || !ThroughProxy(buffer))
        return 0;
    return WININET(InternetErrorDlg)(owner ? owner : GetForegroundWindow(), request,
                                     ERROR_INTERNET_INCORRECT_PASSWORD, kProxyDialogFlags,
                                     nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

WinInetHandle HttpClient::OpenUrl(const char *url, const char *headers, DWORD headersLength, DWORD flags) {
    WinInetHandle request =
        Own(WININET(InternetOpenUrlA)(internet_.Get(), url, headers, headersLength, flags, 0));
    if (!request)
        NoteLastError();
    return request;
}

int HttpClient::FetchText(const char *url, const char *agent, TextString &body, uint32_t byteLimit,
                          const char *proxy, HttpEvent callback, void *user) {
    body.Assign("");
    if (!url || !LoadWinInet())
        return 0;
    lastError_[0] = 0;
    int result = 0;
    std::unique_ptr<char[]> buffer = AllocateBuffer();
    if (buffer && OpenInternet(agent, proxy, kNoTimeout)) {
        const int allowCookies = callback && callback(kFetchAllowCookies, const_cast<char *>(url), user) == 1;
        const DWORD flags = TextRequestFlags(url, allowCookies);
        body.Reset(kReceiveBufferSize);
        // The proxy may ask for credentials once more after the dialog; two attempts in all.
        for (int attempt = 0; attempt < 2; ++attempt) {
            WinInetHandle request = OpenUrl(url, "Accept: */*\r\n\r\n", static_cast<DWORD>(-1), flags);
            const uint32_t status = request ? StatusOf(request.Get()) : 0;
            if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
                const BodySink sink = {&KeepInText, &body, nullptr, 0, nullptr, 0};
                const BodyRead read = ReadBody(request.Get(), buffer.get(), kChunkLimit, byteLimit, sink);
                // A connection that ends early leaves a text that merely looks like an answer.
                result =
                    read.total > 0 && read.complete && (read.limitUsed || !CutShort(request.Get(), read));
                break;
            }
            if (!status || !ProxyAsksAgain(request.Get(), status, nullptr, buffer.get()))
                break;
        }
    }
    if (!result)
        body.Assign("");
    CloseInternet();
    UnloadWinInet();
    return result;
}

// FetchFile's arguments, and the status its steps learn (what the failure event reports).
struct HttpClient::FetchCall {
    const char *url;
    const char *targetPath;
    uint32_t byteLimit;
    HttpEvent callback;
    void *user;
    const char *extraHeaders;
    uint32_t extraHeadersLength;
    uint32_t *status;
    uint32_t rateLimitKb;
    uint32_t code;

    // The callback's answer; 1 without a callback.
    uint32_t Ask(uint32_t event, void *data) const { return callback ? callback(event, data, user) : 1; }
    void Report(uint32_t answered) {
        code = answered;
        if (status)
            *status = answered;
    }
};

int HttpClient::FetchFile(const char *url, const char *agent, const char *targetPath, uint32_t byteLimit,
                          HttpEvent callback, void *user, const char *extraHeaders,
                          uint32_t extraHeadersLength, uint32_t *status, uint32_t connectTimeout,
                          uint32_t rateLimitKb, const char *proxy) {
    if (status)
        *status = HTTP_STATUS_OK;
    if (!url || !targetPath || !LoadWinInet())
        return 0;
    lastError_[0] = 0;
    FetchCall call = {url,          targetPath,         byteLimit, callback,    user,
                      extraHeaders, extraHeadersLength, status,    rateLimitKb, HTTP_STATUS_OK};
    int result = 0;
    {
        std::unique_ptr<char[]> buffer = AllocateBuffer();
        DiskFile file;
        if (buffer && OpenInternet(agent, proxy, connectTimeout))
            result = Download(call, file, buffer.get());
    }
    CloseInternet();
    UnloadWinInet();
    if (!result) {
        FailureData failure = {call.code, 1, &result};
        call.Ask(kFetchFailed, &failure);
        if (failure.deleteFile)
            DeleteFileForced(targetPath);
    }
    return result;
}

int HttpClient::Download(FetchCall &call, DiskFile &file, char *buffer) {
    DWORD flags = kFileFlags;
    if (call.callback && call.Ask(kFetchAllowCookies, const_cast<char *>(call.url)) == 1)
        flags &= ~kNoCookiesFlag;
    WinInetHandle request = OpenUrl(call.url, call.extraHeaders, call.extraHeadersLength, flags);
    if (!request)
        return 0;
    const uint32_t answered = StatusOf(request.Get());
    if (!answered)
        return 0;
    call.Report(answered);
    if (answered != HTTP_STATUS_OK && answered != HTTP_STATUS_PARTIAL_CONTENT)
        return 0;
    if (!AnnounceHeaders(call, request.Get(), buffer) || !OpenTarget(call, file, request.Get()) ||
        !AnnounceFinalUrl(call, request.Get(), buffer))
        return 0;

    const BodySink sink = {&KeepInFile, &file, call.callback, kFetchProgress, call.user, call.rateLimitKb};
    const BodyRead read = ReadBody(request.Get(), buffer, kFileChunk, call.byteLimit, sink);
    // Only a complete body counts: a download cut short (by the connection or by the limit) must never be
    // taken for the file.
    int result = read.total > 0 && read.complete && !read.cancelled && !CutShort(request.Get(), read);
    if (result)
        file.SetEnd(); // drops the tail of an older, longer file that was written over
    if (!call.Ask(kFetchDone, nullptr))
        result = 0;
    return result;
}

int HttpClient::AnnounceHeaders(const FetchCall &call, InternetHandle request, char *buffer) {
    // HTTP_QUERY_CUSTOM takes the header's name in the buffer and returns its value there.
    strcpy(buffer, "Content-Disposition");
    DWORD size = 1024;
    if (WININET(HttpQueryInfoA)(request, HTTP_QUERY_CUSTOM, buffer, &size, nullptr)) {
        TextPair pair = {call.targetPath, buffer};
        if (!call.Ask(kFetchDisposition, &pair))
            return 0;
    }
    size = 1024;
    if (WININET(HttpQueryInfoA)(request, HTTP_QUERY_CONTENT_TYPE, buffer, &size, nullptr)) {
        TextPair pair = {call.targetPath, buffer};
        if (!call.Ask(kFetchContentType, &pair))
            return 0;
    }
    return 1;
}

int HttpClient::OpenTarget(FetchCall &call, DiskFile &file, InternetHandle request) {
    uint32_t resume = 0;
    if (!call.Ask(kFetchResume, &resume))
        return 0;
    if (!file.Open(call.targetPath, resume ? DiskFile::WriteAlways : DiskFile::WriteCreate,
                   FILE_FLAG_SEQUENTIAL_SCAN, FILE_SHARE_READ | FILE_SHARE_WRITE)) {
        call.Report(kStatusUnopened);
        return 0;
    }
    uint32_t length = 0;
    const int lengthKnown = AnnouncedLength(request, length);
    // Only a partial answer continues the file; a full answer (the server ignored the range) replaces it, or
    // the old part and the whole file would end up one after the other.
    if (resume && call.code == HTTP_STATUS_PARTIAL_CONTENT) {
        file.Seek(FILE_END, 0);
    } else if (!resume && lengthKnown) {
        // Reserving the whole length up front keeps the file in one piece on disk.
        file.Seek(FILE_BEGIN, length);
        file.SetEnd();
        file.Seek(FILE_BEGIN, 0);
    }
    uint64_t announced = length;
    return call.Ask(kFetchLength, &announced) != 0;
}

int HttpClient::AnnounceFinalUrl(const FetchCall &call, InternetHandle request, char *buffer) {
    DWORD size = 1024;
    if (!WININET(InternetQueryOptionA)(request, INTERNET_OPTION_URL, buffer, &size))
        return 1;
    buffer[size < 1024 ? size : 1023] = 0;
    return call.Ask(kFetchFinalUrl, buffer) != 0;
}

// SendRequest's arguments, as its steps read them.
struct HttpClient::SendCall {
    const char *host;
    const char *objectPath;
    HWND owner;
    const char *userName;
    const char *password;
    const char *proxyUserName;
    const char *proxyPassword;
    uint16_t port;
    uint32_t service;
    const char *verb;
    const char *extraHeaders;
    DWORD headersLength;
    const void *body;
    uint32_t bodyLength;
    const char **acceptTypes;
    FormPart *form;
    void *outputRecord;
    HttpEvent callback;
    void *user;
    uint32_t *status;
    uint32_t byteLimit;
    uint32_t uploadLimitKb;

    // The callback's answer; none without a callback.
    uint32_t Ask(uint32_t event, void *data, uint32_t none) const {
        return callback ? callback(event, data, user) : none;
    }
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(user); }
    void Report(uint32_t answered) const {
        if (answered && status)
            *status = answered;
    }
};

int HttpClient::SendRequest(const char *host, const char *objectPath, const char *agent, TextString *out,
                            HWND owner, uint32_t byteLimit, const char *userName, const char *password,
                            const char *proxyUserName, const char *proxyPassword, uint16_t port,
                            uint32_t service, const char *verb, const char *extraHeaders,
                            uint32_t extraHeadersLength, const void *body, uint32_t bodyLength,
                            const char **acceptTypes, FormPart *form, void *outputRecord, HttpEvent callback,
                            void *user, uint32_t *status, uint32_t downloadLimitKb, uint32_t uploadLimitKb,
                            const char *proxy, uint32_t connectTimeout) {
    if (status)
        *status = HTTP_STATUS_OK;
    if (!LoadWinInet())
        return 0;
    lastError_[0] = 0;
    DWORD headersLength = extraHeaders ? extraHeadersLength : 0;
    if (extraHeaders && extraHeadersLength == static_cast<uint32_t>(-1))
        headersLength = static_cast<DWORD>(strlen(extraHeaders));
    const SendCall call = {host,          objectPath, owner,       userName,     password,     proxyUserName,
                           proxyPassword, port,       service,     verb,         extraHeaders, headersLength,
                           body,          bodyLength, acceptTypes, form,         outputRecord, callback,
                           user,          status,     byteLimit,   uploadLimitKb};

    // Where the body goes: a file named by out, a memory block the callback hands over, the out text.
    uint32_t toFile = 0;
    HttpMemoryBlock *block = nullptr;
    call.Ask(kSendToFile, &toFile, 0);
    call.Ask(kSendMemoryBlock, &block, 0);
    DiskFile file;
    BodySink sink = {&KeepNothing, nullptr, callback, kSendReceived, user, downloadLimitKb};
    if (toFile == 1) {
        if (!out || !file.Open(out->Text(), DiskFile::WriteCreate, FILE_FLAG_SEQUENTIAL_SCAN,
                               FILE_SHARE_READ | FILE_SHARE_WRITE)) {
            UnloadWinInet();
            return 0;
        }
        sink.keep = &KeepInFile;
        sink.target = &file;
    } else if (block) {
        sink.keep = &KeepInBlock;
        sink.target = block;
    } else if (out) {
        out->Assign("");
        sink.keep = &KeepInText;
        sink.target = out;
    }

    int result = 0;
    {
        std::unique_ptr<char[]> buffer = AllocateBuffer();
        if (buffer && OpenInternet(agent, proxy, connectTimeout))
            result = Exchange(call, sink, buffer.get());
    }
    CloseInternet();
    file.Close();
    UnloadWinInet();
    return result;
}

int HttpClient::Exchange(const SendCall &call, const BodySink &sink, char *buffer) {
    WinInetHandle connection = Connect(call);
    if (!connection)
        return 0;
    uint64_t formLength = call.form ? call.form->record.totalLength : 0;
    if (!call.Ask(kSendFormLength, &formLength, 1))
        return 0;
    WinInetHandle request = OpenRequest(call, connection.Get());
    if (!request)
        return 0;
    HeaderHook hook = {reinterpret_cast<AddHeadersFunction>(WININET(HttpAddRequestHeadersA)), request.Get()};
    if (!call.Ask(kSendAddHeaders, &hook, 1))
        return 0;
    if (call.service == kServiceHttp && !SendHttp(call, request.Get(), buffer))
        return 0;
    if (!AnnounceResponse(call, request.Get(), buffer))
        return 0;
    const BodyRead read = ReadBody(request.Get(), buffer, kChunkLimit, call.byteLimit, sink);
    // Stopped by the limit or the callback, the rest was not wanted; otherwise a short body is a failure.
    const int result = read.readOnce && read.complete &&
                       (read.limitUsed || read.cancelled || !CutShort(request.Get(), read));
    call.Ask(kSendEnd, nullptr, 0);
    return result;
}

WinInetHandle HttpClient::Connect(const SendCall &call) {
    WinInetHandle connection =
        Own(WININET(InternetConnectA)(internet_.Get(), call.host, call.port, call.userName, call.password,
                                      call.service, 0, call.Context()));
    if (!connection)
        return connection;
    uint32_t endSession = 0;
    if (call.Ask(kSendConnected, &endSession, 0) == 1 && endSession == 1)
        WININET(InternetSetOptionA)(connection.Get(), INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
    if (call.proxyUserName && *call.proxyUserName)
        WININET(InternetSetOptionA)
    (connection.Get(), INTERNET_OPTION_PROXY_USERNAME, const_cast<char *>(call.proxyUserName),
     static_cast<DWORD>(strlen(call.proxyUserName)));
    if (call.proxyPassword && *call.proxyPassword)
        WININET(InternetSetOptionA)
    (connection.Get(), INTERNET_OPTION_PROXY_PASSWORD, const_cast<char *>(call.proxyPassword),
     static_cast<DWORD>(strlen(call.proxyPassword)));
    return connection;
}

WinInetHandle HttpClient::OpenRequest(const SendCall &call, InternetHandle connection) {
    if (call.service == kServiceFtp)
        return Own(WININET(FtpOpenFileA)(connection, call.objectPath, GENERIC_READ,
                                         INTERNET_FLAG_RELOAD | FTP_TRANSFER_TYPE_BINARY, call.Context()));
    if (call.service != kServiceHttp)
        return WinInetHandle();
    char *path = const_cast<char *>(call.objectPath);
    const int allowCookies = call.Ask(kSendCookies, path, 1) != 0;
    const int allowRedirects = call.Ask(kSendRedirects, path, 1) != 0;
    const char *anyType[] = {"*/*", nullptr};
    WinInetHandle request = Own(
        WININET(HttpOpenRequestA)(connection, call.verb, call.objectPath, nullptr, nullptr,
                                  call.acceptTypes ? call.acceptTypes : anyType,
                                  SendRequestFlags(call.port, allowCookies, allowRedirects), call.Context()));
    if (!request)
        return request;
    uint32_t keepRevocation = 0;
    call.Ask(kSendRevocation, &keepRevocation, 0);
    if (!keepRevocation) {
        DWORD security = SECURITY_FLAG_IGNORE_REVOCATION;
        WININET(InternetSetOptionA)
        (request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
    }
    return request;
}

int HttpClient::UploadForm(const SendCall &call, InternetHandle request) {
    FormTransferRecord *first = &call.form->record;
    if (!WININET(HttpSendRequestExA)(request, reinterpret_cast<INTERNET_BUFFERSA *>(first),
                                     static_cast<INTERNET_BUFFERSA *>(call.outputRecord), 0x2C, 0))
        return 0;
    uint64_t written = first->dataLength;
    if (!call.Ask(kSendUploaded, &written, 1))
        return 0;
    // Without a callback or a rate limit to serve, each part goes in one write.
    const uint32_t piece = !call.callback && !call.uploadLimitKb ? 0xFFFFFFFF : kUploadPiece;
    Stopwatch watch;
    int watchStarted = 0;
    for (FormTransferRecord *part = first->next; part; part = part->next) {
        const char *data = static_cast<const char *>(part->data);
        for (uint32_t offset = 0; offset < part->dataLength;) {
            const DWORD count = part->dataLength - offset < piece ? part->dataLength - offset : piece;
            DWORD done = 0;
            // A body with a hole would reach the server as a different file: a short write ends the upload
            // rather than skipping the rest of the part.
            if (!WININET(InternetWriteFile)(request, data + offset, count, &done) || done != count)
                return 0;
            offset += done;
            written += done;
            Throttle(watch, watchStarted, done, call.uploadLimitKb);
            if (!call.Ask(kSendUploaded, &written, 1))
                return 0;
        }
    }
    return WININET(HttpEndRequestA)(request, nullptr, HSR_INITIATE, 0) != 0;
}

int HttpClient::SendHttp(const SendCall &call, InternetHandle request, char *buffer) {
    if (call.form) {
        if (!UploadForm(call, request))
            return 0;
    } else if (!WININET(HttpSendRequestA)(request, call.extraHeaders, call.headersLength,
                                          const_cast<void *>(call.body), call.bodyLength)) {
        NoteLastError();
        return 0;
    }
    const uint32_t answered = StatusOf(request);
    call.Report(answered);
    if (!ProxyAsksAgain(request, answered, call.owner, buffer))
        return 1;
    if (!Resend(call, request))
        return 0;
    call.Report(StatusOf(request));
    return 1;
}

int HttpClient::Resend(const SendCall &call, InternetHandle request) {
    void *body = const_cast<void *>(call.body);
    if (WININET(HttpSendRequestA)(request, call.extraHeaders, call.headersLength, body, call.bodyLength))
        return 1;
    // A server that wants a client certificate gets the system's choice of one.
    if (GetLastError() != ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED)
        return 0;
    WININET(InternetSetOptionA)(request, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 0);
    return WININET(HttpSendRequestA)(request, call.extraHeaders, call.headersLength, body, call.bodyLength) !=
           0;
}

int HttpClient::AnnounceResponse(const SendCall &call, InternetHandle request, char *buffer) {
    uint32_t length = 0;
    AnnouncedLength(request, length);
    uint64_t announced = length;
    if (!call.Ask(kSendLength, &announced, 1))
        return 0;
    if (!call.callback)
        return 1;
    for (DWORD index = 0;;) {
        const DWORD before = index;
        DWORD size = 10000;
        if (!WININET(HttpQueryInfoA)(request, HTTP_QUERY_SET_COOKIE, buffer, &size, &index))
            return 1;
        buffer[size < 10000 ? size : 9999] = 0;
        if (!call.Ask(kSendCookie, buffer, 1))
            return 0;
        if (index == before)
            return 1;
    }
}

int HttpClient::AddFormField(const char *name, const char *value) {
    return form_.AddField(name, value);
}

int HttpClient::AddFormFile(const char *name, const char *filePath) {
    return form_.AddFile(name, filePath);
}

int HttpClient::PostForm(const char *host, const char *objectPath, const char *agent, TextString *out,
                         HWND owner, uint32_t byteLimit, const char *userName, const char *password,
                         const char *proxyUserName, const char *proxyPassword, uint16_t port,
                         uint32_t service, const char **acceptTypes, HttpEvent callback, void *user,
                         uint32_t *status, uint32_t downloadLimitKb, uint32_t uploadLimitKb,
                         const char *proxy, uint32_t connectTimeout) {
    FormPart *first = form_.Finish();
    if (!first)
        return 0;
    const int result =
        SendRequest(host, objectPath, agent, out, owner, byteLimit, userName, password, proxyUserName,
                    proxyPassword, port, service, "POST", nullptr, 0, nullptr, 0, acceptTypes, first, nullptr,
                    callback, user, status, downloadLimitKb, uploadLimitKb, proxy, connectTimeout);
    form_.Clear();
    return result;
}

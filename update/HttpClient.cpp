// HttpClient: WinINet bound at run time, the three transfers and the multipart form builder.
#include "update/HttpClient.h"
#include "base/ModuleInfo.h"
#include "base/OwnedChain.h"
#include <wininet.h>
#include <cstring>
#include <memory>
#include <new>

static_assert(sizeof(FormTransferRecord) == sizeof(INTERNET_BUFFERSA),
              "a form record is an INTERNET_BUFFERSA");
static_assert(offsetof(FormTransferRecord, dataLength) == offsetof(INTERNET_BUFFERSA, dwBufferLength),
              "a form record is an INTERNET_BUFFERSA");

namespace {
// The entry table, in the order of kEntryNames.
enum EntryIndex {
    kHttpSendRequestA,
    kHttpSendRequestExA,
    kHttpAddRequestHeadersA,
    kHttpEndRequestA,
    kInternetGetCookieA,
    kInternetSetCookieA,
    kInternetQueryOptionA,
    kInternetOpenA,
    kHttpOpenRequestA,
    kFtpOpenFileA,
    kInternetSetOptionA,
    kHttpQueryInfoA,
    kInternetConnectA,
    kInternetOpenUrlA,
    kInternetCrackUrlA,
    kInternetReadFile,
    kInternetWriteFile,
    kInternetErrorDlg,
    kInternetCloseHandle,
};
const char *const kEntryNames[HttpClient::kEntryCount] = {
    "HttpSendRequestA",   "HttpSendRequestExA", "HttpAddRequestHeadersA", "HttpEndRequestA",
    "InternetGetCookieA", "InternetSetCookieA", "InternetQueryOptionA",   "InternetOpenA",
    "HttpOpenRequestA",   "FtpOpenFileA",       "InternetSetOptionA",     "HttpQueryInfoA",
    "InternetConnectA",   "InternetOpenUrlA",   "InternetCrackUrlA",      "InternetReadFile",
    "InternetWriteFile",  "InternetErrorDlg",   "InternetCloseHandle",
};

template <typename F> F Entry(void *const *table, int index) {
    return reinterpret_cast<F>(table[index]);
}
// The typed entry point of this client's table; only the declaration of wininet.h is used, never its import.
#define WININET(name) Entry<decltype(&::name)>(entries_, k##name)

const uint32_t kFileFlags = 0x8408CB00;
const uint32_t kSendFlags = 0x84000300;
const uint32_t kNoRedirectFlag = 0x200000;
const uint32_t kChunkLimit = 65537;
const uint32_t kUploadPiece = 65536;
const DWORD kStatusQuery = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
const DWORD kLengthQuery = HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER;
const DWORD kProxyDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
const char kDelimiter[] = "-------------------------------1234567890123";
const char kClosing[] = "-------------------------------1234567890123--\r\n";

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

const char HttpClient::kBoundary[] = "-----------------------------1234567890123";
const char HttpClient::kFormContentType[] =
    "Content-Type: multipart/form-data; boundary=-----------------------------1234567890123";

FormPart::FormPart() : record() {
    record.structureSize = sizeof(FormTransferRecord);
}

HttpMemoryBlock::~HttpMemoryBlock() {
    Clear();
}

int HttpMemoryBlock::Append(const void *bytes, uint32_t count) {
    if (length_ + count > capacity_) {
        uint64_t capacity = capacity_ ? capacity_ : 65536;
        while (capacity < length_ + count)
            capacity *= 2;
        if (capacity > 0x7FFFFFFF)
            return 0;
        void *grown = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, static_cast<SIZE_T>(capacity))
                            : HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(capacity));
        if (!grown)
            return 0;
        data_ = static_cast<char *>(grown);
        capacity_ = capacity;
    }
    memcpy(data_ + length_, bytes, count);
    length_ += count;
    return 1;
}

void HttpMemoryBlock::Clear() {
    if (data_)
        HeapFree(GetProcessHeap(), 0, data_);
    data_ = nullptr;
    length_ = 0;
    capacity_ = 0;
}

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    CloseInternet();
    ClearForm();
    library_.Free();
}

int HttpClient::LoadWinInet() {
    if (loadCount_ > 0) {
        ++loadCount_;
        return 1;
    }
    if (!library_.Load("wininet.dll"))
        return 0;
    for (uint32_t i = 0; i < kEntryCount; ++i) {
        entries_[i] = library_.Symbol(kEntryNames[i]);
        if (!entries_[i]) {
            memset(entries_, 0, sizeof(entries_));
            library_.Free();
            loadCount_ = 0;
            return 0;
        }
    }
    loadCount_ = 1;
    return 1;
}

int HttpClient::UnloadWinInet() {
    ClearForm();
    if (loadCount_ == 1) {
        memset(entries_, 0, sizeof(entries_));
        library_.Free();
    }
    if (loadCount_ > 0)
        --loadCount_;
    return loadCount_;
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
    DWORD length = 0;
    DWORD size = sizeof(length);
    return WININET(HttpQueryInfoA)(request, kLengthQuery, &length, &size, nullptr) && read.total < length;
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
        WinInetHandle request;
        const int allowCookies = callback && callback(kFetchAllowCookies, const_cast<char *>(url), user) == 1;
        const DWORD flags = TextRequestFlags(url, allowCookies);
        body.Reset(kReceiveBufferSize);
        // The proxy may ask for credentials once more after the dialog; two attempts in all.
        for (int attempt = 0; attempt < 2; ++attempt) {
            request = Own(WININET(InternetOpenUrlA)(internet_.Get(), url, "Accept: */*\r\n\r\n",
                                                    static_cast<DWORD>(-1), flags, 0));
            if (!request) {
                NoteLastError();
                break;
            }
            DWORD status = 0;
            DWORD size = sizeof(status);
            if (!WININET(HttpQueryInfoA)(request.Get(), kStatusQuery, &status, &size, nullptr))
                break;
            if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
                const BodySink sink = {&KeepInText, &body, nullptr, 0, nullptr, 0};
                const BodyRead read = ReadBody(request.Get(), buffer.get(), kChunkLimit, byteLimit, sink);
                // A connection that ends early leaves a text that merely looks like an answer.
                result =
                    read.total > 0 && read.complete && (read.limitUsed || !CutShort(request.Get(), read));
                break;
            }
            if (status != HTTP_STATUS_PROXY_AUTH_REQ || !ThroughProxy(buffer.get()))
                break;
            DWORD answer =
                WININET(InternetErrorDlg)(GetForegroundWindow(), request.Get(),
                                          ERROR_INTERNET_INCORRECT_PASSWORD, kProxyDialogFlags, nullptr);
            if (answer != ERROR_INTERNET_FORCE_RETRY)
                break;
            request.Reset();
        }
    }
    if (!result)
        body.Assign("");
    CloseInternet();
    UnloadWinInet();
    return result;
}

int HttpClient::FetchFile(const char *url, const char *agent, const char *targetPath, uint32_t byteLimit,
                          HttpEvent callback, void *user, const char *extraHeaders,
                          uint32_t extraHeadersLength, uint32_t *status, uint32_t connectTimeout,
                          uint32_t rateLimitKb, const char *proxy) {
    if (status)
        *status = HTTP_STATUS_OK;
    if (!url || !targetPath || !LoadWinInet())
        return 0;
    lastError_[0] = 0;
    int result = 0;
    uint32_t code = HTTP_STATUS_OK;
    std::unique_ptr<char[]> buffer = AllocateBuffer();
    WinInetHandle request;
    DiskFile file;
    do {
        if (!buffer || !OpenInternet(agent, proxy, connectTimeout))
            break;
        uint32_t flags = kFileFlags;
        if (callback && callback(kFetchAllowCookies, const_cast<char *>(url), user) == 1)
            flags &= ~kNoCookiesFlag;
        request =
            Own(WININET(InternetOpenUrlA)(internet_.Get(), url, extraHeaders, extraHeadersLength, flags, 0));
        if (!request) {
            NoteLastError();
            break;
        }
        DWORD answered = 0;
        DWORD size = sizeof(answered);
        if (!WININET(HttpQueryInfoA)(request.Get(), kStatusQuery, &answered, &size, nullptr))
            break;
        code = answered;
        if (status)
            *status = code;
        if (code != HTTP_STATUS_OK && code != HTTP_STATUS_PARTIAL_CONTENT)
            break;

        // HTTP_QUERY_CUSTOM takes the header's name in the buffer and returns its value there.
        strcpy(buffer.get(), "Content-Disposition");
        size = 1024;
        if (WININET(HttpQueryInfoA)(request.Get(), HTTP_QUERY_CUSTOM, buffer.get(), &size, nullptr)) {
            TextPair pair = {targetPath, buffer.get()};
            if (callback && !callback(kFetchDisposition, &pair, user))
                break;
        }
        size = 1024;
        if (WININET(HttpQueryInfoA)(request.Get(), HTTP_QUERY_CONTENT_TYPE, buffer.get(), &size, nullptr)) {
            TextPair pair = {targetPath, buffer.get()};
            if (callback && !callback(kFetchContentType, &pair, user))
                break;
        }
        uint32_t resume = 0;
        if (callback && !callback(kFetchResume, &resume, user))
            break;
        if (!file.Open(targetPath, resume ? DiskFile::WriteAlways : DiskFile::WriteCreate,
                       FILE_FLAG_SEQUENTIAL_SCAN, FILE_SHARE_READ | FILE_SHARE_WRITE)) {
            code = kStatusUnopened;
            if (status)
                *status = code;
            break;
        }
        DWORD length = 0;
        size = sizeof(length);
        const int lengthKnown = WININET(HttpQueryInfoA)(request.Get(), kLengthQuery, &length, &size, nullptr);
        if (!lengthKnown)
            length = 0;
        // Only a partial answer continues the file; a full answer (the server ignored the range) replaces
        // it, or the old part and the whole file would end up one after the other.
        if (resume && code == HTTP_STATUS_PARTIAL_CONTENT) {
            file.Seek(FILE_END, 0);
        } else if (!resume && lengthKnown) {
            // Reserving the whole length up front keeps the file in one piece on disk.
            file.Seek(FILE_BEGIN, length);
            file.SetEnd();
            file.Seek(FILE_BEGIN, 0);
        }
        uint64_t announced = length;
        if (callback && !callback(kFetchLength, &announced, user))
            break;
        size = 1024;
        if (WININET(InternetQueryOptionA)(request.Get(), INTERNET_OPTION_URL, buffer.get(), &size)) {
            buffer[size < 1024 ? size : 1023] = 0;
            if (callback && !callback(kFetchFinalUrl, buffer.get(), user))
                break;
        }

        const BodySink sink = {&KeepInFile, &file, callback, kFetchProgress, user, rateLimitKb};
        const BodyRead read = ReadBody(request.Get(), buffer.get(), kFileChunk, byteLimit, sink);
        // Only a complete body counts: a download cut short (by the connection or by the limit) must never
        // be taken for the file.
        result = read.total > 0 && read.complete && !read.cancelled && !CutShort(request.Get(), read);
        if (result)
            file.SetEnd(); // drops the tail of an older, longer file that was written over
        if (callback && !callback(kFetchDone, nullptr, user))
            result = 0;
    } while (false);

    file.Close();
    request.Reset();
    CloseInternet();
    UnloadWinInet();
    if (!result) {
        FailureData failure = {code, 1, &result};
        if (callback)
            callback(kFetchFailed, &failure, user);
        if (failure.deleteFile)
            DeleteFileForced(targetPath);
    }
    return result;
}

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
    uint32_t toFile = 0;
    HttpMemoryBlock *block = nullptr;
    if (callback) {
        callback(kSendToFile, &toFile, user);
        callback(kSendMemoryBlock, &block, user);
    }
    DiskFile file;
    if (toFile == 1) {
        if (!out || !file.Open(out->Text(), DiskFile::WriteCreate, FILE_FLAG_SEQUENTIAL_SCAN,
                               FILE_SHARE_READ | FILE_SHARE_WRITE)) {
            UnloadWinInet();
            return 0;
        }
    } else if (!block && out) {
        out->Assign("");
    }

    int result = 0;
    std::unique_ptr<char[]> buffer = AllocateBuffer();
    WinInetHandle connection;
    WinInetHandle request;
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(user);
    const DWORD headersLength = extraHeaders ? (extraHeadersLength == static_cast<uint32_t>(-1)
                                                    ? static_cast<DWORD>(strlen(extraHeaders))
                                                    : extraHeadersLength)
                                             : 0;
    do {
        if (!buffer || !OpenInternet(agent, proxy, connectTimeout))
            break;
        connection = Own(
            WININET(InternetConnectA)(internet_.Get(), host, port, userName, password, service, 0, context));
        if (!connection)
            break;
        uint32_t endSession = 0;
        if (callback && callback(kSendConnected, &endSession, user) == 1 && endSession == 1)
            WININET(InternetSetOptionA)(connection.Get(), INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
        if (proxyUserName && *proxyUserName)
            WININET(InternetSetOptionA)
        (connection.Get(), INTERNET_OPTION_PROXY_USERNAME, const_cast<char *>(proxyUserName),
         static_cast<DWORD>(strlen(proxyUserName)));
        if (proxyPassword && *proxyPassword)
            WININET(InternetSetOptionA)
        (connection.Get(), INTERNET_OPTION_PROXY_PASSWORD, const_cast<char *>(proxyPassword),
         static_cast<DWORD>(strlen(proxyPassword)));
        uint64_t formLength = form ? form->record.totalLength : 0;
        if (callback && !callback(kSendFormLength, &formLength, user))
            break;

        if (service == kServiceHttp) {
            const int allowCookies =
                !callback || callback(kSendCookies, const_cast<char *>(objectPath), user) != 0;
            const int allowRedirects =
                !callback || callback(kSendRedirects, const_cast<char *>(objectPath), user) != 0;
            const char *anyType[] = {"*/*", nullptr};
            request = Own(WININET(HttpOpenRequestA)(
                connection.Get(), verb, objectPath, nullptr, nullptr, acceptTypes ? acceptTypes : anyType,
                SendRequestFlags(port, allowCookies, allowRedirects), context));
            if (!request)
                break;
            uint32_t keepRevocation = 0;
            if (callback)
                callback(kSendRevocation, &keepRevocation, user);
            if (!keepRevocation) {
                DWORD security = SECURITY_FLAG_IGNORE_REVOCATION;
                WININET(InternetSetOptionA)
                (request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
            }
        } else if (service == kServiceFtp) {
            request = Own(WININET(FtpOpenFileA)(connection.Get(), objectPath, GENERIC_READ,
                                                INTERNET_FLAG_RELOAD | FTP_TRANSFER_TYPE_BINARY, context));
            if (!request)
                break;
        } else {
            break;
        }
        HeaderHook hook = {reinterpret_cast<AddHeadersFunction>(entries_[kHttpAddRequestHeadersA]),
                           request.Get()};
        if (callback && !callback(kSendAddHeaders, &hook, user))
            break;

        if (service == kServiceHttp) {
            if (form) {
                FormTransferRecord *first = &form->record;
                if (!WININET(HttpSendRequestExA)(request.Get(), reinterpret_cast<INTERNET_BUFFERSA *>(first),
                                                 static_cast<INTERNET_BUFFERSA *>(outputRecord), 0x2C, 0))
                    break;
                uint64_t written = first->dataLength;
                if (callback && !callback(kSendUploaded, &written, user))
                    break;
                Stopwatch watch;
                int watchStarted = 0;
                int sent = 1;
                for (FormTransferRecord *part = first->next; part && sent; part = part->next) {
                    const char *data = static_cast<const char *>(part->data);
                    if (!callback && !uploadLimitKb) {
                        DWORD done = 0;
                        sent = WININET(InternetWriteFile)(request.Get(), data, part->dataLength, &done) &&
                               done == part->dataLength;
                        written += done;
                        continue;
                    }
                    for (uint32_t offset = 0; offset < part->dataLength && sent;) {
                        DWORD piece = part->dataLength - offset < kUploadPiece ? part->dataLength - offset
                                                                               : kUploadPiece;
                        DWORD done = 0;
                        // A body with a hole would reach the server as a different file: a short write
                        // ends the upload rather than skipping the rest of the part.
                        if (!WININET(InternetWriteFile)(request.Get(), data + offset, piece, &done) ||
                            done != piece) {
                            sent = 0;
                            break;
                        }
                        offset += done;
                        written += done;
                        Throttle(watch, watchStarted, done, uploadLimitKb);
                        if (callback && !callback(kSendUploaded, &written, user))
                            sent = 0;
                    }
                }
                if (!sent || !WININET(HttpEndRequestA)(request.Get(), nullptr, HSR_INITIATE, 0))
                    break;
            } else if (!WININET(HttpSendRequestA)(request.Get(), extraHeaders, headersLength,
                                                  const_cast<void *>(body), bodyLength)) {
                NoteLastError();
                break;
            }

            DWORD answered = 0;
            DWORD size = sizeof(answered);
            if (WININET(HttpQueryInfoA)(request.Get(), kStatusQuery, &answered, &size, nullptr) && status)
                *status = answered;
            if (answered == HTTP_STATUS_PROXY_AUTH_REQ && ThroughProxy(buffer.get())) {
                HWND window = owner ? owner : GetForegroundWindow();
                if (WININET(InternetErrorDlg)(window, request.Get(), ERROR_INTERNET_INCORRECT_PASSWORD,
                                              kProxyDialogFlags, nullptr) == ERROR_INTERNET_FORCE_RETRY) {
                    if (!WININET(HttpSendRequestA)(request.Get(), extraHeaders, headersLength,
                                                   const_cast<void *>(body), bodyLength)) {
                        if (GetLastError() != ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED)
                            break;
                        WININET(InternetSetOptionA)
                        (request.Get(), INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 0);
                        if (!WININET(HttpSendRequestA)(request.Get(), extraHeaders, headersLength,
                                                       const_cast<void *>(body), bodyLength))
                            break;
                    }
                    size = sizeof(answered);
                    if (WININET(HttpQueryInfoA)(request.Get(), kStatusQuery, &answered, &size, nullptr) &&
                        status)
                        *status = answered;
                }
            }
        }

        DWORD length = 0;
        DWORD size = sizeof(length);
        const int lengthKnown = WININET(HttpQueryInfoA)(request.Get(), kLengthQuery, &length, &size, nullptr);
        uint64_t announced = lengthKnown ? length : 0;
        if (callback && !callback(kSendLength, &announced, user))
            break;
        if (callback) {
            int cancelled = 0;
            for (DWORD index = 0; !cancelled;) {
                DWORD before = index;
                size = 10000;
                if (!WININET(HttpQueryInfoA)(request.Get(), HTTP_QUERY_SET_COOKIE, buffer.get(), &size,
                                             &index))
                    break;
                buffer[size < 10000 ? size : 9999] = 0;
                cancelled = !callback(kSendCookie, buffer.get(), user);
                if (index == before)
                    break;
            }
            if (cancelled)
                break;
        }

        BodySink sink = {&KeepNothing, nullptr, callback, kSendReceived, user, downloadLimitKb};
        if (file.Handle() != INVALID_HANDLE_VALUE) {
            sink.keep = &KeepInFile;
            sink.target = &file;
        } else if (block) {
            sink.keep = &KeepInBlock;
            sink.target = block;
        } else if (out) {
            sink.keep = &KeepInText;
            sink.target = out;
        }
        const BodyRead read = ReadBody(request.Get(), buffer.get(), kChunkLimit, byteLimit, sink);
        // Stopped by the limit or the callback, the rest was not wanted; otherwise a short body is a failure.
        result = read.readOnce && read.complete &&
                 (read.limitUsed || read.cancelled || !CutShort(request.Get(), read));
        if (callback)
            callback(kSendEnd, nullptr, user);
    } while (false);

    request.Reset();
    connection.Reset();
    CloseInternet();
    file.Close();
    UnloadWinInet();
    return result;
}

int HttpClient::AppendFormPart(std::unique_ptr<FormPart> part) {
    if (!part)
        return 0;
    FormPart *added = part.get();
    if (formLast_) {
        formLast_->record.next = &added->record;
        formLast_->next = std::move(part);
    } else {
        formFirst_ = std::move(part);
    }
    formLast_ = added;
    return 1;
}

int HttpClient::AddFormField(const char *name, const char *value) {
    std::unique_ptr<FormPart> part(new (std::nothrow) FormPart);
    if (!part)
        return 0;
    // Built by appending: a name or value is data and must never be read as a format.
    TextString &text = part->text;
    const int built = text.Assign(kDelimiter) && text.Append("\r\nContent-Disposition: form-data; name=\"") &&
                      text.Append(name) && text.Append("\"\r\n\r\n") && text.Append(value) &&
                      text.Append("\r\n");
    if (!built)
        return 0;
    part->record.data = text.Text();
    part->record.dataLength = static_cast<uint32_t>(text.Length());
    return AppendFormPart(std::move(part));
}

int HttpClient::AddFormFile(const char *name, const char *filePath) {
    std::unique_ptr<FormPart> header(new (std::nothrow) FormPart);
    if (!header)
        return 0;
    TextString &text = header->text;
    const int built = text.Assign(kDelimiter) && text.Append("\r\nContent-Disposition: form-data; name=\"") &&
                      text.Append(name) && text.Append("\"; filename=\"") &&
                      text.Append(filePath ? FileNamePart(filePath) : "") &&
                      text.Append("\"\r\nContent-Type: application/octet-stream\r\n\r\n");
    if (!built)
        return 0;
    header->record.data = text.Text();
    header->record.dataLength = static_cast<uint32_t>(text.Length());
    AppendFormPart(std::move(header));

    std::unique_ptr<FormPart> content(new (std::nothrow) FormPart);
    std::unique_ptr<FormPart> end(new (std::nothrow) FormPart);
    int ok = content && end && end->text.Assign("\r\n") &&
             content->file.Open(filePath, DiskFile::ReadExisting, 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (ok) {
        uint64_t size = content->file.Size();
        // The record counts 32 bits; and an empty file has no mapping, it is sent as no bytes.
        if (size >= 0xFFFFFFFF)
            ok = 0;
        else if (size > 0)
            ok = (content->record.data = content->file.MapView(0, 0, nullptr, 0)) != nullptr;
        content->record.dataLength = static_cast<uint32_t>(size);
    }
    if (!ok)
        return 0;
    end->record.data = end->text.Text();
    end->record.dataLength = 2;
    AppendFormPart(std::move(content));
    return AppendFormPart(std::move(end));
}

int HttpClient::PostForm(const char *host, const char *objectPath, const char *agent, TextString *out,
                         HWND owner, uint32_t byteLimit, const char *userName, const char *password,
                         const char *proxyUserName, const char *proxyPassword, uint16_t port,
                         uint32_t service, const char **acceptTypes, HttpEvent callback, void *user,
                         uint32_t *status, uint32_t downloadLimitKb, uint32_t uploadLimitKb,
                         const char *proxy, uint32_t connectTimeout) {
    std::unique_ptr<FormPart> closing(new (std::nothrow) FormPart);
    if (!closing || !closing->text.Assign(kClosing)) {
        ClearForm();
        return 0;
    }
    closing->record.data = closing->text.Text();
    closing->record.dataLength = static_cast<uint32_t>(closing->text.Length());
    AppendFormPart(std::move(closing));

    uint64_t total = 0;
    for (FormPart *part = formFirst_.get(); part; part = part->next.get())
        total += part->record.dataLength;
    if (total > 0xFFFFFFFF) {
        ClearForm();
        return 0;
    }
    for (FormPart *part = formFirst_.get(); part; part = part->next.get())
        part->record.totalLength = static_cast<uint32_t>(total);
    formFirst_->record.header = kFormContentType;
    formFirst_->record.headerLength = static_cast<uint32_t>(strlen(kFormContentType));
    formFirst_->record.headersTotal = formFirst_->record.headerLength;

    int result = SendRequest(host, objectPath, agent, out, owner, byteLimit, userName, password,
                             proxyUserName, proxyPassword, port, service, "POST", nullptr, 0, nullptr, 0,
                             acceptTypes, formFirst_.get(), nullptr, callback, user, status, downloadLimitKb,
                             uploadLimitKb, proxy, connectTimeout);
    ClearForm();
    return result;
}

void HttpClient::ClearForm() {
    ReleaseChain(formFirst_);
    formLast_ = nullptr;
}

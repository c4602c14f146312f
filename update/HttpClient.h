// HttpClient: the program's only network code, a synchronous layer over WinINet, which is loaded at run
// time so that the program starts where it is missing. A GET into a text (FetchText), a GET into a file with
// resume, throttling and progress (FetchFile), a general request on a connection to a host (SendRequest,
// HTTP or FTP) and a multipart/form-data builder on top of it (AddFormField, AddFormFile, PostForm, which
// collect the body in an HttpForm).
//
// Classes: HttpClient.
#pragma once

#include "base/Stopwatch.h"
#include "base/TextString.h"
#include "base/Win.h"
#include "update/HttpForm.h"
#include "update/HttpMemoryBlock.h"
#include "update/WinInetLibrary.h"
#include "update/WinInetHandle.h"
#include <cstdint>
#include <memory>

// The caller's callback: (event code, event data, user value) -> answer. What the data points at and what
// the answer means depends on the operation and the code; see the event enums of HttpClient.
typedef uint32_t (*HttpEvent)(uint32_t code, void *data, void *user);

class HttpClient {
public:
    // WinINet's own handle type, kept opaque here.
    typedef void *InternetHandle;
    typedef int(WINAPI *AddHeadersFunction)(InternetHandle request, const char *headers, DWORD length,
                                            DWORD modifiers);

    // Event data that is more than one value.
    struct TextPair { // FetchFile events 0 and 1
        const char *targetPath;
        const char *value;
    };
    struct FailureData { // FetchFile event 3
        uint32_t status;
        uint32_t deleteFile; // 1; the callback clears it to keep the partial file
        int *result;
    };
    struct HeaderHook { // SendRequest event 6
        AddHeadersFunction addHeaders;
        InternetHandle request;
    };

    // FetchFile events. Numbers (content length, bytes so far) are passed as uint64_t *, flags as
    // uint32_t *, texts as const char *.
    enum FetchEvent : uint32_t {
        kFetchDisposition = 0,  // TextPair *; 0 cancels
        kFetchContentType = 1,  // TextPair *; 0 cancels
        kFetchResume = 2,       // uint32_t * resume flag (0) to set to 1; 0 cancels
        kFetchFailed = 3,       // FailureData *; answer ignored
        kFetchLength = 4,       // uint64_t * content length (0 when not reported); 0 cancels
        kFetchFinalUrl = 5,     // const char *; 0 cancels
        kFetchProgress = 6,     // uint64_t * bytes so far; 0 cancels
        kFetchDone = 7,         // null; 0 fails
        kFetchAllowCookies = 8, // const char * URL; exactly 1 allows cookies
    };
    // SendRequest events.
    enum SendEvent : uint32_t {
        kSendFormLength = 0,   // uint64_t * form total length (0 without form); 0 cancels
        kSendUploaded = 1,     // uint64_t * bytes written so far; 0 cancels
        kSendLength = 2,       // uint64_t * content length (0 when not reported); 0 cancels
        kSendCookie = 3,       // const char * Set-Cookie header; 0 cancels
        kSendReceived = 4,     // uint64_t * bytes so far; 0 stops reading
        kSendEnd = 5,          // null; answer ignored
        kSendAddHeaders = 6,   // HeaderHook *; 0 cancels
        kSendConnected = 7,    // uint32_t * flag; answer 1 with flag 1 ends the browser session
        kSendCookies = 8,      // const char * object path; 0 forbids cookies
        kSendRedirects = 9,    // const char * object path; 0 forbids redirects
        kSendToFile = 10,      // uint32_t * flag (0); 1 makes the out text a target file path
        kSendRevocation = 11,  // uint32_t * flag (0); non-zero keeps revocation checking
        kSendMemoryBlock = 12, // HttpMemoryBlock ** slot (null) for a block that takes the response
    };
    enum Service : uint32_t { kServiceFtp = 1, kServiceHttp = 3 };
    enum : uint32_t {
        kNoTimeout = 0xFFFFFFFF,
        kStatusUnopened = 999, // FetchFile: the target file could not be opened
        kReceiveBufferSize = 65538,
        kFileChunk = 1024,
    };
    // Request flags of FetchText (the secure flag is added for "https://").
    enum : uint32_t { kTextFlags = 0x84080B00, kSecureFlag = 0x800000, kNoCookiesFlag = 0x80000 };

    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // 1/0. Loads "wininet.dll" with every entry point, or only counts when loaded already.
    int LoadWinInet();
    // Releases the form parts; frees the library when the count drops to 0. The new count.
    int UnloadWinInet();
    int LoadCount() const { return library_.LoadCount(); }

    // GET of url into body. byteLimit 0: no limit; otherwise reading stops once byteLimit bytes have
    // arrived, so a body of exactly byteLimit bytes may have been longer (a caller that must reject a larger
    // body asks for one byte more than it accepts). 1 when at least one byte arrived and the body is
    // complete: a failed read, or fewer bytes than the announced length without the limit reached, is 0.
    int FetchText(const char *url, const char *agent, TextString &body, uint32_t byteLimit = 0,
                  const char *proxy = nullptr, HttpEvent callback = nullptr, void *user = nullptr);
    // GET of url into targetPath. 1 only when the whole body was written: fewer bytes than the announced
    // length (limit reached or not) or a failed read is a failure, and a failed download leaves no file
    // (a file already there is deleted too) unless the callback clears the delete flag of event 3. A resumed
    // download (event 2) continues the file only when the server answers 206; a full answer replaces it.
    // extraHeadersLength goes to WinINet as it is: -1 takes the text length of extraHeaders.
    int FetchFile(const char *url, const char *agent, const char *targetPath, uint32_t byteLimit = 0,
                  HttpEvent callback = nullptr, void *user = nullptr, const char *extraHeaders = nullptr,
                  uint32_t extraHeadersLength = 0, uint32_t *status = nullptr,
                  uint32_t connectTimeout = kNoTimeout, uint32_t rateLimitKb = 0,
                  const char *proxy = nullptr);
    // A request on a connection to host:port. out receives the body (or is a file path, event 10) and may be
    // null. 1 when a read of the response succeeded and the response is complete: a failed read, or fewer
    // bytes than the announced length when neither the limit nor the callback stopped the reading, is 0, and
    // a failed or short write of a form part ends the request. The HTTP status goes to status, so a 404
    // answer with a body is a 1 with status 404. extraHeadersLength -1: the text length of extraHeaders.
    int SendRequest(const char *host, const char *objectPath, const char *agent, TextString *out, HWND owner,
                    uint32_t byteLimit, const char *userName, const char *password, const char *proxyUserName,
                    const char *proxyPassword, uint16_t port, uint32_t service, const char *verb,
                    const char *extraHeaders, uint32_t extraHeadersLength, const void *body,
                    uint32_t bodyLength, const char **acceptTypes, FormPart *form, void *outputRecord,
                    HttpEvent callback, void *user, uint32_t *status, uint32_t downloadLimitKb,
                    uint32_t uploadLimitKb, const char *proxy, uint32_t connectTimeout);

    // The form builder. Name and value are sent as the bytes they are (never interpreted as a format).
    int AddFormField(const char *name, const char *value);
    // 0 when the file cannot be opened; its header part stays in the list all the same.
    int AddFormFile(const char *name, const char *filePath);
    // POSTs the parts added so far, then the closing line; releases the parts. The result of SendRequest.
    int PostForm(const char *host, const char *objectPath, const char *agent, TextString *out, HWND owner,
                 uint32_t byteLimit, const char *userName, const char *password, const char *proxyUserName,
                 const char *proxyPassword, uint16_t port, uint32_t service, const char **acceptTypes,
                 HttpEvent callback, void *user, uint32_t *status, uint32_t downloadLimitKb,
                 uint32_t uploadLimitKb, const char *proxy, uint32_t connectTimeout);
    void ClearForm() { form_.Clear(); }
    FormPart *FormParts() const { return form_.First(); }
    // The system's text of the last failure of InternetOpenUrlA or HttpSendRequestA; empty when none.
    const char *LastErrorText() const { return lastError_; }

    // The request flags FetchText uses for url (the secure flag for "https://" in any letter case); cookies
    // allowed removes the no-cookies flag.
    static uint32_t TextRequestFlags(const char *url, int allowCookies);
    // The request flags SendRequest opens an HTTP request with.
    static uint32_t SendRequestFlags(uint16_t port, int allowCookies, int allowRedirects);
    // The multipart boundary and the Content-Type header PostForm sends with the first part.
    static constexpr const char *kBoundary = HttpForm::kBoundary;
    static constexpr const char *kFormContentType = HttpForm::kContentType;

private:
    // Where a response body goes and how its reading is watched: keep takes each chunk (0 when it could not
    // be kept); progress, when given, hears progressEvent with the running total after each chunk.
    struct BodySink {
        int (*keep)(const char *bytes, uint32_t count, void *target);
        void *target;
        HttpEvent progress;
        uint32_t progressEvent;
        void *user;
        uint32_t rateLimitKb;
    };
    // How a body reading ended.
    struct BodyRead {
        uint64_t total = 0;
        int readOnce = 0;  // at least one read succeeded, an empty one too
        int complete = 1;  // no read failed and the sink kept every chunk
        int limitUsed = 0; // the byte limit was used up exactly
        int cancelled = 0; // progress answered 0
    };
    // The one body reader of the three transfers: reads chunks of at most chunk bytes (fewer when the rest
    // of byteLimit is smaller) into buffer until a read fails or is empty, the limit is used up, the sink
    // refuses a chunk or progress answers 0; throttled to the sink's rate.
    BodyRead ReadBody(InternetHandle request, char *buffer, uint32_t chunk, uint32_t byteLimit,
                      const BodySink &sink);
    // 1 when the response announced a length and read has less of it: a connection that ended early.
    int CutShort(InternetHandle request, const BodyRead &read);
    // The response's status code (0 when it has none) and its announced length (0 when not reported).
    uint32_t StatusOf(InternetHandle request);
    int AnnouncedLength(InternetHandle request, uint32_t &length);
    // A 407 from a proxy gets the system's credential dialog, owned by owner; 1 when the user asks for the
    // request to be sent again.
    int ProxyAsksAgain(InternetHandle request, uint32_t status, HWND owner, char *buffer);
    int OpenInternet(const char *agent, const char *proxy, uint32_t connectTimeout);
    WinInetHandle OpenUrl(const char *url, const char *headers, DWORD headersLength, DWORD flags);
    // Owns handle, closed through this client's InternetCloseHandle.
    WinInetHandle Own(InternetHandle handle);
    void CloseInternet();
    void NoteLastError();
    int ThroughProxy(char *buffer);
    static void Throttle(Stopwatch &watch, int &started, uint32_t bytes, uint32_t limitKb);

    // FetchFile's steps. FetchCall holds its arguments and what the steps learn on the way.
    struct FetchCall;
    int Download(FetchCall &call, DiskFile &file, char *buffer);
    int AnnounceHeaders(const FetchCall &call, InternetHandle request, char *buffer);
    int OpenTarget(FetchCall &call, DiskFile &file, InternetHandle request);
    int AnnounceFinalUrl(const FetchCall &call, InternetHandle request, char *buffer);

    // SendRequest's steps. SendCall holds its arguments.
    struct SendCall;
    int Exchange(const SendCall &call, const BodySink &sink, char *buffer);
    WinInetHandle Connect(const SendCall &call);
    WinInetHandle OpenRequest(const SendCall &call, InternetHandle connection);
    int UploadForm(const SendCall &call, InternetHandle request);
    int SendHttp(const SendCall &call, InternetHandle request, char *buffer);
    int Resend(const SendCall &call, InternetHandle request);
    int AnnounceResponse(const SendCall &call, InternetHandle request, char *buffer);

    WinInetLibrary library_;
    WinInetHandle internet_;
    HttpForm form_;
    char lastError_[260] = {};
};

// ComInitializer and CreateComObject: COM start-up for the threads that talk to the XML parser and to WMI.
#include "base/ComInitializer.h"
#include "base/DynamicLibrary.h"
#include "base/TextString.h"

int ComInitializer::Start() {
    if (started_)
        return 1;
    typedef HRESULT(WINAPI * CoInitializeExFunction)(void *, DWORD);
    HRESULT result = E_FAIL;
    int tried = 0;
    // Looked up rather than linked: the oldest systems only have CoInitialize.
    DynamicLibrary ole32;
    if (ole32.Load("ole32.dll")) {
        CoInitializeExFunction initializeEx = ole32.Function<CoInitializeExFunction>("CoInitializeEx");
        if (initializeEx) {
            result = initializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
            tried = 1;
        }
    }
    // A thread already in the multi-threaded apartment keeps it; CoInitialize would only fail the same way.
    if (!tried || (FAILED(result) && result != RPC_E_CHANGED_MODE))
        result = CoInitialize(nullptr);
    started_ = SUCCEEDED(result);
    return started_;
}

void ComInitializer::Close() {
    if (!started_)
        return;
    started_ = 0;
    CoUninitialize();
}

int CreateComObject(REFCLSID classId, REFIID interfaceId, void **out) {
    if (!out)
        return 0;
    *out = nullptr;
    const DWORD kAnyServer =
        CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
    if (FAILED(CoCreateInstance(classId, nullptr, kAnyServer, interfaceId, out)) || !*out) {
        *out = nullptr;
        return 0;
    }
    return 1;
}

int CreateComObject(const char *progId, REFIID interfaceId, void **out) {
    if (!out)
        return 0;
    *out = nullptr;
    if (!progId || !*progId)
        return 0;
    TextString name;
    name.Assign(progId);
    const wchar_t *wide = name.Wide();
    CLSID classId;
    if (!wide || FAILED(CLSIDFromProgID(wide, &classId)))
        return 0;
    return CreateComObject(classId, interfaceId, out);
}

// EventObject, security attributes and the 64-bit tick count.
#include "base/EventObject.h"
#include "base/DynamicLibrary.h"
#include "base/OsVersion.h"
#include <atomic>
#include <cstdio>
#include <cstring>

EventObject::EventObject() {
    // The "Global\" namespace exists from Windows 2000 on; NT 4 and the 9x family take the name as it is.
    ntAfterNt4_ = IsAtLeast(kOs2000);
}

int EventObject::Create(int manualReset, int initiallySet, const char *name, int global) {
    Close();
    SECURITY_ATTRIBUTES attributes;
    SECURITY_ATTRIBUTES *useAttributes = nullptr;
    char globalName[MAX_PATH + 8];
    if (name && global && ntAfterNt4_ && BuildSecurityAttributes(nullptr, &attributes, 0)) {
        useAttributes = &attributes;
        snprintf(globalName, sizeof(globalName), "Global\\%s", name);
        name = globalName;
    }
    handle_.Reset(CreateEventA(useAttributes, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, name));
    if (useAttributes)
        HeapFree(GetProcessHeap(), 0, attributes.lpSecurityDescriptor);
    owned_ = handle_.Get() != nullptr;
    return handle_.Get() != nullptr;
}

int EventObject::Set() {
    return handle_.Get() && SetEvent(handle_.Get()) ? 1 : 0;
}

void EventObject::Close() {
    // A handle this object did not open is only forgotten.
    if (!owned_)
        handle_.Release();
    handle_.Reset();
    owned_ = 0;
}

int EventObject::Wait(DWORD ms, int *timedOut, HANDLE second) {
    if (timedOut)
        *timedOut = 0;
    HANDLE handles[2] = {handle_.Get(), second};
    DWORD count = second ? 2 : 1;
    for (;;) {
        DWORD result = WaitForMultipleObjectsEx(count, handles, FALSE, ms, TRUE);
        if (result == WAIT_IO_COMPLETION)
            continue; // an APC ran; wait again with the full time
        if (result < WAIT_OBJECT_0 + count)
            return 1;
        if (result == WAIT_TIMEOUT && timedOut)
            *timedOut = 1;
        return 0;
    }
}

int DispatchPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The thread's own loop must still see the quit request.
            PostQuitMessage(static_cast<int>(message.wParam));
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 1;
}

int EventObject::PumpWait(DWORD ms, HANDLE second) {
    const uint64_t deadline = TickCount64() + ms;
    for (;;) {
        HANDLE handles[2] = {handle_.Get(), second};
        DWORD count = second ? 2 : 1;
        if (ms != INFINITE) {
            uint64_t now = TickCount64();
            if (now > deadline)
                return 0;
            ms = static_cast<DWORD>(deadline - now);
        }
        if (!DispatchPending())
            return 0;
        DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, ms, QS_ALLINPUT | QS_ALLPOSTMESSAGE);
        if (result == WAIT_OBJECT_0 + count)
            continue;
        return result < WAIT_OBJECT_0 + count ? 1 : 0;
    }
}

namespace {
typedef BOOL(WINAPI *InitializeSecurityDescriptorFn)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI *SetSecurityDescriptorDaclFn)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI *ConvertStringSdFn)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR *, PULONG);

struct SecurityFunctions {
    DynamicLibrary library;
    InitializeSecurityDescriptorFn initialize = nullptr;
    SetSecurityDescriptorDaclFn setDacl = nullptr;
    ConvertStringSdFn convert = nullptr;

    SecurityFunctions() {
        if (!library.Load("advapi32.dll"))
            return;
        initialize = library.Function<InitializeSecurityDescriptorFn>("InitializeSecurityDescriptor");
        setDacl = library.Function<SetSecurityDescriptorDaclFn>("SetSecurityDescriptorDacl");
        convert = library.Function<ConvertStringSdFn>("ConvertStringSecurityDescriptorToSecurityDescriptorA");
    }
};

// Looked up once, on first use; function-local statics are initialised thread-safely.
SecurityFunctions &Security() {
    static SecurityFunctions functions;
    return functions;
}
} // namespace

int BuildSecurityAttributes(const char *descriptorText, SECURITY_ATTRIBUTES *attributes, int inherit) {
    if (!attributes)
        return 0;
    SecurityFunctions &functions = Security();
    void *copy = nullptr;
    if (!descriptorText) {
        if (!functions.initialize || !functions.setDacl)
            return 0;
        copy = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SECURITY_DESCRIPTOR_MIN_LENGTH);
        if (!copy)
            return 0;
        if (!functions.initialize(copy, SECURITY_DESCRIPTOR_REVISION) ||
            !functions.setDacl(copy, TRUE, nullptr, FALSE)) {
            HeapFree(GetProcessHeap(), 0, copy);
            return 0;
        }
    } else {
        if (!functions.convert)
            return 0;
        PSECURITY_DESCRIPTOR converted = nullptr;
        ULONG length = 0;
        if (!functions.convert(descriptorText, 1 /* SDDL_REVISION_1 */, &converted, &length) || !converted)
            return 0;
        copy = HeapAlloc(GetProcessHeap(), 0, length);
        if (copy)
            memcpy(copy, converted, length);
        LocalFree(converted);
        if (!copy)
            return 0;
    }
    attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes->lpSecurityDescriptor = copy;
    attributes->bInheritHandle = inherit ? TRUE : FALSE;
    return 1;
}

namespace {
typedef ULONGLONG(WINAPI *TickCount64Function)();
// Plain atomics rather than function statics: the program's GetTickCount64 import is served by this
// function (app/main/SystemImports.cpp), also for the thread library behind static initialisation.
std::atomic<int> g_tickLookedUp{0};
std::atomic<TickCount64Function> g_tickCount64{nullptr};
std::atomic<uint64_t> g_lastTick{0};
} // namespace

uint64_t TickCount64() {
    if (!g_tickLookedUp.load(std::memory_order_acquire)) {
        // kernel32 is loaded in every process and never unloaded: no library object has to hold it.
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        g_tickCount64.store(kernel ? reinterpret_cast<TickCount64Function>(
                                         reinterpret_cast<void *>(GetProcAddress(kernel, "GetTickCount64")))
                                   : nullptr);
        g_tickLookedUp.store(1, std::memory_order_release);
    }
    if (TickCount64Function tickCount64 = g_tickCount64.load())
        return tickCount64();
    // Before Vista only the 32-bit count exists, which wraps every 49.7 days: the wraps are carried into
    // the high half, as long as the count is read at least once in that time. A reading slightly older
    // than the last one (another thread stored a later value meanwhile) is no wrap.
    uint64_t last = g_lastTick.load();
    for (;;) {
        const uint32_t low = GetTickCount();
        const uint32_t lastLow = static_cast<uint32_t>(last);
        uint64_t high = last >> 32;
        if (low < lastLow) {
            if (lastLow - low < 0x80000000u)
                return last;
            ++high;
        }
        const uint64_t now = high << 32 | low;
        if (g_lastTick.compare_exchange_weak(last, now))
            return now;
    }
}

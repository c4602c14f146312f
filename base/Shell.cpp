// Shell launchers with a guard against faults inside ShellExecuteExA, and the language identifiers.
#include "base/Shell.h"
#include "base/DynamicLibrary.h"
#include "base/TextString.h"
#include <shellapi.h>

namespace {
// An SEH registration of our own: GCC has no __try on x86, so the frame is linked into the thread's
// handler chain by hand and the handler jumps back to the caller once the inner frames are unwound.
struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record; // first: the system passes its address back as the frame
    void *resume[5];                      // __builtin_setjmp buffer
};

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD *exception, PVOID establisher, CONTEXT *, PVOID) {
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    // RtlUnwind on x86 does not keep ebx, esi and edi, so the frame pointer is re-read from memory.
    GuardFrame *volatile frame = static_cast<GuardFrame *>(establisher);
    // Runs the termination handlers of the frames between the fault and ours (locks inside the shell).
    RtlUnwind(establisher, nullptr, exception, nullptr);
    __builtin_longjmp(frame->resume, 1);
}

// The head of the thread's handler chain lives at fs:[0].
EXCEPTION_REGISTRATION_RECORD *ChainHead() {
    EXCEPTION_REGISTRATION_RECORD *head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head)::"memory");
    return head;
}

void SetChainHead(EXCEPTION_REGISTRATION_RECORD *head) {
    __asm__ __volatile__("movl %0, %%fs:0" ::"r"(head) : "memory");
}

__attribute__((noinline)) int GuardedShellExecute(SHELLEXECUTEINFOA *info) {
    GuardFrame frame;
    frame.record.Next = ChainHead();
    frame.record.Handler = GuardHandler;
    volatile int result = 0;
    if (__builtin_setjmp(frame.resume) == 0) {
        SetChainHead(&frame.record);
        result = ShellExecuteExA(info) != 0;
    }
    SetChainHead(frame.record.Next);
    return result;
}

typedef LANGID(WINAPI *UiLanguageFn)();
} // namespace

int RunProgram(const char *file, const char *parameters, const char *directory, int showCommand, int elevate,
               const char *verb) {
    // Without a file the shell would only put up an error box (no mask flags), and nothing would start.
    if (!file)
        return 0;
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.lpVerb = elevate == 1 ? "runas" : verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = showCommand;
    return GuardedShellExecute(&info);
}

int OpenUrl(const char *url) {
    if (!url || !*url)
        return 0;
    TextString parameters;
    if (!parameters.Format("url.dll,FileProtocolHandler %s", url))
        return 0;
    return RunProgram("rundll32.exe", parameters.Text(), nullptr, SW_SHOWDEFAULT, 0, "open");
}

int OpenDocument(const wchar_t *text) {
    TextString document;
    if (!text || !document.Assign(text) || document.Length() == 0)
        return 0;
    return RunProgram(document.Text(), nullptr, nullptr, SW_SHOWDEFAULT, 0, "open");
}

uint16_t LanguageId(int user, int ui) {
    if (ui)
        return UiLanguageFrom("kernel32.dll", user);
    return user ? GetUserDefaultLangID() : GetSystemDefaultLangID();
}

uint16_t UiLanguageFrom(const char *libraryName, int user) {
    DynamicLibrary library;
    UiLanguageFn get = nullptr;
    if (library.Load(libraryName))
        get =
            library.Function<UiLanguageFn>(user ? "GetUserDefaultUILanguage" : "GetSystemDefaultUILanguage");
    return get ? get() : MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);
}

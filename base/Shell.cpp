// Shell launchers with a guard against faults inside ShellExecuteExA, and the language identifiers.
#include "base/Shell.h"
#include "base/DynamicLibrary.h"
#include "base/TextString.h"
#include <shellapi.h>

#if defined(__x86_64__)
// x64 has no handler chain: a function's handler is recorded in its unwind data. The guarded call is a
// small function of its own whose unwind data names GuardHandler; on a fault below it the handler unwinds
// the frames in between (their termination handlers run, the non-volatile registers come back) to the
// resume point, which returns 0.
extern "C" int TarvexGuardedCall(int (*function)(void *), void *argument);
extern "C" char TarvexGuardedResume[];

extern "C" EXCEPTION_DISPOSITION TarvexGuardHandler(EXCEPTION_RECORD *exception, void *establisher, CONTEXT *,
                                                    DISPATCHER_CONTEXT *dispatcher) {
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    RtlUnwindEx(establisher, TarvexGuardedResume, exception, nullptr, dispatcher->ContextRecord,
                dispatcher->HistoryTable);
    return ExceptionContinueSearch; // not reached
}

__asm__(".text\n"
        ".globl TarvexGuardedCall\n"
        ".def TarvexGuardedCall; .scl 2; .type 32; .endef\n"
        ".seh_proc TarvexGuardedCall\n"
        "TarvexGuardedCall:\n"
        "    subq $40, %rsp\n"
        "    .seh_stackalloc 40\n"
        "    .seh_endprologue\n"
        "    .seh_handler TarvexGuardHandler, @except\n"
        "    movq %rcx, %rax\n"
        "    movq %rdx, %rcx\n"
        "    callq *%rax\n"
        // The return address must not point at the epilogue, or the unwinder takes the frame as leaving.
        "    nop\n"
        ".globl TarvexGuardedResume\n"
        "TarvexGuardedResume:\n"
        "    addq $40, %rsp\n"
        "    ret\n"
        ".seh_endproc\n");

namespace {
#else
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

__attribute__((noinline)) int TarvexGuardedCall(int (*function)(void *), void *argument) {
    GuardFrame frame;
    frame.record.Next = ChainHead();
    frame.record.Handler = GuardHandler;
    volatile int result = 0;
    if (__builtin_setjmp(frame.resume) == 0) {
        SetChainHead(&frame.record);
        result = function(argument);
    }
    SetChainHead(frame.record.Next);
    return result;
}
#endif

int LaunchThroughShell(void *info) {
    return ShellExecuteExA(static_cast<SHELLEXECUTEINFOA *>(info)) != 0;
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
    return CallWithFaultGuard(&LaunchThroughShell, &info);
}

int CallWithFaultGuard(int (*function)(void *), void *argument) {
    return TarvexGuardedCall(function, argument);
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

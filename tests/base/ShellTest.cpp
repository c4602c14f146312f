// Shell launchers starting real scripts that leave marker files, the fault guard, and the language fall-back.
#include "base/Shell.h"
#include "tests/common/ProcessRunner.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {
// Waits for a launched script's marker file to hold a whole line, at most 30 seconds: the file appears
// before the shell has written into it.
int WaitForFile(const std::string &path) {
    return ProcessRunner::WaitUntil(30000, [&] {
        HANDLE file =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        char buffer[1024];
        DWORD read = 0;
        const BOOL ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr);
        CloseHandle(file);
        return ok && memchr(buffer, '\n', read) != nullptr;
    });
}

// The head of the thread's handler chain on x86, where the guard links a frame in and must take it out;
// x64 records handlers in unwind data and has no chain.
void *ChainHead() {
#ifdef _WIN64
    return nullptr;
#else
    void *head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head)::"memory");
    return head;
#endif
}

int Fault(void *address) {
    return *static_cast<volatile int *>(address);
}

int Answer(void *value) {
    return *static_cast<int *>(value);
}

// A script that writes its working directory into marker.txt in folder.
std::string WriteMarkerScript(const TempFolder &folder, const char *name) {
    std::string script = "@echo off\r\ncd > \"" + folder.File("marker.txt") + "\"\r\n";
    EXPECT_EQ(1, folder.WriteFile(name, script));
    return folder.File(name);
}
} // namespace

TEST(RunProgram, PassesParametersAndDirectory) {
    TempFolder folder("Shell");
    ASSERT_TRUE(folder.Valid());
    std::string work = folder.File("work");
    ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
    std::string parameters = "/c cd > \"" + folder.File("marker.txt") + "\"";
    ASSERT_EQ(1, RunProgram("cmd.exe", parameters.c_str(), work.c_str(), SW_HIDE, 0, "open"));
    ASSERT_TRUE(WaitForFile(folder.File("marker.txt")));
    std::string written = folder.ReadFile("marker.txt");
    EXPECT_EQ(0u, written.find(work)) << written;
}

TEST(RunProgram, FaultInsideTheShellGivesZeroAndKeepsTheHandlerChain) {
    void *before = ChainHead();
    // An unreadable file name makes the shell fault while converting it.
    EXPECT_EQ(0, RunProgram(reinterpret_cast<const char *>(1), nullptr, nullptr, SW_HIDE, 0, "open"));
    EXPECT_EQ(before, ChainHead());
    EXPECT_EQ(0, RunProgram("cmd.exe", reinterpret_cast<const char *>(16), nullptr, SW_HIDE, 0, "open"));
    EXPECT_EQ(before, ChainHead());

    // The thread carries on normally, launches included.
    TempFolder folder("Shell");
    ASSERT_TRUE(folder.Valid());
    std::string parameters = "/c echo ran> \"" + folder.File("marker.txt") + "\"";
    EXPECT_EQ(1, RunProgram("cmd.exe", parameters.c_str(), nullptr, SW_HIDE, 0, "open"));
    EXPECT_TRUE(WaitForFile(folder.File("marker.txt")));
}

TEST(OpenDocument, ConvertsTheWideNameAndOpensIt) {
    TempFolder folder("Shell");
    ASSERT_TRUE(folder.Valid());
    std::string script = WriteMarkerScript(folder, "caf\xE9.cmd");
    wchar_t wide[MAX_PATH];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, script.c_str(), -1, wide, MAX_PATH), 0);
    ASSERT_EQ(1, OpenDocument(wide));
    EXPECT_TRUE(WaitForFile(folder.File("marker.txt")));
}

// Each of these would otherwise leave the shell's error box waiting for a user.
TEST(OpenDocument, NothingToOpen) {
    EXPECT_EQ(0, OpenDocument(nullptr));
    EXPECT_EQ(0, OpenDocument(L""));
    EXPECT_EQ(0, OpenUrl(nullptr));
    EXPECT_EQ(0, OpenUrl(""));
    EXPECT_EQ(0, RunProgram(nullptr, nullptr, nullptr, SW_HIDE, 0, "open"));
}

// rundll32 url.dll,FileProtocolHandler opens a local file like a document, so a script shows the launch.
TEST(OpenUrl, HandsTheAddressToTheProtocolHandler) {
    TempFolder folder("Shell");
    ASSERT_TRUE(folder.Valid());
    if (std::string(folder.Path()).find(' ') != std::string::npos)
        GTEST_SKIP() << "the handler takes the address unquoted";
    std::string script = WriteMarkerScript(folder, "url.cmd");
    ASSERT_EQ(1, OpenUrl(script.c_str()));
    EXPECT_TRUE(WaitForFile(folder.File("marker.txt")));
}

TEST(LanguageId, MissingUiLanguageFunctionMeansEnglish) {
    EXPECT_EQ(9, UiLanguageFrom("user32.dll", 1));
    EXPECT_EQ(9, UiLanguageFrom("user32.dll", 0));
    EXPECT_EQ(9, UiLanguageFrom("tarvex-no-such-library.dll", 1));
}

// The guard itself: a fault inside gives 0 and the caller's own values survive the unwinding (on x64 the
// non-volatile registers come back from the unwind data; a wrong resume point loses them).
TEST(CallWithFaultGuard, FaultGivesZeroAndTheCallerCarriesOn) {
    void *before = ChainHead();
    int value = 42;
    EXPECT_EQ(42, CallWithFaultGuard(&Answer, &value));
    uint64_t a = 0x1111, b = 0x2222, c = 0x3333, d = 0x4444, e = 0x5555, f = 0x6666;
    for (int round = 0; round < 200; ++round) {
        void *bad = reinterpret_cast<void *>(static_cast<uintptr_t>(16 + (round & 7)));
        EXPECT_EQ(0, CallWithFaultGuard(&Fault, bad));
        a += 1, b += 2, c += 3, d += 4, e += 5, f += 6;
    }
    EXPECT_EQ(before, ChainHead());
    EXPECT_EQ(0x1111u + 200, a);
    EXPECT_EQ(0x2222u + 400, b);
    EXPECT_EQ(0x3333u + 600, c);
    EXPECT_EQ(0x4444u + 800, d);
    EXPECT_EQ(0x5555u + 1000, e);
    EXPECT_EQ(0x6666u + 1200, f);
    // Guards nest: the inner one catches, the outer one sees a normal return.
    struct Nested {
        static int Run(void *) { return CallWithFaultGuard(&Fault, nullptr) == 0 ? 7 : 1; }
    };
    EXPECT_EQ(7, CallWithFaultGuard(&Nested::Run, nullptr));
}

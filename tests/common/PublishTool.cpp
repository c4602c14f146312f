// PublishTool: starting the Python tool as a Unix program and waiting (bounded) for what it writes; the
// resource update functions on a copy of the program.
#include "tests/common/PublishTool.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/ProcessRunner.h"

#ifndef TARVEX_SOURCE_DIR
#error "TARVEX_SOURCE_DIR must name the source tree (a Unix path)"
#endif

namespace {
const DWORD kToolWaitMs = 30000;
const WORD kKeyResource = 110; // the program's update key (RCDATA)

// The tool writes its last output under its final name only when everything else is done.
int RunAndWait(const std::string &arguments, const std::string &lastOutput) {
    DeleteFileA(lastOutput.c_str());
    if (!ProcessRunner::RunUnix(
            "/usr/bin/python3 \"" TARVEX_SOURCE_DIR "/scripts/publish-update\" " + arguments))
        return 0;
    const DWORD begin = GetTickCount();
    while (GetFileAttributesA(lastOutput.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - begin > kToolWaitMs)
            return 0;
        Sleep(50);
    }
    return 1;
}
} // namespace

std::string PublishTool::Unix(const std::string &windowsPath) {
    return "\"" + ProcessRunner::UnixPathOf(windowsPath) + "\"";
}

int PublishTool::MakeKeys(const TempFolder &folder, const char *name) {
    const std::string secret = folder.File((std::string(name) + ".key").c_str());
    const std::string pub = folder.File((std::string(name) + ".pub").c_str());
    DeleteFileA(secret.c_str());
    return RunAndWait("keygen " + Unix(secret) + " " + Unix(pub), pub);
}

int PublishTool::MakeAnswer(const TempFolder &work, const std::string &secretKey, const Files &release,
                            const std::string &arguments, std::string &answer) {
    CreateDirectoryA(work.File("release").c_str(), nullptr);
    for (const auto &file : release) {
        if (!work.WriteFile(("release\\" + file.first).c_str(), file.second))
            return 0;
    }
    const std::string out = work.File("published");
    if (!RunAndWait("answer --key " + Unix(secretKey) + " " + arguments + " " + Unix(work.File("release")) +
                        " " + Unix(out),
                    out + "\\update.php"))
        return 0;
    answer = work.ReadFile("published\\update.php");
    return !answer.empty();
}

int PublishTool::SetProgramKey(const std::string &program, const std::string &publicKey) {
    HANDLE file =
        CreateFileA(publicKey.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    char key[33];
    DWORD got = 0;
    const BOOL read = ReadFile(file, key, sizeof key, &got, nullptr);
    CloseHandle(file);
    if (!read || got != 32)
        return 0;
    HANDLE update = BeginUpdateResourceA(program.c_str(), FALSE);
    if (!update)
        return 0;
    // The language of the program's own resource, so that the key is replaced rather than added beside it.
    if (!UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(kKeyResource),
                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), key, 32)) {
        EndUpdateResourceA(update, TRUE);
        return 0;
    }
    return EndUpdateResourceA(update, FALSE) != 0;
}

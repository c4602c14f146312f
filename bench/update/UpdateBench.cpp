// UpdateBench: the update client against the tests' loopback server, in this process: one complete check
// whose answer is not newer, the install of a 5 MB file, what verification costs (the signature check of
// an answer, the hashing of the 5 MB download), and this process's processor use while a download that the
// server sends slowly runs. The questions are answered Yes by a hook of the bench's own on the owner window.
// Run from a copy of itself in a folder of its own (the install writes beside the program); the copy
// carries a key made for the run, and the answers are signed with it by the publishing tool.
//
// Usage: UpdateBench            copies itself to a temporary folder and runs the copy
//        UpdateBench --here     measures, with its own folder as the program's folder
#include "base/ModuleInfo.h"
#include "base/Win.h"
#include "tests/common/LoopbackServer.h"
#include "tests/common/PublishTool.h"
#include "tests/common/TempFolder.h"
#include "ui/SubclassHook.h"
#include "update/FileDigest.h"
#include "update/SignedAnswer.h"
#include "update/UpdateClient.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double NowMs() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int64_t ProcessCpu100ns() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return (static_cast<int64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<int64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

// Answers every question of the update client with Yes, as a user would.
int SayYes(HWND, UINT message, WPARAM, LPARAM, LRESULT *result, void *) {
    if (message != RegisterWindowMessageA("_C_AutoUpdate"))
        return 0;
    *result = 1;
    return 1;
}

// The keys of this run, made by the copy's parent and handed over in the copy's folder.
const char kKeyName[] = "bench";

// A signed answer naming payload.bin with the given content; empty when the tool failed.
std::string Answer(const char *folder, const char *version, const std::string &payload) {
    TempFolder work("BenchAnswer");
    std::string answer;
    PublishTool::MakeAnswer(work, std::string(folder) + kKeyName + ".key", {{"payload.bin", payload}},
                            std::string("--application Bench --info en=x --version ") + version, answer);
    return answer;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int RunCopy(const char *self) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "TarvexUpdateBench\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string copy = folder + "UpdateBench.exe";
    if (!CopyFileA(self, copy.c_str(), FALSE)) {
        printf("UpdateBench: cannot copy itself to %s\n", folder.c_str());
        return 1;
    }
    // The copy trusts a key made for this run only.
    TempFolder keys("BenchKeys");
    if (!PublishTool::MakeKeys(keys, kKeyName) ||
        !PublishTool::SetProgramKey(copy, keys.File((std::string(kKeyName) + ".pub").c_str())) ||
        !CopyFileA(keys.File((std::string(kKeyName) + ".key").c_str()).c_str(),
                   (folder + kKeyName + ".key").c_str(), FALSE)) {
        printf("UpdateBench: cannot make the key of this run\n");
        return 1;
    }
    std::string line = "\"" + copy + "\" --here";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                        &info))
        return 1;
    WaitForSingleObject(info.hProcess, 600000);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    for (const char *name :
         {"UpdateBench.exe", "payload.bin", "payload_old.bin", "payload_new.bin", "bench.key"})
        DeleteFileA((folder + name).c_str());
    RemoveDirectoryA(folder.c_str());
    return static_cast<int>(code);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || strcmp(argv[1], "--here") != 0)
        return RunCopy(argv[0]);
    setvbuf(stdout, nullptr, _IONBF, 0);
    LoopbackServer server;
    if (!server.Start(120)) {
        printf("UpdateBench: no loopback server: %s\n", server.Problem().c_str());
        return 1;
    }
    char folder[MAX_PATH];
    ModuleInfo::ModuleDirectory(nullptr, folder);
    const std::string payload = std::string(folder) + "payload.bin";
    HWND owner = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SubclassHook<kHookUpdateOwner> yes;
    yes.Attach(owner, &SayYes, nullptr);
    const std::string url = server.Url("/data/update.php?p=tarvex");

    // 1. Complete checks with a "not newer" answer: query, answer, XML, decision.
    server.SetRoute("/data/update.php", 200, Answer(folder, "1.00", "small"));
    std::vector<double> checks;
    for (int i = 0; i < 5; ++i) {
        UpdateClient client;
        client.StartCheck(url.c_str(), owner, nullptr, nullptr, nullptr, UpdateClient::kNoThread, nullptr,
                          "1");
        const double start = NowMs();
        client.CheckAndInstall();
        checks.push_back(NowMs() - start);
    }
    std::sort(checks.begin(), checks.end());
    printf("update check, answer not newer (query to end of check): median %.0f ms, min %.0f ms, max %.0f ms "
           "(5 checks)\n",
           checks[2], checks.front(), checks.back());

    // 2. The install of a 5 MB file: download to "_new", size and hash checked, backup to "_old", replace.
    const std::string big(5u << 20, 'x');
    const std::string bigAnswer = Answer(folder, "9.00", big);
    server.SetRoute("/data/payload.bin", 200, big);
    server.SetRoute("/data/update.php", 200, bigAnswer);
    std::vector<double> installs, hashes;
    for (int i = 0; i < 3; ++i) {
        HANDLE file = CreateFileA(payload.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(file);
        UpdateClient client;
        client.StartCheck(url.c_str(), owner, nullptr, nullptr, nullptr, UpdateClient::kNoThread, nullptr,
                          "1");
        const double start = NowMs();
        client.CheckAndInstall();
        const double elapsed = NowMs() - start;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!GetFileAttributesExA(payload.c_str(), GetFileExInfoStandard, &data) ||
            data.nFileSizeLow != big.size()) {
            printf("install of 5 MB: the file was not installed\n");
            return 1;
        }
        installs.push_back(elapsed);
        // The check the install made on its download, alone: the same file read and hashed once more.
        FileDigest digest;
        const double hashStart = NowMs();
        digest.Compute(payload.c_str());
        hashes.push_back(NowMs() - hashStart);
    }
    // The signature check of the answer, alone (the key is the one this copy carries).
    SignedAnswer signature;
    signature.LoadKey(nullptr);
    std::vector<double> verifies;
    for (const std::string *answer : {&bigAnswer}) {
        for (int i = 0; i < 200; ++i) {
            TextString document;
            const double start = NowMs();
            if (!signature.Verify(answer->data(), answer->size(), document)) {
                printf("signature check: the answer did not verify\n");
                return 1;
            }
            verifies.push_back(NowMs() - start);
        }
    }
    std::sort(installs.begin(), installs.end());
    const double install = installs[1], hash = Median(hashes), verify = Median(verifies);
    printf("signature check of an answer (%u bytes): median %.3f ms (200 checks)\n",
           static_cast<unsigned>(bigAnswer.size()), verify);
    printf("size and SHA-256 check of the 5 MB download: median %.0f ms (3 files)\n", hash);
    printf("install of a 5 MB file (check, download, backup, replace): with the checks median %.0f ms "
           "(min %.0f, max %.0f; 3 installs); without them %.0f ms (the same install less the measured "
           "signature and hash checks)\n",
           install, installs.front(), installs.back(), install - hash - verify);

    // 3. A download the server sends at 64 KB a second: what the client costs meanwhile.
    const std::string slow(256u << 10, 'y');
    server.SetRoute("/data/update.php", 200, Answer(folder, "9.00", slow));
    server.SetRoute("/data/payload.bin", 200, slow, "slow:16384:250");
    {
        UpdateClient client;
        client.StartCheck(url.c_str(), owner, nullptr, nullptr, nullptr, UpdateClient::kNoThread, nullptr,
                          "1");
        const int64_t cpuBefore = ProcessCpu100ns();
        const double start = NowMs();
        const int installed =
            client.CheckAndInstall() || GetFileAttributesA(payload.c_str()) != INVALID_FILE_ATTRIBUTES;
        const double wall = NowMs() - start;
        const double cpu = static_cast<double>(ProcessCpu100ns() - cpuBefore) / 10000.0;
        printf("slow download (256 KB at 64 KB/s, %.1f s%s): processor use %.2f %% of one processor\n",
               wall / 1000.0, installed ? "" : ", not installed", cpu / wall * 100.0);
    }
    yes.Detach();
    DestroyWindow(owner);
    return 0;
}

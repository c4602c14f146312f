// UpdateBench: the update client against the tests' loopback server, in this process: one complete check
// whose answer is not newer, the install of a 5 MB file, and this process's processor use while a download
// that the server sends slowly runs. The questions are answered Yes by a hook of the bench's own on the owner
// window. Run from a copy of itself in a folder of its own (the install writes beside the program).
//
// Usage: UpdateBench            copies itself to a temporary folder and runs the copy
//        UpdateBench --here     measures, with its own folder as the program's folder
#include "base/ModuleInfo.h"
#include "base/Win.h"
#include "tests/common/LoopbackServer.h"
#include "ui/SubclassHook.h"
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

std::string Answer(const char *version, const std::string &url) {
    return std::string("<update><application>Bench</application><info><en>x</en></info><version>") + version +
           "</version><files><url name=\"payload.bin\">" + url + "</url></files></update>";
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
    for (const char *name : {"UpdateBench.exe", "payload.bin", "payload_old.bin", "payload_new.bin"})
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
    server.SetRoute("/data/update.php", 200, Answer("1.00", server.Url("/files/payload.bin")));
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

    // 2. The install of a 5 MB file: download to "_new", backup to "_old", replace.
    const std::string big(5u << 20, 'x');
    server.SetRoute("/files/payload.bin", 200, big);
    server.SetRoute("/data/update.php", 200, Answer("9.00", server.Url("/files/payload.bin")));
    std::vector<double> installs;
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
    }
    std::sort(installs.begin(), installs.end());
    printf(
        "install of a 5 MB file (check, download, backup, replace): median %.0f ms, min %.0f ms, max %.0f ms "
        "(3 installs)\n",
        installs[1], installs.front(), installs.back());

    // 3. A download the server sends at 64 KB a second: what the client costs meanwhile.
    server.SetRoute("/files/payload.bin", 200, std::string(256u << 10, 'y'), "slow:16384:250");
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

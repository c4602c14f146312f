// TempFolder: per-test folders in the temporary directory that remove themselves.
#include "tests/common/TempFolder.h"
#include <atomic>
#include <cstdio>

namespace {
std::atomic<unsigned> g_folderCounter{0};
}

int DeleteFolderTree(const std::string &folder) {
    std::string base = folder;
    if (!base.empty() && base.back() != '\\')
        base += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = base + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteFolderTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(base.c_str());
    return GetFileAttributesA(base.c_str()) == INVALID_FILE_ATTRIBUTES;
}

TempFolder::TempFolder(const char *purpose) {
    char temp[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof(temp), temp);
    if (length == 0 || length >= sizeof(temp))
        return;
    char leaf[160];
    snprintf(leaf, sizeof(leaf), "TarvexTest-%s-%lu-%u\\", purpose ? purpose : "Folder",
             GetCurrentProcessId(), g_folderCounter.fetch_add(1));
    path_ = std::string(temp);
    if (path_.back() != '\\')
        path_ += '\\';
    path_ += leaf;
    // A leftover of an earlier run with the same process id starts empty again.
    DeleteFolderTree(path_);
    valid_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
}

TempFolder::~TempFolder() {
    if (valid_)
        DeleteFolderTree(path_);
}

int TempFolder::WriteFile(const char *name, const std::string &content) const {
    HANDLE file = CreateFileA(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

std::string TempFolder::ReadFile(const char *name) const {
    std::string content;
    HANDLE file = CreateFileA(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return content;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        content.append(chunk, got);
    CloseHandle(file);
    return content;
}

// SpecialFolder: profile folders through userenv, the machine temporary folder from the registry, the
// system's own directories, and shell folders with the shfolder fall-back.
#include "base/SpecialFolder.h"
#include "base/ComRef.h"
#include "base/DynamicLibrary.h"
#include "base/RegistryKey.h"
#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include <shlobj.h>
#include <cstring>

namespace {
const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

typedef BOOL(WINAPI *GetProfilesDirectoryFn)(LPSTR, LPDWORD);
typedef BOOL(WINAPI *GetUserProfileDirectoryFn)(HANDLE, LPSTR, LPDWORD);
typedef BOOL(WINAPI *OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
typedef HRESULT(WINAPI *GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPSTR);

int Fail(char *buffer) {
    buffer[0] = 0;
    return 0;
}

// Checks the last character rather than the last byte: the trail byte of a double-byte character can
// be 0x5C, the code of '\'.
int EndsInBackslash(const char *text) {
    const char *last = nullptr;
    for (const char *walk = text; *walk; walk = CharNextA(walk))
        last = walk;
    return last && *last == '\\';
}

int ProfileDirectory(const char *functionName, char *buffer) {
    DynamicLibrary userenv;
    if (!userenv.Load("userenv.dll"))
        return Fail(buffer);
    auto get = userenv.Function<GetProfilesDirectoryFn>(functionName);
    DWORD size = MAX_PATH;
    if (!get || !get(buffer, &size))
        return Fail(buffer);
    return 1;
}

int UserProfileDirectory(char *buffer) {
    DynamicLibrary advapi, userenv;
    if (!advapi.Load("advapi32.dll") || !userenv.Load("userenv.dll"))
        return Fail(buffer);
    auto openToken = advapi.Function<OpenProcessTokenFn>("OpenProcessToken");
    auto get = userenv.Function<GetUserProfileDirectoryFn>("GetUserProfileDirectoryA");
    HANDLE opened = nullptr;
    if (!openToken || !get || !openToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        return Fail(buffer);
    OwnedHandle token(opened);
    DWORD size = MAX_PATH;
    BOOL done = get(token.Get(), buffer, &size);
    return done ? 1 : Fail(buffer);
}

// GetWindowsDirectoryA and its kin: 0 or a count of at least the buffer size means no path.
int SystemDirectory(UINT(WINAPI *get)(LPSTR, UINT), char *buffer) {
    UINT length = get(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return Fail(buffer);
    EnsureBackslash(buffer);
    return 1;
}

// GetTempPathA and GetCurrentDirectoryA: the path must end in '\' since callers append file names to it.
int DirectoryFromCall(DWORD length, char *buffer) {
    if (length == 0 || length >= MAX_PATH || !EnsureBackslash(buffer))
        return Fail(buffer);
    return 1;
}

int MachineTempDirectory(char *buffer) {
    static const char *const names[] = {"TMP", "TEMP"};
    for (const char *name : names) {
        TextString value;
        if (!ReadStringAt(HKEY_LOCAL_MACHINE, kEnvironmentKey, name, value) || value.Length() == 0)
            continue;
        DWORD needed = ExpandEnvironmentStringsA(value.Text(), buffer, MAX_PATH);
        if (needed > 0 && needed <= MAX_PATH && buffer[0] && EnsureBackslash(buffer))
            return 1;
    }
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !EnsureBackslash(buffer))
        return Fail(buffer);
    if (strlen(buffer) + sizeof("Temp\\") > MAX_PATH)
        return Fail(buffer);
    strcat(buffer, "Temp\\");
    return 1;
}

int ShellFolder(int folder, char *buffer) {
    ComRef<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.Receive())) || !allocator)
        return Fail(buffer);
    int done = 0;
    LPITEMIDLIST list = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, folder, &list)) && list) {
        done = SHGetPathFromIDListA(list, buffer) != 0;
        allocator->Free(list);
    }
    allocator.Reset();
    if (!done) {
        DynamicLibrary shfolder;
        GetFolderPathFn get = nullptr;
        if (shfolder.Load("shfolder.dll"))
            get = shfolder.Function<GetFolderPathFn>("SHGetFolderPathA");
        done = get && get(nullptr, folder, nullptr, 0, buffer) == S_OK;
    }
    return done ? 1 : Fail(buffer);
}
} // namespace

int SpecialFolder(uint32_t kind, char *buffer) {
    if (!buffer)
        return 0;
    buffer[0] = 0;
    switch (kind) {
    case ProfilesFolder:
        return ProfileDirectory("GetProfilesDirectoryA", buffer);
    case UserProfileFolder:
        return UserProfileDirectory(buffer);
    case DefaultUserProfileFolder:
        return ProfileDirectory("GetDefaultUserProfileDirectoryA", buffer);
    case MachineTempFolder:
        return MachineTempDirectory(buffer);
    case WindowsFolder:
        return SystemDirectory(GetWindowsDirectoryA, buffer);
    case TempPathFolder:
        return DirectoryFromCall(GetTempPathA(MAX_PATH, buffer), buffer);
    case SystemFolder:
        return SystemDirectory(GetSystemDirectoryA, buffer);
    case CurrentFolder:
        return DirectoryFromCall(GetCurrentDirectoryA(MAX_PATH, buffer), buffer);
    default:
        return ShellFolder(static_cast<int>(kind), buffer);
    }
}

int EnsureBackslash(char *text, uint32_t capacity) {
    if (!text)
        return 0;
    if (EndsInBackslash(text))
        return 1;
    size_t length = strlen(text);
    if (length + 2 > capacity)
        return 0;
    text[length] = '\\';
    text[length + 1] = 0;
    return 1;
}

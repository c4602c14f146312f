// Registry fixtures for tests: self-deleting keys below HKEY_CURRENT_USER and root redirection.
#include "tests/common/TestRegistry.h"
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {
const char kTestRoot[] = "Software\\TarvexTest";
std::atomic<unsigned> g_keyCounter{0};

HKEY OpenBelow(HKEY key, const char *subkey, REGSAM access) {
    if (!subkey || !*subkey) {
        HKEY copy = nullptr;
        // A second handle to the same key, so that callers can always close what they get.
        if (RegOpenKeyExA(key, nullptr, 0, access, &copy) != ERROR_SUCCESS)
            return nullptr;
        return copy;
    }
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, subkey, 0, access, &child) != ERROR_SUCCESS)
        return nullptr;
    return child;
}
} // namespace

int DeleteKeyTree(HKEY root, const char *subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return 1;
    // Children first: RegDeleteKeyA refuses a key that still has subkeys.
    char name[256];
    for (;;) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (!DeleteKeyTree(key, name))
            break;
    }
    RegCloseKey(key);
    return RegDeleteKeyA(root, subkey) == ERROR_SUCCESS;
}

ScopedTestKey::ScopedTestKey(const char *purpose) {
    char leaf[160];
    snprintf(leaf, sizeof(leaf), "%s-%lu-%u", purpose ? purpose : "Key", GetCurrentProcessId(),
             g_keyCounter.fetch_add(1));
    path_ = std::string(kTestRoot) + "\\" + leaf;
    // A leftover of an earlier crashed run with the same process id must not leak values into this one.
    DeleteKeyTree(HKEY_CURRENT_USER, path_.c_str());
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS)
        key_ = key;
}

ScopedTestKey::~ScopedTestKey() {
    if (key_)
        RegCloseKey(key_);
    DeleteKeyTree(HKEY_CURRENT_USER, path_.c_str());
    // Only succeeds when no other test program has a key there at the moment.
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestRoot);
}

std::string ScopedTestKey::PathOf(const char *subkey) const {
    if (!subkey || !*subkey)
        return path_;
    return path_ + "\\" + subkey;
}

int ScopedTestKey::CreateSubkey(const char *subkey) {
    if (!key_)
        return 0;
    HKEY child = nullptr;
    if (RegCreateKeyExA(key_, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(child);
    return 1;
}

int ScopedTestKey::SubkeyExists(const char *subkey) const {
    if (!key_)
        return 0;
    HKEY child = OpenBelow(key_, subkey, KEY_READ);
    if (!child)
        return 0;
    RegCloseKey(child);
    return 1;
}

int ScopedTestKey::SetRaw(const char *subkey, const char *name, DWORD type, const void *data, DWORD size) {
    if (!key_)
        return 0;
    if (subkey && *subkey && !CreateSubkey(subkey))
        return 0;
    HKEY target = OpenBelow(key_, subkey, KEY_ALL_ACCESS);
    if (!target)
        return 0;
    LONG status = RegSetValueExA(target, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(target);
    return status == ERROR_SUCCESS;
}

int ScopedTestKey::SetString(const char *subkey, const char *name, const char *text) {
    return SetRaw(subkey, name, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
}

int ScopedTestKey::SetDword(const char *subkey, const char *name, DWORD value) {
    return SetRaw(subkey, name, REG_DWORD, &value, sizeof(value));
}

int ScopedTestKey::GetRaw(const char *subkey, const char *name, DWORD *type, std::string *data) const {
    if (!key_)
        return 0;
    HKEY target = OpenBelow(key_, subkey, KEY_READ);
    if (!target)
        return 0;
    DWORD valueType = 0, size = 0;
    LONG status = RegQueryValueExA(target, name, nullptr, &valueType, nullptr, &size);
    if (status == ERROR_SUCCESS && data) {
        data->assign(size, '\0');
        status = RegQueryValueExA(target, name, nullptr, &valueType,
                                  reinterpret_cast<BYTE *>(size ? &(*data)[0] : nullptr), &size);
        data->resize(size);
    }
    RegCloseKey(target);
    if (status != ERROR_SUCCESS)
        return 0;
    if (type)
        *type = valueType;
    return 1;
}

ScopedRootRedirect::ScopedRootRedirect(HKEY predefined, HKEY target) : predefined_(predefined) {
    active_ = target && RegOverridePredefKey(predefined, target) == ERROR_SUCCESS;
}

ScopedRootRedirect::~ScopedRootRedirect() {
    if (active_)
        RegOverridePredefKey(predefined_, nullptr);
}

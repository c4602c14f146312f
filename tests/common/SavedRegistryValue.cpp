// SavedRegistryValue: the value's type and bytes kept, written back or deleted; values under HKCU.
#include "tests/common/SavedRegistryValue.h"

namespace {

// RegSetValueExA under root\key, creating the key when missing.
int WriteValue(HKEY root, const char *key, const char *name, DWORD type, const void *data, DWORD size) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return 0;
    LONG status = RegSetValueExA(handle, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

int DeleteValue(HKEY root, const char *key, const char *name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_WRITE, &handle) != ERROR_SUCCESS)
        return 1;
    LONG status = RegDeleteValueA(handle, name);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace

SavedRegistryValue::SavedRegistryValue(HKEY root, const char *key, const char *name)
    : root_(root), key_(key), name_(name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExA(handle, name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.resize(size);
        if (RegQueryValueExA(handle, name, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS)
            existed_ = 1;
    }
    RegCloseKey(handle);
}

SavedRegistryValue::~SavedRegistryValue() {
    if (existed_)
        WriteValue(root_, key_.c_str(), name_.c_str(), type_, data_.data(), static_cast<DWORD>(data_.size()));
    else
        DeleteValue(root_, key_.c_str(), name_.c_str());
}

int ReadUserDword(const char *key, const char *name, DWORD *value) {
    DWORD size = sizeof *value, type = 0;
    return RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, &type, value, &size) == ERROR_SUCCESS;
}

int WriteUserDword(const char *key, const char *name, DWORD value) {
    return WriteValue(HKEY_CURRENT_USER, key, name, REG_DWORD, &value, sizeof value);
}

int WriteUserString(const char *key, const char *name, const char *text) {
    return WriteValue(HKEY_CURRENT_USER, key, name, REG_SZ, text, lstrlenA(text) + 1);
}

int DeleteUserValue(const char *key, const char *name) {
    return DeleteValue(HKEY_CURRENT_USER, key, name);
}

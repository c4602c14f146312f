// ClosedUpdateUrl: the value under HKCU\Software\Qelmarch\Tarvex, set and put back with the plain registry
// functions.
#include "tests/common/ClosedUpdateUrl.h"
#include "base/Win.h"

namespace {
const char kTarvexKey[] = "Software\\Qelmarch\\Tarvex";
} // namespace

const char ClosedUpdateUrl::kUrl[] = "http://127.0.0.1:1/data/update.php?p=tarvex";

ClosedUpdateUrl::ClosedUpdateUrl(int keepExisting) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kTarvexKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    if (RegQueryValueExA(key, "UpdateUrl", nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        existed_ = 1;
        previous_ = buffer;
    }
    if (!(keepExisting && existed_)) {
        RegSetValueExA(key, "UpdateUrl", 0, REG_SZ, reinterpret_cast<const BYTE *>(kUrl), sizeof kUrl);
        active_ = 1;
    }
    RegCloseKey(key);
}

ClosedUpdateUrl::~ClosedUpdateUrl() {
    HKEY key = nullptr;
    if (!active_ || RegOpenKeyExA(HKEY_CURRENT_USER, kTarvexKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (existed_)
        RegSetValueExA(key, "UpdateUrl", 0, REG_SZ, reinterpret_cast<const BYTE *>(previous_.c_str()),
                       static_cast<DWORD>(previous_.size() + 1));
    else
        RegDeleteValueA(key, "UpdateUrl");
    RegCloseKey(key);
}

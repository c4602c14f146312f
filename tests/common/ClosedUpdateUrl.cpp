// ClosedUpdateUrl: the value under HKCU\Software\Qelmarch\Tarvex, saved and set.
#include "tests/common/ClosedUpdateUrl.h"

namespace {
const char kTarvexKey[] = "Software\\Qelmarch\\Tarvex";
} // namespace

const char ClosedUpdateUrl::kUrl[] = "http://127.0.0.1:1/data/update.php?p=tarvex";

ClosedUpdateUrl::ClosedUpdateUrl(int keepExisting) {
    if (keepExisting && RegGetValueA(HKEY_CURRENT_USER, kTarvexKey, "UpdateUrl", RRF_RT_REG_SZ, nullptr,
                                     nullptr, nullptr) == ERROR_SUCCESS)
        return;
    saved_.reset(new SavedRegistryValue(HKEY_CURRENT_USER, kTarvexKey, "UpdateUrl"));
    WriteUserString(kTarvexKey, "UpdateUrl", kUrl);
}

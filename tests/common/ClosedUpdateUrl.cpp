// ClosedUpdateUrl: the value under the settings key, saved and set.
#include "tests/common/ClosedUpdateUrl.h"
#include "tests/common/SettingsKey.h"

const char ClosedUpdateUrl::kUrl[] = "http://127.0.0.1:1/data/update.php?p=tarvex";

ClosedUpdateUrl::ClosedUpdateUrl(int keepExisting) {
    if (keepExisting && RegGetValueA(HKEY_CURRENT_USER, kTarvexSettingsKey, "UpdateUrl", RRF_RT_REG_SZ,
                                     nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        return;
    saved_.reset(new SavedRegistryValue(HKEY_CURRENT_USER, kTarvexSettingsKey, "UpdateUrl"));
    WriteUserString(kTarvexSettingsKey, "UpdateUrl", kUrl);
}

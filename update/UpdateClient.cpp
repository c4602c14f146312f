// UpdateClient: records the dialog's update requests. Deliberately runs no check: nothing is queried,
// no thread starts and no last-check time is written until the update service exists.
#include "update/UpdateClient.h"

void UpdateClient::Keep(char *target, const char *text) {
    if (text)
        lstrcpynA(target, text, kTextSize);
    else
        target[0] = 0;
}

int UpdateClient::StartCheck(const char *updateUrl, HWND owner, HKEY root, const char *keyPath,
                             const char *valueName, uint32_t flags, const char *itemName,
                             const char *itemType) {
    StopCheck();
    Keep(updateUrl_, updateUrl);
    owner_ = owner;
    root_ = root;
    Keep(keyPath_, keyPath);
    Keep(valueName_, valueName);
    flags_ = flags;
    Keep(itemName_, itemName);
    Keep(itemType_, itemType);
    ++requests_;
    return 1;
}

void UpdateClient::StopCheck() {
    owner_ = nullptr;
}

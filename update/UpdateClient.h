// UpdateClient: the main dialog's automatic update check. For now only the request side exists: StartCheck
// records what the dialog asked for and starts nothing (no query, no thread, no registry write); the check
// itself, its thread and its questions come with the update service.
//
// Classes: UpdateClient.
#pragma once

#include "base/Win.h"
#include <cstdint>

class UpdateClient {
public:
    // Start flags.
    enum : uint32_t { kInventoryQuery = 1, kNoThread = 2, kIniStore = 4 };

    UpdateClient() = default;
    ~UpdateClient() { StopCheck(); }
    UpdateClient(const UpdateClient &) = delete;
    UpdateClient &operator=(const UpdateClient &) = delete;

    // Every text may be null. Records the request and returns 1; no check is run.
    int StartCheck(const char *updateUrl, HWND owner, HKEY root, const char *keyPath, const char *valueName,
                   uint32_t flags, const char *itemName, const char *itemType);
    // Nothing runs yet, so there is nothing to wait for; forgets the owner window.
    void StopCheck();

    // What the last StartCheck asked for, and how many requests were made.
    int RequestCount() const { return requests_; }
    HWND Owner() const { return owner_; }
    HKEY Root() const { return root_; }
    uint32_t Flags() const { return flags_; }
    const char *UpdateUrl() const { return updateUrl_; }
    const char *KeyPath() const { return keyPath_; }
    const char *ValueName() const { return valueName_; }
    const char *ItemName() const { return itemName_; }
    const char *ItemType() const { return itemType_; }

private:
    enum { kTextSize = 260 };
    static void Keep(char *target, const char *text);

    int requests_ = 0;
    HWND owner_ = nullptr;
    HKEY root_ = nullptr;
    uint32_t flags_ = 0;
    char updateUrl_[kTextSize] = {};
    char keyPath_[kTextSize] = {};
    char valueName_[kTextSize] = {};
    char itemName_[kTextSize] = {};
    char itemType_[kTextSize] = {};
};

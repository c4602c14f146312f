// Registry fixtures for tests: a private key under HKEY_CURRENT_USER that deletes itself, and a scoped
// redirection of a predefined root (such as HKEY_LOCAL_MACHINE) to a key of the test's own.
//
// Classes: ScopedTestKey, ScopedRootRedirect. Functions: DeleteKeyTree.
#pragma once

#include "base/Win.h"
#include <string>

// Deletes subkey of root with everything below it; 1 when it is gone afterwards.
int DeleteKeyTree(HKEY root, const char *subkey);

// "Software\TarvexTest\<purpose>-<process id>-<counter>" under HKEY_CURRENT_USER, created on construction
// (open with full access) and deleted with its whole tree on destruction, so parallel test programs and
// repeated runs never see each other's values.
class ScopedTestKey {
public:
    explicit ScopedTestKey(const char *purpose = "Key");
    ~ScopedTestKey();
    ScopedTestKey(const ScopedTestKey &) = delete;
    ScopedTestKey &operator=(const ScopedTestKey &) = delete;

    int Valid() const { return key_ != nullptr; }
    HKEY Handle() const { return key_; }
    // Relative to HKEY_CURRENT_USER.
    const char *Path() const { return path_.c_str(); }
    // Path() + "\" + subkey.
    std::string PathOf(const char *subkey) const;

    // Writers and probes relative to this key; subkey may be null or empty for the key itself.
    int CreateSubkey(const char *subkey);
    int SubkeyExists(const char *subkey) const;
    int SetRaw(const char *subkey, const char *name, DWORD type, const void *data, DWORD size);
    int SetString(const char *subkey, const char *name, const char *text);
    int SetDword(const char *subkey, const char *name, DWORD value);
    // 1 when the value exists; type and data (as raw bytes) are returned when asked for.
    int GetRaw(const char *subkey, const char *name, DWORD *type, std::string *data) const;

private:
    std::string path_;
    HKEY key_ = nullptr;
};

// Makes the process see target wherever it opens the predefined root, until destruction.
class ScopedRootRedirect {
public:
    ScopedRootRedirect(HKEY predefined, HKEY target);
    ~ScopedRootRedirect();
    ScopedRootRedirect(const ScopedRootRedirect &) = delete;
    ScopedRootRedirect &operator=(const ScopedRootRedirect &) = delete;

    int Active() const { return active_; }

private:
    HKEY predefined_;
    int active_ = 0;
};

// TempFolder: a private folder in the temporary directory for a test, deleted with its contents at the end.
//
// Classes: TempFolder.
#pragma once

#include "base/Win.h"
#include <string>

class TempFolder {
public:
    explicit TempFolder(const char *purpose = "Folder");
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    int Valid() const { return valid_; }
    // Full path ending in '\'.
    const char *Path() const { return path_.c_str(); }
    // Path() + name.
    std::string File(const char *name) const { return path_ + name; }
    // Writes (replaces) a file below the folder with the given bytes; 1 on success.
    int WriteFile(const char *name, const std::string &content) const;
    // The whole content of a file below the folder; empty when it cannot be read.
    std::string ReadFile(const char *name) const;

private:
    std::string path_;
    int valid_ = 0;
};

// Deletes a folder and everything below it; 1 when it is gone afterwards.
int DeleteFolderTree(const std::string &folder);

// InstallJournal: what one install changed in the program's folder, in the order it was changed, so that a
// failed install can be undone: the files it moved aside, the files and folders it created, the "_new"
// files it wrote. KeptFile is one change.
//
// Classes: InstallJournal, KeptFile.
#pragma once

#include "base/TextString.h"
#include <memory>
#include <vector>

// A file the install moved aside (backup set) or created (backup empty), or a folder it created.
struct KeptFile {
    TextString current;
    TextString backup;
    int folder = 0;
};

class InstallJournal {
public:
    // Notes a staged file, which the rollback deletes; 0 when memory is short.
    int Stage(const char *path);
    // Moves current aside to backup (or, with a null backup, notes a file or folder this install creates).
    int Keep(const char *current, const char *backup, int folder = 0);
    // 1 when current was noted already (letter case ignored).
    int IsKept(const char *current) const;
    // Puts every file back as it was before the install: the files kept aside back, the staged ones and the
    // ones the install created gone. The journal is empty afterwards.
    void RollBack();
    // Forgets every change without touching the files: the install is done, or a new one begins.
    void Clear();

private:
    std::vector<std::unique_ptr<TextString>> staged_;
    std::vector<std::unique_ptr<KeptFile>> kept_; // in the order they were changed
};

// InstallJournal: noting each change of an install as it is made, and undoing them newest first.
#include "update/InstallJournal.h"
#include "base/DiskFile.h"
#include <new>

int InstallJournal::Stage(const char *path) {
    auto staged = std::unique_ptr<TextString>(new (std::nothrow) TextString);
    if (!staged || !staged->Assign(path))
        return 0;
    staged_.push_back(std::move(staged));
    return 1;
}

int InstallJournal::IsKept(const char *current) const {
    for (const auto &kept : kept_) {
        if (lstrcmpiA(kept->current.Text(), current) == 0)
            return 1;
    }
    return 0;
}

int InstallJournal::Keep(const char *current, const char *backup, int folder) {
    auto kept = std::unique_ptr<KeptFile>(new (std::nothrow) KeptFile);
    if (!kept || !kept->current.Assign(current) || !kept->backup.Assign(backup ? backup : ""))
        return 0;
    kept->folder = folder;
    if (backup) {
        DeleteFileForced(backup);
        if (!MoveFileA(current, backup))
            return 0;
    }
    kept_.push_back(std::move(kept));
    return 1;
}

void InstallJournal::RollBack() {
    // Newest first: a file replaced already has its new content in place, which goes before the old returns.
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
        const KeptFile &kept = **it;
        if (kept.folder) {
            // Only when empty again: whatever else is in it now was not put there by this install.
            RemoveDirectoryA(kept.current.Text());
            continue;
        }
        if (kept.backup.Length() == 0) {
            DeleteFileForced(kept.current.Text());
            continue;
        }
        if (GetFileAttributesA(kept.backup.Text()) == INVALID_FILE_ATTRIBUTES)
            continue;
        DeleteFileForced(kept.current.Text());
        MoveFileA(kept.backup.Text(), kept.current.Text());
    }
    for (const auto &staged : staged_)
        DeleteFileForced(staged->Text());
    Clear();
}

void InstallJournal::Clear() {
    kept_.clear();
    staged_.clear();
}

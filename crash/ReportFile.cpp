// ReportFile: the temporary file beside the final name, and the rename that finishes it.
#include "crash/ReportFile.h"

ReportFile::~ReportFile() {
    if (file_.IsValid()) {
        file_.Reset();
        DeleteFileA(temporary_.Text());
    }
}

void ReportFile::TemporaryNameOf(const char *finalName, TextString &temporary) {
    temporary.Format("%s.tmp", finalName);
}

int ReportFile::Create(const TextString &first, const TextString &second, const char *extension) {
    return CreateAt(first, extension) || CreateAt(second, extension);
}

int ReportFile::CreateAt(const TextString &base, const char *extension) {
    name_.Format("%s_Debug.%s", base.Text(), extension);
    // An old report goes first: a name that cannot be freed (in use, a protected folder) means the next
    // place.
    if (!DeleteFileA(name_.Text()) && GetFileAttributesA(name_.Text()) != INVALID_FILE_ATTRIBUTES)
        return 0;
    TemporaryNameOf(name_.Text(), temporary_);
    // Whatever is at the temporary name (a left-over, a link to some other file) is removed and the file made
    // exclusively, so nothing is ever appended to or written through a link.
    DeleteFileA(temporary_.Text());
    file_.Reset(CreateFileA(temporary_.Text(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.IsValid();
}

int ReportFile::Commit() {
    if (!file_.IsValid())
        return 0;
    file_.Reset();
    // Replacing renames over whatever took the final name meanwhile; it never writes through it.
    if (MoveFileExA(temporary_.Text(), name_.Text(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    name_.Assign(&temporary_);
    return 0;
}

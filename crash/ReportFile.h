// ReportFile: one crash report file, written under a temporary name beside its final one and renamed when it
// is complete, so that the final name never shows a half-written report, whenever the process may end.
//
// Classes: ReportFile.
#pragma once

#include "base/ScopedHandle.h"
#include "base/TextString.h"
#include "base/Win.h"

class ReportFile {
public:
    ReportFile() = default;
    // A file that was never committed is closed and removed.
    ~ReportFile();
    ReportFile(const ReportFile &) = delete;
    ReportFile &operator=(const ReportFile &) = delete;

    // "<base>_Debug.<extension>" from the first base, else from the second: 1 when a file is open for
    // writing. A place is taken only when an old file at the final name can be removed.
    int Create(const TextString &first, const TextString &second, const char *extension);
    HANDLE Handle() const { return file_.Get(); }
    // Closes the file and gives it its final name; when the rename fails it keeps the temporary one, and
    // Name says so. 1 when renamed.
    int Commit();
    // The final name (the last one tried when no file could be created; empty before Create); the temporary
    // name when the rename failed.
    const char *Name() const { return name_.Text(); }

    // What ".tmp" makes of a final name.
    static void TemporaryNameOf(const char *finalName, TextString &temporary);

private:
    int CreateAt(const TextString &base, const char *extension);

    OwnedHandle file_;
    TextString name_;
    TextString temporary_;
};

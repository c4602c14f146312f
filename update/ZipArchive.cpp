// ZipArchive: libzip reads the archive; folders are made and files written here, with the Windows ANSI file
// functions, so that names stay in the system code page as the rest of the program keeps them.
#include "update/ZipArchive.h"
#include "base/DiskFile.h"
#include "base/TextString.h"
#include "base/Win.h"
#include <cstring>
#include <zip.h>

namespace {

const uint32_t kCopyChunk = 65536;

int IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The name's length up to the first separator (or its end).
size_t ComponentLength(const char *text) {
    size_t n = 0;
    while (text[n] && !IsSeparator(text[n]))
        ++n;
    return n;
}

int IsPlainComponent(const char *name, size_t length) {
    if (length == 0)
        return 0;
    if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.'))
        return 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 32 || c == ':' || c == '\\' || c == '/' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|')
            return 0;
    }
    // Windows drops trailing blanks and dots, so "a." would land on "a" and "..." on the folder itself.
    if (name[length - 1] == ' ' || name[length - 1] == '.')
        return 0;
    // Device names stay devices whatever their extension ("NUL.txt" is the null device).
    size_t stem = 0;
    while (stem < length && name[stem] != '.')
        ++stem;
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices) {
        if (stem == strlen(device) && _strnicmp(name, device, stem) == 0)
            return 0;
    }
    if (stem == 4 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0) && name[3] >= '1' &&
        name[3] <= '9')
        return 0;
    return 1;
}

// Creates every folder of path (relative, below directory) up to its last separator.
int MakeFolders(const TextString &directory, const char *path) {
    TextString folder;
    folder.Assign(directory.Text());
    for (const char *p = path; *p;) {
        const size_t length = ComponentLength(p);
        if (!p[length])
            break; // the last component is the file itself
        folder.EnsureTrailing('\\');
        TextString part;
        part.Assign(p, static_cast<uint32_t>(length));
        folder.Append(part.Text());
        if (!CreateDirectoryA(folder.Text(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
        p += length + 1;
    }
    return 1;
}

// The target of an entry: directory + path with every '/' turned into '\'.
void TargetPath(const TextString &directory, const char *path, TextString &out) {
    out.Assign(directory.Text());
    out.EnsureTrailing('\\');
    const int start = out.Length();
    out.Append(path);
    for (char *p = out.Buffer() + start; *p; ++p) {
        if (*p == '/')
            *p = '\\';
    }
}

int WriteEntry(zip_t *archive, zip_uint64_t index, const char *target) {
    zip_file_t *entry = zip_fopen_index(archive, index, 0);
    if (!entry)
        return 0;
    DiskFile file;
    int ok = file.Open(target, DiskFile::WriteCreate, FILE_ATTRIBUTE_NORMAL, 0);
    // On the stack: the extraction may run on any thread, and the check thread's stack has room for it.
    char buffer[kCopyChunk];
    while (ok) {
        const zip_int64_t got = zip_fread(entry, buffer, sizeof buffer);
        if (got < 0)
            ok = 0;
        if (got <= 0)
            break;
        uint32_t written = 0;
        ok =
            file.Write(static_cast<uint32_t>(got), &written, buffer) && written == static_cast<uint32_t>(got);
    }
    // zip_fclose reports a CRC mismatch of what was read.
    if (zip_fclose(entry) != 0)
        ok = 0;
    file.Close();
    if (!ok)
        DeleteFileA(target);
    return ok;
}

// An archive open for reading whose every entry was checked before anything is written: a stored path that
// is not safe, an encrypted entry or an unreadable directory of entries refuses the whole archive.
struct CheckedArchive {
    zip_t *zip = nullptr;
    zip_int64_t count = 0;

    CheckedArchive() = default;
    ~CheckedArchive() {
        if (zip)
            zip_discard(zip);
    }
    CheckedArchive(const CheckedArchive &) = delete;
    CheckedArchive &operator=(const CheckedArchive &) = delete;

    int Open(const char *archivePath) {
        int error = 0;
        zip = archivePath ? zip_open(archivePath, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
        count = zip ? zip_get_num_entries(zip, 0) : -1;
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t stat;
            zip_stat_init(&stat);
            if (zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &stat) != 0 ||
                !(stat.valid & ZIP_STAT_NAME) || !IsSafeArchivePath(stat.name) ||
                ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE))
                return 0;
        }
        return count >= 0;
    }
};

} // namespace

int IsPlainFileName(const char *name) {
    if (!name)
        return 0;
    const size_t length = strlen(name);
    return ComponentLength(name) == length && IsPlainComponent(name, length);
}

int IsSafeArchivePath(const char *path) {
    if (!path || !*path)
        return 0;
    for (const char *p = path; *p;) {
        const size_t length = ComponentLength(p);
        // An empty component is a leading separator (an absolute path) or a doubled one.
        if (!IsPlainComponent(p, length))
            return 0;
        if (!p[length])
            break;
        p += length + 1; // a trailing separator ends the loop on the terminator: a folder entry
    }
    return 1;
}

int ForEachArchiveFile(const char *archivePath, ArchiveFileVisitor visit, void *user) {
    CheckedArchive archive;
    if (!visit || !archive.Open(archivePath))
        return 0;
    int ok = 1;
    for (zip_int64_t i = 0; ok && i < archive.count; ++i) {
        const char *name = zip_get_name(archive.zip, static_cast<zip_uint64_t>(i), 0);
        if (IsSeparator(name[strlen(name) - 1]))
            continue;
        TextString path;
        path.Assign(name);
        for (char *p = path.Buffer(); *p; ++p) {
            if (*p == '/')
                *p = '\\';
        }
        ok = visit(path.Text(), user);
    }
    return ok;
}

int ExtractArchive(const char *archivePath, const char *directory) {
    CheckedArchive archive;
    if (!directory || !*directory || !archive.Open(archivePath))
        return 0;
    TextString root;
    root.Assign(directory);
    int ok = 1;
    for (zip_int64_t i = 0; ok && i < archive.count; ++i) {
        const char *name = zip_get_name(archive.zip, static_cast<zip_uint64_t>(i), 0);
        TextString target;
        TargetPath(root, name, target);
        if (!MakeFolders(root, name)) {
            ok = 0;
        } else if (IsSeparator(name[strlen(name) - 1])) {
            ok = CreateDirectoryA(target.Text(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
        } else {
            // A read-only file in the way would refuse the new one.
            SetFileAttributesA(target.Text(), FILE_ATTRIBUTE_NORMAL);
            ok = WriteEntry(archive.zip, static_cast<zip_uint64_t>(i), target.Text());
        }
    }
    return ok;
}

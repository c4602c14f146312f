// ZipArchive: unpacking a downloaded update archive into the program's folder through libzip, and the name
// rules that keep an update's files inside that folder.
//
// Functions: ExtractArchive, ForEachArchiveFile, IsPlainFileName, IsSafeArchivePath.
#pragma once

#include <cstdint>

// Unpacks every entry of the archive into directory (with or without a trailing backslash), recreating the
// stored folders and overwriting existing files; no password, nothing shown or asked. 1 only on complete
// success. The whole archive is checked first: one entry whose stored path is not safe (see
// IsSafeArchivePath), an encrypted entry or an unreadable directory of entries makes it write nothing at
// all and answer 0, so that a refused archive never leaves half of itself behind.
int ExtractArchive(const char *archivePath, const char *directory);

// Shows the stored path of every file entry (not the folders), with '\' separators, to visit in archive
// order; 1 when the archive could be read, every path is safe and visit never answered 0. Tells what an
// extraction will overwrite before it runs.
typedef int (*ArchiveFileVisitor)(const char *path, void *user);
int ForEachArchiveFile(const char *archivePath, ArchiveFileVisitor visit, void *user);

// 1 for a name that stays in the folder it is put in: not empty, no '\', '/' or ':', not "." or "..", no
// control characters, not ending in a blank or a dot, and no reserved device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, with or without an extension).
int IsPlainFileName(const char *name);

// 1 for an archive path ('/' or '\' separated) made of plain names only, optionally ending in a separator
// (a folder entry): no absolute path, no drive letter, no ".." anywhere.
int IsSafeArchivePath(const char *path);

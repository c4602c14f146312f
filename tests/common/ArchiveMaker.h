// ArchiveMaker: ZIP files for the tests, written through libzip.
//
// Functions: MakeArchive.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Writes a ZIP at path with the given (name, content) entries, names stored as given (a name ending in '/'
// is a folder entry). 1 on success.
int MakeArchive(const std::string &path, const std::vector<std::pair<std::string, std::string>> &entries);

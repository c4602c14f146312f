// ArchiveMaker: libzip's writer with raw (unchecked) entry names, so that tests can build hostile archives.
#include "tests/common/ArchiveMaker.h"

#include <zip.h>

int MakeArchive(const std::string &path, const std::vector<std::pair<std::string, std::string>> &entries) {
    int error = 0;
    zip_t *archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return 0;
    for (const auto &entry : entries) {
        if (!entry.first.empty() && entry.first.back() == '/') {
            zip_dir_add(archive, entry.first.c_str(), ZIP_FL_ENC_RAW);
            continue;
        }
        zip_source_t *source = zip_source_buffer(archive, entry.second.data(), entry.second.size(), 0);
        if (!source ||
            zip_file_add(archive, entry.first.c_str(), source, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return 0;
        }
    }
    return zip_close(archive) == 0;
}

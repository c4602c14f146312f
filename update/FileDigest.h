// FileDigest: the size and SHA-256 of a downloaded file, compared with what the signed answer announced.
//
// Classes: FileDigest.
#pragma once

#include <cstdint>

class FileDigest {
public:
    enum : uint32_t { kHexLength = 64 };

    FileDigest() = default;
    FileDigest(const FileDigest &) = delete;
    FileDigest &operator=(const FileDigest &) = delete;

    // Reads the whole file; 1 when it could. Size() and Hex() then describe it.
    int Compute(const char *path);
    // 1 when the file has exactly size bytes and the SHA-256 given as 64 hex digits (either letter case).
    int Matches(const char *path, uint64_t size, const char *sha256Hex);

    uint64_t Size() const { return size_; }
    const char *Hex() const { return hex_; }

private:
    uint64_t size_ = 0;
    char hex_[kHexLength + 1] = {};
};

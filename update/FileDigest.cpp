// FileDigest: hashing a file with libsodium's SHA-256, a block at a time.
#include "update/FileDigest.h"
#include "base/DiskFile.h"
#include <sodium.h>
#include <cstring>
#include <memory>
#include <new>

namespace {
const uint32_t kBlock = 64 * 1024;
}

int FileDigest::Compute(const char *path) {
    size_ = 0;
    hex_[0] = 0;
    if (!path || sodium_init() < 0)
        return 0;
    DiskFile file;
    if (!file.Open(path, DiskFile::ReadExisting, FILE_FLAG_SEQUENTIAL_SCAN, FILE_SHARE_READ))
        return 0;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    // From the heap: the check thread's stack holds the archive copy buffer as well.
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kBlock]);
    if (!block)
        return 0;
    int ok = 1;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Handle(), block.get(), kBlock, &got, nullptr)) {
            ok = 0;
            break;
        }
        if (got == 0)
            break;
        crypto_hash_sha256_update(&state, block.get(), got);
        size_ += got;
    }
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    if (!ok)
        return 0;
    sodium_bin2hex(hex_, sizeof hex_, digest, sizeof digest);
    return 1;
}

int FileDigest::Matches(const char *path, uint64_t size, const char *sha256Hex) {
    if (!sha256Hex || strlen(sha256Hex) != kHexLength || !Compute(path))
        return 0;
    return size_ == size && _stricmp(hex_, sha256Hex) == 0;
}

// HttpMemoryBlock: a growable block of received bytes that SendRequest appends a response to (event 12):
// the caller owns it, the client appends.
//
// Classes: HttpMemoryBlock.
#pragma once

#include <cstdint>

class HttpMemoryBlock {
public:
    HttpMemoryBlock() = default;
    ~HttpMemoryBlock();
    HttpMemoryBlock(const HttpMemoryBlock &) = delete;
    HttpMemoryBlock &operator=(const HttpMemoryBlock &) = delete;

    int Append(const void *bytes, uint32_t count);
    void Clear();
    const char *Data() const { return data_; }
    uint64_t Length() const { return length_; }

private:
    char *data_ = nullptr;
    uint64_t length_ = 0;
    uint64_t capacity_ = 0;
};

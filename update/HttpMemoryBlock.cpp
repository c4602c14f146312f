// HttpMemoryBlock: growth by doubling on the process heap, up to 2 GiB.
#include "update/HttpMemoryBlock.h"
#include "base/Win.h"
#include <cstring>

HttpMemoryBlock::~HttpMemoryBlock() {
    Clear();
}

int HttpMemoryBlock::Append(const void *bytes, uint32_t count) {
    if (length_ + count > capacity_) {
        uint64_t capacity = capacity_ ? capacity_ : 65536;
        while (capacity < length_ + count)
            capacity *= 2;
        if (capacity > 0x7FFFFFFF)
            return 0;
        void *grown = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, static_cast<SIZE_T>(capacity))
                            : HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(capacity));
        if (!grown)
            return 0;
        data_ = static_cast<char *>(grown);
        capacity_ = capacity;
    }
    memcpy(data_ + length_, bytes, count);
    length_ += count;
    return 1;
}

void HttpMemoryBlock::Clear() {
    if (data_)
        HeapFree(GetProcessHeap(), 0, data_);
    data_ = nullptr;
    length_ = 0;
    capacity_ = 0;
}

// MemoryStream: the IStream the legacy XML object model reads its text from and saves its document into.
#include "update/MemoryStream.h"
#include <cstring>

MemoryStream::MemoryStream(const char *text) {
    text_.Assign(text);
}

HRESULT MemoryStream::QueryInterface(REFIID iid, void **out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream)) {
        *out = static_cast<IStream *>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG MemoryStream::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG MemoryStream::Release() {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT MemoryStream::Read(void *buffer, ULONG count, ULONG *done) {
    if (done)
        *done = 0;
    if (!buffer)
        return STG_E_INVALIDPOINTER;
    uint32_t length = static_cast<uint32_t>(text_.Length() > 0 ? text_.Length() : 0);
    if (position_ > length)
        position_ = length;
    uint32_t remaining = length - position_;
    if (count <= remaining) {
        memcpy(buffer, text_.At(static_cast<int>(position_)), count);
        position_ += count;
        if (done)
            *done = count;
        return S_OK;
    }
    // The last piece: the zero after it is copied for readers that treat the buffer as a string, but only the
    // text is counted, so a reader that goes on asking sees the end (0 bytes) rather than a stray zero.
    if (remaining)
        memcpy(buffer, text_.At(static_cast<int>(position_)), remaining);
    static_cast<char *>(buffer)[remaining] = '\0';
    position_ = length;
    if (done)
        *done = remaining;
    return S_OK;
}

HRESULT MemoryStream::Write(const void *buffer, ULONG count, ULONG *done) {
    if (done)
        *done = 0;
    if (!buffer && count)
        return STG_E_INVALIDPOINTER;
    const char *bytes = static_cast<const char *>(buffer);
    ULONG kept = 0;
    while (kept < count && bytes[kept])
        ++kept;
    TextString piece(kept + 1);
    if (kept && (!piece.Assign(bytes, kept) || !text_.Append(piece)))
        return STG_E_MEDIUMFULL;
    if (done)
        *done = kept;
    return S_OK;
}

HRESULT MemoryStream::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::SetSize(ULARGE_INTEGER) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::Commit(DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::Revert() {
    return E_NOTIMPL;
}
HRESULT MemoryStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::Stat(STATSTG *, DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryStream::Clone(IStream **) {
    return E_NOTIMPL;
}

// MemoryStream: a minimal IStream over a TextString, enough for a parser to read a text from it or write a
// document into it.
//
// Classes: MemoryStream.
#pragma once

#include "base/TextString.h"
#include <objbase.h>

class MemoryStream : public IStream {
public:
    // Starts with one reference (the creator's) and a copy of text (none: empty).
    explicit MemoryStream(const char *text = nullptr);
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;

    // What was written so far, or the text given at construction.
    const TextString &Text() const { return text_; }

    // IUnknown: answers IUnknown and IStream.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Copies from the read position and advances; at the end of the text the terminating zero is copied too
    // (when there is room) but not counted.
    HRESULT STDMETHODCALLTYPE Read(void *buffer, ULONG count, ULONG *done) override;
    // Appends the bytes up to the first zero among them; reports how many were kept.
    HRESULT STDMETHODCALLTYPE Write(const void *buffer, ULONG count, ULONG *done) override;
    // The rest: E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *target, ULARGE_INTEGER count, ULARGE_INTEGER *read,
                                     ULARGE_INTEGER *written) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream **out) override;

private:
    // Only Release deletes.
    virtual ~MemoryStream() = default;

    LONG references_ = 1;
    TextString text_;
    uint32_t position_ = 0;
};

// DiskFile: CreateFileA modes, the block-buffered line reader, chunked writes and mapped views.
#include "base/DiskFile.h"
#include "base/TextString.h"

namespace {
struct ModeFlags {
    DWORD access;
    DWORD disposition;
};

const ModeFlags kModes[] = {
    {GENERIC_READ, OPEN_EXISTING},
    {GENERIC_WRITE, CREATE_ALWAYS},
    {GENERIC_WRITE, OPEN_EXISTING},
    {GENERIC_WRITE, OPEN_ALWAYS},
    {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
    {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
};
} // namespace

DiskFile::~DiskFile() {
    Close();
    if (lineBuffer_)
        HeapFree(GetProcessHeap(), 0, lineBuffer_);
}

void DiskFile::ResetLineReader() {
    linePosition_ = 0;
    lineCount_ = 0;
}

int DiskFile::Open(const char *fileName, uint32_t mode, uint32_t flagsAndAttributes, uint32_t shareMode) {
    Close();
    mode_ = mode;
    if (mode >= sizeof(kModes) / sizeof(kModes[0]) || !fileName)
        return 0;
    file_ = CreateFileA(fileName, kModes[mode].access, shareMode, nullptr, kModes[mode].disposition,
                        flagsAndAttributes, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

// Reads the next block behind the unread bytes, which are fewer than one unit (a 16-bit unit may be split
// across two reads); 0 on a read error.
int DiskFile::FillLineBuffer() {
    uint32_t carried = lineCount_ - linePosition_;
    if (carried)
        lineBuffer_[0] = lineBuffer_[linePosition_];
    DWORD read = 0;
    if (!ReadFile(file_, lineBuffer_ + carried, LineBufferSize - carried, &read, nullptr))
        return 0;
    linePosition_ = 0;
    lineCount_ = carried + read;
    return 1;
}

int DiskFile::ReadLine(TextString &out, int wideUnits, wchar_t quote) {
    out.Assign("");
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    if (!lineBuffer_) {
        lineBuffer_ = static_cast<unsigned char *>(HeapAlloc(GetProcessHeap(), 0, LineBufferSize));
        if (!lineBuffer_)
            return 0;
    }
    const uint32_t unitSize = wideUnits ? 2 : 1;
    int quoted = 0;
    for (;;) {
        if (lineCount_ - linePosition_ < unitSize) {
            if (!FillLineBuffer())
                return 0;
            if (lineCount_ < unitSize) {
                // End of file; a lone byte left over in 16-bit mode is no character and is dropped.
                ResetLineReader();
                return out.Length() > 0;
            }
        }
        wchar_t unit = lineBuffer_[linePosition_];
        if (wideUnits == Utf16BigEndianUnits)
            unit = static_cast<wchar_t>((unit << 8) | lineBuffer_[linePosition_ + 1]);
        else if (wideUnits)
            unit = static_cast<wchar_t>(unit | (lineBuffer_[linePosition_ + 1] << 8));
        linePosition_ += unitSize;
        if (linePosition_ == lineCount_)
            ResetLineReader();

        // Quote 0 means "no quote character": a NUL in the data must not start a quoted section.
        if (quote && unit == quote)
            quoted = !quoted;
        if (unit == L'\n' && !quoted)
            return 1;
        if ((unit == L'\r' && !quoted) || unit == 0)
            continue; // a NUL cannot be held by a zero-terminated line, so it is dropped
        // 8-bit units are already text in the system code page: widening them as if they were Latin-1
        // code points would corrupt every byte above 0x7F outside that code page.
        int appended = wideUnits ? out.AppendWideChar(unit) : out.Append(static_cast<char>(unit));
        if (!appended)
            return 0;
    }
}

int DiskFile::Write(uint32_t count, uint32_t *written, const void *data) {
    if (written)
        *written = 0;
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    DWORD done = 0;
    if (WriteFile(file_, data, count, &done, nullptr)) {
        if (written) {
            *written = done;
            return 1;
        }
        return done == count;
    }
    DWORD error = GetLastError();
    if (written)
        return 0;
    // Very large writes can exhaust kernel pool (non-paged memory for the I/O) while smaller ones succeed.
    if (error != ERROR_NO_SYSTEM_RESOURCES)
        return 0;
    return WriteChunks(count, data);
}

int DiskFile::WriteChunks(uint32_t count, const void *data, uint32_t chunkSize) {
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    if (chunkSize == 0 || chunkSize > WriteChunkSize)
        chunkSize = WriteChunkSize;
    const char *bytes = static_cast<const char *>(data);
    while (count) {
        DWORD part = count < chunkSize ? count : chunkSize;
        DWORD done = 0;
        if (!WriteFile(file_, bytes, part, &done, nullptr) || done != part)
            return 0;
        bytes += part;
        count -= part;
    }
    return 1;
}

uint64_t DiskFile::Size() const {
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return 0;
    return (static_cast<uint64_t>(high) << 32) | low;
}

int DiskFile::Seek(uint32_t moveMethod, int64_t distance) {
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    LONG high = static_cast<LONG>(distance >> 32);
    // A legal position can equal INVALID_SET_FILE_POINTER; only a fresh error code tells them apart.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file_, static_cast<LONG>(distance & 0xFFFFFFFF), &high, moveMethod);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return 0;
    return 1;
}

int DiskFile::SetEnd() {
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    return SetEndOfFile(file_) != 0;
}

void *DiskFile::MapView(uint64_t offset, uint64_t size, const char *mappingName, uint32_t access) {
    const DWORD protection = mode_ == ReadExisting ? PAGE_READONLY : PAGE_READWRITE;
    const DWORD modeAccess = mode_ == ReadExisting ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS;
    if (!mapping_) {
        if (mappingName) {
            mapping_ = OpenFileMappingA(access, FALSE, mappingName);
            viewAccess_ = access;
        } else if (file_ != INVALID_HANDLE_VALUE) {
            // Without an open file CreateFileMappingA would quietly hand out page-file memory instead.
            mapping_ = CreateFileMappingA(file_, nullptr, protection | SEC_COMMIT,
                                          static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
            viewAccess_ = modeAccess;
        }
        if (!mapping_) {
            Close();
            return nullptr;
        }
    }
    if (view_) {
        UnmapViewOfFile(view_);
        view_ = nullptr;
    }
    view_ = MapViewOfFile(mapping_, viewAccess_, static_cast<DWORD>(offset >> 32), static_cast<DWORD>(offset),
                          static_cast<SIZE_T>(size & 0xFFFFFFFF));
    if (!view_) {
        Close();
        return nullptr;
    }
    return view_;
}

int DiskFile::Close() {
    int closed = 0;
    if (view_) {
        UnmapViewOfFile(view_);
        view_ = nullptr;
        closed = 1;
    }
    if (mapping_) {
        CloseHandle(mapping_);
        mapping_ = nullptr;
        closed = 1;
    }
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        closed = 1;
    }
    // Buffered bytes belong to the file just closed.
    ResetLineReader();
    return closed;
}

int DeleteFileForced(const char *fileName) {
    if (!fileName)
        return 0;
    SetFileAttributesA(fileName, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(fileName) != 0;
}

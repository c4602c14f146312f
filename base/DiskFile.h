// DiskFile: one open file with a buffered line reader, chunked writing and a memory-mapped view; beside it
// the deletion that clears protective attributes first.
//
// Classes: DiskFile. Functions: DeleteFileForced.
#pragma once

#include "base/Win.h"
#include <cstdint>

class TextString;

class DiskFile {
public:
    // Open modes: access and disposition passed to CreateFileA.
    enum Mode : uint32_t {
        ReadExisting = 0,      // read, open existing
        WriteCreate = 1,       // write, create always (truncate)
        WriteExisting = 2,     // write, open existing
        WriteAlways = 3,       // write, open always
        ReadWriteAlways = 4,   // read and write, open always
        ReadWriteExisting = 5, // read and write, open existing
    };
    // Units of ReadLine.
    enum Units : int {
        ByteUnits = 0,          // bytes, the text as it is
        Utf16Units = 1,         // little-endian UTF-16
        Utf16BigEndianUnits = 2 // big-endian UTF-16
    };
    static constexpr uint32_t LineBufferSize = 4096;
    static constexpr uint32_t WriteChunkSize = 0x100000;

    DiskFile() = default;
    ~DiskFile();
    DiskFile(const DiskFile &) = delete;
    DiskFile &operator=(const DiskFile &) = delete;

    int Open(const char *fileName, uint32_t mode, uint32_t flagsAndAttributes, uint32_t shareMode);
    // Reads the next line into out: 8-bit units (appended as the bytes they are) or, with wideUnits 1 or 2,
    // little- or big-endian UTF-16 units converted to the system code page. LF ends a line unless it lies
    // inside quote characters (quote 0: none); CR is kept only inside quotes. 1 while lines remain, 0 at the
    // end.
    int ReadLine(TextString &out, int wideUnits, wchar_t quote);
    // With written: 1 when WriteFile succeeded, the count stored. Without: 1 only when everything was
    // written, falling back to 1 MiB chunks when the system lacks the resources for one large write.
    int Write(uint32_t count, uint32_t *written, const void *data);
    // The fall-back of Write: every chunk of at most chunkSize bytes must be written whole.
    int WriteChunks(uint32_t count, const void *data, uint32_t chunkSize = WriteChunkSize);
    uint64_t Size() const;
    int Seek(uint32_t moveMethod, int64_t distance);
    int SetEnd();
    // Maps size bytes (0: to the end) at offset; a named mapping is opened with access instead of created
    // from the file. On failure everything is closed, the file included, and none is returned.
    void *MapView(uint64_t offset, uint64_t size, const char *mappingName, uint32_t access);
    int Close();

    HANDLE Handle() const { return file_; }
    void *View() const { return view_; }

private:
    void ResetLineReader();
    int FillLineBuffer();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    void *view_ = nullptr;
    uint32_t mode_ = ReadExisting;
    uint32_t viewAccess_ = 0;
    unsigned char *lineBuffer_ = nullptr;
    uint32_t linePosition_ = 0;
    uint32_t lineCount_ = 0;
};

// Clears read-only, hidden and system first, so that DeleteFileA does not refuse the file.
int DeleteFileForced(const char *fileName);

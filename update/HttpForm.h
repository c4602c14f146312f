// HttpForm: the multipart/form-data body that HttpClient's form builder collects, as the ordered list of
// parts that goes to HttpSendRequestExA. FormPart is one piece of it, FormTransferRecord that piece's
// transfer record.
//
// Classes: HttpForm, FormPart. Structures: FormTransferRecord.
#pragma once

#include "base/DiskFile.h"
#include "base/TextString.h"
#include <cstdint>
#include <memory>

// Transfer record of one form part. It has the layout of WinINet's INTERNET_BUFFERSA (40 bytes), so that the
// chain of records goes to HttpSendRequestExA unchanged.
struct FormTransferRecord {
    uint32_t structureSize;
    FormTransferRecord *next;
    const char *header;
    uint32_t headerLength;
    uint32_t headersTotal;
    const void *data;
    uint32_t dataLength;
    uint32_t totalLength;
    uint32_t offsetLow;
    uint32_t offsetHigh;
};

// One piece of a multipart body: its transfer record plus what the data points into, its own text or a
// read-only view of a whole file. Each part owns the one after it.
class FormPart {
public:
    FormPart();
    ~FormPart() = default;
    FormPart(const FormPart &) = delete;
    FormPart &operator=(const FormPart &) = delete;

    FormTransferRecord record;
    std::unique_ptr<FormPart> next;
    TextString text;
    DiskFile file;
};

class HttpForm {
public:
    HttpForm() = default;
    ~HttpForm() { Clear(); }
    HttpForm(const HttpForm &) = delete;
    HttpForm &operator=(const HttpForm &) = delete;

    // A field; name and value are sent as the bytes they are (never interpreted as a format).
    int AddField(const char *name, const char *value);
    // A file: its header part, its bytes (a view of the whole file) and the line end after them. 0 when the
    // file cannot be opened; its header part stays in the list all the same.
    int AddFile(const char *name, const char *filePath);
    // Appends the closing line and gives every record the body's total length, the first one the
    // Content-Type header. The first part, ready to send; null (the parts released) when memory is short or
    // the body is longer than a record can count.
    FormPart *Finish();
    void Clear();
    FormPart *First() const { return first_.get(); }

    // The multipart boundary and the Content-Type header that goes with the first part.
    static const char kBoundary[];
    static const char kContentType[];

private:
    // A part whose data is its own text.
    static std::unique_ptr<FormPart> TextPart(const char *text);
    int Append(std::unique_ptr<FormPart> part);

    std::unique_ptr<FormPart> first_;
    FormPart *last_ = nullptr; // borrowed: the end of the list first_ owns
};

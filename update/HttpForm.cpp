// HttpForm: building the multipart body part by part, and its closing.
#include "update/HttpForm.h"
#include "base/PathName.h"
#include "base/OwnedChain.h"
#include "base/Win.h"
#include <wininet.h>
#include <cstddef>
#include <cstring>
#include <new>

static_assert(sizeof(FormTransferRecord) == sizeof(INTERNET_BUFFERSA),
              "a form record is an INTERNET_BUFFERSA");
static_assert(offsetof(FormTransferRecord, dataLength) == offsetof(INTERNET_BUFFERSA, dwBufferLength),
              "a form record is an INTERNET_BUFFERSA");

namespace {
// The boundary as it opens a part (two more dashes) and as it closes the body.
const char kDelimiter[] = "-------------------------------1234567890123";
const char kClosing[] = "-------------------------------1234567890123--\r\n";
} // namespace

const char HttpForm::kBoundary[] = "-----------------------------1234567890123";
const char HttpForm::kContentType[] =
    "Content-Type: multipart/form-data; boundary=-----------------------------1234567890123";

FormPart::FormPart() : record() {
    record.structureSize = sizeof(FormTransferRecord);
}

std::unique_ptr<FormPart> HttpForm::TextPart(const char *text) {
    std::unique_ptr<FormPart> part(new (std::nothrow) FormPart);
    if (!part || !part->text.Assign(text))
        return nullptr;
    part->record.data = part->text.Text();
    part->record.dataLength = static_cast<uint32_t>(part->text.Length());
    return part;
}

int HttpForm::Append(std::unique_ptr<FormPart> part) {
    if (!part)
        return 0;
    FormPart *added = part.get();
    if (last_) {
        last_->record.next = &added->record;
        last_->next = std::move(part);
    } else {
        first_ = std::move(part);
    }
    last_ = added;
    return 1;
}

int HttpForm::AddField(const char *name, const char *value) {
    // Built by appending: a name or value is data and must never be read as a format.
    TextString text;
    const int built = text.Assign(kDelimiter) && text.Append("\r\nContent-Disposition: form-data; name=\"") &&
                      text.Append(name) && text.Append("\"\r\n\r\n") && text.Append(value) &&
                      text.Append("\r\n");
    return built && Append(TextPart(text.Text()));
}

int HttpForm::AddFile(const char *name, const char *filePath) {
    TextString text;
    const int built = text.Assign(kDelimiter) && text.Append("\r\nContent-Disposition: form-data; name=\"") &&
                      text.Append(name) && text.Append("\"; filename=\"") &&
                      text.Append(filePath ? FileNamePart(filePath) : "") &&
                      text.Append("\"\r\nContent-Type: application/octet-stream\r\n\r\n");
    if (!built || !Append(TextPart(text.Text())))
        return 0;

    std::unique_ptr<FormPart> content(new (std::nothrow) FormPart);
    std::unique_ptr<FormPart> end = TextPart("\r\n");
    if (!content || !end ||
        !content->file.Open(filePath, DiskFile::ReadExisting, 0, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return 0;
    const uint64_t size = content->file.Size();
    // The record counts 32 bits; and an empty file has no mapping, it is sent as no bytes.
    if (size >= 0xFFFFFFFF)
        return 0;
    if (size > 0 && !(content->record.data = content->file.MapView(0, 0, nullptr, 0)))
        return 0;
    content->record.dataLength = static_cast<uint32_t>(size);
    Append(std::move(content));
    return Append(std::move(end));
}

FormPart *HttpForm::Finish() {
    uint64_t total = 0;
    const int closed = Append(TextPart(kClosing));
    for (FormPart *part = first_.get(); closed && part; part = part->next.get())
        total += part->record.dataLength;
    if (!closed || total > 0xFFFFFFFF) {
        Clear();
        return nullptr;
    }
    for (FormPart *part = first_.get(); part; part = part->next.get())
        part->record.totalLength = static_cast<uint32_t>(total);
    first_->record.header = kContentType;
    first_->record.headerLength = static_cast<uint32_t>(strlen(kContentType));
    first_->record.headersTotal = first_->record.headerLength;
    return first_.get();
}

void HttpForm::Clear() {
    ReleaseChain(first_);
    last_ = nullptr;
}

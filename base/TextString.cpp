// TextString: growth rules, multibyte-aware editing and search, code-page conversions, the line reader and
// printf-style formatting.
#include "base/TextString.h"
#include "base/TextChars.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mbstring.h>
#include <memory>
#include <new>

namespace {

const uint32_t kDefaultCapacity = 260;
const uint32_t kAppendSlack = 20;
// Format stops growing here: an output this large is a runaway argument, not a report line.
const uint32_t kFormatLimit = 3145728;
const char kNoText[] = "";

int Overlaps(const char *p, const char *block, uint32_t capacity) {
    return block && p >= block && p < block + capacity;
}

// A source text taken aside when it lies in the block an edit is about to move or free; otherwise the text
// itself. Text() is null only when the copy could not be made.
class SideCopy {
public:
    SideCopy(const char *text, uint32_t length, const char *block, uint32_t capacity) : text_(text) {
        if (!Overlaps(text, block, capacity))
            return;
        copy_.reset(new (std::nothrow) char[length + 1]);
        if (copy_) {
            memcpy(copy_.get(), text, length);
            copy_[length] = 0;
        }
        text_ = copy_.get();
    }
    const char *Text() const { return text_; }

private:
    std::unique_ptr<char[]> copy_;
    const char *text_;
};

} // namespace

TextString::TextString() : TextString(kDefaultCapacity) {}

TextString::TextString(uint32_t capacity) {
    if (capacity == 0)
        capacity = 1;
    text_ = static_cast<char *>(malloc(capacity));
    if (text_) {
        text_[0] = 0;
        capacity_ = capacity;
        size_ = 1;
    }
}

TextString::~TextString() {
    free(text_);
    free(wide_);
}

// Reallocates to exactly capacity keeping the content; a block smaller than the text cuts it.
int TextString::Grow(uint32_t capacity) {
    if (capacity == 0)
        capacity = 1;
    char *block = static_cast<char *>(realloc(text_, capacity));
    if (!block) {
        ResetEmpty();
        return 0;
    }
    if (!text_) {
        block[0] = 0;
        size_ = 1;
    }
    text_ = block;
    capacity_ = capacity;
    if (size_ > capacity) {
        size_ = capacity;
        text_[capacity - 1] = 0;
    }
    lineCursorSet_ = 0;
    return 1;
}

// The state every failure leaves behind: 260 bytes, empty; no buffer at all when even that fails.
void TextString::ResetEmpty() {
    char *block = static_cast<char *>(realloc(text_, kDefaultCapacity));
    if (block) {
        text_ = block;
        capacity_ = kDefaultCapacity;
        size_ = 1;
        text_[0] = 0;
    } else {
        free(text_);
        text_ = nullptr;
        capacity_ = 0;
        size_ = 0;
    }
    lineCursorSet_ = 0;
}

int TextString::Assign(const char *text) {
    return Assign(text ? text : kNoText, text ? strlen(text) : 0);
}

int TextString::Assign(const char *text, uint32_t count) {
    if (!text)
        count = 0;
    if (count >= UINT32_MAX) {
        ResetEmpty();
        return 0;
    }
    if (!text_ || capacity_ < count + 1) {
        // A fresh block rather than realloc: the old content is not needed, and the source may lie in it.
        char *block = static_cast<char *>(malloc(count + 1));
        if (!block) {
            ResetEmpty();
            return 0;
        }
        memcpy(block, text, count);
        free(text_);
        text_ = block;
        capacity_ = count + 1;
    } else if (count) {
        memmove(text_, text, count);
    }
    text_[count] = 0;
    lineCursorSet_ = 0;
    Recount();
    return 1;
}

int TextString::Assign(const wchar_t *text) {
    if (!text || !*text)
        return Assign(kNoText, 0);
    size_t units = wcslen(text);
    if (units > INT32_MAX - 1) {
        ResetEmpty();
        return 0;
    }
    // Measured first: a double-byte code page needs up to two bytes per unit.
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        ResetEmpty();
        return 0;
    }
    if (!text_ || capacity_ < static_cast<uint32_t>(bytes) + 1) {
        if (!Grow(static_cast<uint32_t>(bytes) + 1))
            return 0;
    }
    int written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), text_,
                                      static_cast<int>(capacity_ - 1), nullptr, nullptr);
    if (written <= 0) {
        ResetEmpty();
        return 0;
    }
    text_[written] = 0;
    lineCursorSet_ = 0;
    Recount();
    return 1;
}

int TextString::Assign(const TextString *other) {
    if (!other) {
        ResetEmpty();
        return text_ != nullptr;
    }
    if (other == this)
        return text_ != nullptr;
    return Assign(other->text_ ? other->text_ : kNoText, other->Used());
}

TextString &TextString::operator=(const char *text) {
    Assign(text);
    return *this;
}

TextString &TextString::operator=(const wchar_t *text) {
    Assign(text);
    return *this;
}

int TextString::Reset(uint32_t capacity) {
    if (capacity == 0)
        capacity = 1;
    char *block = static_cast<char *>(realloc(text_, capacity));
    if (!block) {
        ResetEmpty();
        return 0;
    }
    text_ = block;
    capacity_ = capacity;
    size_ = 1;
    text_[0] = 0;
    lineCursorSet_ = 0;
    return 1;
}

int TextString::SetSize(uint32_t n) {
    if (!text_ || n == 0 || n > capacity_ - 1)
        return 0;
    size_ = n;
    text_[n - 1] = 0;
    return 1;
}

void TextString::Recount() {
    if (!text_) {
        size_ = 0;
        return;
    }
    const char *end = static_cast<const char *>(memchr(text_, 0, capacity_));
    if (!end) {
        // Text written straight into the buffer without a terminator: the last byte becomes one.
        text_[capacity_ - 1] = 0;
        size_ = capacity_;
        return;
    }
    size_ = static_cast<uint32_t>(end - text_) + 1;
}

int TextString::AppendBytes(const char *bytes, uint32_t count) {
    uint32_t length = Used();
    if (count > UINT32_MAX - length - 1 - kAppendSlack) {
        ResetEmpty();
        return 0;
    }
    uint32_t needed = length + count + 1;
    if (!text_ || needed > capacity_) {
        // The source may be our own text; it is found again by its offset after the move.
        int own = Overlaps(bytes, text_, capacity_);
        uint32_t offset = own ? static_cast<uint32_t>(bytes - text_) : 0;
        if (!Grow(needed + kAppendSlack))
            return 0;
        if (own)
            bytes = text_ + offset;
    }
    memmove(text_ + length, bytes, count);
    text_[length + count] = 0;
    // The text before length holds no terminator, so counting the appended part is a full recount.
    size_ = length + static_cast<uint32_t>(strlen(text_ + length)) + 1;
    lineCursorSet_ = 0;
    return 1;
}

int TextString::Append(const char *text) {
    if (!text)
        return 1;
    return AppendBytes(text, static_cast<uint32_t>(strlen(text)));
}

int TextString::Append(const TextString &other) {
    if (!other.text_)
        return 1;
    return AppendBytes(other.text_, other.Used());
}

int TextString::Append(char byte) {
    return AppendBytes(&byte, 1);
}

int TextString::Append(const wchar_t *text) {
    if (!text)
        return 1;
    // Measured with the terminator, which is converted along with the text.
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        ResetEmpty();
        return 0;
    }
    uint32_t length = Used();
    uint32_t needed = length + static_cast<uint32_t>(bytes);
    if (needed < length || needed > UINT32_MAX - kAppendSlack) {
        ResetEmpty();
        return 0;
    }
    if (!text_ || needed > capacity_) {
        if (!Grow(needed + kAppendSlack))
            return 0;
    }
    int written = WideCharToMultiByte(CP_ACP, 0, text, -1, text_ + length,
                                      static_cast<int>(capacity_ - length), nullptr, nullptr);
    if (written <= 0) {
        ResetEmpty();
        return 0;
    }
    size_ = length + static_cast<uint32_t>(strlen(text_ + length)) + 1;
    lineCursorSet_ = 0;
    return 1;
}

int TextString::AppendWideChar(wchar_t unit) {
    wchar_t one[2] = {unit, 0};
    return Append(one);
}

const char *TextString::EnsureTrailing(char byte) {
    if (!text_)
        return nullptr;
    uint32_t length = Used();
    if (length == 0 || text_[length - 1] != byte)
        Append(byte);
    return text_;
}

const char *TextString::Insert(int position, const char *text) {
    if (!text_ && !Grow(kDefaultCapacity))
        return nullptr;
    if (!text || !*text)
        return text_;
    uint32_t length = Used();
    uint32_t at = static_cast<uint32_t>(position);
    if (at > length)
        at = length;
    uint32_t count = static_cast<uint32_t>(strlen(text));
    if (count > UINT32_MAX - length - 1) {
        ResetEmpty();
        return nullptr;
    }
    // Our own text as the source would be shifted under the copy: take it aside first.
    const SideCopy source(text, count, text_, capacity_);
    if (!source.Text()) {
        ResetEmpty();
        return nullptr;
    }
    if (length + 1 + count > capacity_ && !Grow(length + 1 + count))
        return nullptr;
    memmove(text_ + at + count, text_ + at, length - at + 1);
    memcpy(text_ + at, source.Text(), count);
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

const char *TextString::Delete(int position, int count) {
    if (!text_)
        return nullptr;
    uint32_t length = Used();
    // Both numbers are taken unsigned: a negative position lies beyond the end (no change) and a negative
    // count reaches to the end.
    uint32_t at = static_cast<uint32_t>(position);
    if (at >= length || count == 0)
        return text_;
    uint32_t n = static_cast<uint32_t>(count);
    if (n > length - at)
        n = length - at;
    memmove(text_ + at, text_ + at + n, length - at - n + 1);
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

const char *TextString::Left(int n) {
    if (!text_)
        return nullptr;
    uint32_t length = Used();
    uint32_t keep = n < 0 ? 0 : static_cast<uint32_t>(n);
    if (keep > length)
        keep = length;
    text_[keep] = 0;
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

const char *TextString::Mid(int position, int count) {
    if (!text_)
        return nullptr;
    uint32_t length = Used();
    uint32_t at = position < 0 ? 0 : static_cast<uint32_t>(position);
    if (at > length)
        at = length;
    uint32_t n = count < 0 ? 0 : static_cast<uint32_t>(count);
    if (n > length - at)
        n = length - at;
    memmove(text_, text_ + at, n);
    text_[n] = 0;
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

const char *TextString::From(int position) {
    // Computed wide: length - position overflows an int for the most negative positions.
    int64_t count = static_cast<int64_t>(Used()) - position;
    if (count > INT32_MAX)
        count = INT32_MAX;
    return Mid(position, static_cast<int>(count));
}

const char *TextString::TrimLeft() {
    if (!text_)
        return nullptr;
    const char *p = text_;
    while (*p && CharBytes(p) == 1 && IsSpace(*p))
        ++p;
    if (p != text_)
        memmove(text_, p, strlen(p) + 1);
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

const char *TextString::TrimRight() {
    if (!text_)
        return nullptr;
    // Walked from the start: stepping backwards cannot tell a trail byte from a character of its own.
    char *end = text_;
    for (char *p = text_; *p;) {
        uint32_t n = CharBytes(p);
        if (n != 1 || !IsSpace(*p))
            end = p + n;
        p += n;
    }
    *end = 0;
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

// Replaces every occurrence. A shorter replacement rescans from where a new occurrence could have formed
// around it, so runs of a doubled pattern collapse (two double quotes to one turns any run into a single
// quote). Any other replacement resumes after itself: rescanning a replacement that holds the searched text
// would never end.
const char *TextString::ReplaceAll(const char *find, const char *replacement, int inPlace, int ignoreCase) {
    if (!text_)
        return nullptr;
    if (!find || !*find) {
        Recount();
        return text_;
    }
    if (!replacement)
        replacement = kNoText;
    const uint32_t lf = static_cast<uint32_t>(strlen(find)), lr = static_cast<uint32_t>(strlen(replacement));
    // Either text may be our own buffer, which the edits below move or free.
    const SideCopy findCopy(find, lf, text_, capacity_);
    const SideCopy replacementCopy(replacement, lr, text_, capacity_);
    if (!findCopy.Text() || !replacementCopy.Text()) {
        ResetEmpty();
        return nullptr;
    }
    if (lr > lf)
        inPlace = 0;
    for (uint32_t from = 0;;) {
        const char *hit = SearchChars(text_ + from, findCopy.Text(), lf, ignoreCase);
        if (!hit)
            break;
        const uint32_t at = static_cast<uint32_t>(hit - text_);
        if (!ReplaceAt(at, lf, replacementCopy.Text(), lr, inPlace)) {
            ResetEmpty();
            return nullptr;
        }
        from = ResumeAt(at, lf, lr);
    }
    lineCursorSet_ = 0;
    Recount();
    return text_;
}

int TextString::ReplaceAt(uint32_t at, uint32_t lf, const char *replacement, uint32_t lr, int inPlace) {
    const uint32_t length = Used();
    const uint32_t tail = length - at - lf + 1;
    if (inPlace) {
        memcpy(text_ + at, replacement, lr);
        memmove(text_ + at + lr, text_ + at + lf, tail);
    } else {
        if (lr > lf && capacity_ > UINT32_MAX - (lr - lf))
            return 0;
        const uint32_t capacity = capacity_ + lr - lf;
        char *block = static_cast<char *>(malloc(capacity));
        if (!block)
            return 0;
        memcpy(block, text_, at);
        memcpy(block + at, replacement, lr);
        memcpy(block + at + lr, text_ + at + lf, tail);
        free(text_);
        text_ = block;
        capacity_ = capacity;
    }
    size_ = length - lf + lr + 1;
    return 1;
}

uint32_t TextString::ResumeAt(uint32_t at, uint32_t lf, uint32_t lr) const {
    if (lr >= lf)
        return at + lr;
    // Back to the first character boundary from which a match could reach into the replacement. Boundaries
    // are only known walking forward from the start; the move before this costs as much.
    const uint32_t earliest = at >= lf - 1 ? at - (lf - 1) : 0;
    uint32_t from = 0;
    while (from < earliest)
        from += CharBytes(text_ + from);
    return from;
}

const char *TextString::Replace(const char *find, const char *replacement, int inPlace) {
    return ReplaceAll(find, replacement, inPlace, 0);
}

const char *TextString::ReplaceNoCase(const char *find, const char *replacement) {
    return ReplaceAll(find, replacement, 0, 1);
}

// msvcrt's _mbstok: multibyte-aware under a double-byte code page, plain strtok otherwise; either way the
// continuation lives in the C library's per-thread data.
char *TextString::Tokenize(int first, const char *delimiters) {
    if (!text_ || !delimiters)
        return nullptr;
    unsigned char *token = _mbstok(first ? reinterpret_cast<unsigned char *>(text_) : nullptr,
                                   reinterpret_cast<const unsigned char *>(delimiters));
    lineCursorSet_ = 0;
    Recount();
    return reinterpret_cast<char *>(token);
}

const char *TextString::Text(char *destination) const {
    if (!text_)
        return kNoText;
    if (destination)
        memcpy(destination, text_, Used() + 1);
    return text_;
}

char *TextString::At(int position) const {
    return text_ ? text_ + position : nullptr;
}

char TextString::CharAt(int position) const {
    if (!text_ || position < 0 || static_cast<uint32_t>(position) > Used())
        return 0;
    return text_[position];
}

char *TextString::Buffer(uint32_t sizeHint) {
    // A hint beyond the capacity is honoured, so a caller trusting it cannot write past the block.
    if (sizeHint > capacity_)
        Grow(sizeHint);
    return text_;
}

int TextString::Compare(const char *text) const {
    if (!text)
        return Used() == 0 ? 0 : -1;
    return CompareChars(text_ ? text_ : kNoText, text, UINT32_MAX, 0);
}

int TextString::CompareNoCase(const char *text) const {
    if (!text)
        return Used() == 0 ? 0 : -1;
    return CompareChars(text_ ? text_ : kNoText, text, UINT32_MAX, 1);
}

int TextString::CompareNoCase(const char *text, int n) const {
    if (!text)
        return Used() == 0 ? 0 : -1;
    if (n <= 0)
        return 0;
    return CompareChars(text_ ? text_ : kNoText, text, static_cast<uint32_t>(n), 1);
}

const char *TextString::Find(char byte) const {
    if (!text_)
        return nullptr;
    for (const char *p = text_;; p += CharBytes(p)) {
        if (*p == byte && CharBytes(p) == 1)
            return p;
        if (!*p)
            return nullptr;
    }
}

int TextString::FindIndex(char byte) const {
    const char *p = Find(byte);
    return p ? static_cast<int>(p - text_) : -1;
}

int TextString::ReverseFindIndex(char byte) const {
    if (!text_)
        return -1;
    int found = -1;
    for (const char *p = text_; *p; p += CharBytes(p)) {
        if (*p == byte && CharBytes(p) == 1)
            found = static_cast<int>(p - text_);
    }
    return found;
}

const char *TextString::FindText(const char *text) const {
    if (!text_ || !text)
        return nullptr;
    return SearchChars(text_, text, static_cast<uint32_t>(strlen(text)), 0);
}

int TextString::FindNoCase(const char *text) const {
    return FindNoCase(text, 0);
}

int TextString::FindNoCase(const char *text, int start) const {
    if (!text_ || !text || static_cast<uint32_t>(start) >= size_)
        return -1;
    const char *hit = SearchChars(text_ + start, text, static_cast<uint32_t>(strlen(text)), 1);
    return hit ? static_cast<int>(hit - text_) : -1;
}

const wchar_t *TextString::Wide(wchar_t *buffer) {
    const char *source = text_ ? text_ : kNoText;
    uint32_t units = Used() + 1;
    if (buffer) {
        return MultiByteToWideChar(CP_ACP, 0, source, -1, buffer, static_cast<int>(units)) > 0 ? buffer
                                                                                               : nullptr;
    }
    free(wide_);
    wide_ = static_cast<wchar_t *>(malloc(units * sizeof(wchar_t)));
    if (!wide_)
        return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, source, -1, wide_, static_cast<int>(units)) <= 0) {
        free(wide_);
        wide_ = nullptr;
    }
    return wide_;
}

int TextString::DecodeUtf8To(TextString &target) const {
    const char *source = text_ ? text_ : kNoText;
    uint32_t units = Used() + 1;
    wchar_t *wide = static_cast<wchar_t *>(malloc(units * sizeof(wchar_t)));
    if (!wide)
        return 0;
    int result = 0;
    if (MultiByteToWideChar(CP_UTF8, 0, source, -1, wide, static_cast<int>(units)) > 0)
        result = target.Assign(static_cast<const wchar_t *>(wide));
    free(wide);
    return result;
}

BstrHolder TextString::ToBstr() const {
    const char *source = text_ ? text_ : kNoText;
    int units = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
    BSTR bstr = units > 0 ? SysAllocStringLen(nullptr, static_cast<UINT>(units - 1)) : nullptr;
    if (bstr && MultiByteToWideChar(CP_ACP, 0, source, -1, bstr, units) <= 0) {
        SysFreeString(bstr);
        bstr = nullptr;
    }
    if (!bstr)
        bstr = SysAllocString(L"");
    return BstrHolder(bstr);
}

int TextString::FirstLine(TextString &out) {
    lineCursor_ = 0;
    lineCursorSet_ = text_ != nullptr;
    return NextLine(out);
}

// Lines end at LF. Every CR is dropped from the line, not only one before the LF, so the bytes handed out
// are exactly the bytes counted.
int TextString::NextLine(TextString &out) {
    if (!text_ || !lineCursorSet_ || lineCursor_ >= capacity_ || lineCursor_ > Used()) {
        lineCursorSet_ = 0;
        out.Assign(kNoText, 0);
        return 0;
    }
    const char *start = text_ + lineCursor_;
    const char *p = start;
    uint32_t count = 0;
    int hasCr = 0;
    while (*p && *p != '\n') {
        if (*p == '\r') {
            if (count == 0)
                start = p + 1;
            else
                hasCr = 1;
            ++p;
            continue;
        }
        uint32_t n = CharBytes(p);
        count += n;
        p += n;
    }
    int atBreak = *p == '\n';
    uint32_t next = static_cast<uint32_t>(p - text_) + (atBreak ? 1 : 0);
    if (!atBreak && count == 0) {
        lineCursor_ = next;
        out.Assign(kNoText, 0);
        return 0;
    }
    uint32_t span = static_cast<uint32_t>(p - start);
    if (&out == this || hasCr) {
        char *line = static_cast<char *>(malloc(span + 1));
        if (!line) {
            out.ResetEmpty();
            return 0;
        }
        uint32_t n = 0;
        for (const char *q = start; q < p; ++q) {
            if (*q != '\r')
                line[n++] = *q;
        }
        line[n] = 0;
        int assigned = out.Assign(line, n);
        free(line);
        if (&out == this) {
            // Reading a line into the text being read ends the walk.
            lineCursorSet_ = 0;
            return assigned;
        }
        if (!assigned)
            return 0;
    } else if (!out.Assign(start, span)) {
        return 0;
    }
    lineCursor_ = next;
    return 1;
}

int TextString::Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatV(format, args);
    va_end(args);
    return result;
}

// msvcrt's _vsnprintf, chosen explicitly: it knows the I64 size prefix, and it returns -1 when the output
// is longer than the count while an output of exactly count characters fits (without a terminator, which
// we add). The plain vsnprintf of a mingw C++ build is mingw's own C99 formatter, which reports a cut
// output by its full length instead.
int TextString::FormatV(const char *format, va_list args) {
    if (!text_) {
        ResetEmpty();
        if (!text_)
            return 0;
    }
    if (!format)
        format = kNoText;
    lineCursorSet_ = 0;
    for (;;) {
        va_list attempt;
        va_copy(attempt, args);
        int written = _vsnprintf(text_, capacity_ - 1, format, attempt);
        va_end(attempt);
        if (written >= 0 && static_cast<uint32_t>(written) <= capacity_ - 1) {
            text_[written] = 0;
            Recount();
            return 1;
        }
        if (capacity_ >= kFormatLimit) {
            ResetEmpty();
            return 0;
        }
        uint32_t step = capacity_ > 409600   ? 409600
                        : capacity_ > 102400 ? 102400
                        : capacity_ > 10240  ? 10240
                                             : 260;
        uint32_t capacity = capacity_ + step;
        // The old text is not kept, so a fresh zeroed block replaces it instead of a copying realloc.
        free(text_);
        text_ = static_cast<char *>(calloc(capacity, 1));
        if (!text_) {
            capacity_ = 0;
            size_ = 0;
            ResetEmpty();
            return 0;
        }
        capacity_ = capacity;
        size_ = 1;
    }
}

// PathName: the path parts, walked a character at a time.
#include "base/PathName.h"
#include "base/TextChars.h"
#include "base/TextString.h"

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}
} // namespace

void StripExtension(char *text, int maxExtension) {
    if (!text || maxExtension < 0)
        return;
    char *dot = nullptr;
    char *p = text;
    for (; *p; p += CharBytes(p)) {
        if (*p == '.')
            dot = p;
        // A dot before a separator belongs to a folder name, not to an extension: "C:\a.b\c" must not
        // lose its file name, which the plain last-dot rule would cut away.
        else if (*p == '\\' || *p == '/')
            dot = nullptr;
    }
    if (dot && static_cast<size_t>(p - dot) <= static_cast<size_t>(maxExtension) + 1)
        *dot = 0;
}

const char *FileNamePart(const char *text) {
    if (!text)
        return nullptr;
    const char *name = text;
    for (const char *p = text; *p; p += CharBytes(p)) {
        if ((*p == '\\' || *p == '/') && p[1])
            name = p + 1;
    }
    return name;
}

void ExtensionOf(const char *text, TextString &out) {
    out.Assign("", 0);
    if (!text)
        return;
    const char *dot = nullptr;
    const char *p = text;
    for (; *p && *p != '?'; p += CharBytes(p)) {
        if (*p == '.')
            dot = p;
        else if (*p == ' ' || *p == '/' || *p == '\\')
            dot = nullptr;
    }
    if (dot)
        out.Assign(dot, static_cast<uint32_t>(p - dot));
}

int CutToParent(char *text) {
    if (!text)
        return 0;
    char *p = text;
    while (*p == '\\' || *p == '/')
        ++p;
    char *cut = p;
    while (*p) {
        if (*p == '\\' || *p == '/') {
            cut = p;
        } else if (*p == ':') {
            if (p[1] == '\\' || p[1] == '/') {
                // Keep the drive root: "C:\" stays whole.
                cut = p + 2;
                ++p;
            } else {
                cut = nullptr;
            }
        }
        p += CharBytes(p);
    }
    if (cut && *cut) {
        *cut = 0;
        return 1;
    }
    return 0;
}

int PercentDecoded(const char *text, TextString &out) {
    char bytes[MAX_PATH];
    size_t n = 0;
    for (const char *p = text; *p; ++p) {
        if (n + 1 >= sizeof bytes)
            return 0;
        int high = 0, low = 0;
        if (*p == '%' && (high = HexValue(p[1])) >= 0 && (low = HexValue(p[2])) >= 0) {
            bytes[n++] = static_cast<char>(high * 16 + low);
            p += 2;
        } else {
            bytes[n++] = *p;
        }
    }
    bytes[n] = 0;
    TextString utf8;
    return utf8.Assign(bytes) && utf8.DecodeUtf8To(out) && out.Length() > 0;
}

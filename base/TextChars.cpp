// TextChars: character rules of the system code page and the in-place text functions.
#include "base/TextChars.h"
#include <cstring>

namespace {
// Lower case of every single-byte character of the system code page, built once.
struct FoldTable {
    unsigned char lower[256];
    FoldTable() {
        for (int c = 0; c < 256; ++c) {
            lower[c] = static_cast<unsigned char>(c);
            if (c == 0 || IsLead(static_cast<unsigned char>(c)))
                continue;
            char one[2] = {static_cast<char>(c), 0};
            CharLowerBuffA(one, 1);
            lower[c] = static_cast<unsigned char>(one[0]);
        }
    }
};
} // namespace

unsigned char FoldCase(unsigned char c) {
    static const FoldTable table;
    return table.lower[c];
}

int CompareChars(const char *x, const char *y, uint32_t limit, int ignoreCase) {
    uint32_t i = 0;
    while (i < limit) {
        uint32_t nx = CharBytes(x + i), ny = CharBytes(y + i);
        // A double-byte character cut by the limit is compared by its lead byte only.
        if (i + nx > limit)
            nx = 1;
        if (i + ny > limit)
            ny = 1;
        unsigned char lx = static_cast<unsigned char>(x[i]), ly = static_cast<unsigned char>(y[i]);
        unsigned vx =
            nx == 2 ? (lx << 8 | static_cast<unsigned char>(x[i + 1])) : (ignoreCase ? FoldCase(lx) : lx);
        unsigned vy =
            ny == 2 ? (ly << 8 | static_cast<unsigned char>(y[i + 1])) : (ignoreCase ? FoldCase(ly) : ly);
        if (vx != vy)
            return vx < vy ? -1 : 1;
        if (vx == 0)
            return 0;
        i += nx;
    }
    return 0;
}

const char *SearchChars(const char *text, const char *find, uint32_t findLength, int ignoreCase) {
    for (const char *p = text;; p += CharBytes(p)) {
        if (ignoreCase ? CompareChars(p, find, findLength, 1) == 0 : strncmp(p, find, findLength) == 0)
            return p;
        if (!*p)
            return nullptr;
    }
}

int IsSpace(char byte) {
    WORD type = 0;
    if (!GetStringTypeExA(GetThreadLocale(), CT_CTYPE1, &byte, 1, &type))
        return 0;
    return (type & C1_SPACE) ? 1 : 0;
}

int TrimTrailingBlanks(char *text) {
    if (!text)
        return 0;
    size_t length = strlen(text);
    while (length && text[length - 1] == ' ')
        text[--length] = 0;
    return static_cast<int>(length);
}

void LineBreaksToBlanks(char *text) {
    if (!text)
        return;
    for (char *p = text; *p; p += CharBytes(p)) {
        if (*p == '\r' || *p == '\n')
            *p = ' ';
    }
}

void StripQuotes(char *text) {
    if (!text || text[0] != '"')
        return;
    size_t length = strlen(text);
    if (length < 2) {
        text[0] = 0;
        return;
    }
    memmove(text, text + 1, length - 2);
    text[length - 2] = 0;
}

const char *SkipFirstToken(const char *text) {
    if (!text)
        return nullptr;
    int quoted = 0;
    const char *p = text;
    for (; *p; p += CharBytes(p)) {
        if (*p == '"')
            quoted = !quoted;
        else if (*p == ' ' && !quoted)
            return p + 1;
    }
    return p;
}

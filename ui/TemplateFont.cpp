// TemplateFont: swaps a dialog template's old bitmap font for the system's message font before the dialog
// is created.
#include "ui/TemplateFont.h"

#include "base/ScopedHandle.h"
#include <cstring>

namespace {

// What SPI_GETNONCLIENTMETRICS fills on every system since Windows 2000: the structure without the padded
// border width that Vista added (older systems refuse the longer size).
const UINT kNonClientMetricsSize = 340;

// A sz_Or_Ord field of a dialog template: 0xFFFF and an ordinal, or a zero-terminated UTF-16 string.
// Returns the offset after it, or 0 when it runs past the end.
DWORD SkipTemplateField(const BYTE *base, DWORD offset, DWORD size) {
    if (offset + 2 > size)
        return 0;
    WORD first;
    memcpy(&first, base + offset, 2);
    if (first == 0xFFFF)
        return offset + 4 <= size ? offset + 4 : 0;
    for (;;) {
        if (offset + 2 > size)
            return 0;
        WORD unit;
        memcpy(&unit, base + offset, 2);
        offset += 2;
        if (!unit)
            return offset;
    }
}

// Length in UTF-16 units of the face at offset, or -1 when it has no terminator inside the template.
int FaceLength(const BYTE *base, DWORD offset, DWORD size) {
    int length = 0;
    for (;;) {
        if (offset + 2 > size)
            return -1;
        WORD unit;
        memcpy(&unit, base + offset, 2);
        if (!unit)
            return length;
        offset += 2;
        ++length;
    }
}

// Exact, case-sensitive comparison of a UTF-16 face in the template with an ASCII name.
int FaceEquals(const BYTE *base, DWORD offset, int length, const char *name) {
    if (static_cast<int>(strlen(name)) != length)
        return 0;
    for (int i = 0; i < length; ++i) {
        WORD unit;
        memcpy(&unit, base + offset + 2 * i, 2);
        if (unit != static_cast<BYTE>(name[i]))
            return 0;
    }
    return 1;
}

DWORD AlignUp4(DWORD offset) {
    return (offset + 3) & ~3u;
}

} // namespace

int TemplateFont::LocateTemplateFont(const void *dialogTemplate, DWORD size, DWORD *pointOffset,
                                     DWORD *faceOffset) {
    const BYTE *base = static_cast<const BYTE *>(dialogTemplate);
    if (!base || size < 18)
        return 0;
    WORD signature;
    memcpy(&signature, base + 2, 2);
    int extended = signature == 0xFFFF;
    DWORD style;
    DWORD offset;
    if (extended) {
        if (size < 26)
            return 0;
        memcpy(&style, base + 12, 4);
        offset = 26;
    } else {
        memcpy(&style, base, 4);
        offset = 18;
    }
    for (int field = 0; field < 3; ++field) {
        offset = SkipTemplateField(base, offset, size);
        if (!offset)
            return 0;
    }
    if (!(style & DS_SETFONT))
        return 0;
    // The fields are 16-bit units, so the title ends on an even offset; keep it even all the same.
    offset = (offset + 1) & ~1u;
    DWORD face = extended ? offset + 6 : offset + 2;
    if (face + 2 > size)
        return 0;
    *pointOffset = offset;
    *faceOffset = face;
    return 1;
}

int CALLBACK TemplateFont::FontFound(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM context) {
    *reinterpret_cast<int *>(context) = 1;
    return 0; // one is enough
}

int TemplateFont::FontInstalled(const char *face) {
    ScopedGetDC screen(nullptr);
    if (!screen.Get())
        return 0;
    LOGFONTA font = {};
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    int found = 0;
    EnumFontFamiliesExA(screen.Get(), &font, &TemplateFont::FontFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

int TemplateFont::ChooseTemplateFont(const char *messageFace, LONG messageHeight, int prefer, char *face,
                                     WORD *pointSize) {
    if (strcmp(messageFace, "MS Sans Serif") != 0 && strcmp(messageFace, "Tahoma") != 0 &&
        strcmp(messageFace, "Segoe UI") != 0)
        return 0;
    if (prefer && strcmp(messageFace, "Segoe UI") == 0 && FontInstalled("MS Shell Dlg 2")) {
        lstrcpynA(face, "MS Shell Dlg 2", kFaceSize);
        *pointSize = 8;
        return 1;
    }
    if (FontInstalled(messageFace)) {
        lstrcpynA(face, messageFace, kFaceSize);
        ScopedGetDC screen(nullptr);
        int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
        *pointSize = static_cast<WORD>(MulDiv(-messageHeight, 72, dpi));
        return 1;
    }
    lstrcpynA(face, FontInstalled("MS Shell Dlg 2") ? "MS Shell Dlg 2" : "MS Shell Dlg", kFaceSize);
    *pointSize = 8;
    return 1;
}

void *TemplateFont::RebuildTemplate(const void *dialogTemplate, DWORD size, DWORD pointOffset,
                                    DWORD faceOffset, const char *face, WORD pointSize) {
    const BYTE *base = static_cast<const BYTE *>(dialogTemplate);
    int oldLength = FaceLength(base, faceOffset, size);
    if (oldLength < 0)
        return nullptr;
    int newLength = static_cast<int>(strlen(face));
    DWORD oldRest = AlignUp4(faceOffset + 2 * (oldLength + 1));
    DWORD newRest = AlignUp4(faceOffset + 2 * (newLength + 1));
    DWORD restSize = oldRest < size ? size - oldRest : 0;
    // Room for the bigger of the two layouts: the new face may be longer or shorter than the old one.
    DWORD blockSize = size + 2 * newLength + 4;
    if (newRest + restSize > blockSize)
        blockSize = newRest + restSize;
    BYTE *block = static_cast<BYTE *>(LocalAlloc(LPTR, blockSize));
    if (!block)
        return nullptr;
    memcpy(block, base, faceOffset);
    for (int i = 0; i < newLength; ++i) {
        WORD unit = static_cast<BYTE>(face[i]);
        memcpy(block + faceOffset + 2 * i, &unit, 2);
    }
    // The terminator and the alignment padding are already zero.
    if (restSize)
        memcpy(block + newRest, base + oldRest, restSize);
    memcpy(block + pointOffset, &pointSize, 2);
    return block;
}

void *TemplateFont::ReplaceTemplateFont(const void *dialogTemplate, DWORD size, int prefer) {
    DWORD pointOffset = 0, faceOffset = 0;
    if (!LocateTemplateFont(dialogTemplate, size, &pointOffset, &faceOffset))
        return nullptr;
    const BYTE *base = static_cast<const BYTE *>(dialogTemplate);
    int oldLength = FaceLength(base, faceOffset, size);
    if (oldLength < 0)
        return nullptr;
    if (!FaceEquals(base, faceOffset, oldLength, "MS Sans Serif") &&
        !FaceEquals(base, faceOffset, oldLength, "MS Shell Dlg") &&
        !FaceEquals(base, faceOffset, oldLength, "System"))
        return nullptr;

    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = kNonClientMetricsSize;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0))
        return nullptr;
    char face[kFaceSize];
    WORD pointSize = 0;
    if (!ChooseTemplateFont(metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfHeight, prefer, face,
                            &pointSize))
        return nullptr;
    return RebuildTemplate(dialogTemplate, size, pointOffset, faceOffset, face, pointSize);
}

void TemplateFont::FreeTemplate(void *dialogTemplate) {
    if (dialogTemplate)
        LocalFree(dialogTemplate);
}

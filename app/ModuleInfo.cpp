// ModuleInfo: module paths, version information, resource lookup and dialog-template font replacement.
#include "app/ModuleInfo.h"

#include "base/TextString.h"
#include <cstdio>
#include <cstring>

namespace {

// What SPI_GETNONCLIENTMETRICS fills on every system since Windows 2000: the structure without the padded
// border width that Vista added (older systems refuse the longer size).
const UINT kNonClientMetricsSize = 340;

// Reads a string value of a file's version block, trying the German block before the English one as the
// maker's builds carry either. An empty value counts as missing so that the other block can answer.
int ReadVersionValue(const char *file, const char *valueName, TextString &out) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (!size)
        return 0;
    void *block = LocalAlloc(LPTR, size);
    if (!block)
        return 0;
    int found = 0;
    if (GetFileVersionInfoA(file, 0, size, block)) {
        static const char *const kBlocks[] = {"040704B0", "040904B0"};
        for (const char *language : kBlocks) {
            char query[ModuleInfo::kPathSize];
            snprintf(query, sizeof query, "\\StringFileInfo\\%s\\%s", language, valueName);
            char *value = nullptr;
            UINT length = 0;
            if (VerQueryValueA(block, query, reinterpret_cast<void **>(&value), &length) && value && length) {
                out.Assign(value);
                found = 1;
                break;
            }
        }
    }
    LocalFree(block);
    return found;
}

// Reads "FileVersion" of a module's version block; first and second keep their values where the string
// has no number. Returns 1 when the string exists.
int ReadFileVersion(HMODULE module, unsigned *first, unsigned *second, TextString *text) {
    char path[ModuleInfo::kPathSize];
    if (!ModuleInfo::ModuleFileName(module, path))
        return 0;
    TextString value;
    if (!ReadVersionValue(path, "FileVersion", value))
        return 0;
    // sscanf stops at the first number it cannot read; the defaults stay in place.
    sscanf(value.Text(), "%u.%u", first, second);
    if (text)
        text->Assign(&value);
    return 1;
}

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

ModuleInfo::ModuleInfo() {
    caption_[0] = 0;
    errorText_[0] = 0;
}

int ModuleInfo::ModuleFileName(HMODULE module, char *buffer) {
    buffer[0] = 0;
    DWORD length = GetModuleFileNameA(module, buffer, kPathSize);
    // A full buffer means the name was cut; it is terminated on newer systems only.
    if (!length || length >= kPathSize) {
        buffer[kPathSize - 1] = 0;
        return length ? 1 : 0;
    }
    return 1;
}

int ModuleInfo::ModuleDirectory(HMODULE module, char *buffer) {
    if (!ModuleFileName(module, buffer))
        return 0;
    // Walk by characters: a trail byte of a double-byte character may look like a backslash.
    char *cut = buffer;
    for (char *p = buffer; *p; p = CharNextA(p)) {
        if (*p == '\\')
            cut = p + 1;
    }
    *cut = 0;
    return 1;
}

int ModuleInfo::VersionNumbers(HMODULE module, uint32_t *number, TextString *text) {
    unsigned first = 1, second = 1;
    if (text)
        text->Assign("");
    int found = ReadFileVersion(module, &first, &second, text);
    if (number)
        *number = ((first & 0xFF) << 8) | (second & 0xFF);
    return found;
}

const char *ModuleInfo::VersionCaption(const char *text, HMODULE module, char *buffer) {
    if (!buffer)
        buffer = caption_;
    buffer[0] = 0;
    unsigned first = 1, second = 1;
    ReadFileVersion(module, &first, &second, nullptr);
    snprintf(buffer, kPathSize, "%s [%u.%02u]", text ? text : "", first, second);
    return buffer;
}

int ModuleInfo::VersionString(const char *valueName, TextString &out, const char *file) {
    char path[kPathSize];
    if (!file) {
        if (!ModuleFileName(nullptr, path))
            return 0;
        file = path;
    }
    return ReadVersionValue(file, valueName, out);
}

const void *ModuleInfo::FindResourceAnyLanguage(HINSTANCE instance, const char *type, const char *name,
                                                WORD language, DWORD *size) {
    const WORD languages[] = {language,
                              static_cast<WORD>((language & 0x3FF) | 0x400),
                              static_cast<WORD>(language & 0x3FF),
                              1033,
                              2057,
                              9,
                              1031};
    HRSRC found = nullptr;
    for (WORD candidate : languages) {
        found = FindResourceExA(instance, type, name, candidate);
        if (found)
            break;
    }
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(instance, found);
    if (!loaded)
        return nullptr;
    DWORD length = SizeofResource(instance, found);
    if (!length)
        return nullptr;
    const void *data = LockResource(loaded);
    if (!data)
        return nullptr;
    if (size)
        *size = length;
    return data;
}

int ModuleInfo::LocateTemplateFont(const void *dialogTemplate, DWORD size, DWORD *pointOffset,
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

int CALLBACK ModuleInfo::FontFound(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM context) {
    reinterpret_cast<ModuleInfo *>(context)->fontFound_ = 1;
    return 0;
}

int ModuleInfo::FontInstalled(const char *face) {
    HDC screen = GetDC(nullptr);
    if (!screen)
        return 0;
    LOGFONTA font = {};
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    fontFound_ = 0;
    EnumFontFamiliesExA(screen, &font, reinterpret_cast<FONTENUMPROCA>(&ModuleInfo::FontFound),
                        reinterpret_cast<LPARAM>(this), 0);
    ReleaseDC(nullptr, screen);
    return fontFound_;
}

int ModuleInfo::ChooseTemplateFont(const char *messageFace, LONG messageHeight, int prefer, char *face,
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
        HDC screen = GetDC(nullptr);
        int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen)
            ReleaseDC(nullptr, screen);
        *pointSize = static_cast<WORD>(MulDiv(-messageHeight, 72, dpi));
        return 1;
    }
    lstrcpynA(face, FontInstalled("MS Shell Dlg 2") ? "MS Shell Dlg 2" : "MS Shell Dlg", kFaceSize);
    *pointSize = 8;
    return 1;
}

void *ModuleInfo::RebuildTemplate(const void *dialogTemplate, DWORD size, DWORD pointOffset, DWORD faceOffset,
                                  const char *face, WORD pointSize) {
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

void *ModuleInfo::ReplaceTemplateFont(const void *dialogTemplate, DWORD size, int prefer) {
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

void ModuleInfo::FreeTemplate(void *dialogTemplate) {
    if (dialogTemplate)
        LocalFree(dialogTemplate);
}

const char *ModuleInfo::SystemErrorText(DWORD code, char *buffer) {
    if (!buffer)
        buffer = errorText_;
    buffer[0] = 0;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  0x400, buffer, kPathSize, nullptr);
    if (!length) {
        // WinINet's codes (12000 and up) live in its own message table, when the library is loaded.
        HMODULE wininet = GetModuleHandleA("wininet.dll");
        if (wininet)
            length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, wininet,
                                    code, 0x400, buffer, kPathSize, nullptr);
    }
    if (!length)
        return nullptr;
    buffer[kPathSize - 1] = 0;
    for (char *p = buffer; *p; ++p) {
        if (*p == '\r' || *p == '\n')
            *p = ' ';
    }
    size_t end = strlen(buffer);
    while (end && buffer[end - 1] == ' ')
        buffer[--end] = 0;
    return buffer;
}

// ModuleInfo: module paths, version information, resource lookup and system error texts.
#include "base/ModuleInfo.h"

#include "base/TextString.h"
#include <cstdio>
#include <cstring>

namespace {

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

int ModuleInfo::ModuleFileName(HMODULE module, TextString &out) {
    // GetModuleFileNameA cuts a long path silently; a result that fills the buffer may have been cut.
    for (uint32_t capacity = kPathSize + 1; capacity <= 0x10000; capacity *= 4) {
        if (!out.Reset(capacity))
            break;
        const DWORD length = GetModuleFileNameA(module, out.Buffer(), capacity);
        if (length == 0)
            break;
        if (length < capacity - 1) {
            out.Buffer()[length] = '\0';
            out.Recount();
            return 1;
        }
    }
    out.Assign(static_cast<const char *>(nullptr));
    return 0;
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

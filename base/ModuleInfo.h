// ModuleInfo: module paths, the version numbers and caption, version strings, resource lookup in any
// language, and the text of a system error code.
//
// Classes: ModuleInfo.
#pragma once

#include "base/Win.h"
#include <cstdint>

class TextString;

class ModuleInfo {
public:
    enum { kPathSize = 260 };

    ModuleInfo();
    ~ModuleInfo() = default;
    ModuleInfo(const ModuleInfo &) = delete;
    ModuleInfo &operator=(const ModuleInfo &) = delete;

    // module null means the program's own module; buffer holds kPathSize characters.
    static int ModuleFileName(HMODULE module, char *buffer);
    // The same, however long the path (the buffer grows): out is empty after a failure.
    static int ModuleFileName(HMODULE module, TextString &out);
    // The file name cut after its last backslash (kept); empty when there is none.
    static int ModuleDirectory(HMODULE module, char *buffer);

    // (first & 0xFF) * 256 + (second & 0xFF) of "FileVersion" (1.1 when there is none); the whole string into
    // text when given (empty when there is none).
    int VersionNumbers(HMODULE module, uint32_t *number, TextString *text);
    // "%s [%u.%02u]" with text and the first two numbers of "FileVersion"; into buffer (kPathSize characters)
    // or the object's own buffer when buffer is null.
    const char *VersionCaption(const char *text, HMODULE module, char *buffer = nullptr);
    // A string value of the version block of file (the program's own file when null).
    int VersionString(const char *valueName, TextString &out, const char *file = nullptr);

    // Locked resource data in the first language found of: language, its sub-language made neutral-default,
    // its primary language, US English, UK English, neutral English, German. Null when there is none.
    static const void *FindResourceAnyLanguage(HINSTANCE instance, const char *type, const char *name,
                                               WORD language, DWORD *size);

    // The system's text for code (or wininet's), line breaks made blanks, trailing blanks gone; into buffer
    // (kPathSize characters) or the object's own one. Null when there is no text.
    const char *SystemErrorText(DWORD code, char *buffer = nullptr);

private:
    char caption_[kPathSize];
    char errorText_[kPathSize];
};

// IniSettings: values in an INI file whose location the object derives itself.
//
// Classes: IniSettings.
#pragma once

#include "base/TextString.h"
#include "base/Win.h"
#include <cstdint>

// Where SetFile puts the file.
enum : int {
    kIniWindowsDirectory = 0, // the name alone: the platform looks in the Windows directory
    kIniLocalAppData = 1,     // the local application data folder on Vista and later, else beside the program
    kIniProgramDirectory = 2, // the directory of the executable
    kIniCurrentDirectory = 3, // the process's current directory
    // any other kind appends the name to the previous path
};

class IniSettings {
public:
    IniSettings() = default;
    IniSettings(const IniSettings &) = delete;
    IniSettings &operator=(const IniSettings &) = delete;

    int SetFile(const char *name, int kind);
    // A missing key gives defaultText (the empty text for none); values up to about 8,000 characters come
    // back whole, longer ones cut.
    int ReadString(const char *section, const char *key, TextString &out, const char *defaultText = nullptr);
    // The default unless the text holds a number (read with "%I64u").
    uint64_t ReadNumber(const char *section, const char *key, uint64_t defaultValue);
    int WriteString(const char *section, const char *key, const char *text);
    int WriteNumber(const char *section, const char *key, uint64_t value);
    const char *Path() const { return path_.Text(); }

    // The full path of the running executable, whatever its length; 0 when the platform gives none.
    static int ProgramPath(TextString &out);

private:
    TextString path_;
};

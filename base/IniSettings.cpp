// IniSettings: reads and writes values of the program's INI file and works out where that file lives.
#include "base/IniSettings.h"
#include "base/ModuleInfo.h"
#include "base/OsVersion.h"
#include "base/SpecialFolder.h"
#include <cstdio>
#include <cstring>

namespace {
const int kLocalAppDataFolder = 0x1C; // CSIDL_LOCAL_APPDATA
const int kReadAttempts = 6;

int LocalAppDataFolder(TextString &out) {
    if (!out.Reset(MAX_PATH + 1))
        return 0;
    int found = SpecialFolder(kLocalAppDataFolder, out.Buffer()) && out.Buffer()[0];
    out.Recount();
    return found;
}

// The executable's directory with its trailing '\', or the empty text when the path has none.
int ProgramDirectory(TextString &out) {
    if (!IniSettings::ProgramPath(out))
        return 0;
    int slash = out.ReverseFindIndex('\\');
    out.Left(slash + 1);
    return 1;
}

int CurrentDirectory(TextString &out) {
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    // The directory can change between the two calls; the second answer says whether it still fit.
    for (int attempt = 0; attempt < 3 && needed > 0; ++attempt) {
        if (!out.Reset(needed + 1))
            return 0;
        DWORD length = GetCurrentDirectoryA(needed + 1, out.Buffer());
        if (length > 0 && length <= needed) {
            out.Recount();
            return 1;
        }
        needed = length;
    }
    out.Assign(static_cast<const char *>(nullptr));
    return 0;
}
} // namespace

int IniSettings::ProgramPath(TextString &out) {
    return ModuleInfo::ModuleFileName(nullptr, out);
}

int IniSettings::SetFile(const char *name, int kind) {
    if (!name)
        name = "";
    TextString path;
    switch (kind) {
    case kIniWindowsDirectory:
        break;
    case kIniLocalAppData:
        if (IsAtLeast(kOsVista) && LocalAppDataFolder(path)) {
            path.EnsureTrailing('\\');
            break;
        }
        // Without that folder the file goes beside the program, as on older systems.
        ProgramDirectory(path);
        break;
    case kIniProgramDirectory:
        ProgramDirectory(path);
        break;
    case kIniCurrentDirectory:
        if (CurrentDirectory(path))
            path.EnsureTrailing('\\');
        break;
    default:
        path.Assign(path_.Text());
        break;
    }
    if (!path.Append(name))
        return 0;
    return path_.Assign(path.Text());
}

int IniSettings::ReadString(const char *section, const char *key, TextString &out, const char *defaultText) {
    if (!defaultText)
        defaultText = "";
    // The default may be out's own text, which the reads below overwrite and reallocate.
    TextString savedDefault(1);
    const char *start = out.Buffer();
    if (start && defaultText >= start && defaultText < start + out.Capacity()) {
        savedDefault.Assign(defaultText);
        defaultText = savedDefault.Text();
    }
    // A string without room for even one character could never grow below.
    if ((!out.Buffer() || out.MaxLength() < 1) && !out.Reset(260))
        return 0;
    // The platform's answer only says "cut" by filling the buffer to the last character, so a value that
    // fills it is read again with twice the room.
    for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
        DWORD room = static_cast<DWORD>(out.MaxLength());
        DWORD count = GetPrivateProfileStringA(section, key, defaultText, out.Buffer(), room, path_.Text());
        if (count + 1 != room || attempt == kReadAttempts)
            break;
        if (!out.Reset(2 * room)) {
            out.Recount();
            return 0;
        }
    }
    out.Recount();
    return 1;
}

uint64_t IniSettings::ReadNumber(const char *section, const char *key, uint64_t defaultValue) {
    TextString text;
    if (!ReadString(section, key, text, nullptr))
        return defaultValue;
    unsigned long long value = 0;
    // The system C library's reader, so that "I64" means what it means in the rest of the program.
    if (__ms_sscanf(text.Text(), "%I64u", &value) != 1)
        return defaultValue;
    return value;
}

int IniSettings::WriteString(const char *section, const char *key, const char *text) {
    return WritePrivateProfileStringA(section, key, text, path_.Text()) != FALSE;
}

int IniSettings::WriteNumber(const char *section, const char *key, uint64_t value) {
    TextString text(24);
    if (!text.Format("%I64u", static_cast<unsigned long long>(value)))
        return 0;
    return WriteString(section, key, text.Text());
}

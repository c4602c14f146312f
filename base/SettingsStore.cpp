// SettingsStore: one front end for settings kept either in the registry or in the program's INI file.
#include "base/SettingsStore.h"
#include "base/PathName.h"
#include "base/RegistryKey.h"

namespace {
const char kDefaultSection[] = "Settings";

const char *SectionOf(const char *section) {
    return section ? section : kDefaultSection;
}
} // namespace

int SettingsStore::Init(uint32_t mode, HKEY root, const char *keyPath, const char *iniFileName) {
    mode_ = mode;
    root_ = root;
    keyPath_.Assign(keyPath);
    TextString name;
    if (iniFileName) {
        name.Assign(iniFileName);
    } else if (IniSettings::ProgramPath(name)) {
        // "Tool.exe" -> "Tool.ini"; a name without extension just gets ".ini".
        name.Assign(FileNamePart(name.Text()));
        StripExtension(name.Buffer(), 3);
        name.Recount();
        name.Append(".ini");
    }
    ini_.SetFile(name.Text(), kIniProgramDirectory);
    return 1;
}

int SettingsStore::KeyPath(TextString &out, const char *subkey) const {
    if (!subkey)
        return out.Format("%s", keyPath_.Text());
    // A leading '\' would make the registry refuse the path.
    if (keyPath_.Length() <= 0)
        return out.Format("%s", subkey);
    return out.Format("%s\\%s", keyPath_.Text(), subkey);
}

uint32_t SettingsStore::ReadNumber(const char *name, uint32_t defaultValue, const char *subkey) {
    if (mode_ & kStoreRegistry) {
        TextString path;
        KeyPath(path, subkey);
        return ReadDwordAt(root_, path.Text(), name, defaultValue, 0);
    }
    if (mode_ & kStoreIni)
        return static_cast<uint32_t>(ini_.ReadNumber(SectionOf(subkey), name, defaultValue));
    return defaultValue;
}

int SettingsStore::WriteNumber(const char *name, uint32_t value, const char *subkey) {
    if (mode_ & kStoreRegistry) {
        TextString path;
        KeyPath(path, subkey);
        return WriteDwordAt(root_, path.Text(), name, value);
    }
    if (mode_ & kStoreIni)
        return ini_.WriteNumber(SectionOf(subkey), name, value);
    return 0;
}

int SettingsStore::ReadString(const char *name, TextString &out, const char *defaultText,
                              const char *subkey) {
    if (mode_ & kStoreRegistry) {
        TextString path;
        KeyPath(path, subkey);
        return ReadStringAt(root_, path.Text(), name, out, defaultText, 0);
    }
    if (mode_ & kStoreIni) {
        ini_.ReadString(SectionOf(subkey), name, out, defaultText);
        return 1;
    }
    // No store: the caller still gets its default rather than whatever out held before.
    out.Assign(defaultText);
    return 0;
}

int SettingsStore::WriteString(const char *name, const char *text, const char *subkey) {
    if (mode_ & kStoreRegistry) {
        TextString path;
        KeyPath(path, subkey);
        return WriteStringAt(root_, path.Text(), name, text);
    }
    if (mode_ & kStoreIni)
        return ini_.WriteString(SectionOf(subkey), name, text);
    return 0;
}

// Operating-system identification: decoding the platform's version answers into a VersionCode, the
// edition probes, the display name and the small version numbers.
#include "base/OsVersion.h"
#include "base/DynamicLibrary.h"
#include "base/RegistryKey.h"
#include "base/TextString.h"
#include <cstdio>
#include <cstring>
#include <shlwapi.h>

namespace {
const uint64_t kHigh = 32;

// The service-pack text of a record that did not come from the platform need not be terminated.
int ServicePackTextHas(const OSVERSIONINFOA &record, const char *text) {
    char copy[sizeof(record.szCSDVersion) + 1];
    memcpy(copy, record.szCSDVersion, sizeof(record.szCSDVersion));
    copy[sizeof(record.szCSDVersion)] = '\0';
    return strstr(copy, text) != nullptr;
}

int GetBasicRecord(OSVERSIONINFOA *record) {
    memset(record, 0, sizeof(*record));
    record->dwOSVersionInfoSize = sizeof(*record);
    return GetVersionExA(record) != FALSE;
}

// The 95-family members at major version 4, told apart by the minor version and the second byte of the
// service-pack text.
uint32_t Windows9xVersion(const OSVERSIONINFOA &record) {
    char c = record.szCSDVersion[1];
    switch (record.dwMinorVersion) {
    case 0:
        return (c == 'C' || c == 'B') ? (kOs9x | kOs95Osr2) : (kOs9x | kOs95);
    case 10:
        return c == 'A' ? (kOs9x | kOs98Se) : (kOs9x | kOs98);
    case 90:
        return kOs9x | kOsMe;
    default:
        return kOs9x;
    }
}

// NT versions the version tests know, newest first.
struct NtVersion {
    uint32_t number; // (major << 16) | minor
    uint32_t bit;
};
const NtVersion kNtVersions[] = {
    {0x60003, kOs81},   {0x60002, kOs8},  {0x60001, kOs7},    {0x60000, kOsVista},
    {0x50002, kOs2003}, {0x50001, kOsXp}, {0x50000, kOs2000}, {0x40000, kOsNt4},
};

uint32_t NtNumber(const OSVERSIONINFOA &record) {
    // Minor versions above 0xFFFF do not exist; clamp so that they cannot carry into the major part.
    uint32_t minor = record.dwMinorVersion > 0xFFFF ? 0xFFFF : record.dwMinorVersion;
    uint32_t major = record.dwMajorVersion > 0xFFFF ? 0xFFFF : record.dwMajorVersion;
    return (major << 16) | minor;
}

// A requirement of a service pack means that one or a later one.
int ServicePackSatisfied(uint32_t running, uint32_t required, uint32_t high, const OSVERSIONINFOA &record) {
    if (running > required)
        return 1;
    if (!(high & (kEdServicePack1 | kEdServicePack2 | kEdServicePack3)))
        return 1;
    if ((high & kEdServicePack1) && ServicePackTextHas(record, "Service Pack 1"))
        return 1;
    if ((high & (kEdServicePack1 | kEdServicePack2)) && ServicePackTextHas(record, "Service Pack 2"))
        return 1;
    return ServicePackTextHas(record, "Service Pack 3");
}

// Reads a short string value through the raw reader into a 260-byte buffer, always terminated.
int ReadShortText(RegistryKey &key, const char *name, char (&text)[261]) {
    DWORD size = 260;
    memset(text, 0, sizeof(text));
    if (!key.ReadBinary(name, text, &size))
        return 0;
    text[size < 260 ? size : 260] = '\0';
    return 1;
}

int KeyExists(const char *path) {
    RegistryKey key;
    return key.Open(HKEY_LOCAL_MACHINE, path, 0);
}

// Appends text to the name buffer (256 bytes), never beyond it.
void AppendTag(char *buffer, const char *text) {
    size_t used = strlen(buffer);
    size_t room = 256 - used;
    size_t length = strlen(text);
    if (length >= room)
        length = room - 1;
    memcpy(buffer + used, text, length);
    buffer[used + length] = '\0';
}
} // namespace

VersionCode VersionFromRecord(const OSVERSIONINFOA &record) {
    switch (record.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return kOsWin32s;
    case VER_PLATFORM_WIN32_WINDOWS:
        if (record.dwMajorVersion != 4)
            return kOs9x;
        return Windows9xVersion(record);
    case VER_PLATFORM_WIN32_NT: {
        uint64_t code = kOsNt;
        uint32_t number = NtNumber(record);
        for (const NtVersion &version : kNtVersions) {
            if (version.number == number) {
                code |= version.bit;
                break;
            }
        }
        uint64_t high = 0;
        if (ServicePackTextHas(record, "Service Pack 1"))
            high |= kEdServicePack1;
        if (ServicePackTextHas(record, "Service Pack 2"))
            high |= kEdServicePack2;
        if (ServicePackTextHas(record, "Service Pack 3"))
            high |= kEdServicePack3;
        return code | (high << kHigh);
    }
    default:
        return 0;
    }
}

uint64_t EditionFromSuite(uint16_t suiteMask, uint8_t productType) {
    uint64_t high = 0;
    if (suiteMask & VER_SUITE_DATACENTER)
        high |= kEdDatacenter;
    if (suiteMask & VER_SUITE_ENTERPRISE)
        high |= kEdEnterprise;
    if (suiteMask & VER_SUITE_EMBEDDEDNT)
        high |= kEdEmbedded;
    if (suiteMask & VER_SUITE_PERSONAL)
        high |= kEdHome;
    if (suiteMask & VER_SUITE_STORAGE_SERVER)
        high |= kEdStorageServer;
    if ((suiteMask & VER_SUITE_TERMINAL) && !(suiteMask & VER_SUITE_SINGLEUSERTS))
        high |= kEdTerminalServices;
    if (suiteMask & 0x8000) // VER_SUITE_WH_SERVER
        high |= kEdHomeServer;
    if (productType == VER_NT_DOMAIN_CONTROLLER)
        high |= kEdDomainController;
    if (suiteMask & (VER_SUITE_SMALLBUSINESS | VER_SUITE_ENTERPRISE))
        high |= kEdServer;
    return high << kHigh;
}

uint64_t EditionFromRegistry() {
    uint64_t high = 0;
    char text[261];
    {
        RegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0) &&
            ReadShortText(key, "ProductType", text) && lstrcmpiA(text, "WinNT") != 0) {
            if (lstrcmpiA(text, "ServerNT") == 0)
                high |= kEdServer;
            else if (lstrcmpiA(text, "LanmanNT") == 0)
                high |= kEdAdvancedServer;
        }
    }
    if (KeyExists("SYSTEM\\CurrentControlSet\\Control\\MiniNT"))
        high |= kEdMiniNt;
    if (KeyExists("SYSTEM\\CurrentControlSet\\Control\\PE Builder"))
        high |= kEdPeBuilder;
    if (ReadDwordAt(HKEY_LOCAL_MACHINE, "SYSTEM\\WPA\\Fundamentals", "Installed", 0, 0) == 1)
        high |= kEdFundamentals;
    {
        RegistryKey key;
        unsigned generation = 0;
        if (key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center", 0) &&
            ReadShortText(key, "Ident", text) && sscanf(text, "%u", &generation) == 1) {
            switch (generation) {
            case 2:
                high |= kEdMediaCenter2;
                break;
            case 3:
                high |= kEdMediaCenter3;
                break;
            case 4:
                high |= kEdMediaCenter4;
                break;
            case 5:
                high |= kEdMediaCenter5;
                break;
            default:
                break;
            }
        }
    }
    return high << kHigh;
}

uint64_t EditionFromMetrics() {
    uint64_t high = 0;
    if (GetSystemMetrics(SM_TABLETPC))
        high |= kEdTabletPc;
    if (GetSystemMetrics(SM_MEDIACENTER))
        high |= kEdMediaCenter;
    if (GetSystemMetrics(SM_REMOTESESSION))
        high |= kEdRemoteSession;
    if (GetSystemMetrics(SM_STARTER))
        high |= kEdStarter;
    if (GetSystemMetrics(SM_SERVERR2))
        high |= kEdServerR2;
    return high << kHigh;
}

VersionCode QueryVersion() {
    OSVERSIONINFOA record;
    if (!GetBasicRecord(&record))
        return 0;
    return VersionFromRecord(record);
}

VersionCode QueryEdition() {
    VersionCode code = QueryVersion();
    if (!(code & kOsNt))
        return code;
    OSVERSIONINFOEXA extended;
    memset(&extended, 0, sizeof(extended));
    extended.dwOSVersionInfoSize = sizeof(extended);
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&extended)))
        code |= EditionFromSuite(extended.wSuiteMask, extended.wProductType);
    code |= EditionFromRegistry();
    code |= EditionFromMetrics();
    return code;
}

namespace {
// The name of a system outside the NT family: 95/98/Me, Win32s or CE.
const char *OlderFamilyName(char *buffer, uint32_t low) {
    if (low & kOs9x) {
        static const struct {
            uint32_t bit;
            const char *name;
        } kNames[] = {
            {kOs95, "Windows 95"},      {kOs95Osr2, "Windows 95 OSR2"}, {kOs98, "Windows 98"},
            {kOs98Se, "Windows 98 SE"}, {kOsMe, "Windows ME"},
        };
        for (const auto &entry : kNames) {
            if (low & entry.bit)
                return entry.name;
        }
        snprintf(buffer, 256, "unknown dos kernel 0x%X", low);
        return buffer;
    }
    if (low & kOsWin32s)
        return "Windows 3.1";
    if (low & kOsCe) {
        if (low & kOsCe50)
            return "Windows CE 5.0";
        if (low & kOsCe52)
            return "Windows CE 5.2";
        snprintf(buffer, 256, "unknown ce kernel 0x%X", low);
        return buffer;
    }
    snprintf(buffer, 256, "unknown 0x%X", low);
    return buffer;
}

// The NT release the version bits name, or none.
const char *NtReleaseName(uint32_t low) {
    static const struct {
        uint32_t bit;
        const char *name;
    } kNames[] = {
        {kOsNt4, "Windows NT4"},     {kOs2000, "Windows 2000"},
        {kOsXp, "Windows XP"},       {kOs2003, "Windows Server 2003"},
        {kOsVista, "Windows Vista"}, {kOs7, "Windows 7"},
        {kOs8, "Windows 8"},         {kOs81, "Windows 8.1"},
    };
    for (const auto &entry : kNames) {
        if (low & entry.bit)
            return entry.name;
    }
    return nullptr;
}

// The edition tags, in their fixed order; of each group that excludes one another only the first that
// applies.
void AppendEditionTags(char *buffer, uint32_t high) {
    if (high & kEdServer)
        AppendTag(buffer, " [Server]");
    else if (high & kEdAdvancedServer)
        AppendTag(buffer, " [Advanced Server]");
    if (high & kEdPeBuilder)
        AppendTag(buffer, " [PE Builder]");
    else if (high & kEdMiniNt)
        AppendTag(buffer, " [MiniNT]");
    if (high & kEdTabletPc)
        AppendTag(buffer, " [TabletPC]");
    if (high & kEdMediaCenter2)
        AppendTag(buffer, " [MediaCenter 2004]");
    else if (high & kEdMediaCenter3)
        AppendTag(buffer, " [MediaCenter 2005]");
    else if (high & kEdMediaCenter4)
        AppendTag(buffer, " [MediaCenter 2005 Ex]");
    else if (high & kEdMediaCenter5)
        AppendTag(buffer, " [MediaCenter Vista]");
    else if (high & kEdMediaCenter)
        AppendTag(buffer, " [MediaCenter]");
    static const struct {
        uint32_t bit;
        const char *tag;
    } kTags[] = {
        {kEdDatacenter, " [Datacenter]"},
        {kEdEnterprise, " [Enterprise]"},
        {kEdEmbedded, " [Embedded]"},
        {kEdHome, " [Home Edition]"},
        {kEdStorageServer, " [Storage Server]"},
        {kEdTerminalServices, " [Terminal Services]"},
        {kEdHomeServer, " [Home Server]"},
        {kEdDomainController, " [Domain Controller]"},
        {kEdFundamentals, " [Fundamentals for Legacy PCs]"},
        {kEdRemoteSession, " [TerminalSession]"},
    };
    for (const auto &entry : kTags) {
        if (high & entry.bit)
            AppendTag(buffer, entry.tag);
    }
}
} // namespace

const char *OsName(char *buffer, VersionCode code) {
    const uint32_t low = static_cast<uint32_t>(code);
    const uint32_t high = static_cast<uint32_t>(code >> kHigh);
    if (!(low & kOsNt))
        return OlderFamilyName(buffer, low);
    const char *name = NtReleaseName(low);
    if (!name) {
        snprintf(buffer, 256, "unknown nt kernel 0x%X", low);
        return buffer;
    }
    buffer[0] = '\0';
    AppendTag(buffer, name);
    AppendEditionTags(buffer, high);
    return buffer;
}

int IsAtLeastFor(uint64_t mask, const OSVERSIONINFOA &running) {
    uint32_t low = static_cast<uint32_t>(mask);
    uint32_t high = static_cast<uint32_t>(mask >> kHigh);
    switch (running.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return (low & kOsWin32s) ? 1 : 0;
    case VER_PLATFORM_WIN32_WINDOWS: {
        int result = (low & kOs9x) ? 1 : 0;
        if (running.dwMajorVersion == 4) {
            uint32_t satisfied;
            switch (Windows9xVersion(running) & ~kOs9x) {
            case kOs95:
                satisfied = kOs95;
                break;
            case kOs95Osr2:
                satisfied = kOs95 | kOs95Osr2;
                break;
            case kOs98:
                satisfied = kOs95 | kOs98;
                break;
            case kOs98Se:
                satisfied = kOs95 | kOs98 | kOs98Se;
                break;
            default:
                satisfied = kOs95 | kOs98 | kOsMe | kOs95Osr2 | kOs98Se;
                break;
            }
            if (low & satisfied)
                result = 1;
        }
        return result;
    }
    case VER_PLATFORM_WIN32_NT: {
        int result = (low & kOsNt) ? 1 : 0;
        // The lowest requested version at or below the running one decides. A system older than every
        // listed version satisfies none of them (and one newer than all of them is checked from the top).
        uint32_t number = NtNumber(running);
        for (const NtVersion &version : kNtVersions) {
            if (version.number > number)
                continue;
            if (low & version.bit)
                result = ServicePackSatisfied(number, version.number, high, running);
        }
        return result;
    }
    default:
        return 0;
    }
}

int IsAtLeast(uint64_t mask) {
    OSVERSIONINFOA record;
    if (!GetBasicRecord(&record))
        return 0;
    return IsAtLeastFor(mask, record);
}

uint32_t CommonControlsVersion() {
    DynamicLibrary comctl;
    if (!comctl.Load("comctl32.dll"))
        return 0;
    DLLGETVERSIONPROC getVersion = comctl.Function<DLLGETVERSIONPROC>("DllGetVersion");
    if (!getVersion)
        return 0;
    DLLVERSIONINFO info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    if (FAILED(getVersion(&info)))
        return 0;
    return (info.dwMajorVersion << 16) | (info.dwMinorVersion & 0xFFFF);
}

uint8_t VersionByteFrom(const char *currentVersion, const OSVERSIONINFOA *record) {
    unsigned major = 0, minor = 0;
    if (currentVersion && sscanf(currentVersion, "%u.%u", &major, &minor) == 2)
        return static_cast<uint8_t>((minor << 4) | (major & 0xF));
    if (!record)
        return 0;
    return static_cast<uint8_t>((record->dwMinorVersion << 4) | (record->dwMajorVersion & 0xF));
}

uint8_t VersionByte() {
    TextString text;
    int haveText = ReadStringAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                "CurrentVersion", text, nullptr, 0);
    OSVERSIONINFOA record;
    int haveRecord = GetBasicRecord(&record);
    return VersionByteFrom(haveText ? text.Text() : nullptr, haveRecord ? &record : nullptr);
}

// RegistryKey: typed access to one open registry key and the one-shot value functions built on it.
#include "base/RegistryKey.h"
#include "base/Wow64.h"
#include "base/TextString.h"
#include <cstring>

namespace {
// Terminates what a query left in out's buffer (capacity bytes, at most capacity - 1 of them data). A
// string value brings its own terminator as its last byte; anything else (binary, a number, a string
// stored without one) is terminated after its last byte, so nothing is lost and nothing is read beyond.
void TerminateQueried(TextString &out, DWORD bytes) {
    char *buffer = out.Buffer();
    if (bytes > 0 && buffer[bytes - 1] == '\0')
        --bytes;
    buffer[bytes] = '\0';
    out.Recount();
}

// Offers the whole buffer but the terminator's byte; 1 on success with the byte count in *bytes.
LONG QueryInto(HKEY key, const char *name, TextString &out, DWORD *bytes) {
    *bytes = static_cast<DWORD>(out.MaxLength());
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(out.Buffer()), bytes);
}
} // namespace

int RegistryKey::Open(HKEY root, const char *subkey, uint32_t viewFlags) {
    Close();
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | FilterViewFlags(viewFlags), &key) != ERROR_SUCCESS)
        return 0;
    key_ = key;
    return 1;
}

int RegistryKey::Create(HKEY root, const char *subkey, uint32_t viewFlags) {
    Close();
    HKEY key = nullptr;
    LONG status;
    if (viewFlags == 0)
        status = RegCreateKeyA(root, subkey, &key);
    else
        status = RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS | FilterViewFlags(viewFlags), nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return 0;
    key_ = key;
    return 1;
}

int RegistryKey::ReadDword(const char *name, uint32_t *out) {
    if (!key_ || !out)
        return 0;
    // Read into a local: a shorter value would otherwise leave part of the caller's number stale.
    uint32_t value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE *>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(value))
        return 0;
    *out = value;
    return 1;
}

int RegistryKey::ReadString(const char *name, TextString &out) {
    if (!key_) {
        out.Assign(static_cast<const char *>(nullptr));
        return 0;
    }
    if (!out.Buffer() && !out.Reset(260))
        return 0;
    DWORD bytes = 0;
    LONG status = QueryInto(key_, name, out, &bytes);
    if (status == ERROR_SUCCESS) {
        TerminateQueried(out, bytes);
        return 1;
    }
    // Too small: the platform told us the size it needs; one more attempt with exactly that much room.
    if (status == ERROR_MORE_DATA && bytes > 0 && bytes < 0xFFFFFFF0u && out.Reset(bytes + 1)) {
        status = QueryInto(key_, name, out, &bytes);
        if (status == ERROR_SUCCESS) {
            TerminateQueried(out, bytes);
            return 1;
        }
    }
    // The buffer may hold part of the value now.
    if (out.Buffer())
        out.Buffer()[0] = '\0';
    out.Recount();
    return 0;
}

int RegistryKey::ReadBinary(const char *name, void *buffer, DWORD *size) {
    if (!key_ || !size)
        return 0;
    return RegQueryValueExA(key_, name, nullptr, nullptr, static_cast<BYTE *>(buffer), size) == ERROR_SUCCESS;
}

int RegistryKey::WriteDword(const char *name, uint32_t value) {
    if (!key_)
        return 0;
    return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

int RegistryKey::WriteString(const char *name, const char *text) {
    if (!key_)
        return 0;
    if (!text)
        text = "";
    DWORD bytes = static_cast<DWORD>(strlen(text) + 1);
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), bytes) ==
           ERROR_SUCCESS;
}

int RegistryKey::Close() {
    if (!key_)
        return 1;
    if (RegCloseKey(key_) != ERROR_SUCCESS)
        return 0;
    key_ = nullptr;
    return 1;
}

uint32_t ReadDwordAt(HKEY root, const char *subkey, const char *name, uint32_t defaultValue,
                     uint32_t viewFlags) {
    RegistryKey key;
    uint32_t value = 0;
    if (!key.Open(root, subkey, viewFlags) || !key.ReadDword(name, &value))
        return defaultValue;
    return value;
}

int WriteDwordAt(HKEY root, const char *subkey, const char *name, uint32_t value) {
    RegistryKey key;
    if (!key.Create(root, subkey, 0))
        return 0;
    int written = key.WriteDword(name, value);
    key.Close();
    return written;
}

int ReadStringAt(HKEY root, const char *subkey, const char *name, TextString &out, const char *defaultText,
                 uint32_t viewFlags) {
    // The default may be out's own text ("keep what I have"), which the read is about to overwrite.
    TextString savedDefault(1);
    const char *start = out.Buffer();
    if (defaultText && start && defaultText >= start && defaultText < start + out.Capacity()) {
        savedDefault.Assign(defaultText);
        defaultText = savedDefault.Text();
    }
    RegistryKey key;
    if (key.Open(root, subkey, viewFlags) && key.ReadString(name, out)) {
        key.Close();
        return 1;
    }
    out.Assign(defaultText);
    return 0;
}

int WriteStringAt(HKEY root, const char *subkey, const char *name, const char *text) {
    RegistryKey key;
    if (!key.Create(root, subkey, 0))
        return 0;
    int written = key.WriteString(name, text);
    key.Close();
    return written;
}

// TarvexDriver: the outside view of a running Tarvex: process, dialog, controls, list cells and registry.
#include "tests/app/driver/TarvexDriver.h"

#include "res/ResourceIds.h"
#include <commctrl.h>
#include <tlhelp32.h>
#include <algorithm>

namespace {

struct FindContext {
    DWORD processId;
    const char *caption;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM parameter) {
    auto *context = reinterpret_cast<FindContext *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != context->processId || window == context->exclude || !IsWindowVisible(window))
        return TRUE;
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") != 0)
        return TRUE;
    if (TarvexDriver::WindowText(window) != context->caption)
        return TRUE;
    context->found = window;
    return FALSE;
}

} // namespace

RemoteBuffer::RemoteBuffer(HANDLE process, SIZE_T size) : process_(process) {
    address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer() {
    if (address_)
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

int RemoteBuffer::Write(const void *data, SIZE_T size, SIZE_T offset) {
    SIZE_T written = 0;
    return address_ &&
                   WriteProcessMemory(process_, static_cast<BYTE *>(address_) + offset, data, size,
                                      &written) &&
                   written == size
               ? 1
               : 0;
}

int RemoteBuffer::Read(void *data, SIZE_T size, SIZE_T offset) const {
    SIZE_T read = 0;
    return address_ &&
                   ReadProcessMemory(process_, static_cast<BYTE *>(address_) + offset, data, size, &read) &&
                   read == size
               ? 1
               : 0;
}

SavedRegistryValue::SavedRegistryValue(HKEY root, const char *key, const char *name)
    : root_(root), key_(key), name_(name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExA(handle, name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.resize(size);
        if (RegQueryValueExA(handle, name, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS)
            existed_ = 1;
    }
    RegCloseKey(handle);
}

SavedRegistryValue::~SavedRegistryValue() {
    HKEY handle = nullptr;
    if (existed_) {
        if (RegCreateKeyExA(root_, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(handle, name_.c_str(), 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
            RegCloseKey(handle);
        }
    } else if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_WRITE, &handle) == ERROR_SUCCESS) {
        RegDeleteValueA(handle, name_.c_str());
        RegCloseKey(handle);
    }
}

int ReadUserDword(const char *key, const char *name, DWORD *value) {
    DWORD size = sizeof *value, type = 0;
    return RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, &type, value, &size) == ERROR_SUCCESS;
}

int WriteUserDword(const char *key, const char *name, DWORD value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return 0;
    LONG status = RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), sizeof value);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

int WriteUserString(const char *key, const char *name, const char *text) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return 0;
    LONG status =
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), lstrlenA(text) + 1);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

int DeleteUserValue(const char *key, const char *name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_WRITE, &handle) != ERROR_SUCCESS)
        return 1;
    LONG status = RegDeleteValueA(handle, name);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

TarvexDriver::~TarvexDriver() {
    Kill();
    if (process_)
        CloseHandle(process_);
}

namespace {
std::string g_programPath;
}

void TarvexDriver::SetProgramPath(const std::string &path) {
    g_programPath = path;
}

std::string TarvexDriver::ProgramPath() {
    if (!g_programPath.empty())
        return g_programPath;
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path);
    // The tests live in <build>\tests, the program in <build>.
    text = text.substr(0, text.rfind('\\'));
    text = text.substr(0, text.rfind('\\') + 1);
    return text + TARVEX_PROGRAM_FILE;
}

std::string TarvexDriver::ExpectedCaption() {
    return std::string("Tarvex [") + TARVEX_VERSION_TEXT + "]";
}

int TarvexDriver::Start(const char *arguments) {
    // The program checks for updates at start: unless the test names a server of its own, the check goes to
    // a closed loopback port, so that no test ever reaches beyond this machine.
    if (!closedUpdateUrl_)
        closedUpdateUrl_.reset(new ClosedUpdateUrl(1));
    std::string commandLine = "\"" + ProgramPath() + "\"";
    if (arguments && *arguments)
        commandLine += std::string(" ") + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    return 1;
}

int TarvexDriver::WaitForDialog(DWORD timeoutMs) {
    std::string caption = ExpectedCaption();
    return WaitUntil(timeoutMs,
                     [&] {
                         FindContext context = {processId_, caption.c_str(), nullptr, nullptr};
                         EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&context));
                         dialog_ = context.found;
                         return dialog_ != nullptr || !Running();
                     }) &&
           dialog_ != nullptr;
}

HWND TarvexDriver::WaitForMessageBox(const char *caption, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil(timeoutMs, [&] {
        FindContext context = {processId_, caption, dialog_, nullptr};
        EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&context));
        box = context.found;
        return box != nullptr || !Running();
    });
    return box;
}

int TarvexDriver::WaitForExit(DWORD timeoutMs, DWORD *code) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return 0;
    if (code)
        GetExitCodeProcess(process_, code);
    return 1;
}

int TarvexDriver::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void TarvexDriver::Kill() {
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
}

HWND TarvexDriver::Item(int id) const {
    return dialog_ ? GetDlgItem(dialog_, id) : nullptr;
}

std::string TarvexDriver::WindowText(HWND window) {
    char text[512] = {};
    DWORD_PTR copied = 0;
    // WM_GETTEXT is copied across processes by the system; a hung program must not hang the test.
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return std::string();
    return text;
}

std::string TarvexDriver::Text(int id) const {
    return WindowText(Item(id));
}

int TarvexDriver::Enabled(int id) const {
    return IsWindowEnabled(Item(id)) ? 1 : 0;
}

int TarvexDriver::Checked(int id) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(Item(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED ? 1 : 0;
}

void TarvexDriver::Click(int id) {
    PostMessageA(Item(id), BM_CLICK, 0, 0);
}

void TarvexDriver::PostCommand(int id) {
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
}

void TarvexDriver::PostClose() {
    PostMessageA(dialog_, WM_CLOSE, 0, 0);
}

void TarvexDriver::PostQuit() {
    PostThreadMessageA(GetWindowThreadProcessId(dialog_, nullptr), WM_QUIT, 0, 0);
}

int TarvexDriver::RowCount() const {
    DWORD_PTR count = 0;
    SendMessageTimeoutA(Item(IDC_PROCESSORS), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    return static_cast<int>(count);
}

std::string TarvexDriver::Cell(int row, int column) const {
    const SIZE_T textSize = 260;
    RemoteBuffer remote(process_, sizeof(LVITEMA) + textSize);
    if (!remote.Address())
        return "<no remote memory>";
    LVITEMA item = {};
    item.iSubItem = column;
    item.cchTextMax = textSize;
    item.pszText = static_cast<char *>(remote.Address()) + sizeof(LVITEMA);
    char zero[textSize] = {};
    remote.Write(zero, textSize, sizeof(LVITEMA));
    remote.Write(&item, sizeof item);
    DWORD_PTR length = 0;
    SendMessageTimeoutA(Item(IDC_PROCESSORS), LVM_GETITEMTEXTA, row,
                        reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG, 5000, &length);
    char text[textSize] = {};
    remote.Read(text, textSize - 1, sizeof(LVITEMA));
    return text;
}

int TarvexDriver::SliderPosition() const {
    DWORD_PTR position = 0;
    SendMessageTimeoutA(Item(IDC_PERCENT_SLIDER), TBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
    return static_cast<int>(position);
}

RECT TarvexDriver::SliderChannel() const {
    RECT rect = {};
    RemoteBuffer remote(process_, sizeof rect);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(IDC_PERCENT_SLIDER), TBM_GETCHANNELRECT, 0,
                        reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG, 5000, &ignored);
    remote.Read(&rect, sizeof rect);
    return rect;
}

RECT TarvexDriver::SliderThumb() const {
    RECT rect = {};
    RemoteBuffer remote(process_, sizeof rect);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(IDC_PERCENT_SLIDER), TBM_GETTHUMBRECT, 0,
                        reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG, 5000, &ignored);
    remote.Read(&rect, sizeof rect);
    return rect;
}

void TarvexDriver::MouseClick(int id, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(Item(id), &point);
    SetCursorPos(point.x, point.y);
    Sleep(50);
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &inputs[0], sizeof(INPUT));
    Sleep(50);
    SendInput(1, &inputs[1], sizeof(INPUT));
}

int TarvexDriver::ThreadCount() const {
    return static_cast<int>(ThreadIds().size());
}

std::vector<DWORD> TarvexDriver::ThreadIds() const {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId_)
            ids.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    std::sort(ids.begin(), ids.end());
    return ids;
}

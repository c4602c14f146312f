// TarvexDriver: the outside view of a running Tarvex: its dialog, controls, list cells and slider.
#include "tests/app/driver/TarvexDriver.h"

#include "res/ResourceIds.h"
#include <commctrl.h>
#include <algorithm>
#include <iterator>

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

namespace {
std::string g_programPath;
}

void TarvexDriver::SetProgramPath(const std::string &path) {
    g_programPath = path;
}

std::string TarvexDriver::ProgramPath() {
    if (!g_programPath.empty())
        return g_programPath;
    // The tests live in <build>\tests, the program in <build>.
    std::string folder = OwnFolder();
    return folder.substr(0, folder.rfind('\\', folder.size() - 2) + 1) + TARVEX_PROGRAM_FILE;
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
    return ProcessRunner::Start(commandLine);
}

int TarvexDriver::WaitForDialog(DWORD timeoutMs) {
    dialog_ = WaitForWindow(ExpectedCaption().c_str(), timeoutMs, "#32770");
    return dialog_ != nullptr;
}

HWND TarvexDriver::WaitForMessageBox(const char *caption, DWORD timeoutMs) {
    return WaitForWindow(caption, timeoutMs, "#32770", dialog_);
}

int TarvexDriver::WaitForExit(DWORD timeoutMs, DWORD *code) {
    if (!WaitForEnd(timeoutMs))
        return 0;
    if (code)
        *code = ExitCode();
    return 1;
}

HWND TarvexDriver::Item(int id) const {
    return dialog_ ? GetDlgItem(dialog_, id) : nullptr;
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
    RemoteBuffer remote(Process(), sizeof(LVITEMA) + textSize);
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
    RemoteBuffer remote(Process(), sizeof rect);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(IDC_PERCENT_SLIDER), TBM_GETCHANNELRECT, 0,
                        reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG, 5000, &ignored);
    remote.Read(&rect, sizeof rect);
    return rect;
}

RECT TarvexDriver::SliderThumb() const {
    RECT rect = {};
    RemoteBuffer remote(Process(), sizeof rect);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(IDC_PERCENT_SLIDER), TBM_GETTHUMBRECT, 0,
                        reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG, 5000, &ignored);
    remote.Read(&rect, sizeof rect);
    return rect;
}

int TarvexDriver::MachineProcessors() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

int64_t TarvexDriver::ThreadTime(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return -1;
    return (static_cast<int64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<int64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

int64_t TarvexDriver::ProcessorTime() const {
    int64_t sum = 0;
    for (DWORD id : ThreadIds()) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        const int64_t time = ThreadTime(thread);
        if (time > 0)
            sum += time;
        if (thread)
            CloseHandle(thread);
    }
    return sum;
}

std::vector<DWORD> TarvexDriver::NewThreads(const std::vector<DWORD> &before,
                                            const std::vector<DWORD> &after) {
    std::vector<DWORD> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

std::vector<DWORD> TarvexDriver::BusyThreads(DWORD ms, double share) const {
    std::vector<DWORD> ids = ThreadIds(), busy;
    std::vector<HANDLE> threads;
    std::vector<int64_t> before;
    for (DWORD id : ids) {
        threads.push_back(OpenThread(THREAD_QUERY_INFORMATION, FALSE, id));
        before.push_back(ThreadTime(threads.back()));
    }
    const DWORD start = GetTickCount();
    Sleep(ms);
    const double wall100ns = static_cast<double>(GetTickCount() - start) * 10000.0;
    for (size_t i = 0; i < ids.size(); ++i) {
        const int64_t after = ThreadTime(threads[i]);
        if (before[i] >= 0 && after >= 0 && static_cast<double>(after - before[i]) > share * wall100ns)
            busy.push_back(ids[i]);
        if (threads[i])
            CloseHandle(threads[i]);
    }
    return busy;
}

DWORD_PTR TarvexDriver::ThreadAffinity(DWORD id) {
    struct BasicInformation {
        LONG exitStatus;
        void *teb;
        HANDLE process;
        HANDLE thread;
        DWORD_PTR affinity;
        LONG priority;
        LONG basePriority;
    } information = {};
    typedef LONG(WINAPI * QueryFunction)(HANDLE, int, void *, ULONG, ULONG *);
    QueryFunction query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    // Class 0: the thread's basic information, its affinity mask among it.
    const int ok = query && thread && query(thread, 0, &information, sizeof information, nullptr) >= 0;
    if (thread)
        CloseHandle(thread);
    return ok ? information.affinity : 0;
}

int TarvexDriver::RowChecked(int row) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(Item(IDC_PROCESSORS), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK, SMTO_ABORTIFHUNG,
                        5000, &state);
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2) ? 1 : 0;
}

void TarvexDriver::ClickRowCheckBox(int row) {
    // The check box is the state image, drawn just left of the row's icon.
    RECT rect = {};
    rect.left = LVIR_ICON;
    RemoteBuffer remote(Process(), sizeof rect);
    remote.Write(&rect, sizeof rect);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(IDC_PROCESSORS), LVM_GETITEMRECT, row,
                        reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG, 5000, &ignored);
    remote.Read(&rect, sizeof rect);
    MouseClick(IDC_PROCESSORS, rect.left - 8, (rect.top + rect.bottom) / 2);
}

void TarvexDriver::FocusItem(int id) {
    PostMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

int TarvexDriver::Settle(DWORD timeoutMs, int byMouse) {
    // Input is read after every posted message, so mouse input is settled by a click of the mouse.
    RECT box = {};
    GetClientRect(Item(IDC_AUTOUPDATE), &box);
    for (int round = 0; round < 2; ++round) {
        const int before = Checked(IDC_AUTOUPDATE);
        if (byMouse)
            MouseClick(IDC_AUTOUPDATE, 6, box.bottom / 2);
        else
            Click(IDC_AUTOUPDATE);
        if (!WaitUntil(timeoutMs, [&] { return Checked(IDC_AUTOUPDATE) != before; }))
            return 0;
    }
    return 1;
}

std::string TarvexDriver::Caption() const {
    return WindowText(dialog_);
}

void TarvexDriver::MouseClick(int id, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(Item(id), &point);
    SetCursorPos(point.x, point.y);
    // The buttons go where the system has the cursor: only once it is there.
    WaitUntil(5000, [&] {
        POINT at = {};
        return GetCursorPos(&at) && at.x == point.x && at.y == point.y;
    });
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

RECT TarvexDriver::ItemPlace(int id) const {
    RECT rect = {};
    GetWindowRect(Item(id), &rect);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

SIZE TarvexDriver::ClientSize() const {
    RECT client = {};
    GetClientRect(dialog_, &client);
    SIZE size = {client.right, client.bottom};
    return size;
}

HWND TarvexDriver::Focus() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &info) ? info.hwndFocus : nullptr;
}

void TarvexDriver::PressKey(UINT key) {
    HWND focus = Focus();
    const UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    PostMessageA(focus, WM_KEYDOWN, key, 1 | scan << 16);
    PostMessageA(focus, WM_KEYUP, key, 1 | scan << 16 | 3u << 30);
}

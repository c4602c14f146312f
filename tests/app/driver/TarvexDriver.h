// TarvexDriver: starts the real Tarvex.exe and drives its window from outside, as a user would: finds the
// dialog by its caption and the controls by id, clicks, reads texts, list cells and the slider, and ends the
// process when the test is over (by force when it did not end by itself).
//
// Classes: TarvexDriver, RemoteBuffer, SavedRegistryValue.
#pragma once

#include "base/Win.h"
#include "tests/common/ClosedUpdateUrl.h"
#include <memory>
#include <string>
#include <vector>

// Memory in another process, for the list view and trackbar messages that take pointers.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, SIZE_T size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer &) = delete;
    RemoteBuffer &operator=(const RemoteBuffer &) = delete;

    void *Address() const { return address_; }
    int Write(const void *data, SIZE_T size, SIZE_T offset = 0);
    int Read(void *data, SIZE_T size, SIZE_T offset = 0) const;

private:
    HANDLE process_;
    void *address_ = nullptr;
};

// Remembers a registry value (or that it was missing) and puts it back on destruction.
class SavedRegistryValue {
public:
    SavedRegistryValue(HKEY root, const char *key, const char *name);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue &) = delete;
    SavedRegistryValue &operator=(const SavedRegistryValue &) = delete;

private:
    HKEY root_;
    std::string key_, name_;
    int existed_ = 0;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// 1 with the value when a DWORD exists under HKCU key.
int ReadUserDword(const char *key, const char *name, DWORD *value);
int WriteUserDword(const char *key, const char *name, DWORD value);
int WriteUserString(const char *key, const char *name, const char *text);
int DeleteUserValue(const char *key, const char *name);

class TarvexDriver {
public:
    TarvexDriver() = default;
    ~TarvexDriver();
    TarvexDriver(const TarvexDriver &) = delete;
    TarvexDriver &operator=(const TarvexDriver &) = delete;

    // Tarvex.exe of the build: beside the tests folder unless SetProgramPath named another.
    static std::string ProgramPath();
    static void SetProgramPath(const std::string &path);
    static std::string ExpectedCaption();

    // Starts the program with the arguments; 1 when the process runs.
    int Start(const char *arguments);
    // Waits for the visible dialog with the program's caption; 1 when found.
    int WaitForDialog(DWORD timeoutMs);
    // A visible top-level "#32770" window of the process with that caption other than the dialog (a message
    // box); null when none appeared in time.
    HWND WaitForMessageBox(const char *caption, DWORD timeoutMs);
    // 1 when the process ended in time; its exit code in code.
    int WaitForExit(DWORD timeoutMs, DWORD *code = nullptr);
    int Running() const;
    void Kill();

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const;
    std::string Text(int id) const;
    static std::string WindowText(HWND window);
    int Enabled(int id) const;
    int Checked(int id) const;
    // Posts a button click (BM_CLICK) and returns at once: the program handles it in its own time.
    void Click(int id);
    // Posts the button's WM_COMMAND to the dialog, as its click would, without waiting.
    void PostCommand(int id);
    void PostClose();
    // Posts WM_QUIT to the dialog's thread: the modal loop ends without any close message.
    void PostQuit();

    int RowCount() const;
    std::string Cell(int row, int column) const;
    int SliderPosition() const;
    RECT SliderChannel() const;
    RECT SliderThumb() const;
    // A real left click (cursor moved there, button down and up) at a point of a control's client area.
    void MouseClick(int id, int x, int y);

    // Threads of the process right now (all of them, the program's own included).
    int ThreadCount() const;
    // Ids of the process's threads right now, sorted.
    std::vector<DWORD> ThreadIds() const;
    // Waits until pred() is true, checking every 20 ms; 1 when it became true in time.
    template <typename Pred> static int WaitUntil(DWORD timeoutMs, Pred pred) {
        DWORD start = GetTickCount();
        for (;;) {
            if (pred())
                return 1;
            if (GetTickCount() - start > timeoutMs)
                return 0;
            Sleep(20);
        }
    }

    HANDLE Process() const { return process_; }
    DWORD ProcessId() const { return processId_; }

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
    // Start points "UpdateUrl" at a closed loopback port when the test has not set it; put back at the end.
    std::unique_ptr<ClosedUpdateUrl> closedUpdateUrl_;
};

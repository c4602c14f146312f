// TarvexDriver: starts the real Tarvex.exe and drives its window from outside, as a user would: finds the
// dialog by its caption and the controls by id, clicks, reads texts, list cells and the slider, and ends the
// process when the test is over (by force when it did not end by itself).
//
// Classes: TarvexDriver, RemoteBuffer.
#pragma once

#include "tests/common/ClosedUpdateUrl.h"
#include "tests/common/ProcessRunner.h"
#include "tests/common/SavedRegistryValue.h"
#include <memory>
#include <string>

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

// The process, its windows and threads, the waits and the forced end come from ProcessRunner.
class TarvexDriver : public ProcessRunner {
public:
    TarvexDriver() = default;
    // The program ends before the update address comes back.
    ~TarvexDriver() { Kill(); }
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

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const;
    std::string Text(int id) const;
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
    // Where a control lies in the dialog's client area.
    RECT ItemPlace(int id) const;
    // The dialog's client size.
    SIZE ClientSize() const;
    // The window of the program that has the keyboard focus; null when none.
    HWND Focus() const;
    // A key pressed and released on the window with the focus, posted so that it goes through the program's
    // own message loop (and its dialog manager) like typing.
    void PressKey(UINT key);

    // Threads of the process right now (all of them, the program's own included).
    int ThreadCount() const { return static_cast<int>(ThreadIds().size()); }

private:
    HWND dialog_ = nullptr;
    // Start points "UpdateUrl" at a closed loopback port when the test has not set it; put back at the end.
    std::unique_ptr<ClosedUpdateUrl> closedUpdateUrl_;
};

// TarvexDriver: starts the real Tarvex.exe and drives its window from outside, as a user would: finds the
// dialog by its caption and the controls by id, clicks, reads texts, list cells and the slider, and ends the
// process when the test is over (by force when it did not end by itself).
//
// Classes: TarvexDriver, RemoteBuffer.
#pragma once

#include "tests/common/ClosedUpdateUrl.h"
#include "tests/common/ProcessRunner.h"
#include "tests/common/SavedRegistryValue.h"
#include "tests/common/SettingsKey.h"
#include <cstdint>
#include <vector>
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
    // 1 once the program has handled every message posted to its window before the call (with byMouse, all
    // the mouse input sent before it): a click of the update box after them has toggled the box (a second
    // one puts it back).
    int Settle(DWORD timeoutMs, int byMouse = 0);

    int RowCount() const;
    std::string Cell(int row, int column) const;
    int SliderPosition() const;
    RECT SliderChannel() const;
    RECT SliderThumb() const;
    // A real left click (cursor moved there, button down and up) at a point of a control's client area.
    void MouseClick(int id, int x, int y);
    // The processor row's check box: read, and clicked with the mouse as a user would.
    int RowChecked(int row) const;
    void ClickRowCheckBox(int row);
    // Moves the keyboard focus to a control the way the dialog's own Tab does; returns at once.
    void FocusItem(int id);
    std::string Caption() const;

    // Logical processors of this machine: the program lists and loads as many.
    static int MachineProcessors();
    // Processor time a thread has used so far, in 100 ns units; -1 when it cannot be read.
    static int64_t ThreadTime(HANDLE thread);
    // The program's processor time so far, in 100 ns units, summed thread by thread: Wine counts a process's
    // time only for threads that have ended.
    int64_t ProcessorTime() const;
    // The threads that appeared between two snapshots of the thread ids.
    static std::vector<DWORD> NewThreads(const std::vector<DWORD> &before, const std::vector<DWORD> &after);
    // The program's threads that used more than share (0 to 1) of a processor during the next ms.
    std::vector<DWORD> BusyThreads(DWORD ms, double share) const;
    // The processors a thread may run on; 0 when it cannot be read.
    static DWORD_PTR ThreadAffinity(DWORD id);

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

// DialogRunner: runs a dialog from its template, a resource or a block in memory (with the old bitmap font
// swapped for the system's message font), and turns its window messages into calls of virtual handlers.
//
// Classes: DialogRunner.
#pragma once

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "base/Win.h"
#include <cstdint>

class DialogRunner {
public:
    // Options of RunModal.
    enum : uint32_t {
        kModeless = 1,         // ended with DestroyWindow instead of EndDialog
        kDeleteOnEnd = 2,      // the object deletes itself when the dialog ends
        kPreferShellDlg2 = 4,  // "MS Shell Dlg 2" at 8 points when the message font is "Segoe UI"
        kSuppressFirstShow = 8 // the first attempt to show the window is dropped
    };

    DialogRunner() = default;
    virtual ~DialogRunner();
    DialogRunner(const DialogRunner &) = delete;
    DialogRunner &operator=(const DialogRunner &) = delete;

    // What OnInitDialog answers.
    enum : int {
        kInitFailed = 0,   // end the dialog at once with -1
        kInitDone = 1,     // the system puts the focus on the first control
        kInitFocusSet = 2, // the handler has put the focus where it wants it
    };

    virtual int OnInitDialog();
    virtual int CanClose(INT_PTR result);
    virtual int OnCommand(int id, WPARAM wParam, LPARAM lParam);
    virtual int OnClose();
    virtual int OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual int OnDestroy();

    // The dialog's result: the value given to EndRun, or the failure value of the system's dialog function.
    INT_PTR RunModal(HINSTANCE instance, int templateId, uint32_t options, HWND parent);
    // The same for a template in memory (size bytes), for dialogs that need no resources of the program.
    INT_PTR RunModalIndirect(HINSTANCE instance, const void *dialogTemplate, DWORD size, uint32_t options,
                             HWND parent);
    // Ends the dialog when CanClose allows it.
    void EndRun(INT_PTR result);
    int SetIcons(int iconId);
    // With the large icon at a size of the caller's choosing.
    int SetIcons(int iconId, int largeWidth, int largeHeight);

    void SetText(const char *text);
    int SetItemText(int id, const char *text);
    HWND Item(int id) const { return window_ ? GetDlgItem(window_, id) : nullptr; }
    void EnableItem(int id, int enable);
    void CheckItem(int id, int value);
    int IsItemChecked(int id) const;
    // MessageBoxA owned by the dialog; type 0 means an OK button with the exclamation icon.
    int ShowMessage(UINT type, const char *caption, const char *format, ...)
        __attribute__((format(ms_printf, 4, 5)));

    void SetMinimumSize(int width, int height) {
        minimumWidth_ = width;
        minimumHeight_ = height;
    }
    // The window's present size (its template's, at initialisation) becomes the smallest it may be given.
    void KeepSizeAsMinimum();
    HWND Window() const { return window_; }
    HINSTANCE Instance() const { return instance_; }
    uint32_t Options() const { return options_; }

    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // The window is being destroyed without EndRun (a quit message ended the modal loop, or somebody
    // destroyed it): CanClose runs all the same, then OnDestroy, and the object lets go of the window.
    int CloseOnDestroy();

    // What every run does before the dialog is made: DPI awareness and the common controls.
    void PrepareRun(HINSTANCE instance, uint32_t options);
    // Runs the template (its font replaced when it asks for an old one); the resource name when the template
    // cannot be had.
    INT_PTR RunTemplate(const void *dialogTemplate, DWORD size, const char *resourceName, uint32_t options,
                        HWND parent);

    HWND window_ = nullptr;
    HINSTANCE instance_ = nullptr;
    OwnedIcon smallIcon_;
    OwnedIcon largeIcon_;
    int minimumWidth_ = -1;
    int minimumHeight_ = -1;
    uint32_t options_ = 0;
    // Set while the dialog is being ended, so that the ending is not started again from inside.
    int ending_ = 0;
    // Where RunModal notes that the window went without EndRun; set while RunModal runs.
    int *closedOnDestroy_ = nullptr;
    DynamicLibrary commonControls_;
    BOOL(WINAPI *initCommonControls_)(const void *) = nullptr;
};

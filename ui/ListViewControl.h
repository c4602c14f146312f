// ListViewControl: wrapper of a report-style list view with its own image lists, the "explorer" look
// where the system has it, and column, row and cell operations.
//
// Classes: ListViewControl.
#pragma once

#include "base/Win.h"
#include "ui/OwnedImageList.h"
#include "ui/SubclassHook.h"
#include <commctrl.h>
#include <cstdint>

class ListViewControl {
public:
    // Autosize bits of InsertColumn.
    enum : uint32_t { kAutosizeUseHeader = 1, kAutosizeContent = 2 };

    ListViewControl() = default;
    ~ListViewControl();
    ListViewControl(const ListViewControl &) = delete;
    ListViewControl &operator=(const ListViewControl &) = delete;

    // The list view is borrowed (its dialog destroys it); the image lists are ours. instance holds the icons.
    int Attach(HWND window, HINSTANCE instance);
    // Unhooks, takes the image lists back from a living control and only then frees them, and forgets the
    // control. Done by the wrapper itself when the control is destroyed.
    void Detach();
    void SetExtendedStyle(DWORD mask, DWORD style);
    // Adds the icon to both image lists; its index, or -1.
    int AddIcon(int resourceId);
    // format: LVCFMT_*. Returns the new column's index, or -1.
    int InsertColumn(const char *header, int index, int width, uint32_t autosize, int format);
    // Returns the new row, or -1.
    int InsertItem(const char *text, int image, LPARAM data, int index);
    int SetItemText(const char *text, int column, int row);
    // The row's check box (LVS_EX_CHECKBOXES).
    int SetItemChecked(int row, int checked);
    int IsItemChecked(int row) const;
    int ItemCount() const;
    int ColumnWidth(int column) const;
    HWND Window() const { return window_; }
    HIMAGELIST SmallImages() const { return smallImages_.Get(); }

private:
    int OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

    SubclassHook<kHookListView> hook_;
    HWND window_ = nullptr;
    HINSTANCE instance_ = nullptr;
    OwnedImageList normalImages_;
    OwnedImageList smallImages_;
};

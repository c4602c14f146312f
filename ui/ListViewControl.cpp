// ListViewControl: image lists, theme, columns, rows and cells of a report-style list view.
#include "ui/ListViewControl.h"

#include "base/DynamicLibrary.h"

ListViewControl::~ListViewControl() {
    Detach();
}

int ListViewControl::Attach(HWND window, HINSTANCE instance) {
    Detach();
    if (!window)
        return 0;
    window_ = window;
    instance_ = instance;
    // The control must not destroy image lists that this object owns and frees itself.
    SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | LVS_SHAREIMAGELISTS);
    normalImages_.Reset(ImageList_Create(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                         ILC_COLOR32 | ILC_MASK, 4, 4));
    smallImages_.Reset(ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                        ILC_COLOR32 | ILC_MASK, 4, 4));
    if (normalImages_.IsValid())
        SendMessageA(window, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(normalImages_.Get()));
    if (smallImages_.IsValid())
        SendMessageA(window, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(smallImages_.Get()));

    // uxtheme is missing before XP; the list then keeps the classic look.
    DynamicLibrary uxtheme;
    if (uxtheme.Load("uxtheme.dll")) {
        auto setTheme =
            uxtheme.Function<HRESULT(WINAPI *)(HWND, const wchar_t *, const wchar_t *)>("SetWindowTheme");
        if (setTheme)
            setTheme(window, L"explorer", nullptr);
    }
    hook_.Attach<&ListViewControl::OnMessage>(window, this);
    return 1;
}

void ListViewControl::Detach() {
    hook_.Detach();
    // The control paints with the lists for as long as it holds them: it lets go first, then they are freed.
    if (window_ && IsWindow(window_)) {
        SendMessageA(window_, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
        SendMessageA(window_, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    }
    normalImages_.Reset();
    smallImages_.Reset();
    window_ = nullptr;
    instance_ = nullptr;
}

void ListViewControl::SetExtendedStyle(DWORD mask, DWORD style) {
    SendMessageA(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style);
}

int ListViewControl::AddIcon(int resourceId) {
    int index = -1;
    const struct {
        HIMAGELIST list;
        int cx, cy;
    } lists[] = {
        {normalImages_.Get(), GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)},
        {smallImages_.Get(), GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)},
    };
    for (const auto &entry : lists) {
        if (!entry.list)
            continue;
        // The image list keeps a copy of the picture; ours goes at the end of the round.
        OwnedIcon icon(static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(resourceId), IMAGE_ICON,
                                                     entry.cx, entry.cy, LR_DEFAULTCOLOR)));
        if (!icon.IsValid())
            continue;
        index = ImageList_AddIcon(entry.list, icon.Get());
    }
    return index;
}

int ListViewControl::InsertColumn(const char *header, int index, int width, uint32_t autosize, int format) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<char *>(header);
    column.iSubItem = index;
    int inserted =
        static_cast<int>(SendMessageA(window_, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column)));
    if (inserted < 0)
        return -1;
    if (autosize & kAutosizeUseHeader)
        SendMessageA(window_, LVM_SETCOLUMNWIDTH, inserted, LVSCW_AUTOSIZE_USEHEADER);
    if (autosize & kAutosizeContent)
        SendMessageA(window_, LVM_SETCOLUMNWIDTH, inserted, LVSCW_AUTOSIZE);
    return inserted;
}

int ListViewControl::InsertItem(const char *text, int image, LPARAM data, int index) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = index;
    item.pszText = const_cast<char *>(text);
    item.iImage = image;
    item.lParam = data;
    return static_cast<int>(SendMessageA(window_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

int ListViewControl::SetItemText(const char *text, int column, int row) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char *>(text);
    return SendMessageA(window_, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item)) ? 1 : 0;
}

int ListViewControl::SetItemChecked(int row, int checked) {
    LVITEMA item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    return window_ && SendMessageA(window_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item)) ? 1 : 0;
}

int ListViewControl::IsItemChecked(int row) const {
    if (!window_)
        return 0;
    const UINT state = static_cast<UINT>(SendMessageA(window_, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2) ? 1 : 0;
}

int ListViewControl::ItemCount() const {
    return window_ ? static_cast<int>(SendMessageA(window_, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

int ListViewControl::ColumnWidth(int column) const {
    return window_ ? static_cast<int>(SendMessageA(window_, LVM_GETCOLUMNWIDTH, column, 0)) : 0;
}

int ListViewControl::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
    if (message != WM_DESTROY)
        return 0;
    // The control finishes its own destruction with its lists in place; then the wrapper lets go of it
    // while the handle is still valid, so that nothing later reaches a dead (or reused) handle.
    *result = SubclassHook<kHookListView>::CallPrevious(window, message, wParam, lParam);
    Detach();
    return 1;
}

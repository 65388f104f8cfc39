// pane_test_window.cpp: the hidden parent window and list-view helpers of the pane suites.
#include "tests/panes/pane_test_window.h"

#include <commctrl.h>

static const wchar_t ParentClass[] = L"PwPaneTestParent";

static HWND createPane(HWND parent, int id)
{
    HWND pane = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 40, 400, 300, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    const wchar_t *headers[3] = {L"ファイル名", L"更新日", L"サイズ"};
    const int widths[3] = {280, 120, 80};
    for (int i = 0; i < 3; i++) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = widths[i];
        column.pszText = const_cast<wchar_t *>(headers[i]);
        column.iSubItem = i;
        SendMessageW(pane, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return pane;
}

HWND createPaneTestWindow()
{
    static bool registered = false;
    if (!registered) {
        InitCommonControls();
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = ParentClass;
        RegisterClassExW(&windowClass);
        registered = true;
    }
    HWND parent = CreateWindowExW(0, ParentClass, L"panes", WS_OVERLAPPEDWINDOW, 0, 0, 900, 400, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    AppState.ownPane = createPane(parent, 301);
    AppState.peerPane = createPane(parent, 302);
    for (int id = 305; id <= 306; id++)
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFTNOWORDWRAP, 0, 20, 200, 20, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    return parent;
}

void destroyPaneTestWindow(HWND parent)
{
    DestroyWindow(parent);
    AppState.ownPane = nullptr;
    AppState.peerPane = nullptr;
}

static std::wstring itemText(HWND pane, int row, int column)
{
    wchar_t text[600];
    wmemset(text, L'\x2620', 600);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 600;
    SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    text[599] = 0;
    return text;
}

std::vector<PaneRow> paneRows(HWND pane)
{
    std::vector<PaneRow> rows;
    int count = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iImage = -99;
        SendMessageW(pane, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back(PaneRow{itemText(pane, row, 0), itemText(pane, row, 1), itemText(pane, row, 2), item.iImage});
    }
    return rows;
}

const PaneRow *findRow(const std::vector<PaneRow> &rows, const std::wstring &name)
{
    for (const PaneRow &row : rows) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

void addNameRow(HWND pane, const wchar_t *name)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t *>(name);
    SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void selectOnly(HWND pane, int row)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    SendMessageW(pane, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    if (row < 0)
        return;
    item.state = LVIS_SELECTED;
    SendMessageW(pane, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

int rowIndex(HWND pane, const std::wstring &name)
{
    std::vector<PaneRow> rows = paneRows(pane);
    for (size_t i = 0; i < rows.size(); i++) {
        if (rows[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

std::wstring labelText(HWND parent, int id)
{
    wchar_t text[600] = {};
    GetDlgItemTextW(parent, id, text, 600);
    return text;
}

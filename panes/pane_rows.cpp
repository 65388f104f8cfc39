// pane_rows.cpp: reading and writing the rows of the two report-view panes.
#include "panes/folder_navigation.h"

#include <commctrl.h>

int paneRowCount(HWND pane)
{
    return static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
}

bool readSelectedName(HWND pane, wchar_t *name, int nameChars)
{
    ZeroMemory(name, nameChars * sizeof(wchar_t));
    int row = static_cast<int>(
        SendMessageW(pane, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
    if (row < 0)
        return false;
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = name;
    item.cchTextMax = nameChars;
    SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    name[nameChars - 1] = 0;
    return true;
}

static void setColumnText(HWND pane, int row, int column, const wchar_t *text)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t *>(text);
    SendMessageW(pane, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

int insertPaneRow(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date, const wchar_t *size)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t *>(name);
    item.iImage = image;
    int row = static_cast<int>(SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0)
        return -1;
    // An index past the end is appended by the list view: the texts go to the row it made.
    setColumnText(pane, row, 1, date);
    setColumnText(pane, row, 2, size);
    return row;
}

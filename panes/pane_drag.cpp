// pane_drag.cpp: dragging rows between the panes (the main window holds the mouse capture; no OLE), and
// Explorer's drops onto the peer pane. Its static is reset by resetAppState through resetUiModules()
// (cancelPaneDrag).
#include "panes/pane_drag.h"

#include "core/app_state.h"
#include "core/paths.h"
#include "panes/own_pane.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <cstring>
#include <cwchar>

static HWND DragSource = nullptr;

void beginPaneDrag(HWND window, HWND pane)
{
    if (pane != AppState.ownPane && pane != AppState.peerPane)
        return;
    if (ListView_GetNextItem(pane, -1, LVNI_SELECTED) == -1)
        return;
    DragSource = pane;
    SetCapture(window);
}

bool paneDragRunning()
{
    return DragSource != nullptr;
}

void cancelPaneDrag()
{
    DragSource = nullptr;
}

// True when where (client coordinates of window) lies on pane.
static bool overPane(HWND window, HWND pane, POINT where)
{
    RECT place = {};
    if (pane == nullptr || !GetWindowRect(pane, &place))
        return false;
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&place), 2);
    return PtInRect(&place, where) != FALSE;
}

void endPaneDrag(HWND window, POINT where)
{
    HWND source = DragSource;
    DragSource = nullptr;
    if (GetCapture() == window)
        ReleaseCapture();
    // The copy commands need the link, as their menu items do.
    if (source == nullptr || !AppState.linkOpen)
        return;
    if (source == AppState.ownPane && overPane(window, AppState.peerPane, where))
        SendMessageW(window, WM_COMMAND, IDM_COPY_TO_PEER, 0);
    else if (source == AppState.peerPane && overPane(window, AppState.ownPane, where))
        SendMessageW(window, WM_COMMAND, IDM_COPY_FROM_PEER, 0);
}

// The folder part of a dropped path ("C:\a" for "C:\a\b.txt", "C:\" for "C:\b.txt"); false for a root or a
// path without a folder.
static bool parentFolder(const wchar_t *path, wchar_t *folder, int folderChars)
{
    memset(folder, 0, sizeof(wchar_t) * static_cast<size_t>(folderChars));
    const wchar_t *separator = wcsrchr(path, L'\\');
    if (separator == nullptr || separator[1] == 0)
        return false;
    size_t chars = static_cast<size_t>(separator - path);
    if (chars == 2 && path[1] == L':')
        chars = 3;  // keep the drive's "\"
    if (chars == 0 || chars >= static_cast<size_t>(folderChars))
        return false;
    wmemcpy(folder, path, chars);
    return true;
}

// Items of one drop that are taken; more are left out.
static const int DropLimit = 256;

void dropFilesOnPeer(HWND window, HDROP drop)
{
    POINT where = {};
    DragQueryPoint(drop, &where);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count > static_cast<UINT>(DropLimit))
        count = DropLimit;
    if (!AppState.linkOpen || !overPane(window, AppState.peerPane, where) || count == 0 ||
        AppState.transferState != TransferState::Waiting) {
        DragFinish(drop);
        return;
    }
    static bool taken[DropLimit];
    memset(taken, 0, sizeof(taken));
    wchar_t before[PathChars];
    memcpy(before, AppState.ownFolder, sizeof(before));
    wchar_t path[PathChars];
    wchar_t folder[PathChars];
    wchar_t other[PathChars];
    for (UINT first = 0; first < count; ++first) {
        if (taken[first])
            continue;
        taken[first] = true;
        if (DragQueryFileW(drop, first, path, COUNTOF(path)) >= COUNTOF(path) ||
            !parentFolder(path, folder, COUNTOF(folder)))
            continue;
        // The own pane shows the items' folder with them selected, and the copy takes them as its own rows.
        memcpy(AppState.ownFolder, folder, sizeof(AppState.ownFolder));
        listOwnFolder(window);
        ListView_SetItemState(AppState.ownPane, -1, 0, LVIS_SELECTED);
        static UINT group[DropLimit];
        int grouped = 0;
        group[grouped++] = first;
        for (UINT item = first + 1; item < count; ++item) {
            if (taken[item] || DragQueryFileW(drop, item, path, COUNTOF(path)) >= COUNTOF(path) ||
                !parentFolder(path, other, COUNTOF(other)) || _wcsicmp(other, folder) != 0)
                continue;
            taken[item] = true;
            group[grouped++] = item;
        }
        // Each row whose name is one of the group's is selected.
        int rows = ListView_GetItemCount(AppState.ownPane);
        wchar_t name[PathChars];
        for (int row = 0; row < rows; ++row) {
            memset(name, 0, sizeof(name));
            ListView_GetItemText(AppState.ownPane, row, 0, name, COUNTOF(name));
            for (int i = 0; i < grouped; ++i) {
                DragQueryFileW(drop, group[i], path, COUNTOF(path));
                if (_wcsicmp(wcsrchr(path, L'\\') + 1, name) == 0) {
                    ListView_SetItemState(AppState.ownPane, row, LVIS_SELECTED, LVIS_SELECTED);
                    break;
                }
            }
        }
        SendMessageW(window, WM_COMMAND, IDM_COPY_TO_PEER, 0);
    }
    DragFinish(drop);
    memcpy(AppState.ownFolder, before, sizeof(AppState.ownFolder));
    listOwnFolder(window);
}

// own_pane.cpp: the left list view, this machine's folder, listed with the same rules as the DIR table.
#include "panes/own_pane.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "panes/folder_navigation.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <cwchar>

constexpr int FieldChars = 64;

// The other drives of this machine, so the user can move between them from a drive root.
static int addDriveRows(HWND pane, int row)
{
    for (wchar_t letter = L'a'; letter <= L'z'; letter++) {
        wchar_t root[4] = {letter, L':', L'\\', 0};
        int code = driveTypeCode(GetDriveTypeW(root));
        if (code < 0 || _wcsicmp(root, AppState.ownFolder) == 0)
            continue;
        if (insertPaneRow(pane, row, root, code, L"", L"") >= 0)
            row++;
    }
    return row;
}

static void addEntryRows(HWND pane, int row)
{
    const wchar_t *folder = AppState.ownFolder;
    int length = static_cast<int>(wcsnlen(folder, COUNTOF(AppState.ownFolder) - 1));
    // Room for the longest folder the pane can hold plus "\*"; the separator is always added, and a drive
    // root's doubled one is resolved by the file system.
    wchar_t pattern[PathChars + 2] = {};
    wmemcpy(pattern, folder, length);
    wcscat(pattern, L"\\*");
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        wchar_t date[FieldChars] = {};
        wchar_t size[FieldChars] = {};
        int code = entryTypeCode(found.cFileName, found.dwFileAttributes);
        entryDateText(found.ftLastWriteTime, date, COUNTOF(date));
        entrySizeText(folder, length, found.cFileName, found.dwFileAttributes, size, COUNTOF(size));
        if (insertPaneRow(pane, row, found.cFileName, code, date, size) >= 0)
            row++;
        ZeroMemory(&found, sizeof(found));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void listOwnFolder(HWND window)
{
    HWND pane = AppState.ownPane;
    SendMessageW(pane, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    if (isDriveRoot(AppState.ownFolder))
        row = addDriveRows(pane, row);
    addEntryRows(pane, row);
    SetDlgItemTextW(window, IDC_OWN_FOLDER_LABEL, AppState.ownFolder);
}

void navigateOwnPane(HWND window)
{
    HWND pane = AppState.ownPane;
    if (paneRowCount(pane) <= 0)
        return;
    wchar_t name[PathChars];
    // Nothing selected, or a path too long to hold: the double-click is ignored and the pane stays as it is.
    if (!readSelectedName(pane, name, COUNTOF(name)))
        return;
    FolderStep step = stepFolder(AppState.ownFolder, COUNTOF(AppState.ownFolder), name);
    if (step == FolderStep::Refused)
        return;
    if (step == FolderStep::NotAFolder)
        showNotAFolder(window);
    listOwnFolder(window);
}

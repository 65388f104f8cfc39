// own_pane.cpp: the left list view, this machine's folder, listed in one pass of the folder search with the
// same rules as the DIR table.
#include "panes/own_pane.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/file_receiver.h"
#include "panes/folder_navigation.h"
#include "panes/pane_rows.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <cwchar>
#include <cwctype>

// The other drives of this machine, so the user can move between them from a drive root.
static void addDriveRow(const wchar_t *root, int code, void *pane)
{
    storePaneEntry(static_cast<HWND>(pane), -1, root, code, L"", L"", FILE_ATTRIBUTE_DIRECTORY, 0);
}

static void addDriveRows(HWND pane)
{
    forEachListedDrive(AppState.ownFolder, addDriveRow, pane);
}

static const wchar_t UnfinishedMark[] = L"受信途中";

static void addEntryRows(HWND pane)
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
        wchar_t date[PaneFieldChars] = {};
        wchar_t size[PaneFieldChars] = {};
        int code = entryTypeCode(found.cFileName, found.dwFileAttributes);
        entryDateText(found.ftLastWriteTime, date, COUNTOF(date));
        unsigned long long bytes = foundSizeText(folder, length, found, size, COUNTOF(size));
        // A resume record is the fast link's own; a temporary file is a receive that never finished. It stays
        // for a later copy to resume, and the size column says what it is.
        if (isResumeRecordName(found.cFileName))
            continue;
        if (isTemporaryName(found.cFileName)) {
            wchar_t marked[PaneFieldChars] = {};
            _snwprintf(marked, COUNTOF(marked) - 1, L"%ls %ls", UnfinishedMark, size);
            wcscpy(size, marked);
        }
        storePaneEntry(pane, -1, found.cFileName, code, date, size, found.dwFileAttributes, bytes);
        ZeroMemory(&found, sizeof(found));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void listOwnFolder(HWND window)
{
    HWND pane = AppState.ownPane;
    clearPaneRows(pane);
    // The list view hears of the rows once, at the end.
    if (isDriveRoot(AppState.ownFolder))
        addDriveRows(pane);
    addEntryRows(pane);
    showPaneRows(pane);
    SetDlgItemTextW(window, IDC_OWN_FOLDER_LABEL, AppState.ownFolder);
}

void relistOwnFolderInPlace(HWND window)
{
    HWND pane = AppState.ownPane;
    int top = ListView_GetTopIndex(pane);
    int focused = ListView_GetNextItem(pane, -1, LVNI_FOCUSED);
    // At most a screenful of selected names is carried over; a larger selection is left for the user.
    const int KeptNames = 64;
    static wchar_t names[KeptNames][PathChars];
    int kept = 0;
    for (int item = ListView_GetNextItem(pane, -1, LVNI_SELECTED); item >= 0 && kept < KeptNames;
         item = ListView_GetNextItem(pane, item, LVNI_SELECTED)) {
        names[kept][0] = 0;
        ListView_GetItemText(pane, item, 0, names[kept], PathChars);
        kept++;
    }
    listOwnFolder(window);
    int count = paneRowCount(pane);
    wchar_t name[PathChars];
    for (int item = 0; item < count && kept > 0; item++) {
        name[0] = 0;
        ListView_GetItemText(pane, item, 0, name, COUNTOF(name));
        for (int k = 0; k < kept; k++) {
            if (wcscmp(name, names[k]) == 0)
                ListView_SetItemState(pane, item, LVIS_SELECTED, LVIS_SELECTED);
        }
    }
    if (focused >= 0 && focused < count)
        ListView_SetItemState(pane, focused, LVIS_FOCUSED, LVIS_FOCUSED);
    if (top > 0 && count > 0) {
        // Scroll the last row into view first, so the old top row ends up at the top.
        ListView_EnsureVisible(pane, count - 1, FALSE);
        ListView_EnsureVisible(pane, top < count ? top : count - 1, FALSE);
    }
}

void navigateOwnPane(HWND window)
{
    HWND pane = AppState.ownPane;
    if (paneRowCount(pane) <= 0)
        return;
    wchar_t name[PathChars];
    int type = TypeOther;
    // Nothing selected, or a path too long to hold: the double-click is ignored and the pane stays as it is.
    if (!readSelectedName(pane, name, COUNTOF(name), &type))
        return;
    FolderStep step = stepFolder(AppState.ownFolder, COUNTOF(AppState.ownFolder), name, isFolderType(type));
    if (step == FolderStep::Refused)
        return;
    if (step == FolderStep::NotAFolder)
        showNotAFolder(window);
    listOwnFolder(window);
}

void ownPaneUp(HWND window)
{
    if (stepFolder(AppState.ownFolder, COUNTOF(AppState.ownFolder), L"..", true) == FolderStep::Moved)
        listOwnFolder(window);
}

static LPARAM folderKey(const wchar_t *folder, size_t chars)
{
    while (chars > 0 && folder[chars - 1] == L'\\')
        chars--;
    uint32_t key = 2166136261u;
    for (size_t i = 0; i < chars; i++) {
        key ^= static_cast<uint32_t>(towupper(folder[i]));
        key *= 16777619u;
    }
    return static_cast<LPARAM>(key);
}

LPARAM arrivalFolderKey(const wchar_t *path)
{
    const wchar_t *cut = wcsrchr(path, L'\\');
    return folderKey(path, cut != nullptr ? static_cast<size_t>(cut - path) : 0);
}

bool arrivedInOwnFolder(LPARAM key)
{
    return key == folderKey(AppState.ownFolder, wcsnlen(AppState.ownFolder, COUNTOF(AppState.ownFolder)));
}

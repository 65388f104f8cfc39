// folder_navigation.h: what a double-click in either pane does to the pane's folder text, and the pane-row
// helpers both list views share.
#pragma once

#include <windows.h>

// folder_navigation.cpp

enum class FolderStep {
    Moved,       // the folder text now names the drive, parent or sub-folder
    NotAFolder,  // the name ends like a file name (a "." among its last four characters); folder unchanged
    Refused,     // an empty name, or a joined path that would not fit the folder buffer; folder unchanged
};

// Applies a double-clicked row name to folder (a buffer of folderChars wide characters): a drive row replaces
// it, "." and ".." go up one level, any other name is joined after the folder. Plain text rules, no
// normalisation and no look at the disk.
FolderStep stepFolder(wchar_t *folder, int folderChars, const wchar_t *name);

// The warning for a name that looks like a file, owned by window.
void showNotAFolder(HWND window);

// pane_rows.cpp

int paneRowCount(HWND pane);

// Reads the column-0 text of the first selected row (the topmost of several) into name, cleared first.
// False when no row is selected.
bool readSelectedName(HWND pane, wchar_t *name, int nameChars);

// Inserts a row at index with the name and image in column 0, then the date and size texts in columns 1 and 2
// of the row the list view actually made. Returns that row, or -1 when the insertion failed.
int insertPaneRow(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date, const wchar_t *size);

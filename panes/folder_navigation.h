// folder_navigation.h: what opening a row in either pane does to the pane's folder text.
#pragma once

#include <windows.h>

// folder_navigation.cpp

enum class FolderStep {
    Moved,       // the folder text now names the drive, parent or sub-folder
    NotAFolder,  // the row is a file; folder unchanged
    Refused,     // an empty name, or a joined path that would not fit the folder buffer; folder unchanged
};

// Applies an opened row to folder (a buffer of folderChars wide characters): a file row (isFolder false) is
// not a folder, a drive row replaces it, "." and ".." go up one level, any other name is joined after the
// folder. Plain text rules, no normalisation and no look at the disk.
FolderStep stepFolder(wchar_t *folder, int folderChars, const wchar_t *name, bool isFolder);

// True for the type codes that can be opened: the up rows, folders and drives.
bool isFolderType(int type);

// The warning for a file row that was opened, owned by window.
void showNotAFolder(HWND window);

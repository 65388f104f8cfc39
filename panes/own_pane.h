// own_pane.h: the left list view, this machine's folder.
#pragma once

#include <windows.h>

// Refills the own pane from AppState.ownFolder (other drives first at a drive root) and writes the folder into
// label 305 of window.
void listOwnFolder(HWND window);

// Lists the same folder again keeping the selected rows (by name) and the top row where they still are.
void relistOwnFolderInPlace(HWND window);

// Opening the selected row of the own pane (double-click, Enter): moves AppState.ownFolder by it and lists
// it again.
void navigateOwnPane(HWND window);

// Backspace in the own pane: lists the parent folder.
void ownPaneUp(HWND window);

// The key of the folder a received file lies in, compared without case, so that the network thread can name it
// in its post; true when a key is the folder the own pane shows (another folder's key matches at worst by
// chance, and costs one listing too many).
LPARAM arrivalFolderKey(const wchar_t *path);
bool arrivedInOwnFolder(LPARAM key);

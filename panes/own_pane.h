// own_pane.h: the left list view, this machine's folder.
#pragma once

#include <windows.h>

// Refills the own pane from AppState.ownFolder (other drives first at a drive root) and writes the folder into
// label 305 of window.
void listOwnFolder(HWND window);

// A double-click in the own pane: moves AppState.ownFolder by the first selected row and lists it again.
void navigateOwnPane(HWND window);

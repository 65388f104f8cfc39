// peer_folder_dialog.h: command 132, the peer folder typed by the user, and its dialog.
#pragma once

#include <windows.h>

// Only over an open link with no exchange running. Opens the dialog with AppState.peerFolder; after OK the
// typed folder becomes the peer folder and is listed as a double-click into it would be. Cancel changes
// nothing.
void runPeerFolderCommand(HWND window);

// The dialog alone: modal; OK keeps the dialog open with a box while the folder is not an absolute path that
// can be sent, and otherwise returns IDC_DIALOG_OK with the folder in folder (folderChars wide characters);
// IDC_DIALOG_CANCEL after Cancel, with folder untouched.
INT_PTR runPeerFolderDialog(HWND window, wchar_t *folder, int folderChars);

// Forgets the folder buffer of the last dialog.
void resetPeerFolderDialog();

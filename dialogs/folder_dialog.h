// folder_dialog.h: commands 107 and 108 and the folder-name dialog.
#pragma once

#include "core/app_state.h"

#include <windows.h>

// Asks for a folder name and creates the folder in the own folder (onPeer false) or asks the peer to create it
// in the peer folder.
void runNewFolderCommand(HWND window, bool onPeer);

// Checks a name typed into the folder-name dialog. 0: accepted; otherwise the refusal's text.
const wchar_t *folderNameRefusal(const wchar_t *name, bool onPeer);

// "CD" + the peer folder, "\", name in the ANSI code page into out (zero-filled first). Returns the text
// length, or -1 when the path or the message would not fit.
int buildFolderRequest(const wchar_t *name, char *out, int outBytes);

// Forgets which side the last dialog named a folder for.
void resetFolderDialog();

// UI thread, on WM_PEER_FOLDER_NOT_MADE: the peer made no folder. The peer pane keeps its rows; a refusal is told
// with the peer's reason.
void peerFolderNotMade(HWND window, TransferOutcome outcome, FastReason reason);

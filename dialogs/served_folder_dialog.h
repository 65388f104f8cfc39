// served_folder_dialog.h: the served-folder dialog (command 131) and what the main window shows when the peer
// refuses a listing.
#pragma once

#include <windows.h>

// Modal; OK checks the settings, writes them back and saves them; Cancel changes nothing (a machine forgotten
// through its paired-machines button stays forgotten). Returns IDC_DIALOG_OK after OK, IDC_DIALOG_CANCEL
// otherwise.
INT_PTR runServedFolderDialog(HWND window);

// UI thread, on WM_PEER_LISTING_REFUSED: the peer folder label says the peer serves only part of its machine.
void showPeerListingRefused(HWND window);

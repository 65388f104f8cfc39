// peer_pane.h: the right list view, the peer's folder as its DR records arrive.
#pragma once

#include <windows.h>

// addPeerRecord and clearPeerPane are declared in core/ui_ops.h.
#include "core/app_state.h"
#include "core/ui_ops.h"

#include <commctrl.h>

// The text the empty peer pane shows while the link is closed; null when it shows rows or the link is open.
const wchar_t *peerPaneNotice();

// NM_CUSTOMDRAW from the peer pane: draws peerPaneNotice over the blank pane. Returns the custom-draw answer.
LRESULT drawPeerPaneNotice(const NMLVCUSTOMDRAW *draw);

// Opening the selected row of the peer pane (double-click, Enter): moves AppState.peerFolder by it, empties
// the pane and asks the peer for the folder (state CallDIR). Called only while the transfer state is Waiting.
void navigatePeerPane(HWND window);

// Empties the pane and asks the peer for AppState.peerFolder; CallDIR is set before the request goes out.
void requestPeerFolder(HWND window);

// UI thread: a listing of the peer folder has ended with outcome. A row entered on trial (type 8, possibly a
// folder with extra attributes) whose listing came back empty or refused was a file: the pane goes back to the
// folder it came from, with the "not a folder" message. listing is the number of the listing that ended; the
// end of any listing but the one the pane asked for last is not the pane's.
void peerListingEnded(HWND window, TransferOutcome outcome, LONG listing);

// Backspace in the peer pane: asks the peer for the parent folder. Only while Waiting.
void peerPaneUp(HWND window);

// WM_PEER_SERVES: the peer serves one folder; the pane lists it when nothing runs.
void openPeerServedFolder(HWND window);

// Writes AppState.peerFolder into label 306, with a note when the listing stopped at the table's last row
// or some rows could not be shown.
void writePeerFolderLabel(HWND window);

// After a pane listing that could not open its folder: the label names that folder with reason, after the
// folder the pane still shows. Nothing when the last pane listing opened its folder.
void showPeerFolderRefused(HWND window, const wchar_t *reason);

// The tooltip that holds the peer folder label's whole text; null before the label was first written.
HWND peerLabelTip();
// The next label text makes a new tooltip.
void forgetPeerLabelTip();

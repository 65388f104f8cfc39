// peer_pane.cpp: the right list view, filled from the peer's DR records, and its navigation by DD requests.
#include "panes/peer_pane.h"

#include "core/app_state.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/wire_message.h"
#include "panes/folder_navigation.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <cstdlib>
#include <cstring>

// Runs on the network thread: every window update here is a synchronous SendMessageW.
bool addPeerRecord(const char *text, int length)
{
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields))
        return true;
    wchar_t wideName[COUNTOF(fields.name)] = {};
    wchar_t wideDate[COUNTOF(fields.date)] = {};
    wchar_t wideSize[COUNTOF(fields.size)] = {};
    ansiToWide(fields.name, -1, wideName, COUNTOF(wideName));
    ansiToWide(fields.date, -1, wideDate, COUNTOF(wideDate));
    ansiToWide(fields.size, -1, wideSize, COUNTOF(wideSize));
    insertPaneRow(AppState.peerPane, AppState.lastDirIndex, wideName, atoi(fields.type), wideDate, wideSize);
    return false;
}

void clearPeerPane()
{
    SendMessageW(AppState.peerPane, LVM_DELETEALLITEMS, 0, 0);
}

void navigatePeerPane(HWND window)
{
    HWND pane = AppState.peerPane;
    if (paneRowCount(pane) <= 0)
        return;
    wchar_t name[PathChars];
    // Nothing selected, or a joined path too long to hold: the double-click is ignored and nothing is sent.
    if (!readSelectedName(pane, name, COUNTOF(name)))
        return;
    FolderStep step = stepFolder(AppState.peerFolder, COUNTOF(AppState.peerFolder), name);
    if (step == FolderStep::Refused)
        return;
    // A name taken for a file still asks for the same folder again.
    if (step == FolderStep::NotAFolder)
        showNotAFolder(window);
    clearPeerPane();
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, AppState.peerFolder);
    AppState.transferState = TransferState::CallDIR;
    refreshStatus();
    requestPeerDir();
}

// peer_pane.cpp: the right list view, filled from the peer's DR records, and its navigation by DD requests.
#include "panes/peer_pane.h"

#include "core/app_state.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "panes/folder_navigation.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <cstdlib>
#include <cstring>

constexpr int NameBytes = PathChars;
constexpr int FieldBytes = 64;

// Copies bytes [from, to) of text into a cleared field buffer; false when they do not fit with their NUL.
static bool cutField(const char *text, int from, int to, char *field, int fieldBytes)
{
    ZeroMemory(field, fieldBytes);
    int count = to - from;
    if (count < 0 || count > fieldBytes - 1)
        return false;
    memcpy(field, text + from, count);
    return true;
}

// Runs on the network thread: every window update here is a synchronous SendMessageW.
bool addPeerRecord(const char *text, int length)
{
    if (text == nullptr || length < 0)
        return true;
    int commas[3] = {-1, -1, -1};
    int found = 0;
    for (int i = 0; i < length && found < 3; i++) {
        if (text[i] == ',')
            commas[found++] = i;
    }
    if (found < 3)
        return true;

    // A field longer than its buffer comes only from a foreign peer: refuse the record rather than cut it.
    char name[NameBytes];
    char date[FieldBytes];
    char size[FieldBytes];
    char type[FieldBytes];
    if (!cutField(text, 0, commas[0], name, COUNTOF(name)) ||
        !cutField(text, commas[0] + 1, commas[1], date, COUNTOF(date)) ||
        !cutField(text, commas[1] + 1, commas[2], size, COUNTOF(size)) ||
        !cutField(text, commas[2] + 1, length, type, COUNTOF(type)))
        return true;
    int image = atoi(type);

    wchar_t wideName[NameBytes] = {};
    wchar_t wideDate[FieldBytes] = {};
    wchar_t wideSize[FieldBytes] = {};
    ansiToWide(name, -1, wideName, COUNTOF(wideName));
    ansiToWide(date, -1, wideDate, COUNTOF(wideDate));
    ansiToWide(size, -1, wideSize, COUNTOF(wideSize));
    insertPaneRow(AppState.peerPane, AppState.lastDirIndex, wideName, image, wideDate, wideSize);
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

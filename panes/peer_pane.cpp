// peer_pane.cpp: the right list view, filled from the peer's DR records, and its navigation by DD requests.
#include "panes/peer_pane.h"

#include "app/dpi_scale.h"
#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/wire_message.h"
#include "panes/folder_navigation.h"
#include "panes/pane_rows.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// Runs on the network thread: the row goes into the pane's table and the UI thread is told by a post, so
// the "ACK" never waits for a window.
bool addPeerRecord(const char *text, int length)
{
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields)) {
        notePeerRowLeftOut();
        return true;
    }
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
    clearPaneRows(AppState.peerPane);
}

static const wchar_t NotLinkedText[] = L"接続していません";
static const int NoticeTop = 8;  // below the column headers

const wchar_t *peerPaneNotice()
{
    if (AppState.linkOpen || AppState.peerPane == nullptr || paneRowCount(AppState.peerPane) > 0)
        return nullptr;
    return NotLinkedText;
}

// Drawn over the blank pane, not stored as a row: nothing can select, open or copy it.
LRESULT drawPeerPaneNotice(const NMLVCUSTOMDRAW *draw)
{
    const NMCUSTOMDRAW &paint = draw->nmcd;
    const wchar_t *text = peerPaneNotice();
    if (text == nullptr)
        return CDRF_DODEFAULT;
    if (paint.dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYPOSTPAINT;
    if (paint.dwDrawStage != CDDS_POSTPAINT)
        return CDRF_DODEFAULT;
    HWND pane = paint.hdr.hwndFrom;
    RECT area = {};
    GetClientRect(pane, &area);
    RECT header = {};
    HWND headerWindow = ListView_GetHeader(pane);
    if (headerWindow != nullptr && IsWindowVisible(headerWindow))
        GetWindowRect(headerWindow, &header);
    area.top += (header.bottom - header.top) + scaleToDpi(NoticeTop, windowDpi(pane));
    HDC dc = paint.hdc;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(pane, WM_GETFONT, 0, 0));
    HGDIOBJ before = font != nullptr ? SelectObject(dc, font) : nullptr;
    // Opaque, so the grid lines do not run through the text.
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SetBkMode(dc, OPAQUE);
    DrawTextW(dc, text, -1, &area, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    if (before != nullptr)
        SelectObject(dc, before);
    return CDRF_DODEFAULT;
}

void writePeerFolderLabel(HWND window)
{
    wchar_t text[PathChars + 64];
    memset(text, 0, sizeof(text));
    int rows = paneRowCount(AppState.peerPane);
    int leftOut = peerRowsLeftOut();
    // A listing stops at the table's last row before its terminator.
    if (rows == DirRows - 1)
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls　（%d件で一覧が打ち切られています）", AppState.peerFolder,
                   rows);
    else if (leftOut > 0)
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls　（表示できない項目が%d件あります）", AppState.peerFolder,
                   leftOut);
    else
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls", AppState.peerFolder);
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, text);
}

void requestPeerFolder(HWND window)
{
    AppState.peerEntryOnTrial = 0;
    clearPeerPane();
    writePeerFolderLabel(window);
    // Callers saw Waiting; a request of the peer's that claimed the link since then goes on, and the pane
    // stays empty until the user lists again.
    startPeerListing();
}

void navigatePeerPane(HWND window)
{
    HWND pane = AppState.peerPane;
    if (paneRowCount(pane) <= 0)
        return;
    wchar_t name[PathChars];
    int type = TypeOther;
    // Nothing selected, or a joined path too long to hold: the double-click is ignored and nothing is sent.
    if (!readSelectedName(pane, name, COUNTOF(name), &type))
        return;
    wchar_t before[PathChars];
    wcscpy(before, AppState.peerFolder);
    bool onTrial = type == TypeOther;
    FolderStep step =
        stepFolder(AppState.peerFolder, COUNTOF(AppState.peerFolder), name, onTrial || isFolderType(type));
    if (step == FolderStep::Refused)
        return;
    // A file row still asks for the same folder again.
    if (step == FolderStep::NotAFolder)
        showNotAFolder(window);
    requestPeerFolder(window);
    if (onTrial) {
        AppState.peerEntryOnTrial = 1;
        wcscpy(AppState.peerFolderBeforeTrial, before);
    }
}

void peerListingEnded(HWND window, TransferOutcome outcome)
{
    if (!AppState.peerEntryOnTrial)
        return;
    AppState.peerEntryOnTrial = 0;
    // Every folder lists at least "." and ".."; nothing at all means the row was a file after all.
    if (outcome == TransferOutcome::Done && paneRowCount(AppState.peerPane) > 0)
        return;
    wcscpy(AppState.peerFolder, AppState.peerFolderBeforeTrial);
    showNotAFolder(window);
    requestPeerFolder(window);
}

void openPeerServedFolder(HWND window)
{
    // A listing or copy that runs now keeps its folder; the user can still go to the served one by hand.
    if (AppState.peerServedFolder[0] == 0 || AppState.transferState != TransferState::Waiting)
        return;
    memset(AppState.peerFolder, 0, sizeof(AppState.peerFolder));
    wcsncpy(AppState.peerFolder, AppState.peerServedFolder, COUNTOF(AppState.peerFolder) - 1);
    requestPeerFolder(window);
}

void peerPaneUp(HWND window)
{
    if (stepFolder(AppState.peerFolder, COUNTOF(AppState.peerFolder), L"..", true) == FolderStep::Moved)
        requestPeerFolder(window);
}

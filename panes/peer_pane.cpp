// peer_pane.cpp: the right list view, filled from the peer's DR records, and its navigation by DD requests.
// Its statics are reset by resetAppState through resetUiModules().
#include "panes/peer_pane.h"

#include "app/dpi_scale.h"
#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/fast_wire.h"
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
    // The asked folder lists: its rows replace the last folder's.
    if (InterlockedExchange(&AppState.peerPaneClearPending, 0) != 0)
        clearPeerPane();
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields)) {
        notePeerRowsLeftOut(1);
        return true;
    }
    wchar_t wideName[PathChars] = {};
    wchar_t wideDate[COUNTOF(fields.date)] = {};
    wchar_t wideSize[COUNTOF(fields.size)] = {};
    // A name longer than any path holds is refused, never cut to another name.
    if (wireToWide(fields.name, -1, wideName, COUNTOF(wideName)) < 0) {
        notePeerRowsLeftOut(1);
        return true;
    }
    wireToWide(fields.date, -1, wideDate, COUNTOF(wideDate));
    wireToWide(fields.size, -1, wideSize, COUNTOF(wideSize));
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

// The peer folder label's tooltip holds its whole text: the label runs past the window's edge.
static HWND LabelTip = nullptr;
static HWND LabelTipFor = nullptr;

static void setPeerLabelText(HWND window, const wchar_t *text)
{
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, text);
    HWND label = GetDlgItem(window, IDC_PEER_FOLDER_LABEL);
    if (label == nullptr)
        return;
    TOOLINFOW tool;
    memset(&tool, 0, sizeof(tool));
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(label);
    tool.lpszText = const_cast<wchar_t *>(text);
    if (LabelTip == nullptr || !IsWindow(LabelTip) || LabelTipFor != label) {
        LabelTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                   AppState.instance, nullptr);
        LabelTipFor = label;
        if (LabelTip == nullptr)
            return;
        // A static control lets the mouse through unless it notifies.
        SetWindowLongW(label, GWL_STYLE, GetWindowLongW(label, GWL_STYLE) | SS_NOTIFY);
        SendMessageW(LabelTip, TTM_SETMAXTIPWIDTH, 0, 600);
        SendMessageW(LabelTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        return;
    }
    SendMessageW(LabelTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

HWND peerLabelTip()
{
    return LabelTip != nullptr && IsWindow(LabelTip) ? LabelTip : nullptr;
}

// Only forgotten, never destroyed: a handle kept from an earlier window may name another window by now, and
// a tip still up goes with the window that owns it.
void forgetPeerLabelTip()
{
    LabelTip = nullptr;
    LabelTipFor = nullptr;
}

void writePeerFolderLabel(HWND window)
{
    wchar_t text[PathChars + 64];
    memset(text, 0, sizeof(text));
    // Rows of the asked folder have not come: the label stays on the folder the pane shows.
    if (AppState.peerPaneClearPending)
        return;
    int rows = paneRowCount(AppState.peerPane);
    if (rows > 0)
        memcpy(AppState.peerFolderListed, AppState.peerFolder, sizeof(AppState.peerFolderListed));
    int leftOut = peerRowsLeftOut();
    // A listing stops at the table's last row before its terminator.
    if (rows == DirRows - 1)
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls　（%d件で一覧が打ち切られています）", AppState.peerFolder,
                   rows);
    else if (leftOut > 0)
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls　（表示できない項目が%d件あります）", AppState.peerFolder,
                   leftOut);
    else if (AppState.peerServedUntold)
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls　（相手側は一つのフォルダだけを公開しています。名前が長すぎて受け取れません）",
                   AppState.peerFolder);
    else
        _snwprintf(text, COUNTOF(text) - 1, L"%.259ls", AppState.peerFolder);
    setPeerLabelText(window, text);
}

void requestPeerFolder(HWND)
{
    // A listing that runs keeps its flags: written here, they would make its end look like a refusal.
    if (AppState.transferState != TransferState::Waiting)
        return;
    AppState.peerEntryOnTrial = 0;
    AppState.peerPaneListing = 1;
    // An empty pane has nothing to keep.
    if (paneRowCount(AppState.peerPane) > 0)
        InterlockedExchange(&AppState.peerPaneClearPending, 1);
    else
        memset(AppState.peerFolderListed, 0, sizeof(AppState.peerFolderListed));
    // Callers saw Waiting; a request of the peer's that claimed the link since then goes on, and the pane
    // stays as it was.
    LONG serial = startPeerListing();
    if (serial == 0) {
        AppState.peerPaneListing = 0;
        InterlockedExchange(&AppState.peerPaneClearPending, 0);
    }
    AppState.peerPaneSerial = serial;
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

// The label says which folder could not be opened and why, after the folder the pane still shows.
static void notePeerFolderRefused(HWND window, const wchar_t *reason)
{
    wchar_t text[PathChars * 2 + 160];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"%.259ls　（%.259ls を開けません。%ls）", AppState.peerFolder,
               AppState.peerFolderRefused, reason);
    setPeerLabelText(window, text);
}

void showPeerFolderRefused(HWND window, const wchar_t *reason)
{
    if (AppState.peerFolderRefused[0] != 0)
        notePeerFolderRefused(window, reason);
}

void peerListingEnded(HWND window, TransferOutcome outcome, LONG listing)
{
    // The end of a listing before the one the pane asked for, told after the pane asked: not the pane's.
    if (!AppState.peerPaneListing || listing != AppState.peerPaneSerial)
        return;
    AppState.peerPaneListing = 0;
    bool trial = AppState.peerEntryOnTrial != 0;
    AppState.peerEntryOnTrial = 0;
    // Every folder lists at least "." and ".."; no row at all is no folder that opened.
    bool cleared = InterlockedExchange(&AppState.peerPaneClearPending, 0) == 0;
    if (outcome == TransferOutcome::Done && cleared && paneRowCount(AppState.peerPane) > 0) {
        memset(AppState.peerFolderRefused, 0, sizeof(AppState.peerFolderRefused));
        writePeerFolderLabel(window);
        return;
    }
    memcpy(AppState.peerFolderRefused, AppState.peerFolder, sizeof(AppState.peerFolderRefused));
    const wchar_t *back = trial ? AppState.peerFolderBeforeTrial : AppState.peerFolderListed;
    if (back[0] != 0)
        wcsncpy(AppState.peerFolder, back, COUNTOF(AppState.peerFolder) - 1);
    // A row of the file code that lists nothing was a file: the pane stays where it was.
    if (trial && outcome != TransferOutcome::LinkLost) {
        memset(AppState.peerFolderRefused, 0, sizeof(AppState.peerFolderRefused));
        writePeerFolderLabel(window);
        showNotAFolder(window);
        return;
    }
    const wchar_t *reason = L"相手側にそのフォルダがないか、一覧が空です";
    if (outcome == TransferOutcome::LinkLost)
        reason = L"接続が切れました";
    else if (AppState.lastReason != FastReason::None)
        reason = fastReasonText(AppState.lastReason);
    else if (outcome == TransferOutcome::Refused)
        reason = L"相手側が一覧を断りました";
    else if (outcome != TransferOutcome::Done)
        reason = L"一覧を取れませんでした";
    notePeerFolderRefused(window, reason);
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

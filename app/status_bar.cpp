// status_bar.cpp: the six status-bar parts and the four info labels above the panes. Its statics are reset by
// resetAppState through resetUiModules().
#include "app/status_bar.h"

#include "app/dpi_scale.h"

#include "core/app_state.h"
#include "core/served_folder.h"
#include "panes/own_pane.h"
#include "panes/pane_rows.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <cstring>
#include <cwchar>

enum StatusPart { PartProduct = 0, PartMode = 1, PartLink = 2, PartTransfer = 3, PartSpare = 4, PartMaker = 5 };

static const int StatusTextChars = 128;
static const wchar_t FirstStartText[] = L"接続が未設定です。接続 > 接続設定 で設定してください";
static const int LinkTextChars = 512;

// The part edges are AppState.statusEdges at 96 DPI and the default window width; they follow the window's DPI,
// and a narrower bar takes the width it lacks from the free part. UI thread only: the edges are read where the bar handles
// SB_SETPARTS.
static int StatusWidth = 1;
static int StatusDefaultWidth = 1;
static int StatusDpi = LayoutDpi;

void resetStatusFit()
{
    StatusWidth = 1;
    StatusDefaultWidth = 1;
    StatusDpi = LayoutDpi;
}

void fitStatusParts(int clientWidth, int defaultClientWidth, int dpi)
{
    StatusWidth = clientWidth;
    StatusDefaultWidth = defaultClientWidth > 0 ? defaultClientWidth : 1;
    StatusDpi = dpi;
}

void shownStatusEdges(int32_t edges[StatusParts])
{
    for (int part = 0; part < StatusParts; part++)
        edges[part] = AppState.statusEdges[part] >= 0 ? scaleToDpi(AppState.statusEdges[part], StatusDpi) : -1;
    // A narrower bar takes the width it lacks from the free part alone: the product, mode, link and transfer
    // words before it stay whole (a window kept at its 96-DPI size on a 144-DPI screen cut them).
    int lacking = StatusDefaultWidth - StatusWidth;
    if (lacking > 0 && edges[PartSpare] >= 0) {
        int spare = edges[PartSpare] - lacking;
        edges[PartSpare] = spare > edges[PartTransfer] ? spare : edges[PartTransfer];
    }
}

static void linkPartText(wchar_t *out, int outChars)
{
    bool server = AppState.mode == ConnectionMode::Server;
    if (!AppState.linkOpen)
        _snwprintf(out, outChars - 1, L"%s", L"Disconnect");
    else if (server && AppState.peerPresent)
        _snwprintf(out, outChars - 1, L"Connecting:%d", static_cast<int>(AppState.serverSlotNumber));
    else if (server)
        _snwprintf(out, outChars - 1, L"%s", L"Openting");
    else
        _snwprintf(out, outChars - 1, L"Connecting:%d", static_cast<int>(AppState.clientSocketNumber));
}

// What the open link is, so the user always sees whether it is encrypted: the peer's own name and the start of
// its fingerprint, enough to tell two paired machines apart. Empty while no link is open.
static void linkKindText(wchar_t *out, int outChars)
{
    if (!AppState.linkOpen)
        return;
    switch (AppState.linkKind) {
    case LinkKind::Private:
        _snwprintf(out, outChars - 1, L"暗号化:%.63s（%.9s）",
                   AppState.peerMachineName[0] != 0 ? AppState.peerMachineName : AppState.peerHostName,
                   AppState.peerFingerprint);
        break;
    case LinkKind::Classic:
        _snwprintf(out, outChars - 1, L"%s", L"古い方式（暗号化なし）");
        break;
    case LinkKind::Fast:
        _snwprintf(out, outChars - 1, L"%s", L"高速（暗号化なし）");
        break;
    default:
        break;
    }
}

// The link's kind, then the limits of what is served; a single blank when there is neither.
static void spareText(wchar_t *out, int outChars)
{
    wchar_t kind[112];
    memset(kind, 0, sizeof(kind));
    linkKindText(kind, COUNTOF(kind));
    if (kind[0] == 0) {
        servedLimitText(out, outChars);
        return;
    }
    wchar_t limits[StatusTextChars];
    memset(limits, 0, sizeof(limits));
    if (servedLimited())
        servedLimitText(limits, COUNTOF(limits));
    _snwprintf(out, outChars - 1, limits[0] != 0 ? L"%s　%s" : L"%s%s", kind, limits);
}

void statusPartText(int part, wchar_t *out, int outChars)
{
    if (outChars <= 0)
        return;
    memset(out, 0, outChars * sizeof(wchar_t));
    switch (part) {
    case PartProduct:
        _snwprintf(out, outChars - 1, L"%s", L"Parcelwight");
        break;
    case PartMode:
        _snwprintf(out, outChars - 1, L"%s", AppState.mode == ConnectionMode::Server ? L"Server" : L"Client");
        break;
    case PartLink:
        linkPartText(out, outChars);
        break;
    case PartTransfer:
        _snwprintf(out, outChars - 1, L"%s", transferStateName(AppState.transferState));
        break;
    case PartSpare:
        // A first start has no served limits to show; it says where the link is set up instead.
        if (!AppState.linkOpen && settingsFileMissing())
            _snwprintf(out, outChars - 1, L"%s", FirstStartText);
        else
            spareText(out, outChars);
        break;
    case PartMaker:
        _snwprintf(out, outChars - 1, L"%s", L"by Brindlewax");
        break;
    default:
        break;
    }
    out[outChars - 1] = 0;
}

// Runs on either thread. The network thread does not wait for the UI thread: it posts one redraw, which
// draws the state as it is by then. A copy of many small files changes the state several times a file.
void refreshStatus()
{
    HWND bar = AppState.statusBar;
    if (bar == nullptr)
        return;
    if (GetWindowThreadProcessId(bar, nullptr) != GetCurrentThreadId()) {
        if (AppState.mainWindow != nullptr && InterlockedExchange(&AppState.statusRedrawPosted, 1) == 0)
            PostMessageW(AppState.mainWindow, WM_REFRESH_STATUS, 0, 0);
        return;
    }
    // Taken down before drawing: a change made while this draws posts again.
    InterlockedExchange(&AppState.statusRedrawPosted, 0);
    int32_t edges[StatusParts];
    shownStatusEdges(edges);
    SendMessageW(bar, SB_SETPARTS, StatusParts, reinterpret_cast<LPARAM>(edges));
    wchar_t text[StatusTextChars];
    memset(text, 0, sizeof(text));
    for (int part = 0; part < StatusParts; part++) {
        statusPartText(part, text, COUNTOF(text));
        SendMessageW(bar, SB_SETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text));
        memset(text, 0, sizeof(text));
    }
}

void setLinkLabel(const wchar_t *text)
{
    if (AppState.mainWindow != nullptr)
        SetDlgItemTextW(AppState.mainWindow, IDC_LINK_LABEL, text);
}

static void formatLinkText(bool open, wchar_t *out, int outChars)
{
    memset(out, 0, outChars * sizeof(wchar_t));
    if (AppState.mode == ConnectionMode::Server)
        _snwprintf(out, outChars - 1, L"%s", open ? L"Server:OPEN" : L"Server:CLOSE");
    else
        _snwprintf(out, outChars - 1, open ? L"OPEN<%d,%d,%d,%d>:%.31s" : L"CLOSE<%d,%d,%d,%d>:%.31s",
                   static_cast<int>(AppState.ip[0]), static_cast<int>(AppState.ip[1]),
                   static_cast<int>(AppState.ip[2]), static_cast<int>(AppState.ip[3]), AppState.peerHostName);
    out[outChars - 1] = 0;
}

void showLinkText(bool open, HWND window)
{
    wchar_t text[LinkTextChars];
    formatLinkText(open, text, COUNTOF(text));
    SetDlgItemTextW(window, IDC_LINK_LABEL, text);
}

void writeInitialLabels(HWND window)
{
    // Two fields of at most 63 characters and three marks: always whole.
    wchar_t hostText[160];
    memset(hostText, 0, sizeof(hostText));
    _snwprintf(hostText, COUNTOF(hostText) - 1, L"<%.63s>:%.63s", AppState.ownAddressText, AppState.ownHostText);
    SetDlgItemTextW(window, IDC_OWN_HOST_LABEL, hostText);
    showLinkText(false, window);
    SetDlgItemTextW(window, IDC_OWN_FOLDER_LABEL, AppState.ownFolder);
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, AppState.peerFolder);
}

void exchangeEnded()
{
    HWND dialog = openCopyDialog();
    if (dialog != nullptr)
        PostMessageW(dialog, WM_EXCHANGE_ENDED, static_cast<WPARAM>(AppState.lastOutcome), 0);
    // The last rows of a listing are shown now, not at the pane's next look a moment later.
    if (AppState.endedState == TransferState::CallDIR && AppState.mainWindow != nullptr) {
        PostMessageW(AppState.mainWindow, WM_PANE_ROWS, 0, reinterpret_cast<LPARAM>(AppState.peerPane));
        PostMessageW(AppState.mainWindow, WM_EXCHANGE_ENDED, static_cast<WPARAM>(AppState.lastOutcome),
                     static_cast<LPARAM>(AppState.endedListing));
    }
    if (AppState.endedState == TransferState::FolderTO && AppState.lastOutcome != TransferOutcome::Done &&
        AppState.mainWindow != nullptr)
        PostMessageW(AppState.mainWindow, WM_PEER_FOLDER_NOT_MADE, static_cast<WPARAM>(AppState.lastOutcome),
                     static_cast<LPARAM>(AppState.lastReason));
    // A refused listing usually means the peer serves only part of its machine; the main window says so.
    // One that met a request of the peer's is not that, and the pane says so itself.
    if (AppState.lastOutcome == TransferOutcome::Refused && AppState.endedState == TransferState::CallDIR &&
        AppState.lastReason != FastReason::Busy && AppState.mainWindow != nullptr)
        PostMessageW(AppState.mainWindow, WM_PEER_LISTING_REFUSED, 0, 0);
}

void askTreeOverwrite()
{
    HWND dialog = openCopyDialog();
    if (dialog != nullptr)
        PostMessageW(dialog, WM_TREE_QUESTION, 0, 0);
}

void peerServesFolder()
{
    if (AppState.mainWindow != nullptr)
        PostMessageW(AppState.mainWindow, WM_PEER_SERVES, 0, 0);
}

void fileArrived(const wchar_t *targetPath)
{
    if (AppState.mainWindow != nullptr)
        PostMessageW(AppState.mainWindow, WM_FILE_ARRIVED, 0, arrivalFolderKey(targetPath));
}

// connection_dialog.cpp: the connection settings dialog (template 1): Client or Server mode, the server's
// address and the port, and the search for the servers of the LAN that fills them.
#include "dialogs/connection_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/paired_machines.h"
#include "net/discovery.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const int AddressEdits[4] = {IDC_EDIT1, IDC_EDIT2, IDC_EDIT3, IDC_EDIT4};

// The address only matters to a client; the port to both.
static void enableAddressEdits(HWND dialog, bool enable)
{
    for (int id : AddressEdits)
        EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

static void setNumber(HWND dialog, int id, int value)
{
    wchar_t text[16];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"%d", value);
    SetDlgItemTextW(dialog, id, text);
}

// Reads at most maxChars characters of an edit as a decimal number; what is not a number reads as 0.
static int32_t readNumber(HWND dialog, int id, int maxChars)
{
    wchar_t text[8];
    memset(text, 0, sizeof(text));
    GetDlgItemTextW(dialog, id, text, maxChars + 1);
    return static_cast<int32_t>(_wtoi(text));
}

// The state column of a row: whether it answered, whether it is paired, what it serves.
static void rowState(const FoundServer &row, bool searchEnded, wchar_t *text, int textChars)
{
    bool paired = row.answer.fingerprint[0] != 0 && pairedMachineKnown(row.answer.fingerprint);
    const wchar_t *state = L"前回接続";
    if (row.answered)
        state = paired ? L"ペア済み" : L"未ペア";
    else if (searchEnded)
        state = L"応答なし (前回接続)";
    _snwprintf(text, textChars - 1, L"%ls%ls", state,
               row.answered && (row.answer.flags & SearchServesReadOnly) ? L"・読み取り専用" : L"");
    text[textChars - 1] = 0;
}

// Shows row index of AppState.search: a new line, or the line it already has.
static void showServerRow(HWND dialog, int index, bool searchEnded)
{
    HWND list = GetDlgItem(dialog, IDC_SERVER_LIST);
    const FoundServer &row = AppState.search.found[index];
    LVFINDINFOW find;
    memset(&find, 0, sizeof(find));
    find.flags = LVFI_PARAM;
    find.lParam = index;
    int item = static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(&find)));
    LVITEMW line;
    memset(&line, 0, sizeof(line));
    if (item < 0) {
        line.mask = LVIF_TEXT | LVIF_PARAM;
        line.iItem = index;
        line.lParam = index;
        line.pszText = const_cast<wchar_t *>(row.answer.hostName);
        item = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&line)));
        if (item < 0)
            return;
    }
    wchar_t port[16];
    wchar_t state[48];
    memset(port, 0, sizeof(port));
    _snwprintf(port, COUNTOF(port) - 1, L"%d", row.port);
    rowState(row, searchEnded, state, COUNTOF(state));
    const wchar_t *texts[4] = {row.answer.hostName, row.address, port, state};
    for (int column = 0; column < 4; column++) {
        line.mask = LVIF_TEXT;
        line.iSubItem = column;
        line.pszText = const_cast<wchar_t *>(texts[column]);
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&line));
    }
}

static void showSearchLine(HWND dialog, const wchar_t *text)
{
    SetDlgItemTextW(dialog, IDC_SEARCH_STATUS, text);
}

// The rows of the machines met before, for the port the dialog shows.
static void listMetBefore(HWND dialog, int port)
{
    SendDlgItemMessageW(dialog, IDC_SERVER_LIST, LVM_DELETEALLITEMS, 0, 0);
    prepareServerSearch(&AppState.search, port, dialog);
    for (LONG i = 0; i < AppState.search.foundCount; i++)
        showServerRow(dialog, static_cast<int>(i), false);
}

static void addServerColumns(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SERVER_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    static const wchar_t *const titles[4] = {L"名前", L"アドレス", L"ポート", L"状態"};
    static const int widths[4] = {62, 58, 30, 46};  // dialog units, within the list's 200
    for (int column = 0; column < 4; column++) {
        RECT width = {0, 0, widths[column], 0};
        MapDialogRect(dialog, &width);
        LVCOLUMNW header;
        memset(&header, 0, sizeof(header));
        header.mask = LVCF_TEXT | LVCF_WIDTH;
        header.cx = width.right;
        header.pszText = const_cast<wchar_t *>(titles[column]);
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
    }
}

// The search button: the rows met before again, then the search on its own thread; the dialog stays live.
static void onSearch(HWND dialog)
{
    if (AppState.search.thread != nullptr)
        return;
    listMetBefore(dialog, readNumber(dialog, IDC_EDIT5, 5));
    if (!startServerSearch(&AppState.search)) {
        showSearchLine(dialog, L"検索を始められませんでした");
        return;
    }
    EnableWindow(GetDlgItem(dialog, IDC_SEARCH_BUTTON), FALSE);
    showSearchLine(dialog, L"検索中…");
}

static void onSearchDone(HWND dialog)
{
    endServerSearch(&AppState.search);
    int answered = 0;
    for (LONG i = 0; i < AppState.search.foundCount; i++) {
        answered += AppState.search.found[i].answered ? 1 : 0;
        showServerRow(dialog, static_cast<int>(i), true);
    }
    wchar_t text[160];
    memset(text, 0, sizeof(text));
    if (answered > 0)
        _snwprintf(text, COUNTOF(text) - 1, L"%d 台のサーバが応答しました", answered);
    else
        wcsncpy(text, L"応答したサーバはありません。相手がサーバ側で接続を開いているか、ファイアウォールを確かめて下さい",
                COUNTOF(text) - 1);
    showSearchLine(dialog, text);
    EnableWindow(GetDlgItem(dialog, IDC_SEARCH_BUTTON), TRUE);
}

// A chosen row fills the address and the port; it is a server, so this side is the client.
static void onServerChosen(HWND dialog, const NMLISTVIEW *change)
{
    if (!(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED) ||
        (change->uOldState & LVIS_SELECTED) || change->lParam < 0 || change->lParam >= AppState.search.foundCount)
        return;
    const FoundServer &row = AppState.search.found[change->lParam];
    unsigned char bytes[4];
    if (InetPtonW(AF_INET, row.address, bytes) != 1)
        return;
    for (int i = 0; i < 4; ++i)
        setNumber(dialog, AddressEdits[i], bytes[i]);
    setNumber(dialog, IDC_EDIT5, row.port);
    CheckRadioButton(dialog, IDC_CLIENT_RADIO, IDC_SERVER_RADIO, IDC_CLIENT_RADIO);
    enableAddressEdits(dialog, true);
}

// WM_INITDIALOG: the controls show AppState, and the label this machine's fingerprint to read out to the peer.
static INT_PTR onConnectionInit(HWND dialog)
{
    CheckRadioButton(dialog, IDC_CLIENT_RADIO, IDC_SERVER_RADIO, 0);
    CheckRadioButton(dialog, IDC_CLIENT_RADIO, IDC_SERVER_RADIO,
                     AppState.mode == ConnectionMode::Client ? IDC_CLIENT_RADIO : IDC_SERVER_RADIO);
    for (int i = 0; i < 4; ++i)
        setNumber(dialog, AddressEdits[i], AppState.ip[i]);
    setNumber(dialog, IDC_EDIT5, AppState.port);
    enableAddressEdits(dialog, AppState.mode != ConnectionMode::Server);
    showOwnFingerprint(dialog, IDC_OWN_FINGERPRINT);
    addServerColumns(dialog);
    listMetBefore(dialog, AppState.port);
    return TRUE;
}

// OK: the controls go back into AppState, unchecked; an old host name would no longer match the address.
static void onConnectionOk(HWND dialog)
{
    AppState.mode = IsDlgButtonChecked(dialog, IDC_CLIENT_RADIO) == BST_CHECKED ? ConnectionMode::Client
                                                                                : ConnectionMode::Server;
    for (int i = 0; i < 4; ++i)
        AppState.ip[i] = readNumber(dialog, AddressEdits[i], 3);
    AppState.port = readNumber(dialog, IDC_EDIT5, 5);
    memset(AppState.peerHostNameA, 0, sizeof(AppState.peerHostNameA));
    memset(AppState.peerHostName, 0, sizeof(AppState.peerHostName));
    EndDialog(dialog, IDC_DIALOG_OK);
}

static INT_PTR CALLBACK connectionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onConnectionInit(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DIALOG_OK:
            onConnectionOk(dialog);
            break;
        case IDC_DIALOG_CANCEL:
            EndDialog(dialog, IDC_DIALOG_CANCEL);
            break;
        case IDC_SEARCH_BUTTON:
            onSearch(dialog);
            break;
        case IDC_CLIENT_RADIO:
        case IDC_SERVER_RADIO:
            enableAddressEdits(dialog, IsDlgButtonChecked(dialog, IDC_SERVER_RADIO) != BST_CHECKED);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 1);
        return TRUE;
    case WM_NOTIFY:
        if (wParam == IDC_SERVER_LIST && reinterpret_cast<const NMHDR *>(lParam)->code == LVN_ITEMCHANGED)
            onServerChosen(dialog, reinterpret_cast<const NMLISTVIEW *>(lParam));
        return FALSE;
    case WM_SEARCH_FOUND:
        if (static_cast<LONG>(wParam) < AppState.search.foundCount)
            showServerRow(dialog, static_cast<int>(wParam), false);
        return TRUE;
    case WM_SEARCH_DONE:
        onSearchDone(dialog);
        return TRUE;
    case WM_DESTROY:
        // However the dialog ends, no search outlives it.
        endServerSearch(&AppState.search);
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR runConnectionDialog(HWND window)
{
    return DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_CONNECTION), window, connectionDialogProc, 0);
}

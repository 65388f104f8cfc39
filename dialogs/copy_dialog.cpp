// copy_dialog.cpp: the copy command (105 to the peer, 106 from the peer), its loop over the selected items,
// the copy dialog (template 6) and the request that starts each transfer.
#include "dialogs/copy_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/message_box.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "net/message_sender.h"
#include "panes/own_pane.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

static const wchar_t CopyCaption[] = L"複写操作";

bool joinFolderName(const wchar_t *folder, const wchar_t *name, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    size_t folderChars = wcslen(folder);
    size_t nameChars = wcslen(name);
    bool needsSeparator = folderChars == 0 || folder[folderChars - 1] != L'\\';
    size_t total = folderChars + (needsSeparator ? 1 : 0) + nameChars;
    if (total > static_cast<size_t>(outChars - 1))
        return false;
    wmemcpy(out, folder, folderChars);
    if (needsSeparator)
        out[folderChars] = L'\\';
    wmemcpy(out + folderChars + (needsSeparator ? 1 : 0), name, nameChars);
    return true;
}

bool sizeTextTooLarge(const wchar_t *sizeText)
{
    // Leading digits times the unit of the last character; compared as number > limit / unit so that no
    // product can overflow, and the digits stop counting once they alone are past the limit.
    uint64_t number = 0;
    for (const wchar_t *c = sizeText; *c >= L'0' && *c <= L'9'; ++c) {
        number = number * 10 + static_cast<uint64_t>(*c - L'0');
        if (number > static_cast<uint64_t>(MaxFileBytes))
            break;
    }
    size_t chars = wcslen(sizeText);
    wchar_t last = chars > 0 ? sizeText[chars - 1] : 0;
    uint64_t unit = 1;
    if (last == L'K')
        unit = 1ull << 10;
    else if (last == L'M')
        unit = 1ull << 20;
    else if (last == L'G')
        unit = 1ull << 30;
    else if (last == L'T')
        unit = 1ull << 40;
    return number > static_cast<uint64_t>(MaxFileBytes) / unit;
}

bool isDriveName(const wchar_t *name)
{
    return isDriveRoot(name);
}

// The folder the copied item comes from and the folder it goes to.
static const wchar_t *sourceFolder()
{
    return AppState.copyFromPeer ? AppState.peerFolder : AppState.ownFolder;
}

static const wchar_t *destinationFolder()
{
    return AppState.copyFromPeer ? AppState.ownFolder : AppState.peerFolder;
}

static void refusePath(HWND dialog)
{
    showMessageBox(dialog, L"パスが長すぎるため複写できません", CopyCaption, MB_OK);
}

bool startCopyRequest(HWND dialog)
{
    // A peer request may have started since the command checked; one exchange at a time.
    if (AppState.transferState != TransferState::Waiting) {
        showMessageBox(dialog, L"他の動作中は出来ません", CopyCaption, MB_OK);
        return false;
    }
    HWND sourceEdit = GetDlgItem(dialog, IDC_EDIT1);
    wchar_t source[PathChars];
    memset(source, 0, sizeof(source));
    if (GetWindowTextLengthW(sourceEdit) > PathChars - 1) {
        refusePath(dialog);
        return false;
    }
    GetWindowTextW(sourceEdit, source, PathChars);
    const wchar_t *separator = wcsrchr(source, L'\\');
    const wchar_t *name = separator != nullptr ? separator + 1 : source;

    wchar_t destination[PathChars];
    char destinationA[PathChars];
    char sourceA[PathChars];
    char message[PathChars];
    memset(destinationA, 0, sizeof(destinationA));
    memset(sourceA, 0, sizeof(sourceA));
    if (!joinFolderName(destinationFolder(), name, destination, PathChars) ||
        wideToAnsi(destination, -1, destinationA, PathChars) < 0) {
        refusePath(dialog);
        return false;
    }
    int length;
    if (AppState.copyFromPeer) {
        if (wideToAnsi(source, -1, sourceA, PathChars) < 0) {
            refusePath(dialog);
            return false;
        }
        length = buildPathRequest(message, PathChars, "FC", sourceA);
    } else {
        length = buildPathRequest(message, PathChars, "FD", destinationA);
    }
    if (length < 0) {
        refusePath(dialog);
        return false;
    }

    // Everything the engine needs for the answer is in place before the request leaves: the answer is handled
    // on the network thread and may come at once.
    if (AppState.copyFromPeer) {
        memcpy(AppState.pullTargetA, destinationA, sizeof(AppState.pullTargetA));
        AppState.transferState = TransferState::CallCopyFrom;
    } else {
        memcpy(AppState.sendSourcePath, source, sizeof(AppState.sendSourcePath));
        AppState.blockCount = 0;
        AppState.transferState = TransferState::CallCopyTO;
    }
    if (sendMessage(message, length) != 0) {
        // The request never left, so no answer will come to end the state.
        AppState.transferState = TransferState::Waiting;
        showMessageBox(dialog, L"相手側へ送れませんでした。接続を確かめてください", CopyCaption, MB_OK);
    }
    refreshStatus();
    return true;
}

// Control 501: the blocks this side has sent. A pull sends none, so it shows zero rather than the count left
// by an earlier push.
static void showStepCounter(HWND dialog)
{
    wchar_t text[32];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"Step:%06d", AppState.copyFromPeer ? 0 : AppState.blockCount);
    SetDlgItemTextW(dialog, IDC_STEP_COUNTER, text);
}

static void beginTransfer(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
    KillTimer(dialog, TIMER_1);
    startCopyRequest(dialog);
    SetTimer(dialog, TIMER_2, 1000, nullptr);
}

// WM_INITDIALOG: shows source and destination; a later pass starts by itself after a second.
static INT_PTR onCopyInit(HWND dialog, LPARAM pass)
{
    wchar_t source[PathChars * 2 + 1];
    joinFolderName(sourceFolder(), AppState.selectedName, source, COUNTOF(source));
    EnableWindow(GetDlgItem(dialog, IDC_EDIT1), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_EDIT2), FALSE);
    SetDlgItemTextW(dialog, IDC_EDIT1, source);
    SetDlgItemTextW(dialog, IDC_EDIT2, destinationFolder());
    AppState.stopRequest = StopRequest::None;
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_START), TRUE);
    if (pass > 0)
        SetTimer(dialog, TIMER_1, 1000, nullptr);
    return TRUE;
}

// WM_TIMER: 1 is the automatic start, 2 watches for the end of the transfer.
static void onCopyTimer(HWND dialog, WPARAM timer)
{
    if (timer == TIMER_1) {
        KillTimer(dialog, TIMER_1);
        // A tick already queued when Start was pressed must not start a second transfer.
        if (IsWindowEnabled(GetDlgItem(dialog, IDC_START)))
            beginTransfer(dialog);
        return;
    }
    if (timer == TIMER_2) {
        if (AppState.transferState == TransferState::Waiting)
            EndDialog(dialog, 1);
        showStepCounter(dialog);
    }
}

// WM_COMMAND: Start, Stop and Close; everything else (Esc included) does nothing.
static void onCopyCommand(HWND dialog, int id)
{
    switch (id) {
    case IDC_START:
        if (IsWindowEnabled(GetDlgItem(dialog, IDC_START)))
            beginTransfer(dialog);
        break;
    case IDC_STOP:
        AppState.stopRequest = StopRequest::Requested;
        break;
    case IDC_CLOSE:
        if (AppState.transferState != TransferState::Waiting) {
            showMessageBox(dialog, L"転送中は操作不可！", L"画面閉じる", MB_OK);
            break;
        }
        AppState.copyDialogClosed = 1;
        EndDialog(dialog, 1);
        break;
    default:
        break;
    }
}

// WM_DESTROY: the timers stop with the dialog, and a stop that no transfer of this side will take up does not
// linger to cut short a later one. A push still running keeps its stop: the engine takes it at the next ACK.
static void onCopyDestroy(HWND dialog)
{
    KillTimer(dialog, TIMER_1);
    KillTimer(dialog, TIMER_2);
    if (AppState.transferState != TransferState::CallCopyTO)
        AppState.stopRequest = StopRequest::None;
}

static INT_PTR CALLBACK copyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onCopyInit(dialog, lParam);
    case WM_COMMAND:
        onCopyCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_TIMER:
        onCopyTimer(dialog, wParam);
        return TRUE;
    case WM_CLOSE:
        AppState.copyDialogClosed = 1;
        EndDialog(dialog, 1);
        return TRUE;
    case WM_PAINT:
        paintNothing(dialog);
        return TRUE;
    case WM_DESTROY:
        onCopyDestroy(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

static void deselectItem(HWND pane, int index)
{
    ListView_SetItemState(pane, index, 0, LVIS_FOCUSED | LVIS_SELECTED | LVIS_DROPHILITED);
}

// After the loop the destination pane is listed again so that it shows the copied files.
static void refreshDestination(HWND window, bool fromPeer)
{
    if (fromPeer) {
        listOwnFolder(window);
        return;
    }
    clearPeerPane();
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, AppState.peerFolder);
    AppState.transferState = TransferState::CallDIR;
    refreshStatus();
    requestPeerDir();
}

void runCopyCommand(HWND window, bool fromPeer)
{
    AppState.copyFromPeer = fromPeer ? 1 : 0;
    AppState.copyDialogClosed = 0;
    if (AppState.transferState != TransferState::Waiting) {
        showMessageBox(window, L"他の動作中は出来ません", CopyCaption, MB_OK);
        return;
    }
    HWND pane = fromPeer ? AppState.peerPane : AppState.ownPane;
    if (ListView_GetNextItem(pane, -1, LVNI_SELECTED) == -1) {
        showMessageBox(window, L"項目を選んでください", CopyCaption, MB_OK);
        return;
    }
    int count = ListView_GetItemCount(pane);
    for (int pass = 0; pass < count; ++pass) {
        int index = ListView_GetNextItem(pane, -1, LVNI_SELECTED);
        if (index == -1)
            break;
        wchar_t sizeText[64];
        memset(sizeText, 0, sizeof(sizeText));
        ListView_GetItemText(pane, index, 2, sizeText, COUNTOF(sizeText));
        if (sizeTextTooLarge(sizeText)) {
            showMessageBox(nullptr, L"953Mbyteは出来ません", L"サイズ越え", MB_OK);
            deselectItem(pane, index);
            continue;
        }
        memset(AppState.selectedName, 0, sizeof(AppState.selectedName));
        ListView_GetItemText(pane, index, 0, AppState.selectedName, COUNTOF(AppState.selectedName));
        if (isDriveName(AppState.selectedName)) {
            showMessageBox(window, L"ドライブは選べません", CopyCaption, MB_OK);
            deselectItem(pane, index);
            continue;
        }
        if (!AppState.copyDialogClosed)
            DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_COPY), window, copyDialogProc, pass);
        deselectItem(pane, index);
    }
    AppState.copyDialogClosed = 0;
    if (AppState.transferState == TransferState::Waiting)
        refreshDestination(window, fromPeer);
}

// folder_dialog.cpp: the folder-name dialog (template 7) and commands 107 (new own folder) and 108 (new folder
// on the peer). Its static is reset by resetAppState through resetUiModules().
#include "dialogs/folder_dialog.h"
#include "dialogs/copy_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/message_box.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "core/fast_link.h"
#include "core/fast_wire.h"
#include "core/send_ops.h"
#include "panes/own_pane.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <cwchar>

constexpr int FolderNameChars = 512;
constexpr int FolderRequestBytes = FastPathBytes + 2;  // "CD" and a path; in UTF-8 on the fast link
constexpr int ClassicFolderPathBytes = 274;             // the classic request's path: at most 273 bytes
constexpr int FolderNameBound = 248;

static const wchar_t FolderCaption[] = L"Folder";
static const wchar_t EmptyNameText[] = L"文字を入力して下さい";
static const wchar_t BadNameText[] = L"入力文字にエラー！";

// Which side the dialog now open names a folder for; the peer's path has its own length to fit.
static bool folderForPeer;

void resetFolderDialog()
{
    folderForPeer = false;
}


int buildFolderRequest(const wchar_t *name, char *out, int outBytes)
{
    memset(out, 0, static_cast<size_t>(outBytes));
    wchar_t path[PathChars];
    char pathA[FastPathBytes];
    if (!joinFolderName(AppState.peerFolder, name, path, PathChars))
        return -1;
    // In UTF-8 the budget is the path's characters; in the code page it stays in bytes, as classic peers know.
    int bytes = wireTextIsUtf8() ? pathToWire(path, pathA, COUNTOF(pathA))
                                 : wideToWire(path, -1, pathA, ClassicFolderPathBytes);
    if (bytes < 0)
        return -1;
    return buildPathRequest(out, outBytes, FolderRequestTag, pathA);
}

const wchar_t *folderNameRefusal(const wchar_t *name, bool onPeer)
{
    size_t length = wcslen(name);
    if (length == 0)
        return EmptyNameText;
    bool badCharacter = wcschr(name, L'.') != nullptr || wcschr(name, L'\\') != nullptr;
    if (badCharacter || static_cast<int>(length) > FolderNameBound - static_cast<int>(wcslen(AppState.ownFolder)))
        return BadNameText;
    // The bound above measures the own folder; a longer peer folder must still leave room for the request.
    char request[FolderRequestBytes];
    if (onPeer && buildFolderRequest(name, request, COUNTOF(request)) < 0)
        return BadNameText;
    return nullptr;
}

// Button 202: accept the name, or say what is wrong with it and keep the dialog open.
static void onCreatePressed(HWND dialog)
{
    wchar_t name[FolderNameChars];
    memset(name, 0, sizeof(name));
    GetDlgItemTextW(dialog, IDC_EDIT1, name, COUNTOF(name));
    const wchar_t *refusal = folderNameRefusal(name, folderForPeer);
    if (refusal != nullptr) {
        showMessageBox(dialog, refusal, FolderCaption, MB_OK);
        return;
    }
    memset(AppState.newFolderName, 0, sizeof(AppState.newFolderName));
    wcsncpy(AppState.newFolderName, name, COUNTOF(AppState.newFolderName) - 1);
    EndDialog(dialog, 1);
}

static INT_PTR CALLBACK folderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        memset(AppState.newFolderName, 0, sizeof(AppState.newFolderName));
        // Enter after typing a name creates the folder; 閉じる, when it has the focus, still closes.
        SendMessageW(dialog, DM_SETDEFID, IDC_START, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_START)
            onCreatePressed(dialog);
        else if (LOWORD(wParam) == IDC_CLOSE)
            EndDialog(dialog, 1);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 1);
        return TRUE;
    case WM_PAINT:
        paintNothing(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

static void createOwnFolder(HWND window)
{
    wchar_t path[PathChars];
    bool made = joinFolderName(AppState.ownFolder, AppState.newFolderName, path, PathChars) &&
                (CreateDirectoryW(path, nullptr) || (GetLastError() == ERROR_ALREADY_EXISTS && isFolderOnDisk(path)));
    listOwnFolder(window);
    if (!made)
        showMessageBox(window, L"フォルダを作れませんでした\r\n同じ名前のファイルがあるか、書き込めない場所です", FolderCaption,
                       MB_OK);
}

static void requestNewPeerFolder(HWND window)
{
    char request[FolderRequestBytes];
    int length = buildFolderRequest(AppState.newFolderName, request, COUNTOF(request));
    if (length < 0) {
        showMessageBox(window, BadNameText, FolderCaption, MB_OK);
        return;
    }
    // The peer's ACK may come at once; the engine must find FolderTO already set.
    if (!claimExchange(TransferState::FolderTO)) {
        showMessageBox(window, L"他の動作中は出来ません", FolderCaption, MB_OK);
        return;
    }
    AppState.relistAfterFolder = 1;
    if (sendRequest(request, length) != 0) {
        AppState.relistAfterFolder = 0;
        AppState.transferState = TransferState::Waiting;
        showMessageBox(window, L"新しいフォルダの依頼を送れませんでした\r\n接続を確かめてください", FolderCaption, MB_OK);
    }
    refreshStatus();
    // The rows stay until the new listing's first row comes: a refused folder leaves the pane as it was.
    if (AppState.relistAfterFolder)
        InterlockedExchange(&AppState.peerPaneClearPending, 1);
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, AppState.peerFolder);
}

void peerFolderNotMade(HWND window, TransferOutcome outcome, FastReason reason)
{
    // The listing that would have replaced the rows never comes.
    InterlockedExchange(&AppState.peerPaneClearPending, 0);
    // A lost or silent link has its own message.
    if (outcome != TransferOutcome::Refused)
        return;
    wchar_t text[160];
    memset(text, 0, sizeof(text));
    const wchar_t *why = reason != FastReason::None ? fastReasonText(reason) : L"";
    _snwprintf(text, COUNTOF(text) - 1, L"相手側にフォルダを作れませんでした\r\n%ls", why);
    showMessageBox(window, text, FolderCaption, MB_OK);
}

void runNewFolderCommand(HWND window, bool onPeer)
{
    // Not from inside a copy command (a box of it leaves the main window reachable).
    if (copyCommandRunning()) {
        showMessageBox(window, L"他の動作中は出来ません", FolderCaption, MB_OK);
        return;
    }
    folderForPeer = onPeer;
    DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_NEW_FOLDER), window, folderDialogProc, 0);
    if (AppState.newFolderName[0] == 0)
        return;
    if (onPeer)
        requestNewPeerFolder(window);
    else
        createOwnFolder(window);
}

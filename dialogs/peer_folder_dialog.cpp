// peer_folder_dialog.cpp: the peer-folder dialog (template 10) and command 132, which list a folder of the peer
// that the user typed, for a peer that serves only part of its machine. Its statics are reset by resetAppState
// through resetUiModules().
#include "dialogs/peer_folder_dialog.h"
#include "dialogs/copy_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/message_box.h"
#include "core/text_codec.h"
#include "panes/peer_pane.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <cwchar>

static const wchar_t PeerFolderCaption[] = L"相手側フォルダ入力";

// Where OK puts the accepted folder; set by the opener for the dialog it runs.
static wchar_t *acceptedFolder;
static int acceptedChars;

void resetPeerFolderDialog()
{
    acceptedFolder = nullptr;
    acceptedChars = 0;
}

static bool isDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// The typed folder in the form the peer pane keeps (separators as "\", none at the end but a drive root's),
// or the refusal's text. Only the form is checked: the peer alone knows its folders.
static const wchar_t *peerFolderForm(wchar_t *typed, int typedChars)
{
    int length = static_cast<int>(wcsnlen(typed, typedChars - 1));
    typed[length] = 0;
    for (int i = 0; i < length; i++) {
        if (typed[i] == L'/')
            typed[i] = L'\\';
    }
    if (length < 3 || !isDriveLetter(typed[0]) || typed[1] != L':' || typed[2] != L'\\')
        return L"相手側のフォルダは C:\\共有 のように、ドライブから書いて下さい。";
    for (int i = 3; i < length; i++) {
        if (typed[i] < 0x20 || wcschr(L"<>\"|?*:", typed[i]) != nullptr)
            return L"フォルダ名に使えない文字があります。";
    }
    while (length > 3 && typed[length - 1] == L'\\')
        typed[--length] = 0;
    // The request carries the folder in the ANSI code page, in a path buffer; a character the code page lacks
    // would arrive as another one, so the folder must come back unchanged.
    char pathA[FastPathBytes];
    wchar_t back[PathChars];
    memset(back, 0, sizeof(back));
    if (length > PathChars - 1 || pathToWire(typed, pathA, COUNTOF(pathA)) <= 0 ||
        wireToWide(pathA, -1, back, COUNTOF(back)) <= 0 || wcscmp(back, typed) != 0)
        return L"フォルダ名が長すぎるか、送れない文字を含んでいます。";
    return nullptr;
}

// WM_INITDIALOG: the edit shows the peer folder now listed. Not limited in length, so a pasted path that is too
// long is refused whole rather than cut to another folder.
static INT_PTR onPeerFolderInit(HWND dialog)
{
    SetDlgItemTextW(dialog, IDC_PEER_FOLDER_EDIT, AppState.peerFolder);
    return TRUE;
}

// OK or Enter: the folder is taken only in a form that can be sent.
static void onPeerFolderOk(HWND dialog)
{
    // Room for more than a path, to tell a too-long one from one that fits.
    wchar_t typed[PathChars * 2];
    memset(typed, 0, sizeof(typed));
    GetDlgItemTextW(dialog, IDC_PEER_FOLDER_EDIT, typed, COUNTOF(typed));
    const wchar_t *refusal = peerFolderForm(typed, COUNTOF(typed));
    if (refusal == nullptr && static_cast<int>(wcslen(typed)) >= acceptedChars)
        refusal = L"フォルダ名が長すぎるか、送れない文字を含んでいます。";
    if (refusal != nullptr) {
        showMessageBox(dialog, refusal, PeerFolderCaption, MB_OK);
        return;
    }
    memset(acceptedFolder, 0, sizeof(wchar_t) * static_cast<size_t>(acceptedChars));
    wcscpy(acceptedFolder, typed);
    EndDialog(dialog, IDC_DIALOG_OK);
}

static INT_PTR onPeerFolderCommand(HWND dialog, int id)
{
    if (id == IDC_DIALOG_OK || id == IDOK)
        onPeerFolderOk(dialog);
    else if (id == IDC_DIALOG_CANCEL || id == IDCANCEL)
        EndDialog(dialog, IDC_DIALOG_CANCEL);
    return TRUE;
}

static INT_PTR CALLBACK peerFolderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return onPeerFolderInit(dialog);
    case WM_COMMAND:
        return onPeerFolderCommand(dialog, LOWORD(wParam));
    case WM_CLOSE:
        EndDialog(dialog, IDC_DIALOG_CANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR runPeerFolderDialog(HWND window, wchar_t *folder, int folderChars)
{
    if (folder == nullptr || folderChars <= 3)
        return IDC_DIALOG_CANCEL;
    acceptedFolder = folder;
    acceptedChars = folderChars;
    return DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_PEER_FOLDER), window, peerFolderDialogProc, 0);
}

static bool peerCommandAllowed()
{
    return AppState.linkOpen && AppState.transferState == TransferState::Waiting && !copyCommandRunning();
}

void runPeerFolderCommand(HWND window)
{
    if (!peerCommandAllowed())
        return;
    wchar_t folder[PathChars];
    memset(folder, 0, sizeof(folder));
    if (runPeerFolderDialog(window, folder, COUNTOF(folder)) != IDC_DIALOG_OK)
        return;
    // The peer may have asked for something, or the link gone, while the dialog was open.
    if (!peerCommandAllowed()) {
        showMessageBox(window, L"他の動作中は出来ません", PeerFolderCaption, MB_OK);
        return;
    }
    memcpy(AppState.peerFolder, folder, sizeof(AppState.peerFolder));
    requestPeerFolder(window);
}

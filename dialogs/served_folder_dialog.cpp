// served_folder_dialog.cpp: the served-folder dialog (template 9): the folder the peer may reach, whether it
// may write there, the one address a server lets in, and who is served.
#include "dialogs/served_folder_dialog.h"
#include "dialogs/dialog_common.h"
#include "dialogs/paired_machines_dialog.h"

#include "core/app_state.h"
#include "core/message_box.h"
#include "core/served_folder.h"
#include "panes/peer_pane.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <cstring>
#include <cwchar>

static const wchar_t ServedCaption[] = L"公開設定";
static const wchar_t PartServedNote[] =
    L"相手側はマシンの一部だけを公開しています。「ファイル→相手側：フォルダ入力」で開いて下さい";

// The admission radio buttons in AdmissionMode order.
static const int AdmissionButtons[3] = {IDC_ADMISSION_ASK, IDC_ADMISSION_PAIRED_ONLY, IDC_ADMISSION_EVERYONE};

// WM_INITDIALOG: the controls show AppState.
static INT_PTR onServedInit(HWND dialog)
{
    centreOnOwner(dialog, GetWindow(dialog, GW_OWNER));
    SendDlgItemMessageW(dialog, IDC_SERVED_FOLDER_EDIT, EM_LIMITTEXT, PathChars - 1, 0);
    SendDlgItemMessageW(dialog, IDC_SERVED_ADDRESS_EDIT, EM_LIMITTEXT, AddressTextChars - 1, 0);
    SetDlgItemTextW(dialog, IDC_SERVED_FOLDER_EDIT, AppState.servedFolder);
    CheckDlgButton(dialog, IDC_SERVED_READONLY_CHECK, AppState.servedReadOnly ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_SERVED_ADDRESS_EDIT, AppState.allowedPeerAddress);
    int mode = static_cast<int>(AppState.admission);
    CheckRadioButton(dialog, IDC_ADMISSION_ASK, IDC_ADMISSION_EVERYONE,
                     AdmissionButtons[mode >= 0 && mode < 3 ? mode : 0]);
    return TRUE;
}

// The folder as typed, in its normal form (empty: the whole machine). False, after saying why, when it is not
// an existing folder written as a full path.
static bool readServedFolder(HWND dialog, wchar_t *folder, int folderChars)
{
    wchar_t typed[PathChars];
    memset(typed, 0, sizeof(typed));
    memset(folder, 0, folderChars * sizeof(wchar_t));
    GetDlgItemTextW(dialog, IDC_SERVED_FOLDER_EDIT, typed, COUNTOF(typed));
    if (typed[0] == 0)
        return true;
    if (!normalFolderPath(typed, folder, folderChars)) {
        showMessageBox(dialog, L"公開フォルダは C:\\共有 のように、ドライブから書いて下さい。", ServedCaption,
                       MB_OK);
        return false;
    }
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        showMessageBox(dialog, L"公開フォルダが見つかりません。", ServedCaption, MB_OK);
        return false;
    }
    return true;
}

// OK: every setting is checked before any is taken, so a refused one leaves AppState as it was.
static void onServedOk(HWND dialog)
{
    wchar_t folder[PathChars];
    if (!readServedFolder(dialog, folder, COUNTOF(folder)))
        return;
    wchar_t address[AddressTextChars];
    memset(address, 0, sizeof(address));
    GetDlgItemTextW(dialog, IDC_SERVED_ADDRESS_EDIT, address, COUNTOF(address));
    if (!allowedAddressUsable(address)) {
        showMessageBox(dialog, L"接続を許すアドレスは 192.168.1.31 のように書いて下さい。", ServedCaption, MB_OK);
        return;
    }
    memcpy(AppState.servedFolder, folder, sizeof(AppState.servedFolder));
    AppState.servedReadOnly = IsDlgButtonChecked(dialog, IDC_SERVED_READONLY_CHECK) == BST_CHECKED ? 1 : 0;
    memcpy(AppState.allowedPeerAddress, address, sizeof(AppState.allowedPeerAddress));
    AppState.admission = AdmissionMode::Ask;
    for (int mode = 0; mode < 3; mode++)
        if (IsDlgButtonChecked(dialog, AdmissionButtons[mode]) == BST_CHECKED)
            AppState.admission = static_cast<AdmissionMode>(mode);
    saveSettingsTold(dialog);
    EndDialog(dialog, IDC_DIALOG_OK);
}

static INT_PTR onServedCommand(HWND dialog, int id)
{
    if (id == IDC_DIALOG_OK)
        onServedOk(dialog);
    else if (id == IDC_SERVED_PAIRED_MACHINES)
        runPairedMachinesDialog(dialog);
    else if (id == IDC_DIALOG_CANCEL || id == IDCANCEL)
        EndDialog(dialog, IDC_DIALOG_CANCEL);
    return TRUE;
}

static INT_PTR CALLBACK servedFolderDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return onServedInit(dialog);
    case WM_COMMAND:
        return onServedCommand(dialog, LOWORD(wParam));
    case WM_CLOSE:
        EndDialog(dialog, IDC_DIALOG_CANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR runServedFolderDialog(HWND window)
{
    return DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_SERVED_FOLDER), window, servedFolderDialogProc,
                           0);
}

void showPeerListingRefused(HWND window)
{
    // The folder and the note together: a path of 259 characters and the note always fit. The note names the
    // command that reaches a served folder, since rows cannot lead there from a refused listing.
    // A folder the pane asked for is named beside the one it still shows; the fast link's own reason stays.
    if (AppState.peerFolderRefused[0] != 0) {
        if (AppState.lastReason == FastReason::None)
            showPeerFolderRefused(window, PartServedNote);
        return;
    }
    wchar_t text[PathChars + 64];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"%.259s　（%s）", AppState.peerFolder, PartServedNote);
    SetDlgItemTextW(window, IDC_PEER_FOLDER_LABEL, text);
}

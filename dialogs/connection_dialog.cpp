// connection_dialog.cpp: the connection settings dialog (template 1): Client or Server mode, the server's
// address and the port.
#include "dialogs/connection_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
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

static INT_PTR CALLBACK connectionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
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
    default:
        return FALSE;
    }
}

INT_PTR runConnectionDialog(HWND window)
{
    return DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_CONNECTION), window, connectionDialogProc, 0);
}

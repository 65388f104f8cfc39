// classic_peer_dialog.cpp: the classic-peer question (template 32), modeless, so that neither thread waits on it.
#include "dialogs/classic_peer_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/private_link.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <cwchar>

static const UINT TickMs = 500;

// One question at a time; cleared when its window goes.
static HWND ClassicWindow = nullptr;

HWND classicPeerDialogWindow()
{
    return ClassicWindow;
}

// WM_INITDIALOG: a server is asked whether to serve the peer, a client whether to use the server.
static INT_PTR onClassicInit(HWND dialog, const wchar_t *address)
{
    ClassicWindow = dialog;
    wchar_t text[160];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1,
               AppState.mode == ConnectionMode::Server
                   ? L"%.15s から古い方式（暗号化なし）で接続されました。許可しますか？"
                   : L"%.15s のサーバは古い方式（暗号化なし）です。このまま接続しますか？",
               address);
    SetDlgItemTextW(dialog, IDC_CLASSIC_QUESTION, text);
    SetTimer(dialog, IDT_QUESTION_TICK, TickMs, nullptr);
    return TRUE;
}

static void answerClassic(HWND dialog, bool allow)
{
    classicPeerAnswered(allow, IsDlgButtonChecked(dialog, IDC_CLASSIC_REMEMBER) == BST_CHECKED);
    DestroyWindow(dialog);
}

static INT_PTR CALLBACK classicPeerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onClassicInit(dialog, reinterpret_cast<const wchar_t *>(lParam));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDYES)
            answerClassic(dialog, true);
        else if (LOWORD(wParam) == IDNO || LOWORD(wParam) == IDCANCEL)
            answerClassic(dialog, false);
        return TRUE;
    case WM_TIMER:
        // Nobody waits for the answer once the link is closed.
        if (wParam == IDT_QUESTION_TICK && !AppState.linkOpen)
            DestroyWindow(dialog);
        return TRUE;
    case WM_CLOSE:
        answerClassic(dialog, false);
        return TRUE;
    case WM_DESTROY:
        KillTimer(dialog, IDT_QUESTION_TICK);
        if (ClassicWindow == dialog)
            ClassicWindow = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}

HWND openClassicPeerDialog(HWND owner, const wchar_t *address)
{
    // A question about an earlier peer is no longer asked.
    if (ClassicWindow != nullptr)
        DestroyWindow(ClassicWindow);
    HWND dialog = CreateDialogParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_CLASSIC_PEER), owner,
                                     classicPeerDialogProc, reinterpret_cast<LPARAM>(address));
    if (dialog == nullptr)
        return nullptr;
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    return dialog;
}

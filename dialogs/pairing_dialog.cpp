// pairing_dialog.cpp: the pairing question (template 31), modeless, so that neither thread waits on it.
#include "dialogs/pairing_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/message_box.h"
#include "core/private_link.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <cwchar>

static const wchar_t PairingCaption[] = L"ペアリングの確認";
static const wchar_t TimeUpText[] =
    L"時間内に答えがなかったため、ペアリングをやめて接続を終えました。ファイルのやり取りはしていません。";
static const wchar_t NotPairedText[] =
    L"ペアリングできませんでした（相手側で「いいえ」が選ばれたか、時間切れか、接続が切れました）。"
    L"ファイルのやり取りはしていません。";
static const UINT TickMs = 500;

struct PairingFacts {
    const wchar_t *code;
    const wchar_t *peerName;
    const wchar_t *peerFingerprint;
};

// One question at a time (one link); cleared when its window goes.
static HWND PairingWindow = nullptr;
static DWORD PairingDeadline = 0;
static bool WaitingForPeer = false;  // はい given; the peer's user has still to answer
static HFONT CodeFont = nullptr;

HWND pairingDialogWindow()
{
    return PairingWindow;
}

static int secondsLeft()
{
    int left = static_cast<int>(PairingDeadline - GetTickCount());
    return left > 0 ? (left + 999) / 1000 : 0;
}

static void showCountdown(HWND dialog)
{
    wchar_t text[64];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, WaitingForPeer ? L"相手側の答えを待っています（残り %d 秒）" : L"残り %d 秒",
               secondsLeft());
    SetDlgItemTextW(dialog, IDC_PAIRING_COUNTDOWN, text);
}

// The code three times the dialog's text height, so both users compare it at a glance.
static void enlargeCode(HWND dialog)
{
    LOGFONTW font;
    memset(&font, 0, sizeof(font));
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HGDIOBJ base = dialogFont != nullptr ? static_cast<HGDIOBJ>(dialogFont) : GetStockObject(DEFAULT_GUI_FONT);
    if (GetObjectW(base, sizeof(font), &font) != sizeof(font))
        return;
    font.lfHeight *= 3;
    font.lfWidth *= 3;
    font.lfWeight = FW_BOLD;
    CodeFont = CreateFontIndirectW(&font);
    if (CodeFont != nullptr)
        SendDlgItemMessageW(dialog, IDC_PAIRING_CODE, WM_SETFONT, reinterpret_cast<WPARAM>(CodeFont), FALSE);
}

// WM_INITDIALOG: the facts the network thread gave, bounded to the fields they come from.
static INT_PTR onPairingInit(HWND dialog, const PairingFacts *facts)
{
    PairingWindow = dialog;
    WaitingForPeer = false;
    enlargeCode(dialog);
    wchar_t text[160];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"%.15s", facts->code);
    SetDlgItemTextW(dialog, IDC_PAIRING_CODE, text);
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"相手：%.63s\r\n指紋：%.31s", facts->peerName, facts->peerFingerprint);
    SetDlgItemTextW(dialog, IDC_PAIRING_PEER, text);
    showCountdown(dialog);
    SetTimer(dialog, IDT_QUESTION_TICK, TickMs, nullptr);
    return TRUE;
}

// The question goes first, then the user is told, so the box never stands beside a question still open.
static void closeTelling(HWND dialog, const wchar_t *text)
{
    DestroyWindow(dialog);
    showMessageBox(AppState.mainWindow, text, PairingCaption, MB_OK | MB_ICONINFORMATION);
}

static void onPairingYes(HWND dialog)
{
    pairingAnswered(true);
    WaitingForPeer = true;
    EnableWindow(GetDlgItem(dialog, IDYES), FALSE);
    EnableWindow(GetDlgItem(dialog, IDNO), FALSE);
    SetFocus(dialog);
    showCountdown(dialog);
}

static void onPairingNo(HWND dialog)
{
    pairingAnswered(false);
    DestroyWindow(dialog);
}

// IDT_QUESTION_TICK: the link private (both said yes) or gone, the time up, or one second less.
static void onPairingTick(HWND dialog)
{
    if (WaitingForPeer && AppState.linkKind == LinkKind::Private && AppState.linkOpen) {
        DestroyWindow(dialog);
        return;
    }
    if (!AppState.linkOpen) {
        closeTelling(dialog, NotPairedText);
        return;
    }
    if (secondsLeft() > 0) {
        showCountdown(dialog);
        return;
    }
    if (WaitingForPeer) {
        closeTelling(dialog, NotPairedText);
        return;
    }
    pairingAnswered(false);
    closeTelling(dialog, TimeUpText);
}

static void onPairingDestroy(HWND dialog)
{
    KillTimer(dialog, IDT_QUESTION_TICK);
    if (PairingWindow == dialog)
        PairingWindow = nullptr;
    WaitingForPeer = false;
    if (CodeFont != nullptr)
        DeleteObject(CodeFont);
    CodeFont = nullptr;
}

static INT_PTR onPairingCommand(HWND dialog, int id)
{
    if (id == IDYES)
        onPairingYes(dialog);
    else if (id == IDNO || id == IDCANCEL)
        onPairingNo(dialog);
    return TRUE;
}

static INT_PTR CALLBACK pairingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onPairingInit(dialog, reinterpret_cast<const PairingFacts *>(lParam));
    case WM_COMMAND:
        return onPairingCommand(dialog, LOWORD(wParam));
    case WM_TIMER:
        if (wParam == IDT_QUESTION_TICK)
            onPairingTick(dialog);
        return TRUE;
    case WM_CLOSE:
        onPairingNo(dialog);
        return TRUE;
    case WM_DESTROY:
        onPairingDestroy(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

HWND openPairingDialog(HWND owner, const wchar_t *code, const wchar_t *peerName, const wchar_t *peerFingerprint,
                       int seconds)
{
    // A question left from an earlier link is no longer asked.
    if (PairingWindow != nullptr)
        DestroyWindow(PairingWindow);
    PairingDeadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    PairingFacts facts = {code, peerName, peerFingerprint};
    HWND dialog = CreateDialogParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_PAIRING), owner, pairingDialogProc,
                                     reinterpret_cast<LPARAM>(&facts));
    if (dialog == nullptr)
        return nullptr;
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    return dialog;
}

void endPairingDialog()
{
    if (PairingWindow != nullptr)
        closeTelling(PairingWindow, NotPairedText);
}

// dialog_common.cpp: what every dialog of the program shares.
#include "dialogs/dialog_common.h"

#include "core/app_state.h"

#include <cstring>
#include <cwchar>

HINSTANCE dialogInstance()
{
    return AppState.instance != nullptr ? AppState.instance : GetModuleHandleW(nullptr);
}

void paintNothing(HWND dialog)
{
    PAINTSTRUCT paint;
    BeginPaint(dialog, &paint);
    EndPaint(dialog, &paint);
}

void showOwnFingerprint(HWND dialog, int id)
{
    wchar_t text[64];
    memset(text, 0, sizeof(text));
    // Without a key (it could not be made or read) there is nothing to compare, and the label says so.
    _snwprintf(text, COUNTOF(text) - 1, L"このマシンの指紋：\r\n%.31s",
               AppState.ownFingerprint[0] != 0 ? AppState.ownFingerprint : L"（まだありません）");
    SetDlgItemTextW(dialog, id, text);
}

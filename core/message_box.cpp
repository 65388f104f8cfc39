// message_box.cpp: every modal box passes here. Its state lives in AppState; messageBoxFunction stays as the
// program or a test set it.
#include "core/message_box.h"

#include "core/app_state.h"

void fitInWorkArea(const RECT &work, RECT *place)
{
    int width = place->right - place->left;
    int height = place->bottom - place->top;
    if (width > work.right - work.left)
        width = work.right - work.left;
    if (height > work.bottom - work.top)
        height = work.bottom - work.top;
    int x = place->left;
    int y = place->top;
    if (x + width > work.right)
        x = work.right - width;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (x < work.left)
        x = work.left;
    if (y < work.top)
        y = work.top;
    *place = RECT{x, y, x + width, y + height};
}

void centreOnOwner(HWND box, HWND owner)
{
    RECT ownerRect = {};
    RECT boxRect = {};
    if (!GetWindowRect(owner, &ownerRect) || !GetWindowRect(box, &boxRect))
        return;
    int width = boxRect.right - boxRect.left;
    int height = boxRect.bottom - boxRect.top;
    int x = ownerRect.left + ((ownerRect.right - ownerRect.left) - width) / 2;
    int y = ownerRect.top + ((ownerRect.bottom - ownerRect.top) - height) / 2;
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    RECT place = {x, y, x + width, y + height};
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &info))
        fitInWorkArea(info.rcWork, &place);
    x = place.left;
    y = place.top;
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static LRESULT CALLBACK centreBox(int code, WPARAM wParam, LPARAM lParam)
{
    HHOOK hook = AppState.boxCentringHook;
    if (code == HCBT_ACTIVATE && AppState.boxCentringOwner != nullptr) {
        HWND owner = AppState.boxCentringOwner;
        AppState.boxCentringOwner = nullptr;
        centreOnOwner(reinterpret_cast<HWND>(wParam), owner);
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

int platformMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    // A box inside a box (a hook already set) is left where the system puts it.
    bool centring = owner != nullptr && IsWindow(owner) && AppState.boxCentringHook == nullptr;
    if (centring) {
        AppState.boxCentringOwner = owner;
        AppState.boxCentringHook = SetWindowsHookExW(WH_CBT, centreBox, nullptr, GetCurrentThreadId());
    }
    int answer = MessageBoxW(owner, text, caption, flags);
    if (centring && AppState.boxCentringHook != nullptr) {
        UnhookWindowsHookEx(AppState.boxCentringHook);
        AppState.boxCentringHook = nullptr;
    }
    AppState.boxCentringOwner = nullptr;
    return answer;
}

MessageBoxFunction messageBoxFunction = platformMessageBox;

int showMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    return messageBoxFunction(owner, text, caption, flags);
}

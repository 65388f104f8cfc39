// message_box.cpp: every modal box passes here.
#include "core/message_box.h"

// The box about to open on this thread is centred on this owner when it first activates.
static HWND CentringOwner = nullptr;
static HHOOK CentringHook = nullptr;

// Centred on the owner, kept inside the work area of the owner's monitor.
static void centreOnOwner(HWND box, HWND owner)
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
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &info)) {
        const RECT &work = info.rcWork;
        if (x + width > work.right)
            x = work.right - width;
        if (y + height > work.bottom)
            y = work.bottom - height;
        if (x < work.left)
            x = work.left;
        if (y < work.top)
            y = work.top;
    }
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static LRESULT CALLBACK centreBox(int code, WPARAM wParam, LPARAM lParam)
{
    HHOOK hook = CentringHook;
    if (code == HCBT_ACTIVATE && CentringOwner != nullptr) {
        HWND owner = CentringOwner;
        CentringOwner = nullptr;
        centreOnOwner(reinterpret_cast<HWND>(wParam), owner);
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

int platformMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    // A box inside a box (a hook already set) is left where the system puts it.
    bool centring = owner != nullptr && IsWindow(owner) && CentringHook == nullptr;
    if (centring) {
        CentringOwner = owner;
        CentringHook = SetWindowsHookExW(WH_CBT, centreBox, nullptr, GetCurrentThreadId());
    }
    int answer = MessageBoxW(owner, text, caption, flags);
    if (centring && CentringHook != nullptr) {
        UnhookWindowsHookEx(CentringHook);
        CentringHook = nullptr;
    }
    CentringOwner = nullptr;
    return answer;
}

MessageBoxFunction messageBoxFunction = platformMessageBox;

int showMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    return messageBoxFunction(owner, text, caption, flags);
}

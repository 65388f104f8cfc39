// test_window.cpp: the stand-in main window: timers and synchronous updates counted, pane messages passed on.
#include "tests/support/test_window.h"

#include "tests/support/fake_ui.h"

static const wchar_t WindowClass[] = L"PwTestWindow";
static volatile LONG timerCounts[8];
static volatile LONG syncServed;
bool (*testWindowPanes)(HWND, UINT, WPARAM, LPARAM, LRESULT *);

static LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        KillTimer(window, wParam);
        if (wParam < 8)
            InterlockedIncrement(&timerCounts[wParam]);
        return 0;
    }
    if (message == FakeUiSyncMessage) {
        InterlockedIncrement(&syncServed);
        return 0;
    }
    LRESULT result = 0;
    if (testWindowPanes != nullptr && testWindowPanes(window, message, wParam, lParam, &result))
        return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createTestWindow(bool visible)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = testWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = WindowClass;
        RegisterClassExW(&windowClass);
        registered = true;
    }
    for (volatile LONG &count : timerCounts)
        InterlockedExchange(&count, 0);
    InterlockedExchange(&syncServed, 0);
    if (!visible)
        return CreateWindowExW(0, WindowClass, L"test window", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    return CreateWindowExW(0, WindowClass, L"window tests", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 920, 420, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

long timersFired(UINT_PTR id)
{
    return id < 8 ? timerCounts[id] : 0;
}

long syncMessagesServed()
{
    return syncServed;
}

// drive_main.cpp: pw_drive, a console tool that finds running Parcelwight windows and drives them with messages.
//   pw_drive wait COUNT TIMEOUT_MS        waits for COUNT main windows, prints their handles one a line
//   pw_drive command HWND ID              posts WM_COMMAND ID (a menu command)
//   pw_drive place HWND X Y WIDTH HEIGHT  moves and sizes the window
//   pw_drive close HWND                   posts WM_CLOSE
//   pw_drive text HWND CONTROL            prints a child control's text (UTF-8)
//   pw_drive rows HWND CONTROL MIN TIMEOUT_MS  waits until a list view has MIN rows, prints the count
// Exit code 0 on success, 1 on a bad call, 2 when a wait ran out.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

static BOOL CALLBACK collectWindow(HWND window, LPARAM parameter)
{
    wchar_t title[64] = {};
    wchar_t className[64] = {};
    GetWindowTextW(window, title, 63);
    GetClassNameW(window, className, 63);
    if (wcscmp(title, L"Parcelwight Ver1.01") == 0 && wcscmp(className, L"Main Window") == 0)
        reinterpret_cast<std::vector<HWND> *>(parameter)->push_back(window);
    return TRUE;
}

// The windows may live on a desktop of their own (Wine's explorer /desktop=...): look on every desktop.
static BOOL CALLBACK searchDesktop(LPWSTR name, LPARAM parameter)
{
    HDESK desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    if (desktop != nullptr) {
        EnumDesktopWindows(desktop, collectWindow, parameter);
        CloseDesktop(desktop);
    }
    return TRUE;
}

static std::vector<HWND> findWindows()
{
    std::vector<HWND> windows;
    EnumDesktopsW(GetProcessWindowStation(), searchDesktop, reinterpret_cast<LPARAM>(&windows));
    if (windows.empty())
        EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

static HWND handleArgument(const wchar_t *text)
{
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(_wcstoui64(text, nullptr, 10)));
}

static int waitForWindows(int count, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> windows = findWindows();
        if (static_cast<int>(windows.size()) >= count) {
            for (HWND window : windows)
                printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
            return 0;
        }
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return 2;
        Sleep(100);
    }
}

static int printText(HWND window, int id)
{
    wchar_t text[1024] = {};
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(GetDlgItem(window, id), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &ignored))
        return 1;
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8) - 1, nullptr, nullptr);
    printf("%s\n", utf8);
    return 0;
}

static int waitForRows(HWND window, int id, int minimum, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD_PTR rows = 0;
        SendMessageTimeoutW(GetDlgItem(window, id), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &rows);
        if (static_cast<int>(rows) >= minimum) {
            printf("%d\n", static_cast<int>(rows));
            return 0;
        }
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return 2;
        Sleep(100);
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2)
        return 1;
    const wchar_t *verb = argv[1];
    if (wcscmp(verb, L"wait") == 0 && argc == 4)
        return waitForWindows(_wtoi(argv[2]), _wtoi(argv[3]));
    if (argc < 3)
        return 1;
    HWND window = handleArgument(argv[2]);
    if (!IsWindow(window))
        return 1;
    if (wcscmp(verb, L"command") == 0 && argc == 4)
        return PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(_wtoi(argv[3])), 0) ? 0 : 1;
    if (wcscmp(verb, L"place") == 0 && argc == 7)
        return SetWindowPos(window, nullptr, _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]),
                            SWP_NOZORDER | SWP_NOACTIVATE)
                   ? 0
                   : 1;
    if (wcscmp(verb, L"close") == 0 && argc == 3)
        return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (wcscmp(verb, L"text") == 0 && argc == 4)
        return printText(window, _wtoi(argv[3]));
    if (wcscmp(verb, L"rows") == 0 && argc == 6)
        return waitForRows(window, _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]));
    return 1;
}

// drive_main.cpp: pw_drive, a console tool that finds running Parcelwight windows and drives them with messages.
//   pw_drive wait COUNT TIMEOUT_MS        waits for COUNT main windows, prints their handles one a line
//   pw_drive command HWND ID              posts WM_COMMAND ID (a menu command)
//   pw_drive place HWND X Y WIDTH HEIGHT  moves and sizes the window
//   pw_drive close HWND                   posts WM_CLOSE
//   pw_drive text HWND CONTROL            prints a child control's text (UTF-8)
//   pw_drive rows HWND CONTROL MIN TIMEOUT_MS  waits until a list view has MIN rows, prints the count
//   pw_drive listen HWND TIMEOUT_MS       opens a server's link (menu command 110), prints the port it listens on
// Exit code 0 on success, 1 on a bad call, 2 when a wait ran out.
#include "tests/tools/remote_window.h"

#include "resources/resource_ids.h"

#include <cstdio>
#include <cwchar>
#include <vector>

static HWND handleArgument(const wchar_t *text)
{
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(_wcstoui64(text, nullptr, 10)));
}

static int waitForWindows(int count, int timeoutMs)
{
    std::vector<HWND> windows;
    if (!pollUntil([&] { return static_cast<int>((windows = findMainWindows()).size()) >= count; }, timeoutMs, 50))
        return 2;
    for (HWND window : windows)
        printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return 0;
}

static int printText(HWND window, int id)
{
    if (GetDlgItem(window, id) == nullptr)
        return 1;
    printf("%s\n", utf8(controlText(window, id)).c_str());
    return 0;
}

static int waitForRows(HWND window, int id, int minimum, int timeoutMs)
{
    int rows = 0;
    if (!pollUntil([&] { return (rows = paneRows(GetDlgItem(window, id))) >= minimum; }, timeoutMs, 50))
        return 2;
    printf("%d\n", rows);
    return 0;
}

// The server's settings say port 0: the system chooses the port, read back from the new listener.
static int openServer(HWND window, int timeoutMs)
{
    int port = openServerLink(window, IDM_OPEN_LINK, IDM_CLOSE_LINK, timeoutMs);
    if (port == 0)
        return 2;
    printf("%d\n", port);
    return 0;
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
    if (wcscmp(verb, L"listen") == 0 && argc == 4)
        return openServer(window, _wtoi(argv[3]));
    return 1;
}

// main_window_harness.cpp: creating and driving the main window inside a test.
#include "tests/app/main_window_harness.h"

#include "app/main_window.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

HWND startMainWindow(const std::wstring &startFolder, bool show)
{
    resetAppState();
    SetCurrentDirectoryW(startFolder.c_str());
    if (!createMainWindow(GetModuleHandleW(nullptr)))
        return nullptr;
    // The first paint gives the status bar its six parts. Without a window manager Wine waits about 2 s for a
    // shown window to go when it is destroyed, so most tests keep it hidden and paint it by hand.
    if (show) {
        ShowWindow(AppState.mainWindow, SW_SHOWNOACTIVATE);
        UpdateWindow(AppState.mainWindow);
    } else {
        SendMessageW(AppState.mainWindow, WM_PAINT, 0, 0);
    }
    serveMessages();
    return AppState.mainWindow;
}

void stopMainWindow(HWND window)
{
    if (window == nullptr || !IsWindow(window))
        return;
    DestroyWindow(window);
    serveMessages();
}

void leaveAndRemoveFolder(const std::wstring &folder)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
    removeTree(folder);
}

std::wstring statusPart(int part)
{
    wchar_t text[256] = {};
    LRESULT info = SendMessageW(AppState.statusBar, SB_GETTEXTLENGTHW, part, 0);
    if (LOWORD(info) >= COUNTOF(text))
        return L"<too long>";
    SendMessageW(AppState.statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
    return text;
}

int statusPartCount()
{
    return static_cast<int>(SendMessageW(AppState.statusBar, SB_GETPARTS, 0, 0));
}

void doubleClick(HWND window, int paneId)
{
    NMITEMACTIVATE notice = {};
    notice.hdr.hwndFrom = GetDlgItem(window, paneId);
    notice.hdr.idFrom = paneId;
    notice.hdr.code = NM_DBLCLK;
    notice.iItem = -1;
    SendMessageW(window, WM_NOTIFY, paneId, reinterpret_cast<LPARAM>(&notice));
}

std::string receivePumping(SOCKET s, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        serveMessages();
        char buffer[2048];
        int count = receiveWithin(s, buffer, sizeof(buffer), 10);
        if (count > 0)
            return std::string(buffer, count);
        if (count == 0 || static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return std::string();
    }
}

bool closedPumping(SOCKET s, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        serveMessages();
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {0, 10000};
        if (select(0, &readable, nullptr, nullptr, &wait) == 1) {
            char buffer[2048];
            int count = recv(s, buffer, sizeof(buffer), 0);
            // A reset counts as closed as well; data before the close does not.
            return count <= 0;
        }
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return false;
    }
}

std::wstring iniValue(const std::wstring &file, const wchar_t *key)
{
    wchar_t text[300] = {};
    GetPrivateProfileStringW(L"Parcelwight_setting", key, L"<missing>", text, COUNTOF(text), file.c_str());
    return text;
}

// dialog_preview.cpp: shows each dialog for a while so that a screenshot can be taken of it; not run by ctest.
// PW_PREVIEW_MS sets how long (default 8000); --gtest_filter picks the dialogs.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "dialogs/copy_dialog.h"
#include "dialogs/connection_dialog.h"
#include "dialogs/environment_dialog.h"
#include "dialogs/folder_dialog.h"
#include "dialogs/monitor_window.h"
#include "dialogs/served_folder_dialog.h"
#include "core/send_ops.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

static int previewMs()
{
    const char *setting = getenv("PW_PREVIEW_MS");
    return setting != nullptr ? atoi(setting) : 8000;
}

// Runs a modal dialog and shows it at (x, y) for the preview time, then closes it.
static void previewModal(const wchar_t *title, int x, int y, const std::function<void()> &open)
{
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, title, 5000);
            ASSERT_NE(dialog, nullptr);
            SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            Sleep(static_cast<DWORD>(previewMs()));
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        },
        open);
}

TEST(DialogPreview, CopyDialogAndAboutBox)
{
    int shownMs = previewMs();
    resetAppState();
    recordBoxes();
    HWND window = createTestMainWindow();
    wcscpy(AppState.ownFolder, L"C:\\users\\写真");
    wcscpy(AppState.peerFolder, L"D:\\受け取り");
    addPaneRow(AppState.ownPane, L"旅行2024.jpg", L"953M");
    selectRows(AppState.ownPane, {0});
    HWND about = openAboutBox(window);
    SetWindowPos(about, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, L"コピー設定画面", 5000);
            ASSERT_NE(dialog, nullptr);
            SetWindowPos(dialog, nullptr, 400, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            Sleep(static_cast<DWORD>(shownMs));
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        },
        [&] { runCopyCommand(window, false); });
    DestroyWindow(about);
    destroyTestMainWindow(window);
}

TEST(DialogPreview, ConnectionDialogAndMonitors)
{
    resetAppState();
    recordBoxes();
    HWND window = createTestMainWindow();
    AppState.ip[0] = 192;
    AppState.ip[1] = 138;
    AppState.ip[2] = 1;
    AppState.ip[3] = 31;
    AppState.port = 1050;
    AppState.monitorOn = 1;
    sendMessage("DDC:\\", 5);
    logReceived("DR000000.,2026/12/07 06:50,,0", 29);
    strcpy(AppState.dirTable[0], "DR000000.,2026/12/07 06:50,,0");
    strcpy(AppState.dirTable[1], "DR999999");
    AppState.dirCount = 2;
    HWND received = openMonitorWindow(window, MonitorView::Received);
    HWND sent = openMonitorWindow(window, MonitorView::Sent);
    HWND table = openMonitorWindow(window, MonitorView::DirTable);
    SetWindowPos(received, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(sent, nullptr, 480, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(table, nullptr, 960, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    previewModal(L"Socket Setting", 1500, 40, [&] { runConnectionDialog(window); });
    DestroyWindow(received);
    DestroyWindow(sent);
    DestroyWindow(table);
    destroyTestMainWindow(window);
}

TEST(DialogPreview, FolderAndEnvironmentDialogs)
{
    resetAppState();
    recordBoxes();
    HWND window = createTestMainWindow();
    wcscpy(AppState.ownFolder, L"C:\\users");
    previewModal(L"フィルダ作成画面", 40, 40, [&] { runNewFolderCommand(window, false); });
    previewModal(L"環境設定", 40, 300, [&] { runEnvironmentDialog(window); });
    destroyTestMainWindow(window);
}

TEST(DialogPreview, ServedFolderDialog)
{
    resetAppState();
    recordBoxes();
    HWND window = createTestMainWindow();
    wcscpy(AppState.servedFolder, L"C:\\users\\共有");
    AppState.servedReadOnly = 1;
    wcscpy(AppState.allowedPeerAddress, L"192.168.1.31");
    previewModal(L"公開設定", 40, 40, [&] { runServedFolderDialog(window); });
    destroyTestMainWindow(window);
}

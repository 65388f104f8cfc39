// dialog_preview.cpp: shows the copy dialog, waiting for Start, and the About box for a while so that a
// screenshot can be taken of them; not run by ctest. PW_PREVIEW_MS sets how long (default 8000).
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "dialogs/copy_dialog.h"
#include "dialogs/environment_dialog.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(DialogPreview, CopyDialogAndAboutBox)
{
    const char *setting = getenv("PW_PREVIEW_MS");
    int shownMs = setting != nullptr ? atoi(setting) : 8000;
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

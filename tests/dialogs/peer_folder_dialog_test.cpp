// peer_folder_dialog_test.cpp: command 132 and its dialog from the real template, the peer played by the test
// over a loopback socket.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "dialogs/peer_folder_dialog.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

const wchar_t PeerFolderTitle[] = L"相手側フォルダ入力";

#define expectNothingSent(...) expectNothingSentAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define typeFolders(...) typeFoldersAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class PeerFolderDialog : public CopyLinkFixture {
protected:
    // Opens the command, types each folder in turn and presses OK; all but the last must be refused, the last
    // is accepted when lastAccepted (otherwise the dialog is cancelled).
    void typeFoldersAt(Caller at, const std::vector<std::wstring> &folders, bool lastAccepted)
    {
        TRACE_CALLER(at);
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, PeerFolderTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                for (size_t i = 0; i < folders.size(); ++i) {
                    setControlText(dialog, IDC_PEER_FOLDER_EDIT, folders[i]);
                    clickButton(dialog, IDC_DIALOG_OK);
                    if (i + 1 == folders.size() && lastAccepted)
                        EXPECT_TRUE(waitGone(dialog, 3000));
                    else
                        EXPECT_TRUE(IsWindowVisible(dialog)) << narrow(folders[i]);
                }
                if (!lastAccepted)
                    clickButton(dialog, IDC_DIALOG_CANCEL);
            },
            [&] { runPeerFolderCommand(window); });
    }
    // Nothing went to the peer and the peer folder is as the fixture set it.
    void expectNothingSentAt(Caller at)
    {
        TRACE_CALLER(at);
        EXPECT_TRUE(silentFor(theirs, 300));
        EXPECT_STREQ(AppState.peerFolder, L"C:\\peer");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    }
};

TEST_F(PeerFolderDialog, OpensWithThePeerFolderAndEnterListsTheTypedFolder)
{
    addPaneRow(AppState.peerPane, L"old");
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, PeerFolderTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(controlText(dialog, IDC_PEER_FOLDER_EDIT), L"C:\\peer");
            setControlText(dialog, IDC_PEER_FOLDER_EDIT, L"D:/shared\\");
            PostMessageW(GetDlgItem(dialog, IDC_PEER_FOLDER_EDIT), WM_KEYDOWN, VK_RETURN, 0);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { runPeerFolderCommand(window); });
    // Kept as a double-click into the folder would keep it: "\" only, none at the end.
    EXPECT_EQ(receiveMessage(theirs), "DDD:\\shared");
    EXPECT_STREQ(AppState.peerFolder, L"D:\\shared");
    // The pane shows the folder that listed until the typed one lists.
    EXPECT_EQ(paneNames(AppState.peerPane), std::vector<std::wstring>{L"old"});
    EXPECT_EQ(AppState.transferState, TransferState::CallDIR);

    AppState.transferState = TransferState::Waiting;
    typeFolders({L"e:\\"}, true);
    EXPECT_EQ(receiveMessage(theirs), "DDe:\\");
    EXPECT_TRUE(boxTexts().empty());
}

TEST_F(PeerFolderDialog, RefusesWhatCannotBeSentAndTakesTheLongestThatFits)
{
    const std::vector<std::wstring> refused = {
        L"shared", L"C:", L"C:shared", L"\\\\host\\share", L"C:\\a?b", L"C:\\" + std::wstring(257, L'x'),
        L"C:\\\x0101",  // no such character in the ANSI code page
    };
    typeFolders(refused, false);
    expectNothingSent();
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), refused.size());
    for (const RecordedBox &box : boxes) {
        EXPECT_EQ(box.caption, PeerFolderTitle);
        EXPECT_NE(box.owner, window);  // the dialog owns its boxes
    }

    std::wstring longest = L"C:\\" + std::wstring(256, L'y');
    typeFolders({longest}, true);
    EXPECT_EQ(receiveMessage(theirs), "DD" + narrow(longest));
    EXPECT_EQ(std::wstring(AppState.peerFolder), longest);
}

TEST_F(PeerFolderDialog, CancelEscapeAndCloseChangeNothing)
{
    const UINT ways[] = {IDC_DIALOG_CANCEL, IDCANCEL, 0};
    for (UINT way : ways) {
        SCOPED_TRACE(way);
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, PeerFolderTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                setControlText(dialog, IDC_PEER_FOLDER_EDIT, L"D:\\never");
                if (way == 0)
                    SendMessageW(dialog, WM_CLOSE, 0, 0);
                else
                    SendMessageW(dialog, WM_COMMAND, way, 0);
                EXPECT_TRUE(waitGone(dialog, 3000));
            },
            [&] { runPeerFolderCommand(window); });
        expectNothingSent();
    }
    EXPECT_TRUE(boxTexts().empty());
}

TEST_F(PeerFolderDialog, RefusedWhileTheLinkIsClosedOrAnExchangeRuns)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        AppState.linkOpen = round == 0 ? 0 : 1;
        AppState.transferState = round == 0 ? TransferState::Waiting : TransferState::RequestDIR;
        driveWhile([&](DWORD ui) { EXPECT_EQ(waitForDialog(ui, PeerFolderTitle, 300), nullptr); },
                   [&] { runPeerFolderCommand(window); });
    }
    AppState.transferState = TransferState::Waiting;
    EXPECT_TRUE(boxTexts().empty());

    // The peer's own request came while the dialog was open.
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, PeerFolderTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            setControlText(dialog, IDC_PEER_FOLDER_EDIT, L"D:\\late");
            AppState.transferState = TransferState::RequestDIR;
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { runPeerFolderCommand(window); });
    EXPECT_TRUE(silentFor(theirs, 300));
    EXPECT_STREQ(AppState.peerFolder, L"C:\\peer");
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(recordedBoxes()[0].text, L"他の動作中は出来ません");
}

}  // namespace

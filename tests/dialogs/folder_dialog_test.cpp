// folder_dialog_test.cpp: the folder-name dialog's checks and commands 107 and 108, the peer played by the test
// over a loopback socket.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "dialogs/folder_dialog.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

const wchar_t FolderTitle[] = L"フィルダ作成画面";

#define connectFakePeer(...) connectFakePeerAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define typeNames(...) typeNamesAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class FolderDialog : public FolderWindowFixture {
protected:
    void SetUp() override
    {
        FolderWindowFixture::SetUp();
        wcscpy(AppState.ownFolder, folder.c_str());
        wcscpy(AppState.peerFolder, L"C:\\peer");
    }
    void TearDown() override
    {
        if (ours != INVALID_SOCKET)
            closesocket(ours);
        if (theirs != INVALID_SOCKET)
            closesocket(theirs);
        FolderWindowFixture::TearDown();
    }
    void connectFakePeerAt(Caller at)
    {
        TRACE_CALLER(at);
        ASSERT_TRUE(loopbackPair(&ours, &theirs));
        AppState.mode = ConnectionMode::Client;
        AppState.mainSocket = ours;
        AppState.linkOpen = 1;
    }
    // Types each name in turn and presses 作成; the dialog must stay open for all but the last.
    void typeNamesAt(Caller at, bool onPeer, const std::vector<std::wstring> &names, bool lastAccepted)
    {
        TRACE_CALLER(at);
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, FolderTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                for (size_t i = 0; i < names.size(); ++i) {
                    setControlText(dialog, IDC_EDIT1, names[i]);
                    clickButton(dialog, IDC_START);
                    bool last = i + 1 == names.size();
                    if (last && lastAccepted)
                        EXPECT_TRUE(waitGone(dialog, 3000));
                    else
                        EXPECT_TRUE(IsWindowVisible(dialog)) << narrow(names[i]);
                }
            },
            [&] { runNewFolderCommand(window, onPeer); });
    }
    SOCKET ours = INVALID_SOCKET;
    SOCKET theirs = INVALID_SOCKET;
};

TEST_F(FolderDialog, RefusesEmptyDottedAndBackslashedNamesAndCreatesTheAcceptedOne)
{
    typeNames(false, {L"", L".", L"a.b", L"a\\b", L"\\", L"made"}, true);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"文字を入力して下さい"));
    for (const RecordedBox &box : boxes) {
        EXPECT_EQ(narrow(box.caption), "Folder");
        EXPECT_NE(box.owner, nullptr);
        EXPECT_NE(box.owner, window);  // the dialog owns its boxes
    }
    for (size_t i = 1; i < boxes.size(); ++i)
        EXPECT_EQ(narrow(boxes[i].text), narrow(L"入力文字にエラー！"));
    EXPECT_EQ(std::wstring(AppState.newFolderName), L"made");
    DWORD attributes = GetFileAttributesW((folder + L"\\made").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FolderDialog, LengthBoundFollowsTheOwnFolder)
{
    int bound = 248 - static_cast<int>(wcslen(AppState.ownFolder));
    ASSERT_GT(bound, 10);
    std::wstring tooLong(static_cast<size_t>(bound + 1), L'x');
    std::wstring longest(static_cast<size_t>(bound), L'y');
    typeNames(false, {tooLong, longest}, true);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"入力文字にエラー！"));
    EXPECT_EQ(std::wstring(AppState.newFolderName), longest);
    EXPECT_TRUE(fileExists(folder + L"\\" + longest));
    EXPECT_FALSE(fileExists(folder + L"\\" + tooLong));

    EXPECT_EQ(folderNameRefusal(longest.c_str(), false), nullptr);
    EXPECT_NE(folderNameRefusal(tooLong.c_str(), false), nullptr);
}

TEST_F(FolderDialog, CloseAndTitleBarCloseCreateNothing)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, FolderTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                setControlText(dialog, IDC_EDIT1, L"never");
                if (round == 0)
                    clickButton(dialog, IDC_CLOSE);
                else
                    SendMessageW(dialog, WM_CLOSE, 0, 0);
                EXPECT_TRUE(waitGone(dialog, 3000));
            },
            [&] { runNewFolderCommand(window, false); });
        EXPECT_EQ(AppState.newFolderName[0], 0);
        EXPECT_FALSE(fileExists(folder + L"\\never"));
        EXPECT_TRUE(boxTexts().empty());
    }
}

TEST_F(FolderDialog, EnterCreatesTheFolderAndEnterOnCloseCloses)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const wchar_t *name = round == 0 ? L"entered" : L"closed";
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, FolderTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                ASSERT_NE(waitForFocusIn(ui, dialog, 3000), nullptr);
                setControlText(dialog, IDC_EDIT1, name);
                HWND target = GetDlgItem(dialog, IDC_EDIT1);
                if (round == 1) {
                    target = GetDlgItem(dialog, IDC_CLOSE);
                    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
                    ASSERT_EQ(waitForFocusIn(ui, dialog, 3000), target);
                }
                PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0);
                EXPECT_TRUE(waitGone(dialog, 3000));
            },
            [&] { runNewFolderCommand(window, false); });
        EXPECT_EQ(fileExists(folder + L"\\" + name), round == 0);
    }
    EXPECT_TRUE(boxTexts().empty());
}

TEST_F(FolderDialog, OwnFolderAtADriveRootGetsTheFolderDirectlyUnderTheRoot)
{
    wcscpy(AppState.ownFolder, L"C:\\");
    std::wstring name = L"pwfolder" + std::to_wstring(GetCurrentProcessId());
    typeNames(false, {name}, true);
    DWORD attributes = GetFileAttributesW((L"C:\\" + name).c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryW((L"C:\\" + name).c_str());
}

TEST_F(FolderDialog, PeerFolderRequestGoesOutInFolderToState)
{
    connectFakePeer();
    typeNames(true, {L"newdir"}, true);
    EXPECT_EQ(receiveMessage(theirs), "CDC:\\peer\\newdir");
    EXPECT_EQ(AppState.transferState, TransferState::FolderTO);
    EXPECT_EQ(windowText(AppState.peerFolderLabel), L"C:\\peer");
    EXPECT_TRUE(boxTexts().empty());

    // Under a drive root the name follows its separator, as in every other joined path.
    AppState.transferState = TransferState::Waiting;
    wcscpy(AppState.peerFolder, L"C:\\");
    typeNames(true, {L"x"}, true);
    EXPECT_EQ(receiveMessage(theirs), "CDC:\\x");
}

TEST_F(FolderDialog, PeerFolderRequestIsRefusedWhileAnotherExchangeRuns)
{
    connectFakePeer();
    AppState.transferState = TransferState::RequestDIR;
    typeNames(true, {L"busy"}, true);
    EXPECT_TRUE(silentFor(theirs, 300));
    EXPECT_EQ(AppState.transferState, TransferState::RequestDIR);
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(narrow(recordedBoxes()[0].text), narrow(L"他の動作中は出来ません"));
}

TEST_F(FolderDialog, APeerPathThatCannotFitIsRefusedInTheDialogAndNothingIsSent)
{
    connectFakePeer();
    // The own folder is short, so its bound lets a long name through; the peer folder leaves no room for it.
    std::wstring peer = L"C:\\" + std::wstring(240, L'p');
    wcscpy(AppState.peerFolder, peer.c_str());
    wcscpy(AppState.ownFolder, L"C:\\");
    std::wstring name(30, L'n');
    char request[276];
    memset(request, 0x5A, sizeof(request));
    EXPECT_EQ(buildFolderRequest(name.c_str(), request, 276), -1);
    EXPECT_EQ(request[0], 0);
    EXPECT_NE(folderNameRefusal(name.c_str(), true), nullptr);
    EXPECT_EQ(folderNameRefusal(name.c_str(), false), nullptr);
    // In UTF-8 on the fast link the budget is characters: 80 Japanese ones (240 bytes) under a folder of 40.
    wcscpy(AppState.peerFolder, (L"C:\\" + japaneseName(36)).c_str());
    AppState.clientFramer.fast = AppState.clientFramer.utf8 = 1;
    char wide[FastPathBytes + 2];
    EXPECT_EQ(2 + 3 + 36 * 3 + 1 + 80 * 3, buildFolderRequest(japaneseName(80).c_str(), wide, sizeof(wide)));
    AppState.clientFramer.fast = AppState.clientFramer.utf8 = 0;
    wcscpy(AppState.peerFolder, peer.c_str());

    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, FolderTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            setControlText(dialog, IDC_EDIT1, name);
            clickButton(dialog, IDC_START);
            EXPECT_TRUE(IsWindowVisible(dialog));
            clickButton(dialog, IDC_CLOSE);
        },
        [&] { runNewFolderCommand(window, true); });
    EXPECT_TRUE(silentFor(theirs, 300));
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(narrow(recordedBoxes()[0].text), narrow(L"入力文字にエラー！"));
}

}  // namespace

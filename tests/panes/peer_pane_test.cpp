// peer_pane_test.cpp: the peer's DR records in the right list view, and asking the peer for another folder.
#include "panes/peer_pane.h"

#include "core/app_state.h"
#include "panes/pane_rows.h"
#include "tests/support/test_window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

#define openLink(...) openLinkAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class PeerPaneTest : public TestWindowFixture {
protected:
    void TearDown() override
    {
        TestWindowFixture::TearDown();
        if (theirs != INVALID_SOCKET)
            closesocket(theirs);
        if (AppState.mainSocket != 0 && AppState.mainSocket != INVALID_SOCKET)
            closesocket(AppState.mainSocket);
    }
    bool add(const std::string &record, int index)
    {
        AppState.lastDirIndex = index;
        return addPeerRecord(record.data(), static_cast<int>(record.size()));
    }
    // A Client link whose far end the test reads.
    void openLinkAt(Caller at)
    {
        TRACE_CALLER(at);
        SOCKET ours = INVALID_SOCKET;
        ASSERT_TRUE(loopbackPair(&ours, &theirs));
        AppState.mode = ConnectionMode::Client;
        AppState.mainSocket = ours;
        AppState.linkOpen = 1;
    }
    // Rows as a listing of peerFolder would give them: "." and ".." up rows, names with a dot files, the
    // rest folders.
    void showPeerFolder(const wchar_t *peerFolder, std::initializer_list<const wchar_t *> names)
    {
        wcscpy(AppState.peerFolder, peerFolder);
        AppState.peerPaneClearPending = 0;
        clearPeerPane();
        for (const wchar_t *name : names) {
            int type = name[0] == L'.' ? 0 : wcschr(name, L'.') != nullptr || wcscmp(name, L"README") == 0 ? 8 : 1;
            insertPaneRow(AppState.peerPane, -1, name, type, L"", L"");
        }
    }
    void doubleClick(const std::wstring &name)
    {
        selectNamedRows(AppState.peerPane, {name});
        if (!HasFatalFailure())
            navigatePeerPane(window);
    }

    SOCKET theirs = INVALID_SOCKET;
};

TEST_F(PeerPaneTest, FolderFileAndDriveRecordsBecomeRows)
{
    EXPECT_FALSE(add("d:\\,,,3", 0));
    EXPECT_FALSE(add("work,2014/03/07 09:05,,1", 1));
    EXPECT_FALSE(add("data.bin,2024/01/02 03:04,10K,8", 2));
    expectRows(AppState.peerPane, {{L"d:\\", L"", L"", 3},
                                   {L"work", L"2014/03/07 09:05", L"", 1},
                                   {L"data.bin", L"2024/01/02 03:04", L"10K", 8}});

    clearPeerPane();
    EXPECT_TRUE(paneRows(AppState.peerPane).empty());
}

TEST_F(PeerPaneTest, FieldsSplitAtTheLastThreeCommas)
{
    // A comma belongs to the name.
    EXPECT_FALSE(add("a,b.txt,2014/03/07 09:05,123K,8", 0));
    // A type that is not a number reads as 0.
    EXPECT_FALSE(add("odd,,,x7", 1));
    // Only length bytes count: what follows is not part of the type.
    std::string padded = "cut,,,5" "99";
    AppState.lastDirIndex = 2;
    EXPECT_FALSE(addPeerRecord(padded.data(), 7));
    expectRows(AppState.peerPane,
               {{L"a,b.txt", L"2014/03/07 09:05", L"123K", 8}, {L"odd", L"", L"", 0}, {L"cut", L"", L"", 5}});
}

TEST_F(PeerPaneTest, RecordsWithoutThreeCommasOrWithOversizedFieldsAreRefused)
{
    EXPECT_TRUE(add("nocommas", 0));
    EXPECT_TRUE(add("a,b,c", 0));
    EXPECT_TRUE(add("", 0));
    EXPECT_TRUE(add(std::string(260, 'n') + ",,,8", 0));
    EXPECT_TRUE(add("n," + std::string(64, 'd') + ",,8", 0));
    EXPECT_TRUE(add("n,," + std::string(64, 's') + ",8", 0));
    EXPECT_TRUE(add("n,,,8" + std::string(63, ' '), 0));
    EXPECT_TRUE(paneRows(AppState.peerPane).empty());

    // The largest fields that fit are taken whole.
    EXPECT_FALSE(add(std::string(259, 'n') + "," + std::string(63, 'd') + "," + std::string(63, 's') + ",8" +
                         std::string(62, ' '),
                     0));
    expectRows(AppState.peerPane, {{std::wstring(259, L'n'), std::wstring(63, L'd'), std::wstring(63, L's'), 8}});
}

TEST_F(PeerPaneTest, RowNumberBeyondTheEndAppendsWithAllColumns)
{
    EXPECT_FALSE(add("first,2024/01/01 00:00,1,8", 0));
    EXPECT_FALSE(add("far,2024/01/01 00:01,2,8", 40));
    // Earlier rows left in the pane: a new listing goes in front of them.
    EXPECT_FALSE(add("new,2024/01/01 00:02,3,8", 0));
    expectRows(AppState.peerPane, {{L"new", L"2024/01/01 00:02", L"3", 8},
                                   {L"first", L"2024/01/01 00:00", L"1", 8},
                                   {L"far", L"2024/01/01 00:01", L"2", 8}});
}

TEST_F(PeerPaneTest, ShiftJisNamesAreShownInWideText)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932";
    // "日本語" and "報告.txt" in code page 932.
    EXPECT_FALSE(add("\x93\xfa\x96\x7b\x8c\xea,2024/01/01 00:00,,1", 0));
    EXPECT_FALSE(add("\x95\xf1\x8d\x90.txt,2024/01/01 00:00,12,8", 1));
    expectRows(AppState.peerPane, {{L"日本語", L"2024/01/01 00:00", L"", 1}, {L"報告.txt", L"2024/01/01 00:00", L"12", 8}});
}

TEST_F(PeerPaneTest, UpRequestsTheParentFolder)
{
    openLink();
    showPeerFolder(L"C:\\work", {L".", L"..", L"src"});
    doubleClick(L"..");
    EXPECT_STREQ(AppState.peerFolder, L"C:\\");
    // The pane and its label stay on the folder that listed until the first row of the new one comes.
    EXPECT_EQ(paneRows(AppState.peerPane).size(), 3u);
    EXPECT_EQ(controlText(window, 306), L"C:\\work");
    EXPECT_EQ(AppState.transferState, TransferState::CallDIR);
    EXPECT_EQ(receiveMessage(theirs), std::string("DDC:\\"));
    // The end of the listing before this one, told only now, is not this one's end.
    peerListingEnded(window, TransferOutcome::Refused, AppState.peerPaneSerial - 1);
    EXPECT_STREQ(AppState.peerFolder, L"C:\\");
    EXPECT_EQ(controlText(window, 306), L"C:\\work");
    add("work,2024/01/02 03:04,,1", 0);
    serveMessages();
    peerListingEnded(window, TransferOutcome::Done, AppState.peerPaneSerial);
    expectRows(AppState.peerPane, {{L"work", L"2024/01/02 03:04", L"", 1}});
    EXPECT_EQ(controlText(window, 306), L"C:\\");
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(PeerPaneTest, ARefusedFolderLeavesThePaneAndSaysWhyInFull)
{
    openLink();
    std::wstring shown = L"C:\\" + std::wstring(200, L's');
    showPeerFolder(shown.c_str(), {L".", L"..", L"secret"});
    for (TransferOutcome outcome : {TransferOutcome::Refused, TransferOutcome::Done}) {
        AppState.transferState = TransferState::Waiting;
        doubleClick(L"secret");
        EXPECT_EQ(receiveMessage(theirs), "DD" + narrow(shown) + "\\secret");
        // Refused, or listed with no row at all.
        peerListingEnded(window, outcome, AppState.peerPaneSerial);
        EXPECT_EQ(std::wstring(AppState.peerFolder), shown);
        EXPECT_EQ(paneNames(AppState.peerPane), (std::vector<std::wstring>{L".", L"..", L"secret"}));
        std::wstring label = controlText(window, 306);
        EXPECT_EQ(label.find(shown + L"　（" + shown + L"\\secret を開けません。"), 0u) << narrow(label);
        // The label runs past the window; its tooltip holds all of it.
        ASSERT_NE(peerLabelTip(), nullptr);
        wchar_t tip[1024] = {};
        TOOLINFOW tool = {};
        tool.cbSize = sizeof(tool);
        tool.hwnd = window;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, 306));
        tool.lpszText = tip;
        SendMessageW(peerLabelTip(), TTM_GETTEXTW, COUNTOF(tip), reinterpret_cast<LPARAM>(&tool));
        EXPECT_EQ(std::wstring(tip), label);
    }
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(PeerPaneTest, IntoFolderAndDriveRowRequestTheNewFolder)
{
    openLink();
    showPeerFolder(L"C:\\", {L"d:\\", L"work"});
    doubleClick(L"work");
    EXPECT_STREQ(AppState.peerFolder, L"C:\\work");
    EXPECT_EQ(receiveMessage(theirs), std::string("DDC:\\work"));

    AppState.transferState = TransferState::Waiting;
    showPeerFolder(AppState.peerFolder, {L"d:\\"});
    doubleClick(L"d:\\");
    EXPECT_STREQ(AppState.peerFolder, L"d:\\");
    EXPECT_EQ(controlText(window, 306), L"C:\\work");
    EXPECT_EQ(receiveMessage(theirs), std::string("DDd:\\"));
}

TEST_F(PeerPaneTest, FolderRowOpensWhateverItsName)
{
    openLink();
    showPeerFolder(L"C:\\work", {L".."});
    insertPaneRow(AppState.peerPane, -1, L"backup.old", 1, L"", L"");
    doubleClick(L"backup.old");
    EXPECT_STREQ(AppState.peerFolder, L"C:\\work\\backup.old");
    EXPECT_EQ(receiveMessage(theirs), std::string("DDC:\\work\\backup.old"));
    EXPECT_TRUE(recordedBoxes().empty());
}

// A row of the file code is entered on trial: a folder with extra attributes (hidden, read-only) lists its
// rows and stays open; a file lists nothing, and the pane goes back with the "not a folder" message.
TEST_F(PeerPaneTest, FileCodeRowIsTriedAndAFileWarnsAndGoesBack)
{
    openLink();
    showPeerFolder(L"C:\\work", {L"Hidden.dir", L"README"});
    doubleClick(L"Hidden.dir");
    EXPECT_EQ(receiveMessage(theirs), std::string("DDC:\\work\\Hidden.dir"));
    add(".,2024/01/02 03:04,,0", 0);
    peerListingEnded(window, TransferOutcome::Done, AppState.peerPaneSerial);
    EXPECT_STREQ(AppState.peerFolder, L"C:\\work\\Hidden.dir");
    EXPECT_TRUE(recordedBoxes().empty());

    AppState.transferState = TransferState::Waiting;
    showPeerFolder(L"C:\\work", {L"Hidden.dir", L"README"});
    doubleClick(L"README");
    EXPECT_EQ(receiveMessage(theirs), std::string("DDC:\\work\\README"));
    AppState.transferState = TransferState::Waiting;  // the exchange has ended when its end is told
    peerListingEnded(window, TransferOutcome::Done, AppState.peerPaneSerial);
    expectOnlyBox(window, L"ファイルでフォルダではありません！", L"フォルダ移行", MB_ICONWARNING | MB_OK);
    ASSERT_FALSE(HasFatalFailure());
    // The pane never left the folder: nothing to ask again.
    EXPECT_STREQ(AppState.peerFolder, L"C:\\work");
    EXPECT_EQ(paneRows(AppState.peerPane).size(), 2u);
    EXPECT_EQ(controlText(window, 306), L"C:\\work");
    EXPECT_TRUE(silentFor(theirs, 100));
}

TEST_F(PeerPaneTest, IgnoredDoubleClicksSendNothing)
{
    openLink();

    // Empty pane.
    showPeerFolder(L"C:\\work", {});
    navigatePeerPane(window);
    // Rows but none selected.
    showPeerFolder(L"C:\\work", {L"src"});
    selectRows(AppState.peerPane, {});
    navigatePeerPane(window);
    EXPECT_STREQ(AppState.peerFolder, L"C:\\work");

    // A join past 259 characters.
    std::wstring deep = L"C:\\" + std::wstring(250, L'd');
    showPeerFolder(deep.c_str(), {L"longername"});
    SetDlgItemTextW(window, 306, L"untouched");
    doubleClick(L"longername");
    EXPECT_EQ(std::wstring(AppState.peerFolder), deep);
    EXPECT_EQ(paneRows(AppState.peerPane).size(), 1u);

    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(controlText(window, 306), L"untouched");
    EXPECT_TRUE(silentFor(theirs, 100));
}

// Records from another thread: stored and answered without waiting for the window, told in one post.
static DWORD WINAPI addRecords(void *count)
{
    for (int i = 0; i < *static_cast<int *>(count); i++) {
        char record[64];
        int bytes = snprintf(record, sizeof(record), "f%04d,2024/01/02 03:04,%d,8", i, i);
        AppState.lastDirIndex = i;
        if (addPeerRecord(record, bytes))
            return 1;
    }
    return 0;
}

TEST_F(PeerPaneTest, AFullListingFromTheNetworkThreadFillsThePaneAndSaysItWasCut)
{
    wcscpy(AppState.peerFolder, L"C:\\many");
    int count = DirRows - 1;
    HANDLE thread = CreateThread(nullptr, 0, addRecords, &count, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // This thread serves no messages meanwhile: a record that waited for the window would never return.
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(paneRowCount(AppState.peerPane), 0);

    int posts = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_PANE_ROWS, WM_PANE_ROWS, PM_REMOVE)) {
        posts++;
        DispatchMessageW(&message);
    }
    EXPECT_EQ(posts, 1);
    ASSERT_EQ(paneRowCount(AppState.peerPane), count);
    EXPECT_EQ(paneCell(AppState.peerPane, 0, 0), L"f0000");
    EXPECT_EQ(paneCell(AppState.peerPane, count - 1, 0), L"f1022");
    EXPECT_EQ(paneCell(AppState.peerPane, count - 1, 2), L"1022");
    EXPECT_EQ(controlText(window, 306), L"C:\\many　（1023件で一覧が打ち切られています）");
}

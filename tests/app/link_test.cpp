// link_test.cpp: the main window with an open link, the test acting as the peer over loopback.
#include "resources/resource_ids.h"
#include "tests/app/main_window_harness.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

#define expectStatus(...) expectStatusAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// The network thread's status updates wait for this thread: serve them until the part reads text.
void expectStatusAt(Caller at, int part, const std::wstring &text)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(testing::Message() << "status part " << part);
    pumpUntil([part, &text] { return statusPart(part) == text; }, 4000);
    EXPECT_EQ(statusPart(part), text);
}

#define exchange(...) exchangeAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define openAsClient(...) openAsClientAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define openAsServerWithClient(...) openAsServerWithClientAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recordBoxes(IDOK);
        startWinsock();
        folder = makeTempFolder(L"pwlink");
        ASSERT_FALSE(folder.empty());
        window = startMainWindow(folder);
        ASSERT_NE(window, nullptr);
        // These cases are about the classic link itself: everyone is served, as with an existing INI.
        AppState.admission = AdmissionMode::Everyone;
    }
    void TearDown() override
    {
        if (peer != INVALID_SOCKET)
            closesocket(peer);
        if (listener != INVALID_SOCKET)
            closesocket(listener);
        if (IsWindow(window)) {
            // Take the link down the way the program does, then leave.
            if (AppState.linkOpen) {
                SendMessageW(window, WM_COMMAND, IDM_CLOSE_LINK, 0);
                pumpUntil([] { return AppState.linkOpen == 0; }, 5000);
            }
            stopMainWindow(window);
        }
        leaveAndRemoveFolder(folder);
    }

    // The link menu's open in client mode towards 127.0.0.1:port.
    void openClientTo(int port)
    {
        AppState.mode = ConnectionMode::Client;
        const int32_t loopback[4] = {127, 0, 0, 1};
        memcpy(AppState.ip, loopback, sizeof(loopback));
        AppState.port = port;
        SendMessageW(window, WM_COMMAND, IDM_OPEN_LINK, 0);
    }

    // Client mode against our listener, a classic server: open, accept, and take the first "DD". The client's
    // question about the fast link comes first; the server lists it as a missing folder, and then, as its first
    // listing served, lists its client's folder.
    void openAsClientAt(Caller at)
    {
        TRACE_CALLER(at);
        int port = 0;
        listener = listenLoopback(&port);
        ASSERT_NE(listener, INVALID_SOCKET);
        openClientTo(port);
        ASSERT_EQ(AppState.linkOpen, 1);
        peer = accept(listener, nullptr, nullptr);
        ASSERT_NE(peer, INVALID_SOCKET);
        ASSERT_EQ(receivePumping(peer), "DD|Parcelwight|fast-link|");
        std::string request = "DR999999DD" + narrow(folder);
        for (std::string row; row.compare(0, 8, "DR999999") != 0; request = "ACK") {
            ASSERT_EQ(send(peer, request.data(), static_cast<int>(request.size()), 0), static_cast<int>(request.size()));
            row = receivePumping(peer);
            ASSERT_EQ(0u, row.rfind("DR", 0)) << row;
        }
        EXPECT_EQ(receivePumping(peer), "DDC:\\");
    }

    // Sends a record and expects the answer (empty: none).
    void exchangeAt(Caller at, const std::string &message, const std::string &answer)
    {
        TRACE_CALLER(at);
        SCOPED_TRACE(message);
        ASSERT_EQ(send(peer, message.data(), static_cast<int>(message.size()), 0), static_cast<int>(message.size()));
        if (answer.empty())
            EXPECT_TRUE(pumpUntil([] { return AppState.transferState == TransferState::Waiting; }, 4000));
        else
            EXPECT_EQ(receivePumping(peer), answer);
    }

    // Server mode: listen, connect as a client.
    void openAsServerWithClientAt(Caller at)
    {
        TRACE_CALLER(at);
        AppState.mode = ConnectionMode::Server;
        AppState.port = 0;
        SendMessageW(window, WM_COMMAND, IDM_OPEN_LINK, 0);
        ASSERT_EQ(AppState.linkOpen, 1);
        AppState.port = boundPort(AppState.mainSocket);
        EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:OPEN");
        EXPECT_EQ(statusPart(1), L"Server");
        EXPECT_EQ(statusPart(2), L"Openting");
        peer = connectTo(AppState.port);
        ASSERT_NE(peer, INVALID_SOCKET);
        ASSERT_TRUE(pumpUntil([] { return AppState.peerPresent == 1; }, 5000));
        EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:Conection:[127,0,0,1]");
        expectStatus(2, L"Connecting:0");
    }

    std::wstring folder;
    HWND window = nullptr;
    SOCKET listener = INVALID_SOCKET;
    SOCKET peer = INVALID_SOCKET;
};

TEST_F(LinkTest, ClientFillsPeerPaneAndEveryNavigationAsksAgain)
{
    openAsClient();
    EXPECT_EQ(statusPart(1), L"Client");
    expectStatus(2, L"Connecting:" + std::to_wstring(AppState.clientSocketNumber));
    expectStatus(3, L"CallDIR");
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"OPEN<127,0,0,1>:" + std::wstring(AppState.peerHostName));

    exchange("DR000000..,2024/03/05 14:07,,0", "ACK");
    exchange("DR000001work,2024/03/05 14:07,,1", "ACK");
    exchange("DR000002notes.txt,2024/03/05 14:08,10K,8", "ACK");
    exchange("DR999999", "");
    expectStatus(3, L"Waiting");
    std::vector<std::wstring> expected = {L"..", L"work", L"notes.txt"};
    EXPECT_TRUE(pumpUntil([&] { return paneNames(AppState.peerPane) == expected; }, 2000));
    EXPECT_EQ(paneNames(AppState.peerPane), expected);

    // Into a folder: the status follows and the peer is asked; the pane and its label stay on the folder that
    // listed until the new folder's first row comes.
    selectRows(AppState.peerPane, {1});
    doubleClick(window, IDC_PEER_PANE);
    EXPECT_EQ(paneNames(AppState.peerPane), expected);
    EXPECT_EQ(controlText(window, IDC_PEER_FOLDER_LABEL), L"C:\\");
    EXPECT_EQ(statusPart(3), L"CallDIR");
    EXPECT_EQ(receivePumping(peer), "DDC:\\work");
    exchange("DR000000..,2024/03/05 14:07,,0", "ACK");
    exchange("DR999999", "");
    EXPECT_TRUE(pumpUntil([&] { return controlText(window, IDC_PEER_FOLDER_LABEL) == L"C:\\work"; }, 2000));
    EXPECT_EQ(paneNames(AppState.peerPane), std::vector<std::wstring>{L".."});

    // Up again.
    selectRows(AppState.peerPane, {0});
    doubleClick(window, IDC_PEER_PANE);
    EXPECT_EQ(receivePumping(peer), "DDC:\\");
    exchange("DR000000work,2024/03/05 14:07,,1", "ACK");
    exchange("DR999999", "");

    // The two peer-side menu commands.
    wcscpy(AppState.peerFolder, L"C:\\work");
    SendMessageW(window, WM_COMMAND, IDM_PEER_RELIST, 0);
    EXPECT_EQ(receivePumping(peer), "DDC:\\work");
    exchange("DR000000..,2024/03/05 14:07,,0", "ACK");
    exchange("DR999999", "");
    SendMessageW(window, WM_COMMAND, IDM_PEER_ROOT, 0);
    EXPECT_STREQ(AppState.peerFolder, L"C:\\");
    EXPECT_EQ(receivePumping(peer), "DDC:\\");
    // While that listing runs, a second request is refused silently.
    SendMessageW(window, WM_COMMAND, IDM_PEER_RELIST, 0);
    EXPECT_TRUE(silentFor(peer, 200));
    exchange("DR000000work,2024/03/05 14:07,,1", "ACK");
    exchange("DR999999", "");
    EXPECT_TRUE(pumpUntil([&] { return controlText(window, IDC_PEER_FOLDER_LABEL) == L"C:\\"; }, 2000));
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(LinkTest, RefusedFirstListingPointsToTheTypedFolderCommandWhichListsIt)
{
    openAsClient();
    exchange("NAK", "");
    std::wstring note = L"「ファイル→相手側：フォルダ入力」で開いて下さい";
    EXPECT_TRUE(pumpUntil([&] { return controlText(window, IDC_PEER_FOLDER_LABEL).find(note) != std::wstring::npos; },
                          4000))
        << narrow(controlText(window, IDC_PEER_FOLDER_LABEL));

    driveWhile(
        [](DWORD ui) {
            HWND dialog = waitForDialog(ui, L"相手側フォルダ入力", 5000);
            ASSERT_NE(dialog, nullptr);
            setControlText(dialog, IDC_PEER_FOLDER_EDIT, L"C:\\shared");
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { SendMessageW(window, WM_COMMAND, IDM_PEER_FOLDER, 0); });
    EXPECT_EQ(receivePumping(peer), "DDC:\\shared");
    exchange("DR000000..,2024/03/05 14:07,,0", "ACK");
    exchange("DR999999", "");
    EXPECT_TRUE(pumpUntil([&] { return controlText(window, IDC_PEER_FOLDER_LABEL) == L"C:\\shared"; }, 2000));
    EXPECT_EQ(paneNames(AppState.peerPane), std::vector<std::wstring>{L".."});
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(LinkTest, ClientCloseAsksThenSendsNothing)
{
    openAsClient();
    exchange("DR999999", "");
    recordBoxes(IDYES);
    DWORD asked = GetTickCount();
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(closedPumping(peer, 8000)) << "the link should close without a CUT";
    DWORD linkClosed = GetTickCount() - asked;
    EXPECT_GE(linkClosed, 90u);
    ASSERT_TRUE(pumpUntil([this] { return !IsWindow(window); }, 8000));
    DWORD gone = GetTickCount() - asked;
    EXPECT_GE(gone, 1000u);
    EXPECT_GE(gone, linkClosed);
    EXPECT_EQ(AppState.linkOpen, 0);
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(recordedBoxes()[0].text, L"接続中です\r\n切断して終了しますか");
    EXPECT_TRUE(fileExists(folder + L"\\Parcelwight.ini"));
}

TEST_F(LinkTest, CutFromTheServerClosesTheClientLinkButKeepsTheWindow)
{
    openAsClient();
    exchange("DR999999", "");
    exchange("CUT", "");
    EXPECT_TRUE(closedPumping(peer, 8000));
    ASSERT_TRUE(pumpUntil([] { return AppState.linkOpen == 0; }, 5000));
    const std::wstring closed = L"CLOSE<127,0,0,1>:" + std::wstring(AppState.peerHostName);
    EXPECT_TRUE(pumpUntil([&] { return controlText(window, IDC_LINK_LABEL) == closed; }, 3000))
        << narrow(controlText(window, IDC_LINK_LABEL));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(statusPart(2), L"Disconnect");
}

TEST_F(LinkTest, ServerShowsListeningThenConnectedSlot)
{
    openAsServerWithClient();
    // The client asks for the server's root: records come one per ACK up to the terminator.
    std::string request = "DDC:\\";
    send(peer, request.data(), static_cast<int>(request.size()), 0);
    int records = 0;
    for (;;) {
        std::string record = receivePumping(peer);
        ASSERT_EQ(record.substr(0, 2), "DR");
        if (record == "DR999999")
            break;
        ASSERT_LT(++records, 1024);
        send(peer, "ACK", 3, 0);
    }
    expectStatus(2, L"Connecting:1");
    // Then the server asks for the client's folder once.
    EXPECT_EQ(receivePumping(peer), "DDC:\\");
    send(peer, "DR999999", 8, 0);
    EXPECT_TRUE(pumpUntil([] { return AppState.transferState == TransferState::Waiting; }, 4000));

    // The client leaves: the server keeps listening.
    closesocket(peer);
    peer = INVALID_SOCKET;
    EXPECT_TRUE(pumpUntil([] { return AppState.peerPresent == 0; }, 5000));
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:CutOFF:[127,0,0,1]");
    expectStatus(2, L"Openting");
}

TEST_F(LinkTest, ServerCloseAsksFirstNoKeepsEverything)
{
    openAsServerWithClient();
    recordBoxes(IDNO);
    SendMessageW(window, WM_CLOSE, 0, 0);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_EQ(boxes[0].text, L"接続相手が存在します\r\n強制切断しますか");
    EXPECT_EQ(boxes[0].caption, L"切断");
    EXPECT_EQ(boxes[0].flags & 0xF, static_cast<UINT>(MB_YESNO));
    pumpFor(2500);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(AppState.linkOpen, 1);
    EXPECT_EQ(AppState.peerPresent, 1);
    EXPECT_TRUE(silentFor(peer, 50));
}

TEST_F(LinkTest, ServerCloseYesCutsThenClosesLinkThenWindow)
{
    openAsServerWithClient();
    recordBoxes(IDYES);
    DWORD asked = GetTickCount();
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(receivePumping(peer), "CUT");
    ASSERT_TRUE(pumpUntil([] { return AppState.linkOpen == 0; }, 8000));
    DWORD linkClosed = GetTickCount() - asked;
    EXPECT_GE(linkClosed, 900u);
    ASSERT_TRUE(pumpUntil([this] { return !IsWindow(window); }, 8000));
    DWORD gone = GetTickCount() - asked;
    EXPECT_GE(gone, 1900u);
    EXPECT_EQ(recordedBoxes().size(), 1u);
}

TEST_F(LinkTest, CloseCommandCutsTheClientAndKeepsTheWindow)
{
    openAsServerWithClient();
    SendMessageW(window, WM_COMMAND, IDM_CLOSE_LINK, 0);
    EXPECT_EQ(receivePumping(peer), "CUT");
    ASSERT_TRUE(pumpUntil([] { return AppState.linkOpen == 0; }, 8000));
    EXPECT_TRUE(pumpUntil([&] { return controlText(window, IDC_LINK_LABEL) == L"Server:CLOSE"; }, 3000))
        << narrow(controlText(window, IDC_LINK_LABEL));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(statusPart(2), L"Disconnect");
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(LinkTest, FailedOpenShowsOpenTextWhileStatusSaysDown)
{
    int port = 0;
    SOCKET unused = listenLoopback(&port);
    closesocket(unused);
    openClientTo(port);
    EXPECT_EQ(AppState.linkOpen, 0);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"connect_Error");
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL).substr(0, 16), L"OPEN<127,0,0,1>:");
    EXPECT_EQ(statusPart(2), L"Disconnect");
}

}  // namespace

namespace {

POINT centreOf(HWND window, HWND pane)
{
    RECT place = {};
    GetWindowRect(pane, &place);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&place), 2);
    return POINT{(place.left + place.right) / 2, (place.top + place.bottom) / 2};
}

// A drag as the list view starts it, let go over the centre of the other pane.
void dragOnto(HWND window, HWND from, HWND to)
{
    NMLISTVIEW notice = {};
    notice.hdr.hwndFrom = from;
    notice.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(from));
    notice.hdr.code = LVN_BEGINDRAG;
    notice.iItem = ListView_GetNextItem(from, -1, LVNI_SELECTED);
    SendMessageW(window, WM_NOTIFY, notice.hdr.idFrom, reinterpret_cast<LPARAM>(&notice));
    POINT at = centreOf(window, to);
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

// Explorer's drop of paths at a point of the main window's client area.
void dropPaths(HWND window, const std::vector<std::wstring> &paths, POINT at)
{
    std::wstring list;
    for (const std::wstring &path : paths)
        list += path + L'\0';
    list += L'\0';
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    DROPFILES *files = static_cast<DROPFILES *>(GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->pt = at;
    files->fWide = TRUE;
    memcpy(files + 1, list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

TEST_F(LinkTest, RowsDraggedBetweenThePanesAndExplorerDropsOnThePeerPaneRunTheCopyCommands)
{
    // The hidden window is laid out as a shown one would be.
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
    openAsClient();
    exchange("DR000000remote.txt,2024/03/05 14:08,10,8", "ACK");
    exchange("DR999999", "");
    ASSERT_TRUE(writeFileBytes(folder + L"\\own.txt", "own"));
    std::wstring dropped = makeTempFolder(L"pwdrop");
    ASSERT_TRUE(writeFileBytes(dropped + L"\\a.txt", "a"));
    ASSERT_TRUE(writeFileBytes(dropped + L"\\b.txt", "b"));
    wcscpy(AppState.ownFolder, folder.c_str());
    SendMessageW(window, WM_COMMAND, IDM_OWN_RELIST, 0);
    // Each copy's first dialog names its source and is closed unstarted.
    std::vector<std::wstring> sources;
    auto closeDialog = [&](DWORD ui) {
        HWND dialog = waitForDialog(ui, CopyTitle, 5000);
        ASSERT_NE(dialog, nullptr);
        sources.push_back(controlText(dialog, IDC_EDIT1));
        clickButton(dialog, IDC_CLOSE);
        EXPECT_TRUE(waitGone(dialog, 3000));
    };

    selectNamedRows(AppState.ownPane, {L"own.txt"});
    driveWhile(closeDialog, [&] { dragOnto(window, AppState.ownPane, AppState.peerPane); });
    // The copy to the peer lists the peer folder again.
    EXPECT_EQ(receivePumping(peer), "DDC:\\");
    exchange("DR000000remote.txt,2024/03/05 14:08,10,8", "ACK");
    exchange("DR999999", "");

    selectNamedRows(AppState.peerPane, {L"remote.txt"});
    driveWhile(closeDialog, [&] { dragOnto(window, AppState.peerPane, AppState.ownPane); });

    driveWhile(closeDialog, [&] {
        dropPaths(window, {dropped + L"\\a.txt", dropped + L"\\b.txt"}, centreOf(window, AppState.peerPane));
    });
    EXPECT_EQ(receivePumping(peer), "DDC:\\");
    exchange("DR999999", "");
    EXPECT_EQ(sources, (std::vector<std::wstring>{folder + L"\\own.txt", L"C:\\remote.txt", dropped + L"\\a.txt"}));
    // The own pane is back at its folder.
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder);
    EXPECT_NE(paneRowOf(AppState.ownPane, L"own.txt"), -1);
    EXPECT_TRUE(recordedBoxes().empty()) << narrow(boxTexts()[0]);
    removeTree(dropped);
}

}  // namespace

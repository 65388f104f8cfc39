// link_test.cpp: opening and closing the link and the two receive loops, in this process, against a peer that
// the test plays over loopback sockets.
#include "net/connection.h"
#include "core/send_ops.h"
#include "net/receive_loops.h"
#include "core/fast_link.h"
#include "core/crc32c.h"
#include "core/fast_wire.h"
#include "core/message_box.h"
#include "core/wire_message.h"
#include "core/reports.h"
#include "resources/resource_ids.h"
#include "tests/net/net_peer.h"
#include "tests/support/fake_ui.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace {

int labelCount(const std::wstring &text)
{
    int count = 0;
    for (const std::wstring &label : fakeUiSnapshot().linkLabels)
        count += label == text;
    return count;
}

DWORD handleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// A listener on 127.0.0.1 at the port the link will use; a port of 0 becomes the one the system picked.
SOCKET listenOnLinkPort()
{
    int port = AppState.port;
    SOCKET listener = listenLoopback(&port);
    AppState.port = port;
    return listener;
}

#define connectPeer(...) connectPeerAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define openAsServer(...) openAsServerAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        startWinsock();
        resetAppState();
        resetFakeUi();
        recordBoxes();
        window = createTestWindow();
        ASSERT_NE(nullptr, window);
        AppState.mainWindow = window;
        AppState.port = 0;
        wcscpy(AppState.peerFolder, L"C:\\");
        folder = makeTempFolder(L"pwnet");
        ASSERT_FALSE(folder.empty());
        folderA = ansiPath(folder);
    }

    void TearDown() override
    {
        setFakeUiWindow(nullptr);
        if (AppState.linkOpen)
            closeLink(window);
        DestroyWindow(window);
        removeTree(folder);
    }

    void openAsServerAt(Caller at)
    {
        TRACE_CALLER(at);
        AppState.mode = ConnectionMode::Server;
        ASSERT_TRUE(openServer(window));
        ASSERT_EQ(1, AppState.linkOpen);
        AppState.port = boundPort(AppState.mainSocket);
    }

    bool clientsBecome(int count, int ms = 3000)
    {
        return pumpUntil([count] { return countClients() == count; }, ms);
    }

    bool stateBecomes(TransferState state, int ms = 3000)
    {
        return pumpUntil([state] { return AppState.transferState == state; }, ms);
    }

    // A client connects to the open server, which then counts clientsAfter clients.
    void connectPeerAt(Caller at, SOCKET *client, int clientsAfter = 1)
    {
        TRACE_CALLER(at);
        *client = connectTo(AppState.port);
        ASSERT_NE(INVALID_SOCKET, *client);
        ASSERT_TRUE(clientsBecome(clientsAfter));
    }

    // The client starts a push to targetA and has its block 0 acknowledged.
#define pushFirstBlock(...) pushFirstBlockAt(HERE, __VA_ARGS__)
    void pushFirstBlockAt(Caller at, SOCKET client, const std::string &targetA, unsigned seed)
    {
        TRACE_CALLER(at);
        ASSERT_TRUE(sendText(client, "FD" + targetA));
        ASSERT_EQ("ACK", receiveMessage(client, 3000));
        ASSERT_TRUE(sendText(client, "FR000000" + randomBytes(1000, seed)));
        ASSERT_EQ("ACK", receiveMessage(client, 3000));
    }

    HWND window = nullptr;
    std::wstring folder;
    std::string folderA;
};

// ---- Addresses and open failures -------------------------------------------------------------------------

TEST(LinkAddress, ClientAddressBytesInWrittenOrderAndServerWildcard)
{
    resetAppState();
    AppState.ip[0] = 192;
    AppState.ip[1] = 138;
    AppState.ip[2] = 1;
    AppState.ip[3] = 31;
    AppState.port = 1050;
    memset(&AppState.linkAddress, 0xdd, sizeof(AppState.linkAddress));
    fillLinkAddress(ConnectionMode::Client);
    const unsigned char expected[16] = {2, 0, 0x04, 0x1A, 0xC0, 0x8A, 0x01, 0x1F, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, &AppState.linkAddress, 16));

    // Only the low 16 bits of the port; a number above 255 spills into the next byte.
    AppState.port = 0x10000 + 1050;
    AppState.ip[0] = 0x1C0;
    AppState.ip[1] = 0;
    fillLinkAddress(ConnectionMode::Client);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&AppState.linkAddress);
    EXPECT_EQ(0x04, bytes[2]);
    EXPECT_EQ(0x1A, bytes[3]);
    EXPECT_EQ(0xC0, bytes[4]);
    EXPECT_EQ(0x01, bytes[5]);

    fillLinkAddress(ConnectionMode::Server);
    const unsigned char wildcard[16] = {2, 0, 0x04, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(wildcard, &AppState.linkAddress, 16));
}

TEST_F(LinkTest, ConnectWhereNothingListensShowsConnectError)
{
    AppState.mode = ConnectionMode::Client;
    AppState.ip[0] = 127;
    AppState.ip[3] = 1;
    EXPECT_FALSE(openClient(window));
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"connect_Error", boxes[0].caption);
    // Why, what to check, and the number last.
    const std::wstring &text = boxes[0].text;
    size_t number = text.rfind(L"\r\nErr No.");
    ASSERT_NE(number, std::wstring::npos) << narrow(text);
    EXPECT_EQ(_wtoi(text.c_str() + number + 9), WSAECONNREFUSED);
    EXPECT_EQ(text.rfind(L"サーバに接続できませんでした。\r\n相手のマシンには届きましたが、このポートで待っているサーバがありません", 0), 0u)
        << narrow(text);
    for (const std::wstring &check : {std::wstring(L"サーバ側で、接続を開いているか"), std::wstring(L"ファイアウォール"),
                                      L"TCP ポート " + std::to_wstring(AppState.port & 0xFFFF) + L" を通しているか",
                                      std::wstring(L"ＩＰアドレスとＰＯＲＴ番号")})
        EXPECT_NE(text.find(check), std::wstring::npos) << narrow(check);
    EXPECT_EQ(window, boxes[0].owner);
    EXPECT_EQ(0, AppState.linkOpen);
    EXPECT_EQ(nullptr, AppState.netThread);
    EXPECT_EQ(window, AppState.timerWindow);
}

TEST_F(LinkTest, PortInUseShowsBindErrorAndCloseOfClosedSocketShowsCloseError)
{
    SOCKET blocker = listenOnLinkPort();
    ASSERT_NE(INVALID_SOCKET, blocker);

    AppState.mode = ConnectionMode::Server;
    EXPECT_FALSE(openServer(window));
    closesocket(blocker);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"bind_Error", boxes[0].caption);
    EXPECT_EQ(0u, boxes[0].text.rfind(L"Err No.", 0));
    EXPECT_EQ(window, boxes[0].owner);
    EXPECT_EQ(0, AppState.linkOpen);

    // The failed attempt's socket is closed already: closing it again is refused and the flag stays as it was.
    clearRecordedBoxes();
    AppState.linkOpen = 1;
    closeLink(window);
    boxes = recordedBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"closesocket_Error", boxes[0].caption);
    EXPECT_EQ(L"-1", boxes[0].text);
    EXPECT_EQ(1, AppState.linkOpen);
    AppState.linkOpen = 0;
}

TEST(LookupOwnHost, FillsBothTextsOrLeavesThemUndetermined)
{
    resetAppState();
    bool found = lookupOwnHost();
    std::wstring address = AppState.ownAddressText;
    if (!found) {
        EXPECT_EQ(L"不明", address);
        EXPECT_EQ(L"不明", std::wstring(AppState.ownHostText));
        return;
    }
    // A numeric IPv4 address, or still undetermined when the name did not resolve to one.
    if (address != L"不明") {
        EXPECT_EQ(3, std::count(address.begin(), address.end(), L'.')) << narrow(address);
    }
    EXPECT_LT(wcslen(AppState.ownHostText), COUNTOF(AppState.ownHostText));
}

// ---- Client -------------------------------------------------------------------------------------------------

#define connectClient(...) connectClientAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class ClientLinkTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        listener = listenOnLinkPort();
        ASSERT_NE(INVALID_SOCKET, listener);
        AppState.mode = ConnectionMode::Client;
        AppState.ip[0] = 127;
        AppState.ip[3] = 1;
    }

    void TearDown() override
    {
        if (server != INVALID_SOCKET)
            closesocket(server);
        closesocket(listener);
        LinkTest::TearDown();
    }

    // Opens the client and accepts it; the client's first message is its directory request.
    void connectClientAt(Caller at, std::string *first)
    {
        TRACE_CALLER(at);
        ASSERT_TRUE(openClient(window));
        server = accept(listener, nullptr, nullptr);
        ASSERT_NE(INVALID_SOCKET, server);
        *first = receiveMessage(server, 3000);
    }

    SOCKET listener = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
};

TEST_F(ClientLinkTest, FirstRequestThenServerCloseArmsTimerAndCloses)
{
    std::string first;
    connectClient(&first);
    EXPECT_EQ("DD" + std::string("C:\\"), first);
    EXPECT_EQ(1, AppState.linkOpen);
    EXPECT_EQ(static_cast<int32_t>(AppState.mainSocket), AppState.clientSocketNumber);
    ASSERT_TRUE(stateBecomes(TransferState::CallDIR));
    ASSERT_TRUE(pumpUntil([] { return !fakeUiSnapshot().states.empty(); }, 2000));
    EXPECT_EQ(TransferState::CallDIR, fakeUiSnapshot().states[0]);

    // The server goes away: the client's receive sees the close, timer 1 fires on the main window.
    closesocket(server);
    server = INVALID_SOCKET;
    ASSERT_TRUE(pumpUntil([] { return timersFired(IDT_CLOSE_LINK) > 0; }, 3000));
    EXPECT_EQ(TransferState::Waiting, AppState.transferState);
    EXPECT_TRUE(recordedBoxes().empty()) << "no NAK goes out for a closed connection";

    closeLink(window);
    EXPECT_EQ(0, AppState.linkOpen);
    EXPECT_EQ(0u, AppState.netThreadExitCode);
    EXPECT_EQ(nullptr, AppState.netThread);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(ClientLinkTest, ServerResetMidPullLeavesNoTemporaryFileAndTargetUnchanged)
{
    std::string first;
    connectClient(&first);
    ASSERT_EQ(0u, first.rfind("DD", 0));
    ASSERT_TRUE(sendText(server, "DR999999"));
    ASSERT_TRUE(pumpUntil([] {
        std::vector<TransferState> states = fakeUiSnapshot().states;
        return states.size() >= 2 && states.back() == TransferState::Waiting;
    }, 3000));

    std::wstring target = folder + L"\\target.bin";
    ASSERT_TRUE(writeFileBytes(target, "old content"));
    strcpy(AppState.pullTargetA, ansiPath(target).c_str());
    AppState.transferState = TransferState::CallCopyFrom;
    ASSERT_EQ(0, sendMessage("FCC:\\far\\target.bin", 19));
    ASSERT_EQ("FCC:\\far\\target.bin", receiveMessage(server, 3000));

    ASSERT_TRUE(sendText(server, "FB000000" + randomBytes(1000, 7)));
    ASSERT_EQ("ACK", receiveMessage(server, 3000));
    std::wstring temporary = folder + L"\\target.$TEMP";
    EXPECT_TRUE(fileExists(temporary));

    resetSocket(server);
    server = INVALID_SOCKET;
    ASSERT_TRUE(pumpUntil([] { return timersFired(IDT_CLOSE_LINK) > 0; }, 3000));
    EXPECT_EQ(TransferState::Waiting, AppState.transferState);
    ASSERT_FALSE(fakeUiSnapshot().outcomes.empty());
    EXPECT_EQ(TransferOutcome::LinkLost, fakeUiSnapshot().outcomes.back());
    EXPECT_NE(FileIoState::Open, AppState.fileState);
    EXPECT_FALSE(fileExists(temporary));
    expectFileBytes(target, "old content");

    closeLink(window);
    EXPECT_EQ(0, AppState.linkOpen);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(ClientLinkTest, StopEndsAtOnceWhenThePeerIsSilentAndItsLateBlockIsRefused)
{
    std::string first;
    connectClient(&first);
    ASSERT_TRUE(sendText(server, "DR999999"));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::wstring target = folder + L"\\kept.bin";
    ASSERT_TRUE(writeFileBytes(target, "kept"));
    strcpy(AppState.pullTargetA, ansiPath(target).c_str());
    AppState.transferState = TransferState::CallCopyFrom;
    ASSERT_EQ(0, sendMessage("FCC:\\far\\kept.bin", 17));
    ASSERT_EQ("FCC:\\far\\kept.bin", receiveMessage(server, 3000));
    ASSERT_TRUE(sendText(server, "FB000000" + randomBytes(1000, 9)));
    ASSERT_EQ("ACK", receiveMessage(server, 3000));

    // The server says nothing more; the user's stop ends the pull without waiting for it.
    AppState.stopRequest = StopRequest::Requested;
    ASSERT_TRUE(stateBecomes(TransferState::Waiting, 2000));
    ASSERT_FALSE(fakeUiSnapshot().outcomes.empty());
    EXPECT_EQ(TransferOutcome::Stopped, fakeUiSnapshot().outcomes.back());
    EXPECT_EQ(StopRequest::None, AppState.stopRequest);
    EXPECT_FALSE(fileExists(folder + L"\\kept.$TEMP"));
    expectFileBytes(target, "kept");

    ASSERT_TRUE(sendText(server, "FB000001" + randomBytes(10, 9)));
    EXPECT_EQ("NAK", receiveMessage(server, 3000));
    expectFileBytes(target, "kept");
    closeLink(window);
}

// A receive thread in the wrong mode reports it once, never with a box on its own thread, and ends.
TEST_F(ClientLinkTest, WrongModeIsReportedOnceAndEndsTheThread)
{
    std::string first;
    connectClient(&first);
    ASSERT_TRUE(stateBecomes(TransferState::CallDIR));
    // The mode changes under the running thread; its next pass finds it wrong.
    AppState.mode = ConnectionMode::Server;
    ASSERT_TRUE(sendText(server, "DR999999"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(AppState.netThread, 5000));
    EXPECT_TRUE(recordedBoxes().empty());
    showPendingReports(nullptr);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"ClientThreadでSreverModeで実行された", boxes[0].text);
    EXPECT_EQ(L"Read1Thread", boxes[0].caption);
    AppState.mode = ConnectionMode::Client;
    closeLink(window);
}

// ---- Server -------------------------------------------------------------------------------------------------

TEST_F(LinkTest, ServerShowsArrivalAndDepartureAndSlotFields)
{
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_TRUE(pumpUntil([] { return AppState.peerPresent == 1; }, 2000));
    EXPECT_EQ(1, labelCount(L"Server:Conection:[127,0,0,1]"));
    EXPECT_STREQ("[127,0,0,1]", AppState.peerHostNameA);
    EXPECT_EQ(0, AppState.currentSlot);
    EXPECT_EQ(0, AppState.serverSlotNumber) << "set by a receive, not by the accept";
    EXPECT_NE(INVALID_SOCKET, AppState.clientSlots[0]);
    for (int slot = 1; slot < ClientSlotCount; slot++)
        EXPECT_EQ(INVALID_SOCKET, AppState.clientSlots[slot]);

    // Any message makes the receiving slot the current one; an ACK in Waiting is refused.
    ASSERT_TRUE(sendText(client, "ACK"));
    EXPECT_EQ("NAK", receiveMessage(client, 3000));
    EXPECT_EQ(1, AppState.serverSlotNumber);

    closesocket(client);
    ASSERT_TRUE(clientsBecome(0));
    ASSERT_TRUE(pumpUntil([] { return labelCount(L"Server:CutOFF:[127,0,0,1]") == 1; }, 2000));
    EXPECT_EQ(0, AppState.peerPresent);
    EXPECT_EQ(0, AppState.serverAskedPeerDir);
    EXPECT_EQ(1, fakeUiSnapshot().clears);
    EXPECT_EQ(INVALID_SOCKET, AppState.clientSlots[0]);
    EXPECT_EQ(0, boxesCaptioned(L"select_Error"));
}

TEST_F(LinkTest, EleventhClientIsClosedAtOnceAndCloseDisconnectsTheTen)
{
    openAsServer();
    std::vector<SOCKET> clients;
    for (int i = 0; i < ClientSlotCount; i++) {
        clients.push_back(connectTo(AppState.port));
        ASSERT_NE(INVALID_SOCKET, clients.back());
        ASSERT_TRUE(clientsBecome(i + 1)) << "client " << i;
    }
    SOCKET eleventh = connectTo(AppState.port);
    ASSERT_NE(INVALID_SOCKET, eleventh);
    EXPECT_TRUE(seesClosed(eleventh, 3000));
    closesocket(eleventh);
    EXPECT_EQ(10, countClients());
    // Only the shown connection, the first, is named in the label.
    EXPECT_EQ(1, labelCount(L"Server:Conection:[127,0,0,1]"));
    EXPECT_EQ(1u, fakeUiSnapshot().linkLabels.size());
    for (SOCKET client : clients)
        EXPECT_TRUE(silentFor(client, 20));

    // A server that closes leaves none of its clients connected.
    closeLink(window);
    for (SOCKET client : clients) {
        EXPECT_TRUE(seesClosed(client, 2000));
        closesocket(client);
    }
    for (int slot = 0; slot < ClientSlotCount; slot++)
        EXPECT_EQ(INVALID_SOCKET, AppState.clientSlots[slot]);
    EXPECT_EQ(0, AppState.peerPresent);
    EXPECT_EQ(0, countClients());
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(LinkTest, CloseEndsServerThreadQuicklyWithoutSelectError)
{
    openAsServer();
    closeLink(window);
    EXPECT_EQ(0, AppState.linkOpen);
    EXPECT_EQ(0u, AppState.netThreadExitCode);
    EXPECT_TRUE(recordedBoxes().empty());

    // The port is free again for the next open.
    ASSERT_TRUE(openServer(window));
    closeLink(window);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(LinkTest, CloseServesTheNetworkThreadsSynchronousUpdates)
{
    openAsServer();
    setFakeUiWindow(window);
    SOCKET client = connectTo(AppState.port);
    ASSERT_NE(INVALID_SOCKET, client);
    // The accept's label update now waits for this thread, which serves nothing until closeLink.
    DWORD start = GetTickCount();
    while (fakeUiSendsStarted() == 0 && GetTickCount() - start < 3000)
        Sleep(10);
    ASSERT_GT(fakeUiSendsStarted(), 0);
    EXPECT_EQ(0, syncMessagesServed());

    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), AppState.netThread, GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    std::atomic<bool> closed(false);
    std::atomic<bool> rescued(false);
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !closed; i++)
            Sleep(50);
        if (!closed) {
            rescued = true;
            TerminateThread(thread, 1);
        }
    });
    closeLink(window);
    closed = true;
    watchdog.join();
    CloseHandle(thread);
    EXPECT_FALSE(rescued) << "closeLink did not serve the network thread's update";
    EXPECT_GE(syncMessagesServed(), 1);
    EXPECT_EQ(0, AppState.linkOpen);
    EXPECT_EQ(0u, AppState.netThreadExitCode);
    closesocket(client);
}

TEST_F(LinkTest, ClientResetMidListingFreesSlotWithoutSpinningAndNextClientIsServed)
{
    for (int i = 0; i < 30; i++)
        ASSERT_TRUE(writeFileBytes(folder + L"\\entry" + std::to_wstring(i) + L".txt", "x"));
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_TRUE(sendText(client, "DD" + folderA));
    std::string row = receiveMessage(client, 3000);
    ASSERT_EQ(0u, row.rfind("DR000000", 0));
    ASSERT_TRUE(stateBecomes(TransferState::RequestDIR));

    resetSocket(client);
    ASSERT_TRUE(clientsBecome(0));
    EXPECT_TRUE(stateBecomes(TransferState::Waiting));
    // The slot is free, and the exchange over, a moment before the label says so.
    EXPECT_TRUE(pumpUntil([&] { return labelCount(L"Server:CutOFF:[127,0,0,1]") == 1; }, 3000));

    // Nothing left to receive: no further cut is reported. (Its CPU time while idle is a benchmark figure.)
    pumpFor(500);
    EXPECT_EQ(1, labelCount(L"Server:CutOFF:[127,0,0,1]"));

    SOCKET next;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&next));
    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(next, folderA, &rows, &why)) << why;
    EXPECT_EQ(32u, rows.size());  // ".", ".." and the 30 files
    closesocket(next);
    EXPECT_EQ(0, boxesCaptioned(L"select_Error"));
}

TEST_F(LinkTest, ClientResetMidPushLeavesNoTemporaryFileAndNextPushWorks)
{
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    std::string targetA = folderA + "\\pushed.bin";
    ASSERT_NO_FATAL_FAILURE(pushFirstBlock(client, targetA, 1));
    std::wstring temporary = folder + L"\\pushed.$TEMP";
    EXPECT_TRUE(fileExists(temporary));
    EXPECT_EQ(TransferState::RequestCopyTO, AppState.transferState);

    resetSocket(client);
    ASSERT_TRUE(clientsBecome(0));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    EXPECT_NE(FileIoState::Open, AppState.fileState);
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_FALSE(fileExists(folder + L"\\pushed.bin"));

    SOCKET next;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&next));
    std::string bytes = randomBytes(2500, 2);
    std::string why;
    ASSERT_TRUE(peerPush(next, targetA, bytes, utcFileTime(2021, 6, 1, 12, 0), &why)) << why;
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    expectFileBytes(folder + L"\\pushed.bin", bytes);
    closesocket(next);
}

TEST_F(LinkTest, ServerClosedMidPushLeavesNoTemporaryFile)
{
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_NO_FATAL_FAILURE(pushFirstBlock(client, folderA + "\\half.bin", 3));
    ASSERT_TRUE(fileExists(folder + L"\\half.$TEMP"));

    closeLink(window);
    EXPECT_TRUE(seesClosed(client, 2000));
    closesocket(client);
    EXPECT_EQ(TransferState::Waiting, AppState.transferState);
    EXPECT_NE(FileIoState::Open, AppState.fileState);
    EXPECT_FALSE(fileExists(folder + L"\\half.$TEMP"));
    EXPECT_FALSE(fileExists(folder + L"\\half.bin"));
}

// ---- One conversation per connection, liveness, garbage ------------------------------------------------------

TEST_F(LinkTest, SecondConnectionNeverReachesTheFirstOnesFile)
{
    openAsServer();
    SOCKET first, second;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&first));
    ASSERT_NO_FATAL_FAILURE(connectPeer(&second, 2));
    std::string a = randomBytes(2000, 1);
    ASSERT_TRUE(sendText(first, "FD" + folderA + "\\first.bin"));
    ASSERT_EQ("ACK", receiveMessage(first, 3000));
    ASSERT_TRUE(sendText(first, "FR000000" + a.substr(0, 1000)));
    ASSERT_EQ("ACK", receiveMessage(first, 3000));

    // The other connection's block and request are refused on its own socket; the first hears nothing of it.
    ASSERT_TRUE(sendText(second, "FR000001" + randomBytes(1000, 2)));
    EXPECT_EQ("NAK", receiveMessage(second, 3000));
    ASSERT_TRUE(sendText(second, "DD" + folderA));
    EXPECT_EQ("NAK", receiveMessage(second, 3000));
    EXPECT_TRUE(silentFor(first, 50));
    EXPECT_EQ(TransferState::RequestCopyTO, AppState.transferState);

    ASSERT_TRUE(sendText(first, "FR000001" + a.substr(1000)));
    ASSERT_EQ("ACK", receiveMessage(first, 3000));
    ASSERT_TRUE(sendText(first, trailerBytes("FR999999", utcFileTime(2020, 1, 1, 0, 0))));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    ASSERT_TRUE(pumpUntil([&] { return fileExists(folder + L"\\first.bin"); }, 3000));
    expectFileBytes(folder + L"\\first.bin", a);

    // Nothing runs now: the second connection's request is served, and it becomes the shown one.
    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(second, folderA, &rows, &why)) << why;
    EXPECT_EQ(1, AppState.exchangeSlot);
    closesocket(first);
    closesocket(second);
}

TEST_F(LinkTest, IdleConnectionBlocksNoOneAndAReconnectIsServed)
{
    ASSERT_TRUE(writeFileBytes(folder + L"\\source.bin", "source"));
    AppState.livenessMs = 3000;
    openAsServer();
    // An idle connection, as an old one whose end has not been seen, holds the lowest slot.
    SOCKET idle, fresh;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&idle));
    ASSERT_NO_FATAL_FAILURE(connectPeer(&fresh, 2));
    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(fresh, folderA, &rows, &why)) << why;
    ASSERT_TRUE(answerServerListing(fresh, &why)) << why;
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::string pulled;
    FILETIME written = {};
    ASSERT_TRUE(peerPull(fresh, folderA + "\\source.bin", &pulled, &written, &why)) << why;
    EXPECT_EQ("source", pulled);

    // The idle one, which never spoke, is closed after the liveness time: nothing shown changes, and the fresh
    // connection, idle as long by then, stays served.
    int labels = static_cast<int>(fakeUiSnapshot().linkLabels.size());
    EXPECT_TRUE(seesClosed(idle, 6000));
    closesocket(idle);
    ASSERT_TRUE(clientsBecome(1));
    EXPECT_TRUE(silentFor(fresh, 3000));
    EXPECT_EQ(labels, static_cast<int>(fakeUiSnapshot().linkLabels.size()));
    EXPECT_EQ(1, AppState.peerPresent);
    ASSERT_TRUE(peerListing(fresh, folderA, &rows, &why)) << why;
    closesocket(fresh);
}

TEST_F(LinkTest, SilentPeersExchangeEndsAfterTheLivenessTimeAndItsLateBlockIsRefused)
{
    AppState.livenessMs = 300;
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_NO_FATAL_FAILURE(pushFirstBlock(client, folderA + "\\silent.bin", 6));
    ASSERT_TRUE(fileExists(folder + L"\\silent.$TEMP"));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting, 3000));
    EXPECT_NE(FileIoState::Open, AppState.fileState);
    EXPECT_FALSE(fileExists(folder + L"\\silent.$TEMP"));
    ASSERT_TRUE(sendText(client, "FR000001" + randomBytes(10, 6)));
    EXPECT_EQ("NAK", receiveMessage(client, 3000));
    EXPECT_FALSE(fileExists(folder + L"\\silent.bin"));
    closesocket(client);
}

TEST_F(LinkTest, GarbageBurstGetsOneNakAndTheNextRequestIsServed)
{
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    // Each piece goes out at once, not held back by the sender until the previous one is acknowledged.
    BOOL noDelay = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof(noDelay));
    // Answering each piece would give six "NAK"s. A busy machine may deliver a piece after the quiet window,
    // which makes two bursts of one: some attempt must bring exactly one.
    int fewest = 100;
    for (int attempt = 0; attempt < 5 && fewest > 1; attempt++) {
        for (const char *piece : {"xyz", "garbage", "N", "AK", "ACK", "\x01\x02"})
            ASSERT_TRUE(sendText(client, piece));
        std::string answers;
        while (!silentFor(client, 300))
            answers += receiveMessage(client, 100);
        int naks = 0;
        for (size_t at = answers.find("NAK"); at != std::string::npos; at = answers.find("NAK", at + 3))
            naks++;
        EXPECT_EQ(answers.size(), 3u * naks) << "only NAKs answer garbage";
        fewest = std::min(fewest, naks);
    }
    EXPECT_EQ(1, fewest);
    // A lone start that can never be whole is answered too, and the connection goes on.
    for (const char *lone : {"D", "F", "Q"}) {
        ASSERT_TRUE(sendText(client, lone));
        EXPECT_EQ("NAK", receiveMessage(client, 3000)) << lone;
        EXPECT_TRUE(silentFor(client, 100)) << lone;
    }
    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(client, folderA, &rows, &why)) << why;
    closesocket(client);
}

// A peer built as the classic protocol says sends each message in one send and its next one the moment our
// answer arrives: every message it sends gets its one answer, garbage included, and nothing is swallowed.
TEST_F(LinkTest, LockStepPeerGetsOneAnswerPerMessage)
{
    openAsServer();
    SOCKET peer;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&peer));
    BOOL noDelay = TRUE;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof(noDelay));
    auto ask = [&](const std::string &message) {
        EXPECT_TRUE(sendText(peer, message));
        return receiveMessage(peer, 3000);
    };
    const std::string missing = "DD" + folderA + "\\missing";
    EXPECT_EQ("NAK", ask("Hello"));
    EXPECT_EQ("NAK", ask("FX12345"));
    // A "NAK" is one message whatever follows it, and is never answered.
    ASSERT_TRUE(sendText(peer, "NAKextra"));
    EXPECT_TRUE(silentFor(peer, 200));
    std::string noRequest = randomBytes(100 * 16, 7);
    for (int i = 0; i < 100; i++) {
        SCOPED_TRACE(i);
        std::string message = noRequest.substr(static_cast<size_t>(i) * 16, 1 + i % 16);
        if (strchr("ACDFN", message[0]) != nullptr)
            message[0] = 'x';
        ASSERT_EQ("NAK", ask(message));
    }
    EXPECT_EQ("DR999999", ask(missing));
    std::string why;
    ASSERT_TRUE(answerServerListing(peer, &why)) << why;
    // Junk in place of an "ACK" while rows stream: one "NAK" ends the listing, and the request right after it
    // is served.
    ASSERT_TRUE(writeFileBytes(folder + L"\\row.txt", "r"));
    ASSERT_EQ(0u, ask("DD" + folderA).rfind("DR000000", 0));
    EXPECT_EQ("NAK", ask("junk"));
    EXPECT_EQ("DR999999", ask(missing));
    // A request glued to a push's trailer is served.
    ASSERT_TRUE(peerPush(peer, folderA + "\\glued.txt", "glued", utcFileTime(2020, 1, 2, 3, 4), &why, missing))
        << why;
    EXPECT_EQ("DR999999", receiveMessage(peer, 3000));
    closesocket(peer);
}

TEST_F(LinkTest, CloseIsBoundedWhenTheNetworkThreadIsStuck)
{
    // The network thread's label update waits for a window whose thread serves nothing until released.
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HWND> stuck(nullptr);
    HANDLE thread = nullptr;
    std::thread owner([&] {
        stuck = createTestWindow();
        WaitForSingleObject(release, 20000);
        // Serve the stuck update until the network thread, free again, has ended.
        pumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 5000);
        DestroyWindow(stuck);
    });
    ASSERT_TRUE(pumpUntil([&] { return stuck.load() != nullptr; }, 3000));
    openAsServer();
    setFakeUiWindow(stuck);
    SOCKET client = connectTo(AppState.port);
    ASSERT_NE(INVALID_SOCKET, client);
    ASSERT_TRUE(pumpUntil([] { return fakeUiSendsStarted() > 0; }, 3000));
    DuplicateHandle(GetCurrentProcess(), AppState.netThread, GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    closeLink(window);
    EXPECT_EQ(0, AppState.linkOpen);
    // The thread still runs: a reopen beside it is refused and told.
    ASSERT_NE(nullptr, AppState.netThread);
    EXPECT_FALSE(openServer(window));
    ASSERT_EQ(1u, recordedBoxes().size());
    EXPECT_NE(std::wstring::npos, recordedBoxes()[0].text.find(L"まだ終わっていません"));
    SetEvent(release);
    owner.join();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000)) << "the thread ends once its update returns";
    CloseHandle(thread);
    setFakeUiWindow(nullptr);
    openAsServer();
    closeLink(window);
    EXPECT_EQ(nullptr, AppState.netThread);
    setFakeUiWindow(nullptr);
    CloseHandle(release);
    closesocket(client);
}

// ---- Stress -------------------------------------------------------------------------------------------------

TEST_F(LinkTest, HundredConnectDisconnectCyclesLeaveNoHandles)
{
    DWORD before = handleCount();
    openAsServer();
    for (int i = 0; i < 100; i++) {
        SOCKET client = connectTo(AppState.port);
        ASSERT_NE(INVALID_SOCKET, client) << "cycle " << i;
        ASSERT_TRUE(clientsBecome(1)) << "cycle " << i;
        if (i % 2)
            resetSocket(client);
        else
            closesocket(client);
        ASSERT_TRUE(clientsBecome(0)) << "cycle " << i;
    }
    EXPECT_EQ(100, labelCount(L"Server:CutOFF:[127,0,0,1]"));

    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(client, folderA, &rows, &why)) << why;
    closesocket(client);
    ASSERT_TRUE(clientsBecome(0));
    closeLink(window);
    EXPECT_TRUE(recordedBoxes().empty());

    DWORD after = handleCount();
    EXPECT_EQ(after, before) << before << " handles before, " << after << " after";
}

TEST_F(LinkTest, SilentSecondClientDoesNotHoldUpTheServedOne)
{
    std::string content = randomBytes(4321, 4);
    ASSERT_TRUE(writeFileBytes(folder + L"\\source.bin", content));
    openAsServer();
    SOCKET served;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&served));
    SOCKET silent;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&silent, 2));

    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(served, folderA, &rows, &why)) << why;
    ASSERT_TRUE(answerServerListing(served, &why)) << why;
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::string pulled;
    FILETIME written = {};
    ASSERT_TRUE(peerPull(served, folderA + "\\source.bin", &pulled, &written, &why)) << why;
    EXPECT_EQ(content, pulled);
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    ASSERT_TRUE(peerPush(served, folderA + "\\copy.bin", content, utcFileTime(2020, 1, 2, 3, 4), &why)) << why;
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::string copied;
    ASSERT_TRUE(pumpUntil([&] { return readFileBytes(folder + L"\\copy.bin", &copied) && copied == content; }, 3000));
    EXPECT_TRUE(silentFor(silent, 20));

    closesocket(silent);
    closesocket(served);
}

TEST_F(LinkTest, TenThousandRandomMessagesThenStillServesWithNoHandlesLeft)
{
    std::vector<std::string> contents;
    for (int i = 0; i < 5; i++) {
        contents.push_back(randomBytes(static_cast<size_t>(700 * i + 1), 10 + i));
        ASSERT_TRUE(writeFileBytes(folder + L"\\f" + std::to_wstring(i), contents.back()));
    }
    DWORD before = handleCount();
    openAsServer();
    SOCKET peer;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&peer));

    // Answers are read and dropped on another thread so the server never blocks on a full socket.
    std::atomic<bool> stopDraining(false);
    std::thread drainer([&] {
        char buffer[4096];
        while (!stopDraining) {
            if (receiveWithin(peer, buffer, sizeof(buffer), 50) == 0)
                break;
        }
    });

    std::mt19937 generator(20240305);
    auto pick = [&](int n) { return static_cast<int>(generator() % static_cast<unsigned>(n)); };
    auto randomText = [&](int length) {
        std::string out(static_cast<size_t>(length), '\0');
        for (char &c : out)
            c = static_cast<char>(generator() & 0xFF);
        return out;
    };
    for (int i = 0; i < 10000; i++) {
        std::string message;
        char header[16] = {};
        switch (pick(14)) {
        case 0: message = "ACK"; break;
        case 1: message = "NAK"; break;
        case 2: message = "CUT"; break;
        case 3: message = "DD" + folderA; break;
        case 4: message = "FD" + folderA + "\\in" + std::to_string(pick(3)); break;
        case 5: message = "FC" + folderA + "\\f" + std::to_string(pick(5)); break;
        case 6: message = "CD" + folderA + "\\d" + std::to_string(pick(3)); break;
        case 7:
            snprintf(header, sizeof(header), "FR%06d", pick(3));
            message = std::string(header) + randomText(1 + pick(1000));
            break;
        case 8:
            snprintf(header, sizeof(header), "FB%06d", pick(3));
            message = std::string(header) + randomText(1 + pick(1000));
            break;
        case 9: message = (pick(2) ? "FR999999" : "FB999999") + randomText(24); break;
        case 10: message = pick(2) ? "FRDTSTOP" : "FBDTSTOP"; break;
        case 11:
            snprintf(header, sizeof(header), "DR%06d", pick(50));
            message = std::string(header) + "name,2024/01/01 00:00,1K,8";
            break;
        case 12: message = "DR999999"; break;
        default:
            // Raw bytes that name no request, so nothing is created outside the test folder.
            message = randomText(1 + pick(1024));
            if (message[0] == 'C' || message[0] == 'D' || message[0] == 'F')
                message[0] = 'x';
            break;
        }
        ASSERT_TRUE(sendText(peer, message)) << "message " << i;
    }

    // The server has worked through what it has: nothing waits in its socket or its framer.
    auto serverTookAll = [] {
        for (int slot = 0; slot < ClientSlotCount; slot++) {
            SOCKET socket = AppState.clientSlots[slot];
            u_long waiting = 1;
            const MessageFramer &framer = AppState.slotFramers[slot];
            if (socket != INVALID_SOCKET)
                return ioctlsocket(socket, FIONREAD, &waiting) == 0 && waiting == 0 && framer.count == 0 &&
                       framer.discarding == 0;
        }
        return false;
    };
    // Let it do so, end whatever exchange is open, and stop the drain.
    ASSERT_TRUE(pumpUntil(serverTookAll, 30000));
    ASSERT_TRUE(sendText(peer, "NAK"));
    ASSERT_TRUE(pumpUntil(serverTookAll, 5000));
    stopDraining = true;
    drainer.join();
    while (receiveMessage(peer, 300).size() > 0) {
    }
    ASSERT_EQ(1, countClients()) << "the flood must not have cost the client its slot";
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    EXPECT_EQ(0, boxesCaptioned(L"select_Error"));

    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(peer, folderA, &rows, &why)) << why;
    EXPECT_GE(rows.size(), 5u);
    // The server asks for this side's folder after the first listing it serves to a client, if not yet done.
    if (!silentFor(peer, 800)) {
        std::string request = receiveMessage(peer, 100);
        ASSERT_EQ(0u, request.rfind("DD", 0)) << request.substr(0, 20);
        ASSERT_TRUE(sendText(peer, "DR999999"));
    }
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::string pushed = randomBytes(2001, 99);
    ASSERT_TRUE(peerPush(peer, folderA + "\\after.bin", pushed, utcFileTime(2019, 5, 6, 7, 8), &why)) << why;
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::string pulled;
    FILETIME written = {};
    ASSERT_TRUE(peerPull(peer, folderA + "\\after.bin", &pulled, &written, &why)) << why;
    EXPECT_EQ(pushed, pulled);
    FILETIME expected = utcFileTime(2019, 5, 6, 7, 8);
    EXPECT_EQ(expected.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(expected.dwHighDateTime, written.dwHighDateTime);
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));

    closesocket(peer);
    ASSERT_TRUE(clientsBecome(0));
    closeLink(window);
    DWORD after = handleCount();
    EXPECT_EQ(after, before) << before << " handles before, " << after << " after";
}

}  // namespace

// ---- The fast link's agreement, byte for byte -------------------------------------------------------------------

namespace {

// Exactly count bytes from s, or what came before the wait ran out.
std::string receiveBytes(SOCKET s, size_t count, int ms = 3000)
{
    std::string got;
    DWORD until = GetTickCount() + static_cast<DWORD>(ms);
    while (got.size() < count && static_cast<int>(until - GetTickCount()) > 0) {
        std::string piece = receiveMessage(s, static_cast<int>(until - GetTickCount()));
        if (piece.empty())
            break;
        got += piece;
    }
    return got;
}

std::string fastMessage(const char *tag, const std::string &payload)
{
    char header[FastHeaderBytes];
    putFastHeader(header, tag, static_cast<int>(payload.size()));
    return std::string(header, FastHeaderBytes) + payload;
}

// The client just connected (its first message is first) agrees on the fast link with the server the test
// plays, and its opening listing is answered empty.
#define agreeFast(...) agreeFastAt(HERE, __VA_ARGS__)
void agreeFastAt(Caller at, SOCKET server, const std::string &first)
{
    TRACE_CALLER(at);
    ASSERT_EQ("DD|Parcelwight|fast-link|", first);
    ASSERT_TRUE(sendText(server, "DR000000|fast|1|W|,,,8"));
    ASSERT_EQ("ACK", receiveMessage(server, 3000));
    ASSERT_TRUE(sendText(server, "DR999999"));
    // Agreed before any listing: the hello, then the opening listing in the fast link's form.
    std::string opening = receiveBytes(server, 2 * FastHeaderBytes + 5 + 3);
    ASSERT_EQ("HI", opening.substr(0, 2));
    ASSERT_EQ(fastMessage(FastList, "C:\\"), opening.substr(FastHeaderBytes + 5));
    ASSERT_TRUE(sendText(server, fastMessage(FastListEnd, std::string(4, '\0'))));
    ASSERT_TRUE(pumpUntil([] { return fastLinkOn() && AppState.transferState == TransferState::Waiting; }, 3000));
}

// This side pushes its sendSourcePath of size bytes to C:\far\big.bin; the server lets it begin (with the "RS"
// payload given: from 0 when none), and with ackAll says it has every byte already, so no window holds the sender
// back.
#define startPush(...) startPushAt(HERE, __VA_ARGS__)
void startPushAt(Caller at, SOCKET server, uint64_t size, bool ackAll, const std::string &resume = std::string(12, '\0'))
{
    TRACE_CALLER(at);
    const std::string request = "FDC:\\far\\big.bin";
    AppState.transferState = TransferState::CallCopyTO;
    ASSERT_EQ(0, sendRequest(request.c_str(), static_cast<int>(request.size())));
    std::string push = receiveBytes(server, FastHeaderBytes + 32 + request.size() - 2);
    ASSERT_EQ(0u, push.rfind(FastPush, 0));
    std::string all(8, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&all[0]), size, 8);
    ASSERT_TRUE(sendText(server, fastMessage(FastResume, resume) + (ackAll ? fastMessage(FastAck, all) : "")));
}

// The tag of the next whole fast message from s (its payload dropped), serving this thread's messages while it
// waits, as the network thread may be telling the windows something. False when nothing more comes.
bool nextFastTag(SOCKET s, std::string *stream, std::string *tag)
{
    for (;;) {
        size_t length = stream->size() < FastHeaderBytes
                            ? 0
                            : static_cast<size_t>(getLittleEndian(
                                  reinterpret_cast<const unsigned char *>(stream->data() + 2), 4));
        if (stream->size() >= FastHeaderBytes && stream->size() >= FastHeaderBytes + length) {
            *tag = stream->substr(0, 2);
            stream->erase(0, FastHeaderBytes + length);
            return true;
        }
        if (!pumpUntil([s] { return !silentFor(s, 0); }, 10000))
            return false;
        std::string more = receiveMessage(s, 100);
        if (more.empty())
            return false;
        *stream += more;
    }
}

}  // namespace

TEST_F(ClientLinkTest, NewClientAsksAClassicServerFirstAndStaysClassic)
{
    AppState.fastLinkAllowed = 1;
    std::string first;
    connectClient(&first);
    // Before any listing the client asks about the fast link, with a folder no Windows name can be, which a
    // classic server lists as the terminator alone; a busy one refuses it, and it is asked again.
    EXPECT_EQ("DD|Parcelwight|fast-link|", first);
    ASSERT_TRUE(sendText(server, "NAK"));
    EXPECT_EQ("DD|Parcelwight|fast-link|", receiveMessage(server, 5000));
    ASSERT_TRUE(sendText(server, "DR999999"));
    // That was the classic server's first listing: it lists its client next, and the client's own opening
    // listing waits for it, so the two never cross.
    std::vector<std::string> rows;
    std::string why;
    ASSERT_TRUE(peerListing(server, folderA, &rows, &why)) << why;
    EXPECT_EQ("DDC:\\", receiveMessage(server, 3000));
    ASSERT_TRUE(sendText(server, "DR999999"));
    ASSERT_TRUE(pumpUntil([] { return fakeUiSnapshot().outcomes.size() == 1; }, 3000));
    // Nothing else changes: the next listing is classic, with no second question in between, and nothing shows.
    ASSERT_TRUE(peerListing(server, folderA, &rows, &why)) << why;
    EXPECT_FALSE(fastLinkOn());
    EXPECT_TRUE(recordedBoxes().empty());
    EXPECT_EQ(1u, fakeUiSnapshot().outcomes.size()) << "the question ends without a word";
}

// A served folder the agreement cannot carry (a name the code page lacks) is told as a sign, both ways: the
// peer learns that one folder is served, not the whole machine, and opens none by itself.
TEST_F(ClientLinkTest, AServedFolderTheAgreementCannotCarryIsToldAsAFolder)
{
    AppState.fastLinkAllowed = 1;
    wcscpy(AppState.servedFolder, L"C:\\\uD55C\uAE00");
    std::string first;
    connectClient(&first);
    ASSERT_EQ("DD|Parcelwight|fast-link|", first);
    ASSERT_TRUE(sendText(server, "DR000000|fast|3|R|?,,,8"));
    ASSERT_EQ("ACK", receiveMessage(server, 3000));
    ASSERT_TRUE(sendText(server, "DR999999"));
    std::string opening = receiveBytes(server, 2 * FastHeaderBytes + 6 + 3);
    EXPECT_EQ(fastMessage(FastHello, std::string("\x03\x00\x00\x00\x00?", 6)), opening.substr(0, FastHeaderBytes + 6));
    ASSERT_TRUE(pumpUntil([] { return AppState.peerServedUntold != 0; }, 3000));
    EXPECT_EQ(0, AppState.peerServedFolder[0]);
    EXPECT_TRUE(fakeUiSnapshot().servedFolders.empty());
}

// A file that fits one piece goes with its request, before the receiver's "RS", which then changes nothing;
// the data of a push that crossed this side's pull, and was refused, is dropped without a word.
TEST_F(ClientLinkTest, FastClientSendsASmallFileWithItsRequestAndDropsACrossingPushsData)
{
    AppState.fastLinkAllowed = 1;
    std::string first;
    connectClient(&first);
    ASSERT_NO_FATAL_FAILURE(agreeFast(server, first));

    std::wstring source = folder + L"\\small.txt";
    ASSERT_TRUE(writeFileBytes(source, "hello world"));
    wcscpy(AppState.sendSourcePath, source.c_str());
    AppState.transferState = TransferState::CallCopyTO;
    ASSERT_EQ(0, sendRequest("FDC:\\far\\small.txt", 18));
    const size_t push = FastHeaderBytes + 32 + 16;
    std::string sent = receiveBytes(server, push + FastHeaderBytes + 8 + 11 + FastHeaderBytes + 4);
    ASSERT_EQ(0u, sent.rfind(FastPush, 0));
    std::string digest(4, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&digest[0]), crc32cUpdate(0, "hello world", 11), 4);
    EXPECT_EQ(fastMessage(FastData, std::string(8, '\0') + "hello world") + fastMessage(FastEnd, digest),
              sent.substr(push));
    ASSERT_TRUE(sendText(server, fastMessage(FastResume, std::string(12, '\0')) + fastMessage(FastDone, "")));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    EXPECT_EQ(TransferOutcome::Done, fakeUiSnapshot().outcomes.back());

    std::wstring target = folder + L"\\pulled.txt";
    strcpy(AppState.pullTargetA, ansiPath(target).c_str());
    AppState.transferState = TransferState::CallCopyFrom;
    ASSERT_EQ(0, sendRequest("FCC:\\far\\pulled.txt", 19));
    // The next bytes are the pull's: nothing went out for the "RS" before.
    EXPECT_EQ(fastMessage(FastPull, "C:\\far\\pulled.txt"), receiveBytes(server, FastHeaderBytes + 17));
    std::string crossing = fastMessage(FastPush, std::string(32, '\0') + ansiPath(folder + L"\\crossed.txt"));
    crossing[FastHeaderBytes] = 1;  // one byte long
    ASSERT_TRUE(sendText(server, crossing + fastMessage(FastData, std::string(8, '\0') + "x") +
                                     fastMessage(FastEnd, std::string(4, '\0'))));
    std::string busy = fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::Busy)));
    EXPECT_EQ(busy, receiveBytes(server, busy.size()));
    ASSERT_TRUE(sendText(server, busy));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    EXPECT_EQ(TransferOutcome::Refused, fakeUiSnapshot().outcomes.back());
    EXPECT_EQ(FastReason::Busy, AppState.lastReason);
    // No refusal of the dropped data came between: the next bytes are the next request's.
    AppState.transferState = TransferState::CallDIR;
    ASSERT_EQ(0, sendRequest("DDC:\\far", 8));
    EXPECT_EQ(fastMessage(FastList, "C:\\far"), receiveBytes(server, FastHeaderBytes + 6));
    EXPECT_FALSE(fileExists(folder + L"\\crossed.txt"));
    EXPECT_FALSE(fileExists(target));
    EXPECT_TRUE(recordedBoxes().empty());
}

// A server that stops reading in the middle of a push (a frozen peer) holds nothing up: the user's stop ends the
// push at once; once the server reads again, whole pieces and then the stop reach it, and the link goes on. A
// part the server holds is taken only when its digest is that of our first bytes; checking one of 4 GiB, this
// side tells the waiting server that it is there, and a stop ends the check at once. A server that then takes
// nothing at all ends the next push after the liveness time, and the link closes.
TEST_F(ClientLinkTest, APushThePeerStopsReadingEndsAtTheStopOrAtItsSilence)
{
    AppState.fastLinkAllowed = 1;
    std::string first;
    connectClient(&first);
    ASSERT_NO_FATAL_FAILURE(agreeFast(server, first));
    std::wstring source = folder + L"\\big.bin";
    const uint64_t size = (1ull << 32) + 5;
    ASSERT_TRUE(makeSparseFile(source, size));
    wcscpy(AppState.sendSourcePath, source.c_str());
    std::string resume(12, '\0');
    resume[2] = 0x10;  // 1 MiB held, with a digest no run of zeros has
    resume[8] = 1;
    ASSERT_NO_FATAL_FAILURE(startPush(server, size, false, resume));
    std::string stream = receiveBytes(server, FastHeaderBytes + 8);
    EXPECT_EQ(std::string(8, '\0'), stream.substr(FastHeaderBytes, 8)) << "not from the start";
    // Unacknowledged, exactly the window goes: a request that crosses it is refused before any piece more.
    std::string tag;
    for (int64_t piece = 0; piece < FastWindowBytes / FastPieceBytes; piece++) {
        ASSERT_TRUE(nextFastTag(server, &stream, &tag)) << piece;
        ASSERT_EQ(FastData, tag) << piece;
    }
    ASSERT_TRUE(sendText(server, fastMessage(FastList, "C:\\")));
    ASSERT_TRUE(nextFastTag(server, &stream, &tag));
    EXPECT_EQ(FastRefuse, tag);
    std::string all(8, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&all[0]), size, 8);
    ASSERT_TRUE(sendText(server, fastMessage(FastAck, all)));
    // Stuck: bytes wait on this side, and what the server holds unread stops growing.
    u_long unread = 0;
    int still = 0;
    ASSERT_TRUE(pumpUntil([&] {
        u_long now = 0;
        ioctlsocket(server, FIONREAD, &now);
        still = now == unread ? still + 1 : 0;
        unread = now;
        return sendHeld(AppState.mainSocket) && still >= 20;
    }, 20000));
    size_t ended = fakeUiSnapshot().outcomes.size();
    AppState.stopRequest = StopRequest::Requested;
    ASSERT_TRUE(pumpUntil([ended] { return fakeUiSnapshot().outcomes.size() > ended; }, 3000));
    EXPECT_EQ(TransferOutcome::Stopped, fakeUiSnapshot().outcomes.back());

    // Read again: whole pieces, then the stop.
    size_t pieces = 0;
    for (;;) {
        ASSERT_TRUE(nextFastTag(server, &stream, &tag)) << pieces << " pieces, then nothing";
        if (tag == FastStop)
            break;
        ASSERT_EQ(FastData, tag) << "after " << pieces << " pieces";
        pieces++;
    }
    EXPECT_TRUE(stream.empty());
    AppState.transferState = TransferState::CallDIR;
    ASSERT_EQ(0, sendRequest("DDC:\\far", 8));
    EXPECT_EQ(fastMessage(FastList, "C:\\far"), receiveBytes(server, FastHeaderBytes + 6));
    ASSERT_TRUE(sendText(server, fastMessage(FastListEnd, std::string(4, '\0'))));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));

    AppState.livenessMs = 600;
    resume[2] = 0;
    resume[4] = 1;  // 4 GiB held
    ASSERT_NO_FATAL_FAILURE(startPush(server, size, false, resume));
    stream = receiveBytes(server, FastHeaderBytes + 8);
    EXPECT_EQ(fastMessage(FastAck, std::string(8, '\0')), stream.substr(0, FastHeaderBytes + 8)) << "no word";
    AppState.stopRequest = StopRequest::Requested;
    while (nextFastTag(server, &stream, &tag) && tag == FastAck) {
    }
    EXPECT_EQ(FastStop, tag);
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    EXPECT_LT(AppState.partCheck.done, AppState.partCheck.end) << "the check went on to its end";

    AppState.livenessMs = 1000;
    ASSERT_NO_FATAL_FAILURE(startPush(server, size, true));
    ASSERT_TRUE(pumpUntil([] { return timersFired(IDT_CLOSE_LINK) > 0; }, 10000));
    EXPECT_EQ(TransferState::Waiting, AppState.transferState);
    EXPECT_EQ(TransferOutcome::Failed, fakeUiSnapshot().outcomes.back());
    showPendingReports(nullptr);
    EXPECT_EQ(1, boxesCaptioned(L"応答なし"));
}

// The test's client, just connected, agrees on the fast link with this side's server, which offers what it
// serves ("R|" or "W|" and its served folder).
#define agreeWithServer(...) agreeWithServerAt(HERE, __VA_ARGS__)
void agreeWithServerAt(Caller at, SOCKET client, const std::string &access)
{
    TRACE_CALLER(at);
    ASSERT_TRUE(sendText(client, "DD|Parcelwight|fast-link|"));
    EXPECT_EQ("DR000000|fast|3|" + access + ",,,8", receiveMessage(client, 3000));
    ASSERT_TRUE(sendText(client, "ACK"));
    EXPECT_EQ("DR999999", receiveMessage(client, 3000));
    std::string hello("\x02\x00\x00\x00\x00", 5);
    ASSERT_TRUE(sendText(client, fastMessage(FastHello, hello)));
    ASSERT_TRUE(pumpUntil([] { return AppState.transferState == TransferState::Waiting; }, 3000));
}

// A fast server keeps a file whose last pieces are zeros at its whole length. A push whose data comes a byte at a
// time holds it no longer than a message may take to become whole: the client is told its stream is malformed.
// A pull outside the served folder is refused as such, and a push that falls silent ends with the silence.
TEST_F(LinkTest, AFastServerKeepsAZeroTailAndEndsWhatCannotGoOn)
{
    AppState.fastLinkAllowed = 1;
    wcscpy(AppState.servedFolder, folder.c_str());
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_NO_FATAL_FAILURE(agreeWithServer(client, "W|" + folderA));
    std::string head(32, '\0');
    std::string file = "abcd" + std::string(FastPieceBytes + 96, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&head[0]), file.size(), 8);
    ASSERT_TRUE(sendText(client, fastMessage(FastPush, head + folderA + "\\zeros.bin")));
    ASSERT_EQ(0u, receiveBytes(client, FastHeaderBytes + 12).rfind(FastResume, 0));
    std::string second(8, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&second[0]), FastPieceBytes, 8);
    std::string digest(4, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&digest[0]), crc32cUpdate(0, file.data(), file.size()), 4);
    ASSERT_TRUE(sendText(client, fastMessage(FastData, std::string(8, '\0') + file.substr(0, FastPieceBytes)) +
                                     fastMessage(FastData, second + file.substr(FastPieceBytes)) +
                                     fastMessage(FastEnd, digest)));
    EXPECT_EQ(fastMessage(FastDone, ""), receiveBytes(client, FastHeaderBytes));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    expectFileBytes(folder + L"\\zeros.bin", file);

    ASSERT_TRUE(sendText(client, fastMessage(FastPull, "C:\\outside.txt")));
    EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::Outside))),
              receiveBytes(client, 7));
    AppState.livenessMs = 400;
    ASSERT_TRUE(sendText(client, fastMessage(FastPush, head + folderA + "\\silent.bin")));
    ASSERT_EQ(0u, receiveBytes(client, FastHeaderBytes + 12).rfind(FastResume, 0));
    EXPECT_TRUE(stateBecomes(TransferState::Waiting));

    head[1] = 0x10;  // 4096 bytes
    head[2] = 0;
    ASSERT_TRUE(sendText(client, fastMessage(FastPush, head + folderA + "\\trickled.bin")));
    ASSERT_EQ(0u, receiveBytes(client, FastHeaderBytes + 12).rfind(FastResume, 0));
    std::string piece = fastMessage(FastData, std::string(8 + 4096, 'x'));
    std::string answer;
    for (size_t at = 0; at < piece.size() && answer.empty(); at++) {
        ASSERT_TRUE(sendText(client, piece.substr(at, 1)));
        answer = receiveMessage(client, 50);
    }
    EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::Malformed))), answer);
    EXPECT_TRUE(stateBecomes(TransferState::Waiting));
    EXPECT_FALSE(fileExists(folder + L"\\trickled.bin"));
    closesocket(client);
}

TEST_F(LinkTest, NewServerAnswersTheQuestionWithItsOfferAndThenSpeaksTheFastLink)
{
    AppState.fastLinkAllowed = 1;
    AppState.servedReadOnly = 1;
    // An entry whose path is over the budget of 259 characters is left out, and counted at the listing's end.
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + std::wstring(PathChars - 1 - folder.size(), L'x'), "x"));
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_NO_FATAL_FAILURE(agreeWithServer(client, "R|"));
    // From here on each message says its length: a listing comes in one stream.
    ASSERT_TRUE(sendText(client, fastMessage(FastList, folderA)));
    std::string end = fastMessage(FastListEnd, std::string("\x02\x00\x00\x00\x01\x00\x00\x00", 8));
    std::string stream;
    while (stream.size() < end.size() || stream.compare(stream.size() - end.size(), end.size(), end) != 0) {
        std::string piece = receiveMessage(client, 3000);
        ASSERT_FALSE(piece.empty()) << stream.size() << " bytes of the listing";
        stream += piece;
    }
    ASSERT_GT(stream.size(), end.size() + FastHeaderBytes);
    EXPECT_EQ("LR", stream.substr(0, 2));
    size_t length =
        static_cast<size_t>(getLittleEndian(reinterpret_cast<const unsigned char *>(stream.data() + 2), 4));
    EXPECT_EQ(stream.size(), FastHeaderBytes + length + end.size()) << "two rows in one message, then the end";
    EXPECT_NE(std::string::npos, stream.find("DR000001..,")) << "each row as a classic record, numbered";
    // Its first listing served, the server lists its client's folder, in the fast form.
    EXPECT_EQ(fastMessage(FastList, "C:\\"), receiveBytes(client, FastHeaderBytes + 3));
    ASSERT_TRUE(sendText(client, fastMessage(FastListEnd, std::string(4, '\0'))));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    // A write to a read-only side is refused with its reason; so is a name that is no UTF-8.
    ASSERT_TRUE(sendText(client, fastMessage(FastMakeFolder, folderA + "\\new")));
    EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::ReadOnly))),
              receiveBytes(client, 7));
    ASSERT_TRUE(sendText(client, fastMessage(FastPull, folderA + "\\\xff\xfe.txt")));
    EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::Malformed))),
              receiveBytes(client, 7));
    // A missing file, and a path of no local form, are told for what they are.
    ASSERT_TRUE(sendText(client, fastMessage(FastPull, folderA + "\\missing.txt")));
    EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::CannotRead))),
              receiveBytes(client, 7));
    ASSERT_TRUE(sendText(client, fastMessage(FastPull, "\\\\server\\share\\x.txt")));
    EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(FastReason::Malformed))),
              receiveBytes(client, 7));
    // A path is budgeted in characters: 259 pass, whatever their UTF-8 bytes, and one more is too long.
    std::string longest = narrow(folder + L"\\" + japaneseName(PathChars - 2 - folder.size()));
    for (const std::string &path : {longest, longest + "x"}) {
        ASSERT_TRUE(sendText(client, fastMessage(FastPull, path)));
        FastReason reason = path == longest ? FastReason::CannotRead : FastReason::TooLong;
        EXPECT_EQ(fastMessage(FastRefuse, std::string(1, static_cast<char>(reason))), receiveBytes(client, 7));
    }
    closesocket(client);

    // A served folder longer than the agreement's record holds is told to the next client as a folder whose
    // name did not fit, not as the whole machine.
    wcscpy(AppState.servedFolder, (L"C:\\" + std::wstring(230, L'l')).c_str());
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_NO_FATAL_FAILURE(agreeWithServer(client, "R|?"));
    closesocket(client);
}

// A tree the peer pushes lands below the folder it named, name by name: whatever it sends, nothing is made or
// written outside; each announced file gets its word, and the end is answered with what was written.
TEST_F(LinkTest, ATreePushedByThePeerStaysInsideItsFolderAndEachFileGetsItsWord)
{
    AppState.fastLinkAllowed = 1;
    openAsServer();
    SOCKET client;
    ASSERT_NO_FATAL_FAILURE(connectPeer(&client));
    ASSERT_TRUE(sendText(client, "DD|Parcelwight|fast-link|"));
    ASSERT_EQ("DR000000|fast|3|W|,,,8", receiveMessage(client, 3000));
    ASSERT_TRUE(sendText(client, "ACK"));
    ASSERT_EQ("DR999999", receiveMessage(client, 3000));
    ASSERT_TRUE(sendText(client, fastMessage(FastHello, std::string("\x03\x00\x00\x00\x00", 5))));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));

    auto folderEntry = [](const std::string &path) { return std::string(TreeFolderHeadBytes, '\0') + path; };
    auto fileEntry = [](uint32_t number, const std::string &bytes, const std::string &path) {
        std::string head(TreeFileHeadBytes, '\0');
        putLittleEndian(reinterpret_cast<unsigned char *>(&head[0]), number, 4);
        putLittleEndian(reinterpret_cast<unsigned char *>(&head[4]), bytes.size(), 8);
        return fastMessage(FastTreeFile, head + path);
    };
    auto word = [](uint32_t number, TreeHeld held, FastReason reason) {
        std::string payload(TreeWordBytes, '\0');
        putLittleEndian(reinterpret_cast<unsigned char *>(&payload[0]), number, 4);
        payload[4] = static_cast<char>(held);
        payload[5] = static_cast<char>(reason);
        return fastMessage(FastTreeWord, payload);
    };
    // A file held in a folder whose name begins with that of a folder the stream makes: it is looked at.
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\tree").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\tree\\newer").c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(folder + L"\\tree\\newer\\x.txt", "old"));
    WIN32_FILE_ATTRIBUTE_DATA held = {};
    ASSERT_TRUE(GetFileAttributesExW((folder + L"\\tree\\newer\\x.txt").c_str(), GetFileExInfoStandard, &held));
    TreeWordWire heldWord = {4, TreeHeld::Newer, 0, 0, 0, 3, held.ftLastWriteTime};
    std::string heldPayload(TreeWordBytes, '\0');
    putTreeWord(reinterpret_cast<unsigned char *>(&heldPayload[0]), heldWord);
    std::string digest(4, '\0');
    putLittleEndian(reinterpret_cast<unsigned char *>(&digest[0]), crc32cUpdate(0, "hello", 5), 4);
    std::string totals(16, '\0');
    totals[0] = 1;
    totals[8] = 5;
    ASSERT_TRUE(sendText(client, fastMessage(FastTreePush, "\x01" + folderA + "\\tree") +
                                     fastMessage(FastTreeFolder, folderEntry("")) +
                                     fastMessage(FastTreeFolder, folderEntry("..\\out")) +
                                     fileEntry(0, "hello", "sub\\..\\..\\evil.txt") + fileEntry(1, "hello", "a.txt") +
                                     fileEntry(2, "hello", "C:\\evil.txt") +
                                     fastMessage(FastTreeFolder, folderEntry("new")) + fileEntry(3, "hello", "new\\b.txt") +
                                     fastMessage(FastTreeFolder, folderEntry("newer")) +
                                     fileEntry(4, "hello", "newer\\x.txt")));
    std::string failed = fastMessage(FastTreeFailed, std::string(1, static_cast<char>(FastReason::BadName)) + "..\\out");
    std::string words = word(0, TreeHeld::Declined, FastReason::BadName) + word(1, TreeHeld::Nothing, FastReason::None) +
                        word(2, TreeHeld::Declined, FastReason::BadName) + word(3, TreeHeld::Nothing, FastReason::None) +
                        fastMessage(FastTreeWord, heldPayload);
    EXPECT_EQ(failed + words, receiveBytes(client, failed.size() + words.size()));
    // A file in a folder the stream made whose digest fails is named and never made, even in part.
    std::string hello = fastMessage(FastData, std::string(8, '\0') + "hello");
    ASSERT_TRUE(sendText(client, hello + fastMessage(FastEnd, digest) + hello + fastMessage(FastEnd, std::string(4, 'Z')) +
                                     fastMessage(FastTreeSkip, std::string("\x04\0\0\0\0", 5)) +
                                     fastMessage(FastTreeClose, folderEntry("")) + fastMessage(FastTreeEnd, totals)));
    std::string ended = fastMessage(FastTreeFailed, std::string(1, static_cast<char>(FastReason::Digest)) + "new\\b.txt") +
                        fastMessage(FastTreeEnd, totals);
    EXPECT_EQ(ended, receiveBytes(client, ended.size()));
    ASSERT_TRUE(stateBecomes(TransferState::Waiting));
    std::string got;
    EXPECT_TRUE(readFileBytes(folder + L"\\tree\\a.txt", &got) && got == "hello");
    EXPECT_FALSE(fileExists(folder + L"\\tree\\new\\b.txt"));
    EXPECT_FALSE(fileExists(folder + L"\\out"));
    EXPECT_FALSE(fileExists(folder + L"\\evil.txt"));
    EXPECT_FALSE(fileExists(L"C:\\evil.txt"));
    closesocket(client);
}

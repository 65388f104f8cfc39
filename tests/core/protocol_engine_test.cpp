// protocol_engine_test.cpp: the engine against a peer played by the test: refusals, "NAK", "CUT", the directory
// and folder exchanges, and pushes, pulls and stops with the exact bytes on the wire and the files left behind.
#include "core/protocol_engine.h"
#include "core/reports.h"

#include "tests/core/peer_harness.h"
#include "resources/resource_ids.h"
#include "tests/support/fake_ui.h"
#include "tests/support/test_window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

#define askForFile(...) askForFileAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define reopenAs(...) reopenAsAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class EngineTest : public PeerTest {
protected:
    void reopenAsAt(Caller at, ConnectionMode mode)
    {
        TRACE_CALLER(at);
        closePeer(&peer);
        ASSERT_TRUE(openPeer(&peer, mode));
    }
    // The peer's next message must be exactly this.
    void expectFromUsAt(Caller at, const std::string &expected)
    {
        TRACE_CALLER(at);
        EXPECT_EQ(fromUs(&peer), expected);
    }
    void expectSilenceAt(Caller at, int ms = 100)
    {
        TRACE_CALLER(at);
        EXPECT_TRUE(silentFor(peer.theirs, ms));
    }
    // The peer's next message must be a whole trailer with this tag.
    void expectTrailerFromUsAt(Caller at, const char *tag)
    {
        TRACE_CALLER(at);
        std::string trailer = fromUs(&peer);
        EXPECT_EQ(trailer.substr(0, 8), std::string(tag) + "999999");
        EXPECT_EQ(trailer.size(), 32u);
    }
    // The peer asks for asked.bin, written into the test folder with data; returns its path.
    std::wstring askForFileAt(Caller at, const std::string &data)
    {
        TRACE_CALLER(at);
        std::wstring source = folder + L"\\asked.bin";
        EXPECT_TRUE(writeFileBytes(source, data));
        deliver(requestMessage("FC", source));
        return source;
    }
    std::vector<TransferState> refreshes() { return fakeUiSnapshot().states; }
};
#define expectFromUs(...) expectFromUsAt(HERE, __VA_ARGS__)
#define expectSilence(...) expectSilenceAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define expectTrailerFromUs(...) expectTrailerFromUsAt(HERE, __VA_ARGS__)

TEST_F(EngineTest, WaitingRefusesWhatIsNotAValidRequest)
{
    std::string tooLong = "C:\\" + std::string(257, 'p');
    const std::string refused[] = {
        "ACK",      "DR999999", "DR000000a,b,c,8", "DX",           "DDC:",         "FDab",
        "FCab",     "FX/abc",   "CD",              "CX",           "CUTX",         "Q",
        "DD" + tooLong, "FD" + tooLong, "FC" + tooLong, "CD" + tooLong, std::string("DD\0C:\\abc", 9),
    };
    for (const std::string &message : refused) {
        SCOPED_TRACE(message.substr(0, 12));
        clearRecordedBoxes();
        deliver(message);
        expectFromUs("NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
        if (HasFailure())
            break;
    }
    EXPECT_TRUE(recordedBoxes().empty());
    // A request is claimed before it is looked at: the status bar may be told Waiting again, nothing else.
    for (TransferState shown : refreshes())
        EXPECT_EQ(shown, TransferState::Waiting);
    expectSilence();
}

TEST_F(EngineTest, NakIsNeverAnsweredInAnyState)
{
    AppState.monitorOn = 1;
    for (int state = 0; state <= static_cast<int>(TransferState::StopFrom) + 1; state++) {
        SCOPED_TRACE(state);
        AppState.transferState = static_cast<TransferState>(state);
        deliver(state % 2 ? "NAK" : "NAKanything");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    }
    expectSilence(200);
    // The status bar follows each return to Waiting; the side that asked learns its request was refused.
    EXPECT_EQ(refreshes(), std::vector<TransferState>(11, TransferState::Waiting));
    EXPECT_EQ(fakeUiSnapshot().outcomes, std::vector<TransferOutcome>(4, TransferOutcome::Refused));
    EXPECT_TRUE(recordedBoxes().empty());
    // Every receive is logged first, "NAK" included.
    EXPECT_EQ(AppState.receivedRingPos, 12);
    EXPECT_EQ(std::string(AppState.receivedRing[1], 3), "NAK");
}

// A window of this thread stands for the main window that closes the link.
class TimerTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        window = createTestWindow();
        ASSERT_NE(window, nullptr);
        AppState.timerWindow = window;
    }
    void TearDown() override
    {
        DestroyWindow(window);
        EngineTest::TearDown();
    }
    HWND window = nullptr;
};

TEST_F(TimerTest, CutOnAClientArmsTheDisconnectTimer)
{
    deliver("CUT");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_TRUE(pumpUntil([] { return timersFired(IDT_CLOSE_LINK) == 1; }, 3000));
    expectSilence();
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(TimerTest, CutIsRefusedByAServerAndByABusyClient)
{
    AppState.transferState = TransferState::CallDIR;
    deliver("CUT");
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    AppState.transferState = TransferState::FolderTO;
    deliver("CUT");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::FolderTO);

    reopenAs(ConnectionMode::Server);
    AppState.timerWindow = window;
    deliver("CUT");
    expectFromUs("NAK");
    EXPECT_FALSE(KillTimer(window, IDT_CLOSE_LINK)) << "no close is armed";
}

TEST_F(EngineTest, FolderToWaitsForAckThenListsThePeerFolderAgainWhenTheCommandAsked)
{
    wcscpy(AppState.peerFolder, L"D:\\shared");
    AppState.transferState = TransferState::FolderTO;
    AppState.relistAfterFolder = 1;
    deliver("DR000001name,2024/01/01 00:00,1,8");
    deliver("ACKnowledged");
    expectFromUs("DDD:\\shared");
    EXPECT_EQ(AppState.transferState, TransferState::CallDIR);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::Waiting, TransferState::CallDIR}));
    EXPECT_TRUE(recordedBoxes().empty());
    // A folder copy's folder: the copy lists the pane itself when it ends.
    AppState.transferState = TransferState::FolderTO;
    deliver("ACK");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

TEST_F(EngineTest, APeerRequestThatCrossesOursIsRefusedAndOursEndsSayingWhy)
{
    // Each side waits for the other's answer; both are refused at once, never left to the silence limit.
    const char *requests[] = {"DDC:\\a", "FDC:\\a.txt", "FCC:\\a.txt", "CDC:\\a"};
    for (TransferState ours : {TransferState::CallDIR, TransferState::CallCopyTO, TransferState::CallCopyFrom,
                               TransferState::FolderTO}) {
        for (const char *request : requests) {
            AppState.transferState = ours;
            AppState.sendSourcePath[0] = 0;
            deliver(request);
            expectFromUs("NAK");
            EXPECT_EQ(AppState.transferState, TransferState::Waiting) << request;
            EXPECT_EQ(AppState.lastOutcome, TransferOutcome::Refused) << request;
            EXPECT_EQ(AppState.lastReason, FastReason::Busy) << request;
            // The peer's refusal of ours then comes in Waiting and is ignored.
            deliver("NAK");
        }
    }
    expectSilence();
    // The next exchange has no reason of the last one's.
    AppState.transferState = TransferState::CallDIR;
    deliver("NAK");
    EXPECT_EQ(AppState.lastReason, FastReason::None);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(EngineTest, FolderRequestIsAcknowledgedWhenTheFolderIsThereAfterwards)
{
    std::wstring created = folder + L"\\new folder";
    deliver(requestMessage("CD", created));
    expectFromUs("ACK");
    EXPECT_EQ(GetFileAttributesW(created.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::FolderFrom, TransferState::Waiting}));
    deliver(requestMessage("CD", created));
    expectFromUs("ACK");
    // Long enough to be read, but a name without its drive would be made in this program's own folder.
    deliver("CDx");
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    // Nothing can be made over a file or under a missing parent: refused rather than acknowledged.
    std::wstring file = folder + L"\\plain.txt";
    ASSERT_TRUE(writeFileBytes(file, "x"));
    for (const std::wstring &path : {file, folder + L"\\missing\\child"}) {
        SCOPED_TRACE(narrow(path));
        deliver(requestMessage("CD", path));
        expectFromUs("NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
        if (HasFailure())
            break;
    }
    EXPECT_FALSE(fileExists(folder + L"\\missing"));
}

// A push onto a folder or a device would leave its data nowhere: refused at the request.
TEST_F(EngineTest, PushOntoAFolderOrADeviceIsRefused)
{
    for (const std::wstring &path : {folder, std::wstring(L"C:\\NUL"), folder + L"\\nul.txt"}) {
        SCOPED_TRACE(narrow(path));
        deliver(requestMessage("FD", path));
        expectFromUs("NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
        if (HasFailure())
            break;
    }
}

// The side that asked learns how each of its exchanges ended; a pull it stops answers the next block with
// "NAK" and keeps nothing, and a pulled file that cannot replace its target fails.
TEST_F(EngineTest, TheSideThatAskedLearnsEachOutcome)
{
    std::wstring target = folder + L"\\pulled.bin";
    ASSERT_TRUE(writeFileBytes(target, "old"));
    strcpy(AppState.pullTargetA, ansiPath(target).c_str());
    AppState.transferState = TransferState::CallCopyFrom;
    deliver(blockMessage("FB", 0, "new"));
    expectFromUs("ACK");
    AppState.stopRequest = StopRequest::Requested;
    deliver(blockMessage("FB", 1, "more"));
    expectFromUs("NAK");
    EXPECT_FALSE(fileExists(folder + L"\\pulled.$TEMP"));

    HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    AppState.transferState = TransferState::CallCopyFrom;
    deliver(blockMessage("FB", 0, "new"));
    expectFromUs("ACK");
    deliver(senderTrailer("FB"));
    CloseHandle(holder);
    expectFileBytes(target, "old");

    AppState.transferState = TransferState::CallDIR;
    deliver("DR999999");
    AppState.transferState = TransferState::CallCopyTO;
    deliver("NAK");
    expectSilence();
    EXPECT_EQ(fakeUiSnapshot().outcomes, (std::vector<TransferOutcome>{TransferOutcome::Stopped, TransferOutcome::Failed,
                                                                       TransferOutcome::Done, TransferOutcome::Refused}));
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(EngineTest, ServerStreamsAFortyRowListingThenAsksForTheClientsFolderOnce)
{
    reopenAs(ConnectionMode::Server);
    for (int i = 0; i < 37; i++) {
        wchar_t name[32];
        _snwprintf(name, 31, L"\\f%02d.txt", i);
        name[31] = 0;
        ASSERT_TRUE(writeFileBytes(folder + name, "x"));
    }
    deliver(requestMessage("DD", folder));
    EXPECT_EQ(AppState.transferState, TransferState::RequestDIR);
    std::vector<std::string> rows;
    rows.push_back(fromUs(&peer));
    int acks = 0;
    std::string ownRequest;
    DWORD requestAfter = 0;
    while (rows.back() != "DR999999" && rows.back().compare(0, 2, "DR") == 0 && acks < 100) {
        // The engine runs beside the peer here, so the terminator is read before the server's own request.
        std::thread engine([] { deliver("ACK"); });
        acks++;
        rows.push_back(fromUs(&peer));
        engine.join();
        if (rows.back() == "DR999999") {
            // The receive loop's part: it starts the server's own request once due.
            DWORD start = GetTickCount();
            EXPECT_TRUE(pumpUntil([] {
                startDueOwnListing(GetTickCount());
                return AppState.transferState != TransferState::Waiting;
            }, 3000));
            ownRequest = fromUs(&peer, 3000);
            requestAfter = GetTickCount() - start;
        }
    }
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(acks, 39);
    for (int i = 0; i < 39; i++) {
        char header[16];
        snprintf(header, sizeof(header), "DR%06d", i);
        EXPECT_EQ(rows[i].substr(0, 8), header);
    }
    EXPECT_EQ(ownRequest, "DDC:\\");
    EXPECT_GE(requestAfter, 400u);
    EXPECT_EQ(AppState.transferState, TransferState::CallDIR);
    EXPECT_EQ(AppState.serverAskedPeerDir, 1);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::RequestDIR, TransferState::Waiting,
                                                       TransferState::CallDIR}));

    // Next listings are not followed by a request; a folder that cannot be searched is the terminator alone.
    resetFakeUi();
    AppState.transferState = TransferState::Waiting;
    deliver(requestMessage("DD", folder + L"\\missing"));
    expectFromUs("DR999999");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(INFINITE, startDueOwnListing(GetTickCount() + 1000));
    expectSilence(700);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::RequestDIR, TransferState::Waiting}));
}

TEST_F(EngineTest, ServedListingIgnoresAckPastTheEndAndRefusesAnythingElse)
{
    deliver(requestMessage("DD", folder + L"\\missing"));
    expectFromUs("DR999999");
    expectSilence(600);  // a client never asks back
    AppState.transferState = TransferState::RequestDIR;
    deliver("ACK");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::RequestDIR);
    deliver("DR999999");
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

TEST_F(EngineTest, CallDirTakesRecordsUntilTheTerminator)
{
    AppState.transferState = TransferState::CallDIR;
    for (int i = 0; i < 39; i++) {
        char record[64];
        snprintf(record, sizeof(record), "DR%06dentry%02d.txt,2024/01/01 00:00,10,8", i, i);
        deliver(record);
        ASSERT_EQ(fromUs(&peer), "ACK") << "record " << i;
    }
    EXPECT_EQ(AppState.transferState, TransferState::CallDIR);
    EXPECT_TRUE(refreshes().empty());
    deliver("DR999999");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    FakeUi ui = fakeUiSnapshot();
    ASSERT_EQ(ui.peerRows.size(), 39u);
    EXPECT_EQ(ui.peerRows[0], "0|entry00.txt,2024/01/01 00:00,10,8");
    EXPECT_EQ(ui.peerRows[38], "38|entry38.txt,2024/01/01 00:00,10,8");
    EXPECT_EQ(ui.states, std::vector<TransferState>{TransferState::Waiting});
}

TEST_F(EngineTest, CallDirRefusesShortAndRefusedRecords)
{
    AppState.transferState = TransferState::CallDIR;
    deliver("DR000001a,,");  // text length 11
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    AppState.transferState = TransferState::CallDIR;
    deliver("DR000001a,,,8");
    expectFromUs("ACK");
    setFakeUiRefuseRecords(true);
    deliver("DR000002bad record");
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

#define startPush(...) startPushAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// Requester of a push: this side sends the file one block per "ACK".
class PushTest : public EngineTest {
protected:
    std::wstring startPushAt(Caller at, const std::string &bytes)
    {
        TRACE_CALLER(at);
        std::wstring source = folder + L"\\source.dat";
        EXPECT_TRUE(writeFileBytes(source, bytes));
        wcscpy(AppState.sendSourcePath, source.c_str());
        AppState.blockCount = 0;
        AppState.stopRequest = StopRequest::None;
        AppState.transferState = TransferState::CallCopyTO;
        return source;
    }
};

TEST_F(PushTest, FileGoesOutOneBlockPerAckThenTheTrailer)
{
    std::string data = patternBytes(2500, 3);
    std::wstring source = startPush(data);
    deliver("ACK");
    expectFromUs(blockMessage("FR", 0, data.substr(0, 1000)));
    deliver("ACK");
    expectFromUs(blockMessage("FR", 1, data.substr(1000, 1000)));
    deliver("ACK");
    expectFromUs(blockMessage("FR", 2, data.substr(2000)));
    EXPECT_EQ(AppState.blockCount, 3);
    EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
    deliver("ACK");
    expectTrailerFromUs("FR");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(AppState.blockCount, 3);
    EXPECT_EQ(refreshes(), std::vector<TransferState>{TransferState::Waiting});
    // An "ACK" after the trailer finds this side in Waiting.
    deliver("ACK");
    expectFromUs("NAK");
    EXPECT_TRUE(openableExclusively(source));
}

TEST_F(PushTest, EmptyFileIsTheTrailerAlone)
{
    startPush("");
    deliver("ACK");
    expectTrailerFromUs("FR");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(AppState.blockCount, 0);
    expectSilence();
}

TEST_F(PushTest, OversizedSourceIsReportedAndRefused)
{
    std::wstring source = folder + L"\\big.bin";
    ASSERT_TRUE(makeSparseFile(source, 999997001ull));
    wcscpy(AppState.sendSourcePath, source.c_str());
    AppState.transferState = TransferState::CallCopyTO;
    deliver("ACK");
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_TRUE(recordedBoxes().empty());
    showPendingReports(nullptr);
    EXPECT_EQ(boxesCaptioned(L"SizeOver"), 1);
    EXPECT_EQ(fakeUiSnapshot().outcomes, std::vector<TransferOutcome>{TransferOutcome::Failed});
}

TEST_F(PushTest, StopSendsTheTagClosesTheSourceAndEndsOnTheNextAck)
{
    std::string data = patternBytes(2500);
    std::wstring source = startPush(data);
    deliver("ACK");
    expectFromUs(blockMessage("FR", 0, data.substr(0, 1000)));
    AppState.stopRequest = StopRequest::Requested;
    AppState.monitorOn = 1;
    deliver("ACK");
    expectFromUs("FRDTSTOP");
    EXPECT_EQ(AppState.stopRequest, StopRequest::Sent);
    EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
    EXPECT_TRUE(openableExclusively(source));
    EXPECT_EQ(std::string(AppState.sentRing[0], 8), "FRDTSTOP");
    EXPECT_TRUE(refreshes().empty());
    deliver("ACK");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(AppState.stopRequest, StopRequest::None);
    EXPECT_EQ(refreshes(), std::vector<TransferState>{TransferState::Waiting});
}

// Blocks and trailers bypass the sent ring in both directions; stop tags and answers go through it.
TEST_F(PushTest, SentRingHoldsStopTagsButNeverFileData)
{
    AppState.monitorOn = 1;
    std::string data = patternBytes(1500, 7);
    startPush(data);
    deliver("ACK");
    expectFromUs(blockMessage("FR", 0, data.substr(0, 1000)));
    deliver("ACK");
    expectFromUs(blockMessage("FR", 1, data.substr(1000)));
    deliver("ACK");
    expectTrailerFromUs("FR");
    EXPECT_EQ(AppState.sentRingPos, 0);
    EXPECT_EQ(std::string(AppState.sentRing[0], RingLineBytes), std::string(RingLineBytes, '\0'));
    EXPECT_EQ(AppState.receivedRingPos, 3);

    askForFile(patternBytes(2500));
    fromUs(&peer);
    AppState.stopRequest = StopRequest::Requested;
    deliver("ACK");
    expectFromUs("FBDTSTOP");
    EXPECT_EQ(AppState.sentRingPos, 1);
    EXPECT_EQ(std::string(AppState.sentRing[0], 9), std::string("FBDTSTOP\0", 9));
}

TEST_F(PushTest, StopBeforeTheFirstBlockSendsOnlyTheTag)
{
    startPush("data");
    AppState.stopRequest = StopRequest::Requested;
    deliver("ACK");
    expectFromUs("FRDTSTOP");
    deliver("ACK");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

TEST_F(PushTest, NakFromThePeerReleasesTheSource)
{
    std::wstring source = startPush(patternBytes(2500));
    deliver("ACK");
    fromUs(&peer);
    deliver("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_NE(AppState.fileState, FileIoState::Open);
    EXPECT_TRUE(openableExclusively(source));
    expectSilence();
}

TEST_F(PushTest, UnexpectedAnswerIsRefusedAndReleasesTheSource)
{
    std::wstring source = startPush(patternBytes(2500));
    deliver("ACK");
    fromUs(&peer);
    deliver("FR000000xx");
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_TRUE(openableExclusively(source));
}

#define startServed(...) startServedAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// Server of a push: this side writes what the peer sends.
class ServedPushTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        target = folder + L"\\report.txt";
        temporary = folder + L"\\report.$TEMP";
    }
    void startServedAt(Caller at)
    {
        TRACE_CALLER(at);
        deliver(requestMessage("FD", target));
        expectFromUs("ACK");
        EXPECT_EQ(AppState.transferState, TransferState::RequestCopyTO);
    }
    std::string contents(const std::wstring &path)
    {
        std::string bytes = "<missing>";
        readFileBytes(path, &bytes);
        return bytes;
    }
    std::wstring target, temporary;
};

TEST_F(ServedPushTest, BlocksAreAcknowledgedAndTheTrailerReplacesTheTarget)
{
    ASSERT_TRUE(writeFileBytes(target, "old"));
    startServed();
    std::string data = patternBytes(2500, 9);
    for (int i = 0; i < 3; i++) {
        deliver(blockMessage("FR", i, data.substr(i * 1000, 1000)));
        expectFromUs("ACK");
        EXPECT_EQ(contents(target), "old");
        if (HasFailure())
            break;
    }
    deliver(senderTrailer("FR"));
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_FALSE(fileExists(temporary));
    expectSenderTimes(target);
    EXPECT_EQ(contents(target), data);
    EXPECT_EQ(AppState.blockCount, 0);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::RequestCopyTO, TransferState::Waiting}));
}

TEST_F(ServedPushTest, StopLeavesTheTargetAndNoTemporaryFile)
{
    ASSERT_TRUE(writeFileBytes(target, "old"));
    startServed();
    deliver(blockMessage("FR", 0, std::string(1000, 'n')));
    expectFromUs("ACK");
    deliver(blockMessage("FR", 1, std::string(1000, 'n')));
    expectFromUs("ACK");
    ASSERT_TRUE(fileExists(temporary));
    deliver("FRDTSTOP");
    expectFromUs("ACK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::RequestCopyTO, TransferState::Waiting}));
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_EQ(contents(target), "old");
    // A stop before any block has nothing to delete and is acknowledged all the same.
    startServed();
    deliver("FRDTSTOP");
    expectFromUs("ACK");
    EXPECT_EQ(contents(target), "old");
}

TEST_F(ServedPushTest, NakOrARefusedBlockLeavesNoTemporaryFileOpenOrOnDisk)
{
    startServed();
    deliver(blockMessage("FR", 0, "partial"));
    expectFromUs("ACK");
    deliver("NAK");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_NE(AppState.fileState, FileIoState::Open);
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_FALSE(fileExists(target));

    startServed();
    deliver(blockMessage("FR", 0, "partial"));
    expectFromUs("ACK");
    deliver(blockMessage("FB", 1, "wrong kind"));
    expectFromUs("NAK");
    EXPECT_NE(AppState.fileState, FileIoState::Open);
    EXPECT_FALSE(fileExists(temporary));
    // A block with no file open is refused.
    startServed();
    deliver(blockMessage("FR", 1, "no block 0"));
    expectFromUs("NAK");
    EXPECT_FALSE(fileExists(temporary));
}

TEST_F(ServedPushTest, EmptyFileArrivesEmptyWithTheSendersTimes)
{
    ASSERT_TRUE(writeFileBytes(target, "previous contents"));
    startServed();
    deliver(senderTrailer("FR"));
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    expectSenderTimes(target);
    EXPECT_EQ(contents(target), "");
    EXPECT_FALSE(fileExists(temporary));
}

// Blocks must come in order: a repeated block 0, a gap or a number that is not six digits ends the transfer.
TEST_F(ServedPushTest, ABlockOutOfOrderEndsTheTransfer)
{
    ASSERT_TRUE(writeFileBytes(target, "kept"));
    for (const std::string &wrong : {blockMessage("FR", 0, "bb"), blockMessage("FR", 2, "cc"),
                                     std::string("FR00 001dd")}) {
        SCOPED_TRACE(wrong);
        startServed();
        deliver(blockMessage("FR", 0, "aaaaaaaa"));
        expectFromUs("ACK");
        deliver(wrong);
        expectFromUs("NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
        EXPECT_FALSE(fileExists(temporary));
        EXPECT_EQ(contents(target), "kept");
        if (HasFailure())
            break;
    }
}

// The serving side of a push tells its own user when the file could not be put in place; the box waits for
// the UI thread.
TEST_F(ServedPushTest, ATargetThatCannotBeReplacedIsReportedOnThisSide)
{
    ASSERT_TRUE(writeFileBytes(target, "old"));
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    startServed();
    deliver(blockMessage("FR", 0, "new"));
    expectFromUs("ACK");
    deliver(senderTrailer("FR"));
    expectSilence();
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(contents(target), "old");
    EXPECT_FALSE(fileExists(temporary));
    EXPECT_TRUE(recordedBoxes().empty());
    showPendingReports(nullptr);
    EXPECT_EQ(boxesCaptioned(L"受信"), 1);
}

// The disk fills up during a push: the block that cannot be written is refused, the old target stays and no
// temporary file is left. The small volume is mounted by the test run; without it the case has nothing to do.
TEST_F(ServedPushTest, FullVolumeRefusesTheBlockAndKeepsTheOldTarget)
{
    const char *volume = getenv("PW_SMALL_VOLUME");
    if (volume == nullptr || volume[0] == 0)
        GTEST_SKIP() << "run as test_full_volume";
    std::wstring folderOnVolume = L"Z:" + std::wstring(volume, volume + strlen(volume));
    for (wchar_t &c : folderOnVolume)
        c = c == L'/' ? L'\\' : c;
    target = folderOnVolume + L"\\kept.bin";
    temporary = folderOnVolume + L"\\kept.$TEMP";
    ASSERT_TRUE(writeFileBytes(target, "old"));
    startServed();
    std::string answer = "ACK";
    std::string data = patternBytes(BlockDataBytes, 3);
    for (int block = 0; block < 1000 && answer == "ACK"; block++) {
        deliver(blockMessage("FR", block, data));
        answer = fromUs(&peer);
    }
    EXPECT_EQ(answer, "NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(contents(target), "old");
    EXPECT_FALSE(fileExists(temporary));
    DeleteFileW(target.c_str());
}

TEST_F(ServedPushTest, TargetWhoseTemporaryNameWouldNotFitIsRefusedAtOnce)
{
    std::string prefix = ansiPath(folder + L"\\");
    std::string longTarget = prefix + std::string(255 - prefix.size(), 'n');  // no dot: needs 255 + 6
    deliver("FD" + longTarget);
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

// Server of a pull: this side sends the file the peer asks for.
TEST_F(EngineTest, ServedPullAnswersWithBlocksThenTheTrailer)
{
    std::string data = patternBytes(1001, 5);
    std::wstring source = askForFile(data);
    expectFromUs(blockMessage("FB", 0, data.substr(0, 1000)));
    EXPECT_EQ(AppState.transferState, TransferState::RequestCopyFrom);
    EXPECT_EQ(AppState.blockCount, 1);
    EXPECT_EQ(std::string(AppState.incomingTargetA), ansiPath(source));
    deliver("ACK");
    expectFromUs(blockMessage("FB", 1, data.substr(1000)));
    deliver("ACK");
    expectTrailerFromUs("FB");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::RequestCopyFrom, TransferState::Waiting}));
    EXPECT_TRUE(openableExclusively(source));
}

// An empty file is its trailer alone; a missing file, a folder or a device is refused and nothing is created.
TEST_F(EngineTest, ServedPullOfAnEmptyFileIsTheTrailerAloneAndOfNoFileARefusal)
{
    std::wstring empty = folder + L"\\empty.txt";
    ASSERT_TRUE(writeFileBytes(empty, ""));
    deliver(requestMessage("FC", empty));
    expectTrailerFromUs("FB");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    std::wstring missing = folder + L"\\missing.txt";
    for (const std::wstring &path : {missing, folder, std::wstring(L"C:\\NUL"), std::wstring(L"COM1")}) {
        SCOPED_TRACE(narrow(path));
        deliver(requestMessage("FC", path));
        expectFromUs("NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
        if (HasFailure())
            break;
    }
    EXPECT_FALSE(fileExists(missing));
    expectSilence();
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(EngineTest, ServedPullOfAnOversizedFileIsRefusedWithoutTheSizeBox)
{
    std::wstring source = folder + L"\\big.bin";
    ASSERT_TRUE(makeSparseFile(source, 4294967396ull));
    deliver(requestMessage("FC", source));
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(boxesCaptioned(L"SizeOver"), 0);
    EXPECT_EQ(refreshes(), (std::vector<TransferState>{TransferState::RequestCopyFrom, TransferState::Waiting}));
}

TEST_F(EngineTest, ServedPullStopsWhenItsOwnStopIsAsked)
{
    std::wstring source = askForFile(patternBytes(3000));
    fromUs(&peer);
    AppState.stopRequest = StopRequest::Requested;
    deliver("ACK");
    expectFromUs("FBDTSTOP");
    EXPECT_TRUE(openableExclusively(source));
    deliver("ACK");
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_EQ(AppState.stopRequest, StopRequest::None);
}

TEST_F(EngineTest, ServedPullThatCannotReadItsSourceTellsThePeer)
{
    std::wstring source = askForFile(patternBytes(FileBufferBytes + 3000));
    fromUs(&peer);
    // The source is cut short mid-way by another program.
    HANDLE writer = CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetEndOfFile(writer));
    CloseHandle(writer);
    std::string answer;
    for (int block = 1; block <= FileBufferBytes / BlockDataBytes + 1 && answer != "NAK"; block++) {
        deliver("ACK");
        answer = fromUs(&peer).substr(0, 3);
    }
    EXPECT_EQ(answer, "NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_TRUE(openableExclusively(source));
}

// Requester of a pull: this side writes the "FB" blocks into pullTargetA.
TEST_F(EngineTest, PullWritesBlocksAndRefusesPushBlocks)
{
    std::wstring target = folder + L"\\pulled.bin";
    strcpy(AppState.pullTargetA, ansiPath(target).c_str());
    AppState.transferState = TransferState::CallCopyFrom;
    std::string data = patternBytes(1500, 1);
    deliver(blockMessage("FB", 0, data.substr(0, 1000)));
    expectFromUs("ACK");
    deliver(blockMessage("FB", 1, data.substr(1000)));
    expectFromUs("ACK");
    deliver(senderTrailer("FB"));
    expectSilence();
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    expectFileBytes(target, data);

    AppState.transferState = TransferState::CallCopyFrom;
    deliver(blockMessage("FR", 0, "push block"));
    expectFromUs("NAK");
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_FALSE(fileExists(folder + L"\\pulled.$TEMP"));

    // A stop from the serving side: the temporary file goes, the earlier target stays.
    AppState.transferState = TransferState::CallCopyFrom;
    deliver(blockMessage("FB", 0, "new"));
    expectFromUs("ACK");
    deliver("FBDTSTOP");
    expectFromUs("ACK");
    EXPECT_FALSE(fileExists(folder + L"\\pulled.$TEMP"));
    expectFileBytes(target, data);
}

TEST_F(EngineTest, UnknownStatesRefuse)
{
    const TransferState states[] = {TransferState::FolderFrom, TransferState::StopTO, TransferState::StopFrom,
                                    static_cast<TransferState>(42)};
    for (TransferState state : states) {
        AppState.transferState = state;
        deliver("ACK");
        expectFromUs("NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(refreshes(), std::vector<TransferState>(4, TransferState::Waiting));
}

} // namespace

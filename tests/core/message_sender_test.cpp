// message_sender_test.cpp: the send path, the traffic-monitor rings and the report queue.
#include "core/send_ops.h"

#include "core/message_box.h"
#include "core/reports.h"
#include "tests/core/peer_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string ringLine(const MonitorRing ring, int line)
{
    return std::string(ring[line], RingLineBytes);
}

std::string padded(const std::string &text)
{
    std::string line = text.substr(0, RingLineBytes);
    line.resize(RingLineBytes, '\0');
    return line;
}

class MessageSenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(openPeer(&peer, ConnectionMode::Client)); }
    void TearDown() override { closePeer(&peer); }
    PeerHarness peer;
};

TEST_F(MessageSenderTest, FirstMessageFillsLineZeroAndPutsTheMarkerAfterIt)
{
    AppState.monitorOn = 1;
    EXPECT_EQ(sendMessage("ACK", 3), 0);
    EXPECT_EQ(fromUs(&peer), "ACK");
    EXPECT_EQ(ringLine(AppState.sentRing, 0), padded("ACK"));
    EXPECT_EQ(ringLine(AppState.sentRing, 1), padded("***** WRITE-END *****"));
    EXPECT_EQ(AppState.sentRingPos, 1);
    EXPECT_EQ(ringLine(AppState.receivedRing, 0), std::string(RingLineBytes, '\0'));
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(MessageSenderTest, ThirtyThreeMessagesWrapOntoTheOldest)
{
    for (int i = 1; i <= 33; i++) {
        char text[16];
        snprintf(text, sizeof(text), "M%02d", i);
        ringAppend(AppState.sentRing, &AppState.sentRingPos, text, 3, SentRingMarker);
    }
    EXPECT_EQ(AppState.sentRingPos, 1);
    EXPECT_EQ(ringLine(AppState.sentRing, 1), padded("***** WRITE-END *****"));
    EXPECT_EQ(ringLine(AppState.sentRing, 0), padded("M33"));
    for (int line = 2; line < RingLines; line++) {
        char text[16];
        snprintf(text, sizeof(text), "M%02d", line + 1);
        EXPECT_EQ(ringLine(AppState.sentRing, line), padded(text)) << "line " << line;
    }
}

TEST_F(MessageSenderTest, LongMessageKeepsItsFirst272BytesAndGoesOutWhole)
{
    AppState.monitorOn = 1;
    std::string message = "DD" + std::string(298, 'x');
    message[280] = 'y';
    EXPECT_EQ(sendMessage(message.data(), static_cast<int>(message.size())), 0);
    EXPECT_EQ(fromUs(&peer), message);
    EXPECT_EQ(ringLine(AppState.sentRing, 0), message.substr(0, RingLineBytes));
}

TEST_F(MessageSenderTest, ReceivedRingTakesTheBufferWithItsOwnMarkerOnlyWhenMonitorsAreOn)
{
    logReceived("FR000001abc\xdd\xdd", 11);
    EXPECT_EQ(AppState.receivedRingPos, 0);
    EXPECT_EQ(ringLine(AppState.receivedRing, 0), std::string(RingLineBytes, '\0'));

    AppState.monitorOn = 1;
    logReceived("FR000001abc\xdd\xdd", 11);
    EXPECT_EQ(AppState.receivedRingPos, 1);
    EXPECT_EQ(ringLine(AppState.receivedRing, 0), padded("FR000001abc"));
    EXPECT_EQ(ringLine(AppState.receivedRing, 1), padded("***** READ-END *****"));
    EXPECT_EQ(ringLine(AppState.sentRing, 1), std::string(RingLineBytes, '\0'));
}

// A refusal is the peer's to report, and a failed send means a gone link that the receive loop reports once:
// neither raises a box here, and a failed message is still in the monitor.
TEST_F(MessageSenderTest, NakAndFailedSendsRaiseNoBox)
{
    AppState.monitorOn = 1;
    EXPECT_EQ(sendMessage("NAK", 3), 0);
    EXPECT_EQ(fromUs(&peer), "NAK");
    AppState.mode = ConnectionMode::Server;
    AppState.clientSlots[0] = INVALID_SOCKET;
    EXPECT_NE(sendMessage("DDC:\\", 5), 0);
    EXPECT_EQ(ringLine(AppState.sentRing, 1), padded("DDC:\\"));
    EXPECT_TRUE(recordedBoxes().empty());
}

// Reports raised on another thread wait for the UI thread, come one at a time with the owner it gives, and a
// storm of the same report is one box with its count.
TEST_F(MessageSenderTest, ReportsWaitForTheUiThreadAndRepeatsAreCounted)
{
    HANDLE worker = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
        for (int i = 0; i < 50; i++)
            postReport(L"通信が切れました", L"Parcelwight");
        postReport(L"other", L"caption");
        return 0;
    }, nullptr, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    EXPECT_TRUE(recordedBoxes().empty());

    HWND owner = reinterpret_cast<HWND>(0x1234);
    showPendingReports(owner);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"通信が切れました\r\n(同じ知らせが 50 回ありました)");
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].thread, GetCurrentThreadId());
    EXPECT_EQ(boxes[1].text, L"other");
    showPendingReports(owner);
    EXPECT_EQ(recordedBoxes().size(), 2u);
}

TEST_F(MessageSenderTest, ServerSendsToSlotZeroWhicheverSlotSpoke)
{
    PeerHarness other;
    ASSERT_TRUE(openOtherSlot(&peer, &other, 2));
    AppState.mainSocket = INVALID_SOCKET;
    EXPECT_EQ(linkSocket(), peer.ours);
    EXPECT_EQ(sendMessage("ACK", 3), 0);
    EXPECT_EQ(fromUs(&peer), "ACK");
    EXPECT_TRUE(silentFor(other.theirs, 100));
    AppState.mode = ConnectionMode::Client;
    AppState.mainSocket = other.ours;
    EXPECT_EQ(linkSocket(), other.ours);
    closePeer(&other);
}

} // namespace

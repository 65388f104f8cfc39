// message_sender_test.cpp: the send path, its NAK and error reports, and the traffic-monitor rings.
#include "net/message_sender.h"

#include "core/message_box.h"
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
    memset(AppState.receiveBuffer, 0xdd, sizeof(AppState.receiveBuffer));
    EXPECT_EQ(sendMessage("ACK", 3), 0);
    EXPECT_EQ(fromUs(&peer), "ACK");
    EXPECT_EQ(ringLine(AppState.sentRing, 0), padded("ACK"));
    EXPECT_EQ(ringLine(AppState.sentRing, 1), padded("***** WRITE-END *****"));
    EXPECT_EQ(AppState.sentRingPos, 1);
    for (int i = 0; i < ReceiveBufferBytes; i++)
        ASSERT_EQ(AppState.receiveBuffer[i], 0) << "byte " << i;
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
    memcpy(AppState.receiveBuffer, "FR000001abc", 11);
    AppState.receivedLength = 11;
    logReceived();
    EXPECT_EQ(AppState.receivedRingPos, 0);
    EXPECT_EQ(ringLine(AppState.receivedRing, 0), std::string(RingLineBytes, '\0'));

    AppState.monitorOn = 1;
    logReceived();
    EXPECT_EQ(AppState.receivedRingPos, 1);
    EXPECT_EQ(ringLine(AppState.receivedRing, 0), padded("FR000001abc"));
    EXPECT_EQ(ringLine(AppState.receivedRing, 1), padded("***** READ-END *****"));
    EXPECT_EQ(ringLine(AppState.sentRing, 1), std::string(RingLineBytes, '\0'));
}

TEST_F(MessageSenderTest, SentNakIsReportedEvenWithMonitorsOff)
{
    EXPECT_EQ(sendMessage("NAK", 3), 0);
    EXPECT_EQ(fromUs(&peer), "NAK");
    EXPECT_EQ(AppState.sentRingPos, 0);
    EXPECT_EQ(ringLine(AppState.sentRing, 0), std::string(RingLineBytes, '\0'));
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"CONT=0/0\r\n");
    EXPECT_EQ(boxes[0].caption, L"SEND-NAK");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK));
}

TEST_F(MessageSenderTest, NakReportShowsTheRowAtTheCursorOrNothingPastTheTable)
{
    strcpy(AppState.dirTable[3], "DR000003report.txt,2024/03/05 14:07,12K,8");
    AppState.dirCursor = 3;
    AppState.dirCount = 10;
    sendMessage("NAK", 3);
    AppState.dirCursor = DirRows;
    sendMessage("NAKmore", 7);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"CONT=3/10\r\nDR000003report.txt,2024/03/05 14:07,12K,8");
    EXPECT_EQ(boxes[1].text, L"CONT=1024/10\r\n");
}

// The peer must already have the NAK when the report appears, so it is back in Waiting while the box is open.
SOCKET peerEndForBox = INVALID_SOCKET;
bool nakWasOnTheWire = false;
int boxChecksPeer(HWND, const wchar_t *, const wchar_t *, UINT)
{
    nakWasOnTheWire = !silentFor(peerEndForBox, 1000);
    return IDOK;
}

TEST_F(MessageSenderTest, NakReportComesAfterTheNakIsSent)
{
    peerEndForBox = peer.theirs;
    nakWasOnTheWire = false;
    messageBoxFunction = boxChecksPeer;
    sendMessage("NAK", 3);
    recordBoxes();
    EXPECT_TRUE(nakWasOnTheWire);
    EXPECT_EQ(fromUs(&peer), "NAK");
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

TEST_F(MessageSenderTest, FailedSendIsReportedAndStillRecorded)
{
    AppState.mode = ConnectionMode::Server;
    AppState.clientSlots[0] = INVALID_SOCKET;
    AppState.monitorOn = 1;
    int result = sendMessage("DDC:\\", 5);
    EXPECT_NE(result, 0);
    EXPECT_EQ(ringLine(AppState.sentRing, 0), padded("DDC:\\"));
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"WSAGetLastError");
    EXPECT_EQ(boxes[0].owner, nullptr);
    wchar_t expected[128];
    _snwprintf(expected, 127, L"ERR=%d:C0/S1=1:Sel=0\r\nDDC:\\", result);
    expected[127] = 0;
    EXPECT_EQ(boxes[0].text, expected);
}

TEST_F(MessageSenderTest, FailedNakShowsBothReportsAndLongTextsStayInTheBox)
{
    AppState.mode = ConnectionMode::Server;
    AppState.clientSlots[0] = INVALID_SOCKET;
    sendMessage("NAK", 3);
    std::string longMessage = "DD" + std::string(1020, 'p');
    sendMessage(longMessage.data(), static_cast<int>(longMessage.size()));
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, L"SEND-NAK");
    EXPECT_EQ(boxes[1].caption, L"WSAGetLastError");
    EXPECT_EQ(boxes[2].caption, L"WSAGetLastError");
    EXPECT_LT(boxes[2].text.size(), 512u);
    EXPECT_NE(boxes[2].text.find(L"\r\nDDppp"), std::wstring::npos);
}

TEST_F(MessageSenderTest, ErrorBoxStopsAtTheFirstZeroByteAndNeverReadsPastTheLength)
{
    AppState.mode = ConnectionMode::Server;
    AppState.clientSlots[0] = INVALID_SOCKET;
    const char message[] = "FR000001ab\0cd";
    sendMessage(message, 13);
    const char unterminated[8] = {'F', 'R', 'D', 'T', 'S', 'T', 'O', 'P'};
    char guarded[16];
    memset(guarded, 'Z', sizeof(guarded));
    memcpy(guarded, unterminated, 8);
    sendMessage(guarded, 8);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text.substr(boxes[0].text.find(L"\r\n")), L"\r\nFR000001ab");
    EXPECT_EQ(boxes[1].text.substr(boxes[1].text.find(L"\r\n")), L"\r\nFRDTSTOP");
}

} // namespace

// framer_test.cpp: the cut rules of the stream framer, and its buffer fed in pieces.
#include "core/message_framer.h"

#include "core/app_state.h"
#include "core/fast_wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct CutCase {
    std::string bytes;
    FrameCut cut;
    int length;  // for Complete
};

std::string trailer(const char *tag)
{
    return std::string(tag) + "999999" + std::string(24, '\x7f');
}

std::string block(const char *tag, size_t data)
{
    return std::string(tag) + "000004" + std::string(data, 'x');
}

TEST(MessageFramer, CutRules)
{
    const std::string record = "DR000003name,2024/03/05 14:07,10K,8";
    const CutCase cases[] = {
        {"A", FrameCut::NeedMore, 0},
        {"AC", FrameCut::NeedMore, 0},
        {"ACK", FrameCut::Complete, 3},
        {"NAKDDC:\\", FrameCut::Complete, 3},
        {"CUT", FrameCut::Complete, 3},
        {"CUX", FrameCut::Garbage, 0},
        {"AX", FrameCut::Garbage, 0},
        {"x", FrameCut::Garbage, 0},
        {"D", FrameCut::NeedMore, 0},
        {"DDC:\\", FrameCut::OpenEnded, 0},
        {"FCC:\\a\\b", FrameCut::OpenEnded, 0},
        {"FD", FrameCut::OpenEnded, 0},
        {"CDx", FrameCut::OpenEnded, 0},
        {"DD" + std::string(1023, 'p'), FrameCut::Garbage, 0},
        {"DR9999", FrameCut::NeedMore, 0},
        {"DR999999", FrameCut::Complete, 8},
        {"DR999999DDC:\\", FrameCut::Complete, 8},
        {"DR00x", FrameCut::Garbage, 0},
        {"DR000000", FrameCut::NeedMore, 0},
        {"DR000000,,,1", FrameCut::Complete, 12},
        {"DR000000c:\\,,,2ACK", FrameCut::Complete, 15},
        {record, FrameCut::Complete, static_cast<int>(record.size())},
        {record + "DR999999", FrameCut::Complete, static_cast<int>(record.size())},
        {"DR000003name,2024/03/05 14:07,10", FrameCut::NeedMore, 0},
        {"DR000003name,2024/03/05 14:0", FrameCut::NeedMore, 0},
        {"DR000003name,2024/03/05 14:07,,", FrameCut::NeedMore, 0},
        {"DR000003sub,2024/03/05 14:07,,1", FrameCut::Complete, 31},
        {"DR000003a,b,2024/03/05 14:07,1,8", FrameCut::Complete, 32},
        {"DR000003" + std::string(300, 'n'), FrameCut::Garbage, 0},
        {"FRDTS", FrameCut::NeedMore, 0},
        {"FBDTSTOP", FrameCut::Complete, 8},
        {"FRDTSTOPACK", FrameCut::Complete, 8},
        {"FRDTSX", FrameCut::Garbage, 0},
        {"FR0001", FrameCut::NeedMore, 0},
        {"FR00a1", FrameCut::Garbage, 0},
        {"FB999999" + std::string(23, '\1'), FrameCut::NeedMore, 0},
        {trailer("FB"), FrameCut::Complete, 32},
        {trailer("FR") + "DDC:\\", FrameCut::Complete, 32},
        {block("FR", 0), FrameCut::OpenEnded, 0},
        {block("FR", 999), FrameCut::OpenEnded, 0},
        {block("FB", 1000), FrameCut::Complete, 1008},
        {block("FR", 1000) + "FR999999", FrameCut::Complete, 1008},
        {"XYZ", FrameCut::Garbage, 0},
    };
    for (const CutCase &c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 40));
        int length = -1;
        EXPECT_EQ(c.cut, cutMessage(c.bytes.data(), static_cast<int>(c.bytes.size()), &length));
        EXPECT_EQ(c.length, length);
    }
}

// Feeds text into the framer as one receive at tick now.
void feed(MessageFramer *framer, const std::string &text, DWORD now)
{
    int room = 0;
    char *space = framerSpace(framer, &room);
    ASSERT_LE(static_cast<int>(text.size()), room);
    memcpy(space, text.data(), text.size());
    framerReceived(framer, static_cast<int>(text.size()), now);
}

std::string next(MessageFramer *framer, DWORD now, FramerEvent want = FramerEvent::Message)
{
    const char *message = nullptr;
    int length = 0;
    EXPECT_EQ(want, nextMessage(framer, now, &message, &length));
    return std::string(message, static_cast<size_t>(length));
}

TEST(MessageFramer, PiecesJoinGluedMessagesPartAndQuietClosesOpenEnds)
{
    MessageFramer framer;
    resetFramer(&framer);
    // A block in two pieces, glued to the trailer, which is glued to the start of a request.
    std::string data = block("FR", 1000);
    feed(&framer, data.substr(0, 536), 1000);
    next(&framer, 1000, FramerEvent::None);
    EXPECT_EQ(QuietWindowMs, framerQuietDue(&framer, 1000));
    feed(&framer, data.substr(536) + trailer("FR") + "DDC:", 1005);
    EXPECT_EQ(data, next(&framer, 1005));
    EXPECT_EQ(trailer("FR"), next(&framer, 1005));
    next(&framer, 1005, FramerEvent::None);
    feed(&framer, "\\dir", 1010);
    next(&framer, 1010 + QuietWindowMs - 1, FramerEvent::None);
    EXPECT_EQ(1u, framerQuietDue(&framer, 1010 + QuietWindowMs - 1));
    EXPECT_EQ("DDC:\\dir", next(&framer, 1010 + QuietWindowMs));
    EXPECT_FALSE(framerHolding(&framer));
    EXPECT_EQ(INFINITE, framerQuietDue(&framer, 2000));

    // Byte by byte, a fixed-size message needs no quiet once whole.
    for (char c : std::string("NA"))
        feed(&framer, std::string(1, c), 2000);
    next(&framer, 2000, FramerEvent::None);
    feed(&framer, "K", 2010);
    EXPECT_EQ("NAK", next(&framer, 2010));
    EXPECT_EQ(INFINITE, framerQuietDue(&framer, 2010));

    // A start the quiet stream leaves unfinished is answered once, and what comes later is fresh.
    for (const char *start : {"D", "F", "FB999999\1\2", "FRDTS", "AC"}) {
        SCOPED_TRACE(start);
        feed(&framer, start, 3000);
        next(&framer, 3000 + QuietWindowMs - 1, FramerEvent::None);
        EXPECT_EQ(1u, framerQuietDue(&framer, 3000 + QuietWindowMs - 1));
        next(&framer, 3000 + QuietWindowMs, FramerEvent::Garbage);
        feed(&framer, "ACK", 3100);
        EXPECT_EQ("ACK", next(&framer, 3100));
    }

    // Garbage and all that follows it until the stream is quiet are answered once, then: what comes after the
    // answer is new.
    feed(&framer, "garbage", 6000);
    next(&framer, 6000, FramerEvent::None);
    feed(&framer, "ACK", 6010);
    feed(&framer, "more", 6020);
    next(&framer, 6020, FramerEvent::None);
    EXPECT_EQ(QuietWindowMs, framerQuietDue(&framer, 6020));
    next(&framer, 6020 + QuietWindowMs, FramerEvent::Garbage);
    next(&framer, 6020 + QuietWindowMs, FramerEvent::None);
    feed(&framer, "ACK", 7000);
    EXPECT_EQ("ACK", next(&framer, 7000));

    // Garbage, then a request after a quiet window that nobody asked the framer about: both answered, in order.
    feed(&framer, "Q", 8000);
    next(&framer, 8000, FramerEvent::None);
    feed(&framer, "DDC:\\", 10000);
    next(&framer, 10000, FramerEvent::Garbage);
    EXPECT_EQ("DDC:\\", next(&framer, 10000 + QuietWindowMs));

    // A word or the terminator takes the bytes after it that start no message; a real start is a message.
    for (const char *whole : {"NAKextra", "ACK\x01Dx", "DR999999xyz", "CUTx"}) {
        feed(&framer, whole, 10100);
        EXPECT_EQ(whole, next(&framer, 10100));
    }
    feed(&framer, "ACKDDC:\\", 10200);
    EXPECT_EQ("ACK", next(&framer, 10200));
    EXPECT_EQ("DDC:\\", next(&framer, 10200 + QuietWindowMs));

    // Messages handed out in place stay whole while the next ones wait behind them.
    feed(&framer, trailer("FR") + "DDC:\\x", 11000);
    std::string first = next(&framer, 11000);
    EXPECT_EQ(trailer("FR"), first);
    EXPECT_EQ("DDC:\\x", next(&framer, 11000 + QuietWindowMs));
}

// A fast stream many times the buffer, in receives that never line up with its messages: every message comes
// out whole and in order while the bytes that wait are moved to the front now and then.
TEST(MessageFramer, FastStreamLongerThanTheBufferComesOutWhole)
{
    static MessageFramer framer;
    resetFramer(&framer);
    framer.fast = 1;
    std::string stream;
    std::vector<std::string> sent;
    for (int i = 0; i < 40; i++) {
        std::string message(FastHeaderBytes + FastPieceBytes - i * 997, static_cast<char>('a' + i % 26));
        putFastHeader(&message[0], FastData, static_cast<int>(message.size()) - FastHeaderBytes);
        sent.push_back(message);
        stream += message;
    }
    size_t fed = 0;
    size_t got = 0;
    while (got < sent.size()) {
        int room = 0;
        char *space = framerSpace(&framer, &room);
        ASSERT_GT(room, 0);
        size_t piece = std::min<size_t>({stream.size() - fed, static_cast<size_t>(room), 100003});
        memcpy(space, stream.data() + fed, piece);
        framerReceived(&framer, static_cast<int>(piece), 1000);
        fed += piece;
        const char *message = nullptr;
        int length = 0;
        while (nextMessage(&framer, 1000, &message, &length) == FramerEvent::Message) {
            ASSERT_LT(got, sent.size());
            ASSERT_EQ(sent[got], std::string(message, static_cast<size_t>(length))) << "message " << got;
            got++;
        }
        ASSERT_TRUE(piece > 0 || got == sent.size());
    }
}

}  // namespace

// wire_message_test.cpp: recognition boundaries and byte layouts of the link messages.
#include "core/app_state.h"
#include "core/crc32c.h"
#include "core/wire_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A message as the framer hands it out: the bytes, then the stream's next bytes (a sentinel here), never read.
struct Receive {
    char bytes[ReceiveMaxBytes + 16];
    int count;
};

Receive received(const std::string &message)
{
    Receive r;
    memset(r.bytes, 0xdd, sizeof(r.bytes));
    memcpy(r.bytes, message.data(), message.size() < sizeof(r.bytes) ? message.size() : sizeof(r.bytes));
    r.count = static_cast<int>(message.size());
    return r;
}

// What a recognizer (isAck, isBlock, ...) answers for message as a receive, with any further arguments it takes.
template <typename Recognizer, typename... More>
bool recognized(Recognizer recognizer, const std::string &message, More... more)
{
    Receive r = received(message);
    return recognizer(r.bytes, r.count, more...);
}

} // namespace

TEST(WireMessageTest, TextLengthStopsAtZeroAndAtCount)
{
    const char bytes[] = {'A', 'B', 'C', 'D'};  // no terminating zero
    EXPECT_EQ(textLength(bytes, 4), 4);
    EXPECT_EQ(textLength(bytes, 2), 2);
    EXPECT_EQ(textLength("AB\0CD", 5), 2);
    EXPECT_EQ(textLength("", 0), 0);
}

TEST(WireMessageTest, AckNakCutRecognition)
{
    EXPECT_TRUE(recognized(isNak, "NAKxyz"));
    EXPECT_FALSE(recognized(isAck, "NAKxyz"));
    EXPECT_TRUE(recognized(isAck, "ACK\x01\x02 more"));
    EXPECT_FALSE(recognized(isNak, "ACK\x01\x02 more"));
    EXPECT_TRUE(recognized(isCut, "CUT"));
    EXPECT_FALSE(recognized(isCut, "CUTX"));
    EXPECT_FALSE(recognized(isNak, "NA"));
    // A zero inside the receive shortens the text: "CUT" then a zero byte is still the 3-byte text "CUT".
    EXPECT_TRUE(recognized(isCut, std::string("CUT\0\0", 5)));
}

TEST(WireMessageTest, RequestLengthBoundaries)
{
    EXPECT_FALSE(recognized(isPathRequest, "DDC:", "DD"));
    EXPECT_TRUE(recognized(isPathRequest, "DDC:\\", "DD"));
    EXPECT_FALSE(recognized(isPathRequest, "DDC:\\", "FD"));
    EXPECT_TRUE(recognized(isPathRequest, "FCC:\\a", "FC"));
    // The text length, not the receive count, decides.
    EXPECT_FALSE(recognized(isPathRequest, std::string("FDC:\0xyz", 8), "FD"));

    EXPECT_FALSE(recognized(isFolderRequest, "CD"));
    EXPECT_TRUE(recognized(isFolderRequest, "CDx"));
    EXPECT_FALSE(recognized(isFolderRequest, "DDx"));
}

TEST(WireMessageTest, RequestPathIsCopiedOnlyWhenAPathHoldsIt)
{
    char out[PathChars + 8];
    std::string longest = "FD" + std::string(PathChars - 1, 'p');
    memset(out, 0x55, sizeof(out));
    EXPECT_EQ(copyRequestPath(longest.data(), static_cast<int>(longest.size()), out, COUNTOF(out)), PathChars - 1);
    EXPECT_EQ(std::string(out), longest.substr(2));
    std::string tooLong = longest + "q";
    memset(out, 0x55, sizeof(out));
    EXPECT_EQ(copyRequestPath(tooLong.data(), static_cast<int>(tooLong.size()), out, COUNTOF(out)), 0);
    EXPECT_EQ(out[0], 0);
    // A buffer shorter than a path bounds the copy too.
    char small[4];
    memset(small, 0x55, sizeof(small));
    EXPECT_EQ(copyRequestPath("CDabcd", 6, small, COUNTOF(small)), 0);
    EXPECT_EQ(copyRequestPath("CDabc", 5, small, COUNTOF(small)), 3);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(copyRequestPath("CD", 2, small, COUNTOF(small)), 0);
}

TEST(WireMessageTest, DirRecordAndTerminator)
{
    EXPECT_FALSE(recognized(isDirRecord, "DR000000,,,"));
    EXPECT_TRUE(recognized(isDirRecord, "DR000000,,,8"));

    EXPECT_TRUE(recognized(isDirEnd, "DR999999"));
    EXPECT_TRUE(recognized(isDirEnd, "DR999999garbage,,,8"));
    EXPECT_FALSE(recognized(isDirEnd, "DR99999"));
    EXPECT_FALSE(recognized(isDirEnd, "DR000000,,,8"));
}

TEST(WireMessageTest, BlocksStopTagsAndTrailers)
{
    const std::string empty = "FR000007";
    EXPECT_TRUE(recognized(isBlock, empty, BlockKind::FR));
    EXPECT_FALSE(recognized(isStopTag, empty, BlockKind::FR));
    EXPECT_FALSE(recognized(isTrailer, empty, BlockKind::FR));
    EXPECT_FALSE(recognized(isBlock, empty, BlockKind::FB));
    EXPECT_EQ(static_cast<int>(empty.size()) - BlockHeaderBytes, 0);

    EXPECT_FALSE(recognized(isBlock, "FR00000", BlockKind::FR));

    EXPECT_TRUE(recognized(isStopTag, "FRDTSTOP", BlockKind::FR));
    EXPECT_FALSE(recognized(isStopTag, "FRDTSTOP", BlockKind::FB));
    EXPECT_TRUE(recognized(isStopTag, "FBDTSTOP", BlockKind::FB));

    const std::string trailer = std::string("FB999999") + std::string(24, '\0');
    EXPECT_TRUE(recognized(isTrailer, trailer, BlockKind::FB));
    EXPECT_FALSE(recognized(isTrailer, trailer, BlockKind::FR));

    // Binary data with zero bytes is a block by its receive count, not its text length.
    EXPECT_TRUE(recognized(isBlock, std::string("FB000001\0\0\0", 11), BlockKind::FB));
}

TEST(WireMessageTest, SixDigitNumberReadsLikeAtoi)
{
    EXPECT_EQ(sixDigitNumber("DR000042rest"), 42);
    EXPECT_EQ(sixDigitNumber("FR999999"), 999999);
    EXPECT_EQ(sixDigitNumber("DR  12,x"), 12);
    EXPECT_EQ(sixDigitNumber("DR-00012"), -12);
    EXPECT_EQ(sixDigitNumber("DR+00012"), 12);
    EXPECT_EQ(sixDigitNumber("DR12a456"), 12);
    EXPECT_EQ(sixDigitNumber("DRabcdef"), 0);
    // The seventh digit belongs to the body.
    EXPECT_EQ(sixDigitNumber("DR0000123"), 12);
}

TEST(WireMessageTest, BuildsRequestsHeadersAndStopTags)
{
    char out[16];
    memset(out, 0x55, sizeof(out));
    EXPECT_EQ(buildPathRequest(out, COUNTOF(out), "DD", "C:\\"), 5);
    EXPECT_EQ(std::string(out, 6), std::string("DDC:\\\0", 6));
    EXPECT_EQ(out[15], 0);

    // A 16-byte buffer holds a 15-byte message and its NUL, nothing longer.
    EXPECT_EQ(buildPathRequest(out, COUNTOF(out), "FD", "0123456789abc"), 15);
    memset(out, 0x55, sizeof(out));
    EXPECT_EQ(buildPathRequest(out, COUNTOF(out), "FD", "0123456789abcd"), -1);
    EXPECT_EQ(out[0], 0);

    char header[9] = {0};
    EXPECT_EQ(buildBlockHeader(header, BlockKind::FR, 0), 8);
    EXPECT_STREQ(header, "FR000000");
    buildBlockHeader(header, BlockKind::FB, 1234);
    EXPECT_STREQ(header, "FB001234");
    EXPECT_EQ(buildStopTag(header, BlockKind::FB), 8);
    EXPECT_STREQ(header, "FBDTSTOP");
}

TEST(WireMessageTest, TrailerLayoutAndTimeRoundTrip)
{
    // 1 January 2024 00:00:00 UTC.
    SYSTEMTIME st = {};
    st.wYear = 2024;
    st.wMonth = 1;
    st.wDay = 1;
    FILETIME creation;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &creation));
    FILETIME access = {0x11223344, 0x55667788};
    FILETIME write = {0xFFFFFFFF, 0x00000001};

    unsigned char out[40];
    memset(out, 0xdd, sizeof(out));
    EXPECT_EQ(buildTrailer(reinterpret_cast<char *>(out), BlockKind::FR, creation, access, write), 32);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 8), "FR999999");
    const unsigned char expected[8] = {0x00, 0xC0, 0x89, 0x76, 0x45, 0x3C, 0xDA, 0x01};
    EXPECT_EQ(memcmp(out + 8, expected, 8), 0);
    const unsigned char accessBytes[8] = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
    EXPECT_EQ(memcmp(out + 16, accessBytes, 8), 0);
    EXPECT_EQ(out[32], 0xdd);

    EXPECT_TRUE(recognized(isTrailer, std::string(reinterpret_cast<char *>(out), 32), BlockKind::FR));
    FILETIME back[3] = {getFileTime(out + 8), getFileTime(out + 16), getFileTime(out + 24)};
    const FILETIME sent[3] = {creation, access, write};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(back[i].dwLowDateTime, sent[i].dwLowDateTime) << i;
        EXPECT_EQ(back[i].dwHighDateTime, sent[i].dwHighDateTime) << i;
    }
}

TEST(WireMessageTest, RecordBodySplitsAtItsLastThreeCommasAndRefusesWhatDoesNotFit)
{
    DirRecordFields fields;
    const std::string withComma = "a,b.txt,2024/03/05 14:07,12K,8";
    ASSERT_TRUE(splitDirRecord(withComma.data(), static_cast<int>(withComma.size()), &fields));
    EXPECT_STREQ(fields.name, "a,b.txt");
    EXPECT_STREQ(fields.date, "2024/03/05 14:07");
    EXPECT_STREQ(fields.size, "12K");
    EXPECT_STREQ(fields.type, "8");

    const std::string drive = "d:\\,,,3";
    ASSERT_TRUE(splitDirRecord(drive.data(), static_cast<int>(drive.size()), &fields));
    EXPECT_STREQ(fields.name, "d:\\");
    EXPECT_STREQ(fields.date, "");
    EXPECT_STREQ(fields.type, "3");

    // Only length bytes count: a third comma beyond them is not seen.
    EXPECT_FALSE(splitDirRecord("x,y,z,1", 5, &fields));
    EXPECT_FALSE(splitDirRecord("no commas", 9, &fields));

    // A name has room for 259 characters of three UTF-8 bytes each.
    std::string longName(FastPathBytes, 'n');
    std::string longType(64, '1');
    EXPECT_TRUE(splitDirRecord((std::string(FastPathBytes - 1, 'n') + ",,,1").c_str(), FastPathBytes + 3, &fields));
    EXPECT_FALSE(splitDirRecord((longName + ",,,1").c_str(), FastPathBytes + 4, &fields));
    EXPECT_FALSE(splitDirRecord((",,," + longType).c_str(), 67, &fields));
    EXPECT_STREQ(fields.name, "");
}

// The fast link's file digest: the known answer of CRC-32C, and the processor's instruction agreeing with the
// tables at every length and every split of the data.
TEST(FileDigestTest, KnownAnswerAndBothWaysAgree)
{
    EXPECT_EQ(crc32cUpdate(0, "123456789", 9), 0xE3069283u);
    EXPECT_EQ(crc32cByTables(0, "123456789", 9), 0xE3069283u);
    EXPECT_EQ(crc32cUpdate(0, "", 0), 0u);
    std::string data;
    for (int i = 0; i < 300; i++)
        data.push_back(static_cast<char>(i * 131 + 7));
    for (size_t length = 0; length <= data.size(); length += 37) {
        uint32_t whole = crc32cByTables(0, data.data(), length);
        EXPECT_EQ(crc32cUpdate(0, data.data(), length), whole) << length;
        size_t half = length / 3;
        EXPECT_EQ(crc32cUpdate(crc32cUpdate(0, data.data(), half), data.data() + half, length - half), whole)
            << length;
    }
}

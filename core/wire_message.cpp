// wire_message.cpp: the bytes of every link message, and the tests that recognise them in a receive.
#include "core/wire_message.h"

#include "core/app_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char AckMessage[4] = "ACK";
const char NakMessage[4] = "NAK";
const char CutMessage[4] = "CUT";
const char DirEndMessage[9] = "DR999999";
const char DirRequestTag[3] = "DD";
const char PushRequestTag[3] = "FD";
const char PullRequestTag[3] = "FC";
const char FolderRequestTag[3] = "CD";
const char DirRecordTag[3] = "DR";
const char PushBlockTag[3] = "FR";
const char PullBlockTag[3] = "FB";

static const char *blockTag(BlockKind kind)
{
    return kind == BlockKind::FB ? PullBlockTag : PushBlockTag;
}

// The first n bytes are the given ones. The receive buffer is zero after count, but a count shorter than the
// tag can never hold it, so the count is checked first and nothing past it is read.
static bool startsWith(const char *message, int count, const char *tag, int n)
{
    return message != nullptr && count >= n && memcmp(message, tag, static_cast<size_t>(n)) == 0;
}

int textLength(const char *message, int count)
{
    if (message == nullptr)
        return 0;
    int n = 0;
    while (n < count && message[n] != 0)
        n++;
    return n;
}

bool isNak(const char *message, int count)
{
    return startsWith(message, count, NakMessage, 3);
}

bool isAck(const char *message, int count)
{
    return startsWith(message, count, AckMessage, 3);
}

bool isCut(const char *message, int count)
{
    return startsWith(message, count, CutMessage, 3) && textLength(message, count) == 3;
}

bool isPathRequest(const char *message, int count, const char *tag)
{
    return tag != nullptr && startsWith(message, count, tag, 2) && textLength(message, count) > 4;
}

bool isFolderRequest(const char *message, int count)
{
    return startsWith(message, count, FolderRequestTag, 2) && textLength(message, count) > 2;
}

bool isPeerRequest(const char *message, int count)
{
    return isPathRequest(message, count, DirRequestTag) || isPathRequest(message, count, PushRequestTag) ||
           isPathRequest(message, count, PullRequestTag) || isFolderRequest(message, count);
}

bool isDirEnd(const char *message, int count)
{
    return startsWith(message, count, DirEndMessage, 8);
}

bool isDirRecord(const char *message, int count)
{
    return startsWith(message, count, DirRecordTag, 2) && textLength(message, count) > 11;
}

bool isStopTag(const char *message, int count, BlockKind kind)
{
    char tag[16];
    buildStopTag(tag, kind);
    return count > 7 && startsWith(message, count, tag, 8);
}

bool isTrailer(const char *message, int count, BlockKind kind)
{
    char tag[16];
    buildBlockHeader(tag, kind, TrailerNumber);
    return count > 7 && startsWith(message, count, tag, 8);
}

bool isBlock(const char *message, int count, BlockKind kind)
{
    return count > 7 && startsWith(message, count, blockTag(kind), 2);
}

int sixDigitNumber(const char *message)
{
    if (message == nullptr)
        return 0;
    // Only the six bytes after the tag count, even when a digit follows them.
    char digits[7];
    memcpy(digits, message + 2, 6);
    digits[6] = 0;
    return atoi(digits);
}

int copyRequestPath(const char *message, int textLen, char *out, int outBytes)
{
    if (out == nullptr || outBytes <= 0)
        return 0;
    memset(out, 0, static_cast<size_t>(outBytes));
    int bytes = textLen - 2;
    if (message == nullptr || bytes <= 0 || bytes > PathChars - 1 || bytes > outBytes - 1)
        return 0;
    memcpy(out, message + 2, static_cast<size_t>(bytes));
    return bytes;
}

int buildPathRequest(char *out, int outBytes, const char *tag, const char *pathA)
{
    if (out == nullptr || outBytes <= 0)
        return -1;
    memset(out, 0, static_cast<size_t>(outBytes));
    if (tag == nullptr || pathA == nullptr)
        return -1;
    size_t pathBytes = strlen(pathA);
    if (pathBytes > static_cast<size_t>(outBytes) || 2 + static_cast<int>(pathBytes) > outBytes - 1)
        return -1;
    memcpy(out, tag, 2);
    memcpy(out + 2, pathA, pathBytes);
    return 2 + static_cast<int>(pathBytes);
}

int buildBlockHeader(char *out, BlockKind kind, int number)
{
    // A number outside 0..999999 would print more than six digits; only the first eight bytes are used.
    char text[32];
    snprintf(text, sizeof(text) - 1, "%s%06d", blockTag(kind), number);
    text[sizeof(text) - 1] = 0;
    memcpy(out, text, 8);
    return 8;
}

int buildStopTag(char *out, BlockKind kind)
{
    memcpy(out, blockTag(kind), 2);
    memcpy(out + 2, "DTSTOP", 6);
    return 8;
}

bool strictBlockNumber(const char *message, int *number)
{
    int value = 0;
    for (int i = 2; i < BlockHeaderBytes; i++) {
        if (message[i] < '0' || message[i] > '9')
            return false;
        value = value * 10 + (message[i] - '0');
    }
    *number = value;
    return true;
}

void putLittleEndian(unsigned char *out, uint64_t value, int bytes)
{
    for (int b = 0; b < bytes; b++)
        out[b] = static_cast<unsigned char>((value >> (8 * b)) & 0xFF);
}

uint64_t getLittleEndian(const unsigned char *in, int bytes)
{
    uint64_t value = 0;
    for (int b = 0; b < bytes; b++)
        value |= static_cast<uint64_t>(in[b]) << (8 * b);
    return value;
}

void putFileTime(unsigned char *out, const FILETIME &time)
{
    putLittleEndian(out, (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime, FileTimeBytes);
}

FILETIME getFileTime(const unsigned char *in)
{
    uint64_t value = getLittleEndian(in, FileTimeBytes);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

int buildTrailer(char *out, BlockKind kind, const FILETIME &creation, const FILETIME &access, const FILETIME &write)
{
    buildBlockHeader(out, kind, TrailerNumber);
    unsigned char *times = reinterpret_cast<unsigned char *>(out) + BlockHeaderBytes;
    putFileTime(times, creation);
    putFileTime(times + FileTimeBytes, access);
    putFileTime(times + 2 * FileTimeBytes, write);
    return TrailerBytes;
}

// Copies bytes [from, to) of text into a cleared field; false when they do not fit with their NUL.
static bool cutField(const char *text, int from, int to, char *field, int fieldBytes)
{
    memset(field, 0, fieldBytes);
    int count = to - from;
    if (count < 0 || count > fieldBytes - 1)
        return false;
    memcpy(field, text + from, count);
    return true;
}

bool splitDirRecord(const char *text, int length, DirRecordFields *fields)
{
    memset(fields, 0, sizeof(*fields));
    if (text == nullptr || length < 0)
        return false;
    // From the right: the date, size and type never hold a comma, a name may.
    int commas[3] = {-1, -1, -1};
    int found = 0;
    for (int i = length - 1; i >= 0 && found < 3; i--) {
        if (text[i] == ',')
            commas[2 - found++] = i;
    }
    if (found < 3)
        return false;
    return cutField(text, 0, commas[0], fields->name, COUNTOF(fields->name)) &&
           cutField(text, commas[0] + 1, commas[1], fields->date, COUNTOF(fields->date)) &&
           cutField(text, commas[1] + 1, commas[2], fields->size, COUNTOF(fields->size)) &&
           cutField(text, commas[2] + 1, length, fields->type, COUNTOF(fields->type));
}

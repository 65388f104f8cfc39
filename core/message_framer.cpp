// message_framer.cpp: the cut rules of the wire messages and the stream buffer of one connection.
#include "core/message_framer.h"

#include "core/app_state.h"
#include "core/fast_wire.h"
#include "core/wire_message.h"

#include <cstring>

static const int TrailerMessageBytes = 32;
static const int FullBlockBytes = BlockHeaderBytes + BlockDataBytes;
// "DR" + six digits + three commas + a one-digit type.
static const int SmallestRecordBytes = 12;

static bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// True when the first count bytes (at most the word's length) agree with word.
static bool startsLike(const char *data, int count, const char *word)
{
    int length = static_cast<int>(strlen(word));
    int compared = count < length ? count : length;
    return memcmp(data, word, static_cast<size_t>(compared)) == 0;
}

// The digits that end body[0..end), read backwards: the index where they start.
static int digitsBefore(const char *body, int end)
{
    while (end > 0 && isDigit(body[end - 1]))
        end--;
    return end;
}

// "yyyy/mm/dd hh:mm" (the year two digits or more) ending at body[end]: where it starts, or -1.
static int dateBefore(const char *body, int end)
{
    static const char shape[] = "/dd/dd dd:dd";
    const int shapeBytes = static_cast<int>(sizeof(shape)) - 1;
    if (end < shapeBytes + 2)
        return -1;
    const char *tail = body + end - shapeBytes;
    for (int i = 0; i < shapeBytes; i++) {
        if (shape[i] == 'd' ? !isDigit(tail[i]) : tail[i] != shape[i])
            return -1;
    }
    int yearEnd = end - shapeBytes;
    int yearStart = digitsBefore(body, yearEnd);
    return yearEnd - yearStart >= 2 ? yearStart : -1;
}

// True when body[0..end) ends in a whole ",date,size,type" tail: date empty or a date; size empty or digits
// with an optional K, M, G or T; type one or more digits.
static bool endsInRecordTail(const char *body, int end)
{
    int typeStart = digitsBefore(body, end);
    if (typeStart == end || typeStart == 0 || body[typeStart - 1] != ',')
        return false;
    int sizeEnd = typeStart - 1;
    int sizeStart = sizeEnd;
    if (sizeStart > 0 && strchr("KMGT", body[sizeStart - 1]) != nullptr && body[sizeStart - 1] != 0) {
        sizeStart = digitsBefore(body, sizeStart - 1);
        if (sizeStart == sizeEnd - 1)
            return false;
    } else {
        sizeStart = digitsBefore(body, sizeStart);
    }
    if (sizeStart == 0 || body[sizeStart - 1] != ',')
        return false;
    int dateEnd = sizeStart - 1;
    if (dateEnd > 0 && body[dateEnd - 1] == ',')
        return true;
    int dateStart = dateBefore(body, dateEnd);
    return dateStart > 0 && body[dateStart - 1] == ',';
}

// "DR": the terminator, or a record that ends where its tail is first whole.
static FrameCut cutDirRow(const char *data, int count, int *length)
{
    int header = count < BlockHeaderBytes ? count : BlockHeaderBytes;
    for (int i = 2; i < header; i++) {
        if (!isDigit(data[i]))
            return FrameCut::Garbage;
    }
    if (count < BlockHeaderBytes)
        return FrameCut::NeedMore;
    if (memcmp(data, DirEndMessage, BlockHeaderBytes) == 0) {
        *length = BlockHeaderBytes;
        return FrameCut::Complete;
    }
    int last = count < DirRowBytes - 1 ? count : DirRowBytes - 1;
    for (int end = SmallestRecordBytes; end <= last; end++) {
        if (endsInRecordTail(data + BlockHeaderBytes, end - BlockHeaderBytes)) {
            *length = end;
            return FrameCut::Complete;
        }
    }
    // Every record this program sends has its tail within a row; one without can only be waited for.
    return count >= DirRowBytes - 1 ? FrameCut::Garbage : FrameCut::NeedMore;
}

// "FR"/"FB": the stop tag, the trailer, a full block, or a block that only the quiet stream closes.
static FrameCut cutBlock(const char *data, int count, int *length)
{
    int header = count < BlockHeaderBytes ? count : BlockHeaderBytes;
    bool digits = true;
    for (int i = 2; i < header; i++)
        digits = digits && isDigit(data[i]);
    if (!digits && !startsLike(data + 2, header - 2, "DTSTOP"))
        return FrameCut::Garbage;
    if (count < BlockHeaderBytes)
        return FrameCut::NeedMore;
    if (!digits) {
        *length = BlockHeaderBytes;
        return FrameCut::Complete;
    }
    if (memcmp(data + 2, "999999", 6) == 0) {
        if (count < TrailerMessageBytes)
            return FrameCut::NeedMore;
        *length = TrailerMessageBytes;
        return FrameCut::Complete;
    }
    if (count >= FullBlockBytes) {
        *length = FullBlockBytes;
        return FrameCut::Complete;
    }
    return FrameCut::OpenEnded;
}

FrameCut cutMessage(const char *data, int count, int *length)
{
    *length = 0;
    if (data == nullptr || count <= 0)
        return FrameCut::NeedMore;
    static const char *const words[] = {AckMessage, NakMessage, CutMessage};
    for (const char *word : words) {
        if (startsLike(data, count, word)) {
            if (count < 3)
                return FrameCut::NeedMore;
            *length = 3;
            return FrameCut::Complete;
        }
    }
    // One byte can still become a request, a record or a block; anything else is garbage at once.
    static const char *const opening[] = {DirRequestTag, PushRequestTag, PullRequestTag, FolderRequestTag,
                                          DirRecordTag, PushBlockTag, PullBlockTag};
    if (count < 2) {
        for (const char *tag : opening)
            if (data[0] == tag[0])
                return FrameCut::NeedMore;
        return FrameCut::Garbage;
    }
    static const char *const requests[] = {DirRequestTag, PushRequestTag, PullRequestTag, FolderRequestTag};
    for (const char *tag : requests)
        if (memcmp(data, tag, 2) == 0)
            return count > ReceiveMaxBytes ? FrameCut::Garbage : FrameCut::OpenEnded;
    if (memcmp(data, DirRecordTag, 2) == 0)
        return cutDirRow(data, count, length);
    if (memcmp(data, PushBlockTag, 2) == 0 || memcmp(data, PullBlockTag, 2) == 0)
        return cutBlock(data, count, length);
    return FrameCut::Garbage;
}

void resetFramer(MessageFramer *framer)
{
    memset(framer, 0, sizeof(*framer));
}

static bool quietSince(const MessageFramer *framer, DWORD now)
{
    return now - framer->lastArrival >= QuietWindowMs;
}

char *framerSpace(MessageFramer *framer, int *room)
{
    // The message handed out last has been handled by now. What waits moves to the front only when a whole
    // message of the fast link would no longer fit after it: moved on every receive, most bytes of a fast
    // transfer were copied twice.
    if (framer->count == 0)
        framer->start = 0;
    else if (framer->start > 0 && FramerBufferBytes - framer->start - framer->count < FastHeaderBytes + FastMaxPayload) {
        memmove(framer->bytes, framer->bytes + framer->start, static_cast<size_t>(framer->count));
        framer->start = 0;
    }
    *room = FramerBufferBytes - framer->start - framer->count;
    return framer->bytes + framer->start + framer->count;
}

void framerReceived(MessageFramer *framer, int bytes, DWORD now)
{
    // A quiet stream ends the discarding even when nobody asked for a message in between.
    if (framer->discarding && quietSince(framer, now))
        framer->discarding = 0;
    framer->lastArrival = now;
    if (bytes <= 0)
        return;
    if (framer->discarding) {
        framer->count = 0;
        framer->start = 0;
        return;
    }
    if (framer->count == 0)
        framer->frontSince = now;
    framer->count += bytes;
    if (framer->start + framer->count > FramerBufferBytes)
        framer->count = FramerBufferBytes - framer->start;
}

void framerReceivedAt(MessageFramer *framer, const char *space, int bytes, DWORD now)
{
    char *end = framer->bytes + framer->start + framer->count;
    int at = static_cast<int>(space - framer->bytes);
    if (bytes > 0 && at >= 0 && at + bytes <= FramerBufferBytes && space != end)
        memmove(end, space, static_cast<size_t>(bytes));
    framerReceived(framer, bytes, now);
}

static FramerEvent dropAsGarbage(MessageFramer *framer, bool untilQuiet)
{
    framer->count = 0;
    framer->start = 0;
    framer->discarding = untilQuiet ? 1 : 0;
    return FramerEvent::Garbage;
}

// Classic garbage: dropped with all that follows until the stream is quiet, and answered only then.
static FramerEvent holdGarbage(MessageFramer *framer)
{
    framer->count = 0;
    framer->start = 0;
    framer->discarding = 1;
    framer->garbageHeld = 1;
    return FramerEvent::None;
}

// "ACK", "NAK" and "CUT" are told by their first three bytes, as is the terminator by its eight: bytes after
// them that can start no message belong to them (a classic peer takes a whole receive as one message), up to
// the longest message. A real message start after them is a message of its own.
static int withTail(const char *held, int count, int cut)
{
    bool word = cut == 3 || (cut == BlockHeaderBytes && memcmp(held, DirEndMessage, BlockHeaderBytes) == 0);
    if (!word)
        return cut;
    int ignored = 0;
    while (cut < count && cut < ReceiveMaxBytes && cutMessage(held + cut, count - cut, &ignored) == FrameCut::Garbage)
        cut++;
    return cut;
}

FramerEvent nextMessage(MessageFramer *framer, DWORD now, const char **message, int *length)
{
    *length = 0;
    *message = framer->bytes + framer->start;
    if (framer->discarding) {
        if (!quietSince(framer, now))
            return FramerEvent::None;
        framer->discarding = 0;
        framer->count = 0;
        framer->start = 0;
    }
    // Held garbage is answered before anything that came after the quiet.
    if (framer->garbageHeld) {
        framer->garbageHeld = 0;
        return FramerEvent::Garbage;
    }
    if (framer->count <= 0)
        return FramerEvent::None;
    const char *held = framer->bytes + framer->start;
    int cut = 0;
    if (framer->fast) {
        if (!cutFastMessage(held, framer->count, &cut))
            return cut < 0 ? dropAsGarbage(framer, true) : FramerEvent::None;
        *message = held;
        *length = cut;
        framer->start += cut;
        framer->count -= cut;
        if (framer->count == 0)
            framer->start = 0;
        else
            framer->frontSince = now;
        return FramerEvent::Message;
    }
    switch (cutMessage(held, framer->count, &cut)) {
    case FrameCut::Complete:
        cut = withTail(held, framer->count, cut);
        break;
    case FrameCut::OpenEnded:
        if (!quietSince(framer, now))
            return FramerEvent::None;
        cut = framer->count;
        break;
    case FrameCut::NeedMore:
        // The peer waits for our answer once it has sent: a start that the quiet stream leaves unfinished
        // ("D" alone, half a trailer) will never be whole and is answered as garbage.
        if (!quietSince(framer, now))
            return FramerEvent::None;
        return dropAsGarbage(framer, false);
    case FrameCut::Garbage:
    default:
        return holdGarbage(framer);
    }
    if (cut > ReceiveMaxBytes)
        return holdGarbage(framer);
    *message = held;
    *length = cut;
    framer->start += cut;
    framer->count -= cut;
    if (framer->count == 0)
        framer->start = 0;
    return FramerEvent::Message;
}

FramerEvent expireUnfinished(MessageFramer *framer, DWORD now, DWORD bound)
{
    if (!framer->fast || framer->discarding || framer->count <= 0 || now - framer->frontSince < bound)
        return FramerEvent::None;
    int cut = 0;
    if (cutFastMessage(framer->bytes + framer->start, framer->count, &cut))
        return FramerEvent::None;
    return dropAsGarbage(framer, true);
}

DWORD framerQuietDue(const MessageFramer *framer, DWORD now)
{
    if (framer->garbageHeld && !framer->discarding)
        return 0;
    if (!framer->discarding && framer->count <= 0)
        return INFINITE;
    if (!framer->discarding && framer->fast) {
        int cut = 0;
        return cutFastMessage(framer->bytes + framer->start, framer->count, &cut) || cut < 0 ? 0 : INFINITE;
    }
    if (!framer->discarding) {
        int cut = 0;
        if (cutMessage(framer->bytes + framer->start, framer->count, &cut) == FrameCut::Complete)
            return 0;
    }
    DWORD quiet = now - framer->lastArrival;
    return quiet >= QuietWindowMs ? 0 : QuietWindowMs - quiet;
}

bool framerHolding(const MessageFramer *framer)
{
    return framer->count > 0;
}

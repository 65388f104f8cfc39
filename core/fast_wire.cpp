// fast_wire.cpp: the fast link's message shapes: header, cut, readable form, and the agreement's texts.
#include "core/fast_wire.h"

#include "core/wire_message.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char FastHello[3] = "HI";
const char FastList[3] = "LS";
const char FastRows[3] = "LR";
const char FastListEnd[3] = "LE";
const char FastMakeFolder[3] = "MK";
const char FastPush[3] = "PU";
const char FastPull[3] = "GE";
const char FastFileHead[3] = "FH";
const char FastResume[3] = "RS";
const char FastData[3] = "DA";
const char FastAck[3] = "AK";
const char FastEnd[3] = "EN";
const char FastDone[3] = "OK";
const char FastRefuse[3] = "NO";
const char FastStop[3] = "SP";
const char FastCut[3] = "CU";
const char FastTreePush[3] = "TP";
const char FastTreePull[3] = "TG";
const char FastTreeFolder[3] = "TD";
const char FastTreeClose[3] = "TC";
const char FastTreeFile[3] = "TF";
const char FastTreeWord[3] = "TW";
const char FastTreeSkip[3] = "TK";
const char FastTreeFailed[3] = "TX";
const char FastTreeEnd[3] = "TE";
const char FastTreeTotal[3] = "TT";

const char FastProbeFolderA[] = "|Parcelwight|fast-link|";
const char FastProbeRecordPrefix[] = "|fast|";
const char FastServedUntold[] = "?";

const wchar_t *fastReasonText(FastReason reason)
{
    switch (reason) {
    case FastReason::Outside:
        return L"相手側が公開しているフォルダの外です";
    case FastReason::ReadOnly:
        return L"相手側は読み取り専用で公開しています";
    case FastReason::CannotWrite:
        return L"書き込めません";
    case FastReason::DiskFull:
        return L"ディスクがいっぱいです";
    case FastReason::Digest:
        return L"届いた内容が送られた内容と違います（元のファイルはそのままです）";
    case FastReason::CannotRead:
        return L"元のファイルを読めません";
    case FastReason::Busy:
        return L"相手側が他の動作中です";
    case FastReason::Malformed:
        return L"相手側が要求を読めませんでした";
    case FastReason::SourceChanged:
        return L"コピー中に元のファイルが変わりました";
    case FastReason::BadName:
        return L"この名前のファイルは作れません";
    case FastReason::TooLong:
        return L"パスが長すぎます";
    case FastReason::Unfinished:
        return L"受信途中の一時ファイルです";
    default:
        return L"";
    }
}

bool cutFastMessage(const char *data, int count, int *length)
{
    *length = 0;
    if (count < FastHeaderBytes)
        return false;
    uint64_t payload = getLittleEndian(reinterpret_cast<const unsigned char *>(data + 2), 4);
    bool letters = data[0] >= 'A' && data[0] <= 'Z' && data[1] >= 'A' && data[1] <= 'Z';
    if (!letters || payload > static_cast<uint64_t>(FastMaxPayload)) {
        *length = -1;
        return false;
    }
    int whole = FastHeaderBytes + static_cast<int>(payload);
    if (count < whole)
        return false;
    *length = whole;
    return true;
}

void putFastHeader(char *out, const char *tag, int payloadBytes)
{
    out[0] = tag[0];
    out[1] = tag[1];
    putLittleEndian(reinterpret_cast<unsigned char *>(out + 2), static_cast<uint64_t>(payloadBytes), 4);
}

bool isFast(const char *message, int count, const char *tag)
{
    return count >= FastHeaderBytes && message[0] == tag[0] && message[1] == tag[1];
}

bool isFastRequest(const char *message, int count)
{
    return isFast(message, count, FastList) || isFast(message, count, FastMakeFolder) ||
           isFast(message, count, FastPush) || isFast(message, count, FastPull) ||
           isFast(message, count, FastTreePush) || isFast(message, count, FastTreePull);
}

const unsigned char *fastPayload(const char *message, int count, int *payloadBytes)
{
    *payloadBytes = count > FastHeaderBytes ? count - FastHeaderBytes : 0;
    return reinterpret_cast<const unsigned char *>(message + FastHeaderBytes);
}

int describeFastMessage(const char *message, int count, char *out, int outBytes)
{
    if (outBytes <= 0)
        return 0;
    memset(out, 0, static_cast<size_t>(outBytes));
    int payloadBytes = 0;
    const unsigned char *payload = fastPayload(message, count, &payloadBytes);
    char tag[3] = {count > 0 ? message[0] : '?', count > 1 ? message[1] : '?', 0};
    int written = 0;
    if ((isFast(message, count, FastData) || isFast(message, count, FastResume)) && payloadBytes >= 8)
        written = snprintf(out, static_cast<size_t>(outBytes), "[fast] %s %d @%llu", tag, payloadBytes - 8,
                           static_cast<unsigned long long>(getLittleEndian(payload, 8)));
    else if (isFast(message, count, FastAck) && payloadBytes >= 8)
        written = snprintf(out, static_cast<size_t>(outBytes), "[fast] %s %llu", tag,
                           static_cast<unsigned long long>(getLittleEndian(payload, 8)));
    else if ((isFast(message, count, FastPush) || isFast(message, count, FastFileHead)) && payloadBytes >= 32)
        written = snprintf(out, static_cast<size_t>(outBytes), "[fast] %s %llu bytes %.*s", tag,
                           static_cast<unsigned long long>(getLittleEndian(payload, 8)), payloadBytes - 32,
                           reinterpret_cast<const char *>(payload + 32));
    else if (isFast(message, count, FastList) || isFast(message, count, FastPull) ||
             isFast(message, count, FastMakeFolder))
        written = snprintf(out, static_cast<size_t>(outBytes), "[fast] %s %.*s", tag, payloadBytes,
                           reinterpret_cast<const char *>(payload));
    else if (isFast(message, count, FastRefuse) && payloadBytes >= 1)
        written = snprintf(out, static_cast<size_t>(outBytes), "[fast] %s reason %d", tag, payload[0]);
    else
        written = snprintf(out, static_cast<size_t>(outBytes), "[fast] %s %d bytes", tag, payloadBytes);
    if (written < 0)
        return 0;
    return written < outBytes ? written : outBytes - 1;
}

bool parseProbeRecord(const char *body, int length, int *version, int *readOnly, char *servedA, int servedBytes)
{
    memset(servedA, 0, static_cast<size_t>(servedBytes));
    int prefix = static_cast<int>(strlen(FastProbeRecordPrefix));
    if (length < prefix + 4 || memcmp(body, FastProbeRecordPrefix, static_cast<size_t>(prefix)) != 0)
        return false;
    const char *p = body + prefix;
    const char *end = body + length;
    int number = 0;
    bool digits = false;
    while (p < end && *p >= '0' && *p <= '9' && number < 100000) {
        number = number * 10 + (*p++ - '0');
        digits = true;
    }
    if (!digits || p + 3 > end || p[0] != '|' || (p[1] != 'R' && p[1] != 'W') || p[2] != '|')
        return false;
    int served = static_cast<int>(end - (p + 3));
    if (served >= servedBytes)
        return false;
    memcpy(servedA, p + 3, static_cast<size_t>(served));
    *version = number;
    *readOnly = p[1] == 'R' ? 1 : 0;
    return true;
}

// ---- The tree stream ----------------------------------------------------------------------------------------

static void putTimes(unsigned char *out, const FILETIME *times)
{
    for (int i = 0; i < 3; i++)
        putFileTime(out + i * FileTimeBytes, times[i]);
}

static void getTimes(const unsigned char *in, FILETIME *times)
{
    for (int i = 0; i < 3; i++)
        times[i] = getFileTime(in + i * FileTimeBytes);
}

static int putPath(unsigned char *out, int room, int at, const TreeEntryWire &entry)
{
    if (entry.pathBytes < 0 || entry.pathBytes > room - at)
        return -1;
    if (entry.pathBytes > 0)
        memcpy(out + at, entry.path, static_cast<size_t>(entry.pathBytes));
    return at + entry.pathBytes;
}

int putTreeFolder(unsigned char *out, int room, const TreeEntryWire &entry)
{
    if (room < TreeFolderHeadBytes)
        return -1;
    putLittleEndian(out, entry.attributes, 4);
    putTimes(out + 4, entry.times);
    return putPath(out, room, TreeFolderHeadBytes, entry);
}

int putTreeFile(unsigned char *out, int room, const TreeEntryWire &entry)
{
    if (room < TreeFileHeadBytes)
        return -1;
    putLittleEndian(out, entry.number, 4);
    putLittleEndian(out + 4, static_cast<uint64_t>(entry.size), 8);
    putTimes(out + 12, entry.times);
    putLittleEndian(out + 12 + TreeTimesBytes, entry.attributes, 4);
    return putPath(out, room, TreeFileHeadBytes, entry);
}

void putTreeWord(unsigned char *out, const TreeWordWire &word)
{
    putLittleEndian(out, word.number, 4);
    out[4] = static_cast<unsigned char>(word.held);
    out[5] = word.reason;
    putLittleEndian(out + 6, static_cast<uint64_t>(word.offset), 8);
    putLittleEndian(out + 14, word.digest, 4);
    putLittleEndian(out + 18, static_cast<uint64_t>(word.heldSize), 8);
    putFileTime(out + 26, word.heldWritten);
}

bool parseTreeFolder(const unsigned char *payload, int bytes, TreeEntryWire *entry)
{
    memset(entry, 0, sizeof(*entry));
    if (bytes < TreeFolderHeadBytes)
        return false;
    entry->attributes = static_cast<uint32_t>(getLittleEndian(payload, 4));
    getTimes(payload + 4, entry->times);
    entry->path = reinterpret_cast<const char *>(payload + TreeFolderHeadBytes);
    entry->pathBytes = bytes - TreeFolderHeadBytes;
    return true;
}

bool parseTreeFile(const unsigned char *payload, int bytes, TreeEntryWire *entry)
{
    memset(entry, 0, sizeof(*entry));
    if (bytes < TreeFileHeadBytes)
        return false;
    uint64_t size = getLittleEndian(payload + 4, 8);
    if (size > static_cast<uint64_t>(INT64_MAX))
        return false;
    entry->number = static_cast<uint32_t>(getLittleEndian(payload, 4));
    entry->size = static_cast<int64_t>(size);
    getTimes(payload + 12, entry->times);
    entry->attributes = static_cast<uint32_t>(getLittleEndian(payload + 12 + TreeTimesBytes, 4));
    entry->path = reinterpret_cast<const char *>(payload + TreeFileHeadBytes);
    entry->pathBytes = bytes - TreeFileHeadBytes;
    return true;
}

bool parseTreeWord(const unsigned char *payload, int bytes, TreeWordWire *word)
{
    memset(word, 0, sizeof(*word));
    if (bytes < TreeWordBytes || payload[4] > static_cast<unsigned char>(TreeHeld::Declined))
        return false;
    uint64_t offset = getLittleEndian(payload + 6, 8);
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    word->number = static_cast<uint32_t>(getLittleEndian(payload, 4));
    word->held = static_cast<TreeHeld>(payload[4]);
    word->reason = payload[5];
    word->offset = static_cast<int64_t>(offset);
    word->digest = static_cast<uint32_t>(getLittleEndian(payload + 14, 4));
    word->heldSize = static_cast<int64_t>(getLittleEndian(payload + 18, 8) & 0x7fffffffffffffffull);
    word->heldWritten = getFileTime(payload + 26);
    return true;
}

bool isTreeStreamMessage(const char *message, int count)
{
    return isFast(message, count, FastTreeFolder) || isFast(message, count, FastTreeClose) ||
           isFast(message, count, FastTreeFile) || isFast(message, count, FastTreeWord) ||
           isFast(message, count, FastTreeSkip) || isFast(message, count, FastTreeFailed) ||
           isFast(message, count, FastTreeEnd) || isFast(message, count, FastTreeTotal);
}

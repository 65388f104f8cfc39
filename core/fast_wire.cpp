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

const char FastProbeFolderA[] = "|Parcelwight|fast-link|";
const char FastProbeRecordPrefix[] = "|fast|";

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
           isFast(message, count, FastPush) || isFast(message, count, FastPull);
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

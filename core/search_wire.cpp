// search_wire.cpp: the search's question and answer, built and read byte by byte.
#include "core/search_wire.h"

#include "core/wire_message.h"

#include <cstring>

static const unsigned char QuestionMagic[4] = {'P', 'W', 'S', 'Q'};
static const unsigned char AnswerMagic[4] = {'P', 'W', 'S', 'A'};

int buildSearchQuestion(unsigned char *out, int outBytes, uint32_t nonce, int round)
{
    if (outBytes < SearchQuestionBytes)
        return 0;
    memset(out, 0, SearchQuestionBytes);
    memcpy(out, QuestionMagic, 4);
    out[4] = SearchWireVersion;
    out[5] = static_cast<unsigned char>(round & 0xFF);
    putLittleEndian(out + 8, nonce, 4);
    return SearchQuestionBytes;
}

bool parseSearchQuestion(const unsigned char *in, int bytes, uint32_t *nonce, int *round)
{
    if (bytes != SearchQuestionBytes || memcmp(in, QuestionMagic, 4) != 0 || in[4] != SearchWireVersion ||
        in[6] != 0 || in[7] != 0)
        return false;
    *round = in[5];
    *nonce = static_cast<uint32_t>(getLittleEndian(in + 8, 4));
    return true;
}

// One text as a length byte and its UTF-8 bytes; false when it does not fit.
static bool putText(unsigned char *out, int outBytes, int *used, const wchar_t *text)
{
    char utf8[256];
    int bytes = 0;
    if (text[0] != 0) {
        bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr) - 1;
        if (bytes < 0)
            return false;
    }
    if (*used + 1 + bytes > outBytes)
        return false;
    out[(*used)++] = static_cast<unsigned char>(bytes);
    memcpy(out + *used, utf8, static_cast<size_t>(bytes));
    *used += bytes;
    return true;
}

int buildSearchAnswer(unsigned char *out, int outBytes, const SearchAnswer &answer)
{
    if (outBytes > SearchAnswerMaxBytes)
        outBytes = SearchAnswerMaxBytes;
    int count = answer.addressCount;
    if (count < 0 || count > SearchAddressesMax || outBytes < 13 + 4 * count)
        return 0;
    memcpy(out, AnswerMagic, 4);
    out[4] = SearchWireVersion;
    out[5] = static_cast<unsigned char>(answer.flags & 0xFF);
    putLittleEndian(out + 6, answer.nonce, 4);
    putLittleEndian(out + 10, static_cast<uint64_t>(answer.port & 0xFFFF), 2);
    out[12] = static_cast<unsigned char>(count);
    int used = 13;
    for (int i = 0; i < count; i++, used += 4)
        memcpy(out + used, &answer.addresses[i], 4);
    if (!putText(out, outBytes, &used, answer.hostName) || !putText(out, outBytes, &used, answer.fingerprint) ||
        !putText(out, outBytes, &used, answer.version))
        return 0;
    return used;
}

// Reads a length byte and that many UTF-8 bytes into a field of fieldChars; the first failure sticks.
struct AnswerReader {
    const unsigned char *in;
    int bytes;
    int at;
    bool failed;
};

static void readText(AnswerReader *reader, wchar_t *field, int fieldChars)
{
    memset(field, 0, static_cast<size_t>(fieldChars) * sizeof(wchar_t));
    if (reader->failed || reader->at >= reader->bytes) {
        reader->failed = true;
        return;
    }
    int length = reader->in[reader->at++];
    if (length > reader->bytes - reader->at) {
        reader->failed = true;
        return;
    }
    if (length > 0) {
        const char *text = reinterpret_cast<const char *>(reader->in + reader->at);
        int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
        if (chars <= 0 || chars >= fieldChars ||
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, field, fieldChars - 1) != chars) {
            memset(field, 0, static_cast<size_t>(fieldChars) * sizeof(wchar_t));
            reader->failed = true;
            return;
        }
    }
    reader->at += length;
}

bool parseSearchAnswer(const unsigned char *in, int bytes, SearchAnswer *answer)
{
    memset(answer, 0, sizeof(*answer));
    if (bytes < 13 || bytes > SearchAnswerMaxBytes || memcmp(in, AnswerMagic, 4) != 0 || in[4] != SearchWireVersion)
        return false;
    answer->flags = in[5] & (SearchServesOneFolder | SearchServesReadOnly);
    answer->nonce = static_cast<uint32_t>(getLittleEndian(in + 6, 4));
    answer->port = static_cast<int32_t>(getLittleEndian(in + 10, 2));
    int count = in[12];
    if (count > SearchAddressesMax || bytes < 13 + 4 * count || answer->port == 0)
        return false;
    answer->addressCount = count;
    for (int i = 0; i < count; i++)
        memcpy(&answer->addresses[i], in + 13 + 4 * i, 4);
    AnswerReader reader = {in, bytes, 13 + 4 * count, false};
    readText(&reader, answer->hostName, static_cast<int>(sizeof(answer->hostName) / sizeof(wchar_t)));
    readText(&reader, answer->fingerprint, static_cast<int>(sizeof(answer->fingerprint) / sizeof(wchar_t)));
    readText(&reader, answer->version, static_cast<int>(sizeof(answer->version) / sizeof(wchar_t)));
    if (reader.failed || reader.at != bytes) {
        memset(answer, 0, sizeof(*answer));
        return false;
    }
    return true;
}

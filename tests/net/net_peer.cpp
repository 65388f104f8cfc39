// net_peer.cpp: the far side of the link as a test drives it.
#include "tests/net/net_peer.h"

#include "tests/support/test_support.h"

#include <cstdio>
#include <cstring>

static bool fail(std::string *why, const std::string &reason)
{
    if (why)
        *why = reason;
    return false;
}

bool peerListing(SOCKET s, const std::string &folderA, std::vector<std::string> *rows, std::string *why)
{
    rows->clear();
    if (!sendText(s, "DD" + folderA))
        return fail(why, "send DD");
    for (int n = 0; n < 2000; n++) {
        std::string row = receiveMessage(s, 3000);
        if (row.compare(0, 8, "DR999999") == 0)
            return true;
        if (row.size() < 12 || row.compare(0, 2, "DR") != 0)
            return fail(why, "unexpected in listing: " + row.substr(0, 40));
        rows->push_back(row);
        if (!sendText(s, "ACK"))
            return fail(why, "send ACK");
    }
    return fail(why, "listing without end");
}

std::string trailerBytes(const char *tag, const FILETIME &written)
{
    std::string out(tag, 8);
    FILETIME times[3] = {written, written, written};
    for (const FILETIME &time : times) {
        unsigned char bytes[8];
        for (int i = 0; i < 4; i++) {
            bytes[i] = static_cast<unsigned char>(time.dwLowDateTime >> (8 * i));
            bytes[4 + i] = static_cast<unsigned char>(time.dwHighDateTime >> (8 * i));
        }
        out.append(reinterpret_cast<char *>(bytes), 8);
    }
    return out;
}

bool peerPush(SOCKET s, const std::string &targetA, const std::string &bytes, const FILETIME &written,
              std::string *why, const std::string &glued)
{
    if (!sendText(s, "FD" + targetA))
        return fail(why, "send FD");
    std::string answer = receiveMessage(s, 3000);
    if (answer != "ACK")
        return fail(why, "FD answered with " + answer.substr(0, 20));
    size_t blocks = (bytes.size() + 999) / 1000;
    for (size_t n = 0; n < blocks; n++) {
        char header[16] = {};
        snprintf(header, sizeof(header), "FR%06d", static_cast<int>(n));
        if (!sendText(s, std::string(header, 8) + bytes.substr(n * 1000, 1000)))
            return fail(why, "send block");
        answer = receiveMessage(s, 3000);
        if (answer != "ACK")
            return fail(why, "block " + std::to_string(n) + " answered with " + answer.substr(0, 20));
    }
    if (!sendText(s, trailerBytes("FR999999", written) + glued))
        return fail(why, "send trailer");
    return true;
}

bool peerPull(SOCKET s, const std::string &sourceA, std::string *bytes, FILETIME *written, std::string *why)
{
    bytes->clear();
    if (!sendText(s, "FC" + sourceA))
        return fail(why, "send FC");
    for (int n = 0; n < 1000000; n++) {
        std::string block = receiveMessage(s, 3000);
        if (block.size() == 32 && block.compare(0, 8, "FB999999") == 0) {
            const unsigned char *t = reinterpret_cast<const unsigned char *>(block.data()) + 24;
            written->dwLowDateTime = t[0] | t[1] << 8 | t[2] << 16 | static_cast<DWORD>(t[3]) << 24;
            written->dwHighDateTime = t[4] | t[5] << 8 | t[6] << 16 | static_cast<DWORD>(t[7]) << 24;
            return true;
        }
        char expected[16] = {};
        snprintf(expected, sizeof(expected), "FB%06d", n);
        if (block.size() < 9 || block.compare(0, 8, expected) != 0)
            return fail(why, "expected " + std::string(expected) + ", got " + block.substr(0, 20));
        bytes->append(block, 8, std::string::npos);
        if (!sendText(s, "ACK"))
            return fail(why, "send ACK");
    }
    return fail(why, "pull without end");
}

bool answerServerListing(SOCKET s, std::string *why)
{
    std::string request = receiveMessage(s, 3000);
    if (request.compare(0, 2, "DD") != 0)
        return fail(why, "expected the server's DD, got " + request.substr(0, 20));
    return sendText(s, "DR999999") || fail(why, "send terminator");
}

// net_peer.cpp: the far side of the link as a test drives it.
#include "tests/net/net_peer.h"

#include "tests/support/test_support.h"

#include <cstdio>
#include <cstring>
#include <random>

SOCKET connectTo(int port)
{
    startWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void resetSocket(SOCKET s)
{
    linger hard = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof(hard));
    closesocket(s);
}

bool seesClosed(SOCKET s, int ms)
{
    char buffer[2048];
    DWORD start = GetTickCount();
    while (static_cast<int>(GetTickCount() - start) < ms) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {0, 100000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0)
            return true;
        if (ready == 1 && recv(s, buffer, sizeof(buffer), 0) <= 0)
            return true;
    }
    return false;
}

bool sendText(SOCKET s, const std::string &message)
{
    return send(s, message.data(), static_cast<int>(message.size()), 0) == static_cast<int>(message.size());
}

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
              std::string *why)
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
    if (!sendText(s, trailerBytes("FR999999", written)))
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

std::string randomBytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string out(count, '\0');
    for (size_t i = 0; i < count; i++)
        out[i] = static_cast<char>(generator() & 0xFF);
    return out;
}

bool lastWriteTime(const std::wstring &path, FILETIME *written)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = GetFileTime(file, nullptr, nullptr, written);
    CloseHandle(file);
    return ok != 0;
}

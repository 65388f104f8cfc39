// peer_harness.cpp: the peer's side of the engine and transfer suites.
#include "tests/core/peer_harness.h"

#include "core/file_receiver.h"
#include "core/protocol_engine.h"
#include "tests/support/fake_ui.h"
#include "tests/support/test_support.h"

#include <cstdio>
#include <cstring>

bool openPeer(PeerHarness *peer, ConnectionMode mode)
{
    resetAppState();
    recordBoxes();
    resetFakeUi();
    peer->ours = INVALID_SOCKET;
    peer->theirs = INVALID_SOCKET;
    if (!loopbackPair(&peer->ours, &peer->theirs))
        return false;
    AppState.mode = mode;
    for (int i = 0; i < ClientSlotCount; i++)
        AppState.clientSlots[i] = INVALID_SOCKET;
    if (mode == ConnectionMode::Server)
        AppState.clientSlots[0] = peer->ours;
    else
        AppState.mainSocket = peer->ours;
    wcscpy(AppState.peerFolder, L"C:\\");
    return true;
}

void closePeer(PeerHarness *peer)
{
    if (peer->ours != INVALID_SOCKET)
        closesocket(peer->ours);
    if (peer->theirs != INVALID_SOCKET)
        closesocket(peer->theirs);
    peer->ours = peer->theirs = INVALID_SOCKET;
}

void PeerTest::SetUp()
{
    ASSERT_TRUE(openPeer(&peer, mode));
    folder = makeTempFolder(L"pwpeer");
    ASSERT_FALSE(folder.empty());
}

void PeerTest::TearDown()
{
    abandonTransferFile();
    closePeer(&peer);
    removeTree(folder);
}

bool openOtherSlot(PeerHarness *peer, PeerHarness *other, int slot)
{
    other->ours = other->theirs = INVALID_SOCKET;
    if (!loopbackPair(&other->ours, &other->theirs))
        return false;
    AppState.mode = ConnectionMode::Server;
    AppState.clientSlots[0] = peer->ours;
    AppState.clientSlots[slot] = other->ours;
    AppState.currentSlot = slot;
    return true;
}

void deliver(const std::string &msg)
{
    // Sentinel bytes after the message: the engine must read none of them.
    std::string held = msg.substr(0, ReceiveMaxBytes) + std::string(64, '\xdd');
    handleMessage(held.data(), static_cast<int>(msg.size() < static_cast<size_t>(ReceiveMaxBytes) ? msg.size() : ReceiveMaxBytes));
}

std::string fromUs(PeerHarness *peer, int timeoutMs)
{
    return receiveMessage(peer->theirs, timeoutMs);
}

std::string blockMessage(const char *tag, int number, const std::string &data)
{
    char header[16];
    snprintf(header, sizeof(header), "%s%06d", tag, number);
    return std::string(header, 8) + data;
}

static void appendTime(std::string *out, const FILETIME &time)
{
    DWORD words[2] = {time.dwLowDateTime, time.dwHighDateTime};
    for (DWORD word : words)
        for (int b = 0; b < 4; b++)
            out->push_back(static_cast<char>((word >> (8 * b)) & 0xFF));
}

std::string trailerMessage(const char *tag, const FILETIME &created, const FILETIME &accessed,
                           const FILETIME &written)
{
    std::string out = std::string(tag) + "999999";
    appendTime(&out, created);
    appendTime(&out, accessed);
    appendTime(&out, written);
    return out;
}

std::string requestMessage(const char *tag, const std::wstring &path)
{
    return std::string(tag) + ansiPath(path);
}

FILETIME fileTimeOf(unsigned long long value)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

unsigned long long fileTimeValue(const FILETIME &time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool setFileTimes(const std::wstring &path, const FILETIME &created, const FILETIME &accessed,
                  const FILETIME &written)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = SetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    return ok != FALSE;
}

bool getFileTimes(const std::wstring &path, FILETIME *created, FILETIME *accessed, FILETIME *written)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = GetFileTime(file, created, accessed, written);
    CloseHandle(file);
    return ok != FALSE;
}

std::string senderTrailer(const char *tag)
{
    return trailerMessage(tag, fileTimeOf(NewYear2024), fileTimeOf(Later1), fileTimeOf(Later2));
}

void expectSenderTimesAt(Caller at, const std::wstring &path)
{
    TRACE_CALLER(at);
    FILETIME created, accessed, written;
    ASSERT_TRUE(getFileTimes(path, &created, &accessed, &written));
    EXPECT_EQ(fileTimeValue(written), Later2);
    EXPECT_EQ(fileTimeValue(accessed), Later1);
    EXPECT_TRUE(fileTimeValue(created) == NewYear2024 || fileTimeValue(created) == Later2)
        << fileTimeValue(created);
}

bool openableExclusively(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

std::string patternBytes(size_t n, int seed)
{
    std::string out(n, '\0');
    for (size_t i = 0; i < n; i++)
        out[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) % 251);
    return out;
}

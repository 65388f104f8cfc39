// peer_harness.h: the test plays the peer over a real loopback connection while this side's engine runs in
// the test's own thread, one handled message at a time.
#pragma once

#include "core/app_state.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

struct PeerHarness {
    SOCKET ours;    // this side's end: mainSocket (Client) or clientSlots[0] (Server)
    SOCKET theirs;  // the peer's end, driven by the test
};

// Fresh AppState, recorded boxes and UI, and a connected pair wired in as this side's link in the given mode.
bool openPeer(PeerHarness *peer, ConnectionMode mode);
void closePeer(PeerHarness *peer);

// Server mode with peer's end in slot 0 and a second connected pair's end in slot, which is made the current
// one (the slot that spoke last); closePeer(other) ends that pair.
bool openOtherSlot(PeerHarness *peer, PeerHarness *other, int slot);

// A link to a peer played by the test (openPeer in mode) and a fresh temporary folder for each test; afterwards
// the transfer file is abandoned, the link closed and the folder removed.
class PeerTest : public ::testing::Test {
protected:
    explicit PeerTest(ConnectionMode mode = ConnectionMode::Client) : mode(mode) {}
    void SetUp() override;
    void TearDown() override;

    ConnectionMode mode;
    PeerHarness peer;
    std::wstring folder;
};

// Puts msg into the zero-filled receive buffer with its byte count and runs handleMessage.
void deliver(const std::string &msg);

// What the peer receives next (one receive), or "" when nothing arrives within timeoutMs.
std::string fromUs(PeerHarness *peer, int timeoutMs = 2000);

// The 8-byte header and data of a block, a trailer of three times, and "DD"/"FD"/... + an A path.
std::string blockMessage(const char *tag, int number, const std::string &data);
std::string trailerMessage(const char *tag, const FILETIME &created, const FILETIME &accessed,
                           const FILETIME &written);
std::string requestMessage(const char *tag, const std::wstring &path);

// The times a sender puts in its trailers: 2024-01-01 00:00:00 UTC, and two later times.
const unsigned long long NewYear2024 = 0x01DA3C457689C000ull;
const unsigned long long Later1 = NewYear2024 + 36000000000ull;
const unsigned long long Later2 = NewYear2024 + 72000000000ull;

FILETIME fileTimeOf(unsigned long long value);
unsigned long long fileTimeValue(const FILETIME &time);
bool setFileTimes(const std::wstring &path, const FILETIME &created, const FILETIME &accessed,
                  const FILETIME &written);
bool getFileTimes(const std::wstring &path, FILETIME *created, FILETIME *accessed, FILETIME *written);

// The trailer of a sender with the three times above.
std::string senderTrailer(const char *tag);
// Checks that path carries the times of senderTrailer. Check it before anything reads the file, which could
// move its access time; where the file system keeps no creation time it reports the last write time instead.
void expectSenderTimesAt(Caller at, const std::wstring &path);
#define expectSenderTimes(...) expectSenderTimesAt(HERE, __VA_ARGS__)

// True when path can be opened with no sharing, i.e. nobody holds it open.
bool openableExclusively(const std::wstring &path);

// n bytes running through 0..250 (zeros included), so no block looks like the one before it.
std::string patternBytes(size_t n, int seed = 0);

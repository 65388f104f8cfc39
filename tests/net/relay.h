// relay.h: a TCP relay between two real endpoints over loopback that hands the bytes on in other pieces than
// they were sent in, as real networks do.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class RelayMode {
    Split,    // each chunk cut at a random point, the second piece 1 to 5 ms later
    Trickle,  // one byte at a time
    Cut536,   // pieces of at most 536 bytes, as over a path of that segment size
    Join,     // a listing's terminator or a file's trailer held back and sent with the next chunk
    Delay,    // each chunk as it came, delayMs after it came, while the next ones are already on their way
};

const char *relayModeName(RelayMode mode);

struct Relay {
    Relay() = default;
    Relay(const Relay &) = delete;
    Relay &operator=(const Relay &) = delete;
    ~Relay();

    // Listens on 127.0.0.1 (its port in port) and links every connection it accepts to targetPort.
    bool start(int targetPort, RelayMode mode, unsigned seed);
    void stop();

    int port = 0;
    std::atomic<int> joined{0};  // chunks sent together with the one held before them
    // Toward the client (the accepted side), counted over all its connections: the byte at flipAt is inverted,
    // and the connection is cut after cutAfter bytes, as a lost network cuts it. -1: never.
    long long flipAt = -1;
    long long cutAfter = -1;
    int delayMs = 1;  // Delay mode: the time added in each direction
    long long towardClientBytes() const { return towardClient.load(); }
    // Set before start: every byte each way is kept, for a test to search or to send again.
    bool recordAll = false;
    std::string recorded(bool towardTheClient);

private:
    void acceptLoop();
    void pump(SOCKET from, SOCKET to, unsigned seed, bool towardClient);
    void pumpChunks(SOCKET from, SOCKET to, unsigned seed, bool towardClient, struct DelayLine *line);
    bool forward(SOCKET to, const char *data, int length, unsigned *state);

    RelayMode mode = RelayMode::Split;
    int target = 0;
    unsigned seed = 0;
    SOCKET listener = INVALID_SOCKET;
    std::atomic<bool> stopping{false};
    std::atomic<long long> towardClient{0};
    std::mutex lock;
    std::vector<SOCKET> sockets;
    std::vector<std::thread> threads;
    std::string toClient, toServer;
};

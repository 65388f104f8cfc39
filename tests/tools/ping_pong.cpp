// ping_pong.cpp: a bare lock-step ping-pong between two threads of this process over 127.0.0.1.
#include "tests/tools/ping_pong.h"

#include "tests/net/relay.h"
#include "tests/support/test_support.h"

#include <chrono>
#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Receives exactly bytes (a message may come in pieces); false when the peer closed or failed.
bool receiveAll(SOCKET s, char *buffer, int bytes)
{
    for (int got = 0; got < bytes;) {
        int n = recv(s, buffer + got, bytes - got, 0);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

int pairDelayMs = 0;

// A connected pair, through a relay that adds pairDelayMs each way when asked; the relay lives as long as relay.
bool makePair(SOCKET *ours, SOCKET *theirs, Relay *relay)
{
    if (pairDelayMs <= 0)
        return loopbackPair(ours, theirs);
    int port = 0;
    SOCKET listener = listenLoopback(&port);
    relay->delayMs = pairDelayMs;
    if (listener == INVALID_SOCKET || !relay->start(port, RelayMode::Delay, 1u)) {
        closesocket(listener);
        return false;
    }
    *ours = connectTo(relay->port);
    *theirs = *ours == INVALID_SOCKET ? INVALID_SOCKET : accept(listener, nullptr, nullptr);
    closesocket(listener);
    BOOL on = TRUE;
    setsockopt(*ours, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
    setsockopt(*theirs, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
    return *theirs != INVALID_SOCKET;
}

}  // namespace

void setPairDelay(int ms)
{
    pairDelayMs = ms;
}

double bareStreamRate(size_t bytes)
{
    SOCKET ours = INVALID_SOCKET, theirs = INVALID_SOCKET;
    Relay relay;
    if (!makePair(&ours, &theirs, &relay))
        return 0;
    auto start = std::chrono::steady_clock::now();
    std::thread reader([theirs, bytes] {
        std::vector<char> buffer(256 * 1024);
        for (size_t got = 0; got < bytes;) {
            int n = recv(theirs, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (n <= 0)
                return;
            got += static_cast<size_t>(n);
        }
    });
    std::vector<char> piece(128 * 1024, 'x');
    bool ok = true;
    for (size_t sent = 0; ok && sent < bytes;) {
        int n = static_cast<int>(std::min(piece.size(), bytes - sent));
        ok = send(ours, piece.data(), n, 0) == n;
        sent += static_cast<size_t>(n);
    }
    reader.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    closesocket(ours);
    closesocket(theirs);
    return ok && seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

double pingPongRate(double seconds)
{
    SOCKET ours = INVALID_SOCKET, theirs = INVALID_SOCKET;
    Relay relay;
    if (!makePair(&ours, &theirs, &relay))
        return 0;
    // The answering side: every 1008 bytes get a 3-byte reply, each in one send.
    std::thread answerer([theirs] {
        char message[1008];
        while (receiveAll(theirs, message, sizeof(message)) && send(theirs, "ACK", 3, 0) == 3) {
        }
    });
    char message[1008] = {'F', 'R'};
    char answer[3];
    long trips = 0;
    auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    bool ok = true;
    while (ok && (elapsed < seconds || trips < 200)) {
        ok = send(ours, message, sizeof(message), 0) == static_cast<int>(sizeof(message)) &&
             receiveAll(ours, answer, sizeof(answer));
        trips++;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    closesocket(ours);
    answerer.join();
    closesocket(theirs);
    return ok && elapsed > 0 ? trips / elapsed : 0;
}

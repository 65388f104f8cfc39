// relay.cpp: the re-cutting TCP relay of the network suites.
#include "tests/net/relay.h"

#include "tests/net/net_peer.h"
#include "tests/support/test_support.h"

#include <cstring>

const char *relayModeName(RelayMode mode)
{
    switch (mode) {
    case RelayMode::Split:
        return "Split";
    case RelayMode::Trickle:
        return "Trickle";
    case RelayMode::Cut536:
        return "Cut536";
    case RelayMode::Join:
        return "Join";
    case RelayMode::Delay:
        return "Delay";
    }
    return "?";
}

static unsigned nextRandom(unsigned *state)
{
    *state = *state * 1103515245u + 12345u;
    return (*state >> 8) & 0xFFFFFF;
}

static void noDelay(SOCKET s)
{
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
}

Relay::~Relay()
{
    stop();
}

bool Relay::start(int targetPort, RelayMode relayMode, unsigned randomSeed)
{
    // A relay stopped before may start again.
    stopping = false;
    mode = relayMode;
    target = targetPort;
    seed = randomSeed;
    port = 0;
    listener = listenLoopback(&port);
    if (listener == INVALID_SOCKET)
        return false;
    threads.emplace_back([this] { acceptLoop(); });
    return true;
}

void Relay::stop()
{
    stopping = true;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (listener != INVALID_SOCKET)
            closesocket(listener);
        listener = INVALID_SOCKET;
        for (SOCKET s : sockets)
            closesocket(s);
        sockets.clear();
    }
    for (std::thread &thread : threads) {
        if (thread.joinable())
            thread.join();
    }
    threads.clear();
}

void Relay::acceptLoop()
{
    unsigned connection = 0;
    while (!stopping) {
        fd_set readable;
        FD_ZERO(&readable);
        SOCKET listening = listener;
        if (listening == INVALID_SOCKET)
            return;
        FD_SET(listening, &readable);
        timeval wait = {0, 100000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        SOCKET inward = accept(listening, nullptr, nullptr);
        if (inward == INVALID_SOCKET)
            continue;
        SOCKET outward = connectTo(target);
        if (outward == INVALID_SOCKET) {
            closesocket(inward);
            continue;
        }
        noDelay(inward);
        noDelay(outward);
        std::lock_guard<std::mutex> hold(lock);
        if (stopping) {
            closesocket(inward);
            closesocket(outward);
            return;
        }
        sockets.push_back(inward);
        sockets.push_back(outward);
        connection++;
        unsigned base = seed + connection * 7919u;
        threads.emplace_back([this, inward, outward, base] { pump(inward, outward, base, false); });
        threads.emplace_back([this, inward, outward, base] { pump(outward, inward, base + 1, true); });
    }
}

// A chunk that ends in a message nobody answers: a listing's terminator or a file's trailer.
static bool endsUnanswered(const char *data, int length)
{
    if (length >= 8 && memcmp(data + length - 8, "DR999999", 8) == 0)
        return true;
    return length >= 32 && (memcmp(data + length - 32, "FR999999", 8) == 0 ||
                            memcmp(data + length - 32, "FB999999", 8) == 0);
}

std::string Relay::recorded(bool towardTheClient)
{
    std::lock_guard<std::mutex> hold(lock);
    return towardTheClient ? toClient : toServer;
}

bool Relay::forward(SOCKET to, const char *data, int length, unsigned *state)
{
    switch (mode) {
    case RelayMode::Split:
        if (length >= 2) {
            int cut = 1 + static_cast<int>(nextRandom(state) % static_cast<unsigned>(length - 1));
            if (send(to, data, cut, 0) != cut)
                return false;
            // A turn for the receiver to take the first piece alone; no pause that could reach the quiet window.
            SwitchToThread();
            data += cut;
            length -= cut;
        }
        return send(to, data, length, 0) == length;
    case RelayMode::Trickle:
        for (int i = 0; i < length; i++) {
            if (send(to, data + i, 1, 0) != 1)
                return false;
        }
        return true;
    case RelayMode::Cut536:
        while (length > 0) {
            int piece = length < 536 ? length : 536;
            if (send(to, data, piece, 0) != piece)
                return false;
            data += piece;
            length -= piece;
        }
        return true;
    case RelayMode::Join:
    case RelayMode::Delay:
        return send(to, data, length, 0) == length;
    }
    return false;
}

// Delay mode: chunks wait in arrival order for their time, and a thread of their own sends each when due, so
// the link keeps carrying while they wait, as a long cable does.
struct DelayLine {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> waiting;
    bool closing = false;

    void carry(SOCKET to)
    {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            if (waiting.empty()) {
                if (closing)
                    return;
                changed.wait(hold);
                continue;
            }
            auto left = waiting.front().first - std::chrono::steady_clock::now();
            if (left > std::chrono::milliseconds(3)) {
                // The system's timed waits are coarse: sleep while far, then yield until due.
                changed.wait_until(hold, waiting.front().first - std::chrono::milliseconds(3));
                continue;
            }
            if (left > std::chrono::steady_clock::duration::zero()) {
                hold.unlock();
                SwitchToThread();
                hold.lock();
                continue;
            }
            // Everything due goes in one send.
            std::string chunk = std::move(waiting.front().second);
            waiting.pop_front();
            auto now = std::chrono::steady_clock::now();
            while (!waiting.empty() && waiting.front().first <= now && chunk.size() < (1u << 20)) {
                chunk += waiting.front().second;
                waiting.pop_front();
            }
            hold.unlock();
            bool sent = send(to, chunk.data(), static_cast<int>(chunk.size()), 0) == static_cast<int>(chunk.size());
            hold.lock();
            if (!sent) {
                waiting.clear();
                return;
            }
        }
    }
};

void Relay::pump(SOCKET from, SOCKET to, unsigned pumpSeed, bool towardTheClient)
{
    DelayLine line;
    std::thread carrier;
    if (mode == RelayMode::Delay)
        carrier = std::thread([&line, to] { line.carry(to); });
    pumpChunks(from, to, pumpSeed, towardTheClient, mode == RelayMode::Delay ? &line : nullptr);
    if (carrier.joinable()) {
        {
            std::lock_guard<std::mutex> hold(line.lock);
            line.closing = true;
        }
        line.changed.notify_all();
        carrier.join();
    }
    // One side went: the other sees the same end.
    shutdown(to, SD_SEND);
}

void Relay::pumpChunks(SOCKET from, SOCKET to, unsigned pumpSeed, bool towardTheClient, DelayLine *line)
{
    unsigned state = pumpSeed;
    std::string held;
    char buffer[65536];
    // The delay line takes what came at once; the re-cutting modes work on small chunks, as before.
    int room = line != nullptr ? static_cast<int>(sizeof(buffer)) : 4096;
    while (!stopping) {
        if (line != nullptr) {
            // Nothing is held back in this mode: a plain receive, which stop() ends by closing the socket.
            int got = recv(from, buffer, room, 0);
            if (got <= 0)
                break;
            {
                std::lock_guard<std::mutex> hold(line->lock);
                line->waiting.emplace_back(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs),
                                           std::string(buffer, static_cast<size_t>(got)));
            }
            line->changed.notify_all();
            continue;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(from, &readable);
        // A held chunk goes on alone when nothing follows it within a while.
        timeval wait = {held.empty() ? 0 : 1, held.empty() ? 100000 : 0};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0)
            break;
        if (ready == 0) {
            if (!held.empty() && !forward(to, held.data(), static_cast<int>(held.size()), &state))
                break;
            held.clear();
            continue;
        }
        int got = recv(from, buffer, room, 0);
        if (got <= 0)
            break;
        if (recordAll) {
            std::lock_guard<std::mutex> hold(lock);
            (towardTheClient ? toClient : toServer).append(buffer, static_cast<size_t>(got));
        }
        if (towardTheClient) {
            long long before = towardClient.fetch_add(got);
            if (flipAt >= before && flipAt < before + got)
                buffer[flipAt - before] ^= 0x5A;
            if (cutAfter >= 0 && before + got > cutAfter) {
                int kept = cutAfter > before ? static_cast<int>(cutAfter - before) : 0;
                if (kept > 0)
                    send(to, buffer, kept, 0);
                shutdown(from, SD_BOTH);
                shutdown(to, SD_BOTH);
                break;
            }
        }
        if (mode == RelayMode::Join) {
            if (!held.empty())
                joined++;
            held.append(buffer, static_cast<size_t>(got));
            if (endsUnanswered(held.data(), static_cast<int>(held.size())))
                continue;
            bool sent = forward(to, held.data(), static_cast<int>(held.size()), &state);
            held.clear();
            if (!sent)
                break;
            continue;
        }
        if (!forward(to, buffer, got, &state))
            break;
    }
}

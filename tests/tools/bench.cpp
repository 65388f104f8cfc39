// bench.cpp: throughput of the link between two console hosts: a push and a pull of one file of random bytes,
// and repeated listings of a folder, each timed from the command to the requester's return to Waiting and set
// beside a bare ping-pong measured first.
//
// Command line: pw_bench [MEGABYTES] [ENTRIES] [LISTINGS]   (defaults 4, 200, 20; a megabyte is 1,000,000 bytes)
// Prints one line per figure; exits 1 when a transfer fails or the bytes differ, 2 when the hosts do not start.
#include "tests/net/relay.h"
#include "tests/support/host_process.h"
#include "tests/support/test_support.h"
#include "tests/tools/ping_pong.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

double pingPong = 0;  // round trips per second
bool fastLink = false;  // both hosts agree on the fast link
int delayMs = 0;        // added in each direction between the hosts, and to the bare figures
double bareStream = 0;  // MB/s of a bare TCP stream of the copy's bytes

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits for each prefix in turn; on a miss prints the host's last lines.
bool sawSequence(HostProcess *host, const char *who, const std::vector<std::string> &prefixes, int ms)
{
    std::string why;
    if (waitForSequence(host, prefixes, ms, &why))
        return true;
    fprintf(stderr, "%s: %s\n", who, why.c_str());
    return false;
}

// Message boxes are failures the hosts answered on their own: a transfer that showed one did not go cleanly.
bool reportBoxes(HostProcess *host, const char *who)
{
    bool any = false;
    for (const std::string &line : host->history()) {
        if (line.rfind("BOX ", 0) == 0) {
            fprintf(stderr, "%s: %s\n", who, line.c_str());
            any = true;
        }
    }
    return any;
}

bool sameFile(const std::wstring &expected, const std::wstring &copy, const char *what)
{
    std::string a, b;
    if (!readFileBytes(expected, &a) || !readFileBytes(copy, &b)) {
        fprintf(stderr, "%s: cannot read %s\n", what, narrow(copy).c_str());
        return false;
    }
    if (a != b) {
        fprintf(stderr, "%s: %s differs (%zu bytes, expected %zu)\n", what, narrow(copy).c_str(), b.size(), a.size());
        return false;
    }
    return true;
}

// One copy: the command to the requester, then its return to Waiting (timed), then the server's.
bool timeCopy(HostProcess *client, HostProcess *server, const char *label, const std::string &command,
              const char *clientState, const char *serverState, size_t bytes, int timeoutMs)
{
    Clock::time_point start = Clock::now();
    if (!client->send(command) ||
        !sawSequence(client, "client", {std::string("STATE ") + clientState, "STATE Waiting"}, timeoutMs))
        return false;
    double seconds = secondsSince(start);
    if (!sawSequence(server, "server", {std::string("STATE ") + serverState, "STATE Waiting"}, 10000))
        return false;
    double megabytes = static_cast<double>(bytes) / 1e6;
    size_t blocks = (bytes + 999) / 1000 + 1;  // the data blocks and the trailer
    printf("%s %.2f MB in %.2f s = %.2f MB/s (%zu blocks, %.0f blocks/s, %.2fx the ping-pong, %.3fx the bare stream)\n",
           label, megabytes, seconds, megabytes / seconds, blocks, static_cast<double>(blocks) / seconds,
           static_cast<double>(blocks) / seconds / pingPong, megabytes / seconds / bareStream);
    fflush(stdout);
    return true;
}

// Lists the folder `rounds` times; each listing must bring every entry plus "." and "..".
bool timeListings(HostProcess *client, const std::wstring &folder, int entries, int rounds)
{
    std::vector<double> ms;
    for (int round = 0; round < rounds; round++) {
        Clock::time_point start = Clock::now();
        if (!client->send("dir " + quotedPath(folder)) ||
            !sawSequence(client, "client", {"CLEAR", "STATE CallDIR"}, 10000))
            return false;
        int rows = 0;
        std::string line;
        while (client->readLine(&line, 10000) && line != "STATE Waiting") {
            if (line.rfind("ROW ", 0) == 0)
                rows++;
        }
        if (line != "STATE Waiting") {
            fprintf(stderr, "listing %d: no \"STATE Waiting\" after %d rows\n", round + 1, rows);
            return false;
        }
        ms.push_back(secondsSince(start) * 1000);
        if (rows != entries + 2) {
            fprintf(stderr, "listing %d: %d rows, expected %d\n", round + 1, rows, entries + 2);
            return false;
        }
    }
    double total = 0;
    for (double one : ms)
        total += one;
    std::sort(ms.begin(), ms.end());
    // Each row is one record answered by "ACK".
    double rowsPerSecond = (entries + 2) * 1000.0 * rounds / total;
    printf("listing %d rows: %.0f ms per listing (%d listings, min %.0f ms, max %.0f ms; %.0f rows/s, %.2fx the "
           "ping-pong)\n",
           entries + 2, total / rounds, rounds, ms.front(), ms.back(), rowsPerSecond, rowsPerSecond / pingPong);
    fflush(stdout);
    return true;
}

int run(double megabytes, int entries, int rounds)
{
    std::wstring serverFolder = makeTempFolder(L"pwbs");
    std::wstring clientFolder = makeTempFolder(L"pwbc");
    std::wstring backFolder = clientFolder + L"\\back";
    std::wstring listFolder = serverFolder + L"\\list";
    if (serverFolder.empty() || clientFolder.empty() || !CreateDirectoryW(backFolder.c_str(), nullptr) ||
        !CreateDirectoryW(listFolder.c_str(), nullptr)) {
        fprintf(stderr, "cannot make the temporary folders\n");
        return 2;
    }

    size_t bytes = static_cast<size_t>(megabytes * 1e6);
    std::string data(bytes, '\0');
    std::mt19937 random(20240611u);
    for (char &c : data)
        c = static_cast<char>(random() & 0xff);
    std::wstring source = clientFolder + L"\\bench.bin";
    bool made = writeFileBytes(source, data);
    for (int i = 0; made && i < entries; i++) {
        wchar_t name[32] = {};
        _snwprintf(name, 31, L"\\entry%04d.txt", i);
        made = writeFileBytes(listFolder + name, std::string(static_cast<size_t>(i), 'x'));
    }
    data.clear();
    data.shrink_to_fit();
    if (!made) {
        fprintf(stderr, "cannot write the test files\n");
        return 2;
    }

    int result = 0;
    {
        HostProcess server, client;
        std::string why;
        int port = 0;
        std::vector<std::wstring> extra;
        if (fastLink)
            extra.push_back(L"--fast");
        // With a delay, the client reaches the server through a relay that adds it in each direction.
        Relay relay;
        relay.delayMs = delayMs;
        if (!startServerHost(&server, &port, serverFolder, &why, extra) ||
            (delayMs > 0 && !relay.start(port, RelayMode::Delay, 1u)) ||
            !startClientHost(&client, delayMs > 0 ? relay.port : port, clientFolder, &why, extra)) {
            fprintf(stderr, "%s\n", why.c_str());
            result = 2;
        } else if (!sawSequence(&server, "server", {"STATE RequestDIR", "STATE Waiting", "STATE CallDIR", "STATE Waiting"},
                                15000) ||
                   !sawSequence(&client, "client", {"STATE CallDIR", "STATE Waiting", "STATE RequestDIR", "STATE Waiting"},
                                15000)) {
            result = 2;
        } else if (fastLink && (!sawSequence(&client, "client", {"STATE CallDIR", "STATE Waiting"}, 15000) ||
                                !sawSequence(&server, "server", {"STATE RequestDIR", "STATE Waiting"}, 15000))) {
            result = 2;
        } else {
            // Generous: some ten times what a round trip costs here, per block.
            int timeoutMs = 30000 + static_cast<int>(bytes / 1000) * 5;
            std::wstring pushed = serverFolder + L"\\bench.bin";
            std::string pushCommand = "push " + quotedPath(source) + " " + quotedPath(serverFolder);
            std::string pullCommand = "pull " + quotedPath(pushed) + " " + quotedPath(backFolder);
            bool ok = timeCopy(&client, &server, "push", pushCommand, "CallCopyTO", "RequestCopyTO", bytes,
                               timeoutMs) &&
                      sameFile(source, pushed, "push") &&
                      timeCopy(&client, &server, "pull", pullCommand, "CallCopyFrom", "RequestCopyFrom", bytes,
                               timeoutMs) &&
                      sameFile(source, backFolder + L"\\bench.bin", "pull") &&
                      timeListings(&client, listFolder, entries, rounds);
            bool boxes = reportBoxes(&server, "server");
            boxes = reportBoxes(&client, "client") || boxes;
            result = ok && !boxes ? 0 : 1;
        }
        client.end();
        server.end();
    }
    removeTree(serverFolder);
    removeTree(clientFolder);
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    double megabytes = argc > 1 ? atof(argv[1]) : 4.0;
    int entries = argc > 2 ? atoi(argv[2]) : 200;
    int rounds = argc > 3 ? atoi(argv[3]) : 20;
    fastLink = argc > 4 && strcmp(argv[4], "fast") == 0;
    delayMs = argc > 5 ? atoi(argv[5]) : 0;
    setPairDelay(delayMs);
    // The classic DIR table holds 1024 rows and its file limit is 999,997,000 bytes; the fast link has neither.
    if (megabytes <= 0 || (!fastLink && (megabytes > 999.997 || entries > 1000)) || entries < 0 || rounds < 1) {
        fprintf(stderr, "usage: pw_bench [MEGABYTES (0-999.997)] [ENTRIES (0-1000)] [LISTINGS (1+)] [classic|fast] "
                        "[DELAY ms each way]\n");
        return 2;
    }
    pingPong = pingPongRate();
    bareStream = bareStreamRate(static_cast<size_t>(megabytes * 1e6));
    printf("ping-pong (1008 bytes answered by 3): %.0f round trips/s; bare stream: %.1f MB/s; %s link; %d ms each "
           "way\n",
           pingPong, bareStream, fastLink ? "fast" : "classic", delayMs);
    fflush(stdout);
    return run(megabytes, entries, rounds);
}

// bench.cpp: throughput of the link between two console hosts: a push and a pull of one file of random bytes,
// and repeated listings of a folder, each timed from the command to the requester's return to Waiting and set
// beside a bare ping-pong measured first.
//
// Command line: pw_bench [MEGABYTES] [ENTRIES] [LISTINGS] [classic|fast|private] [DELAY]   (defaults 4, 200, 20,
// classic, 0; a megabyte is 1,000,000 bytes; private: the fast link encrypted, each host with its own key, and
// the time from the client's start to its first listing printed, which holds the handshake)
// Optional figures, each on pairs of its own after the others:
//   PW_BENCH_FILES=N    N files of 1,000 bytes, classic and then fast: the host copies one file per command, so
//                       they go as N push commands back to back (each waits for both sides' Waiting)
//   PW_BENCH_BIG_MB=M   a sparse file of M megabytes pushed and pulled back on the fast link: size, bytes and
//                       last-write time checked, both hosts' peak working set beside it; skipped under 10 GB free
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

#include <psapi.h>

namespace {

using Clock = std::chrono::steady_clock;

double pingPong = 0;  // round trips per second
bool fastLink = false;  // both hosts agree on the fast link
bool privateLink = false;  // and on the private link (each with a key, admitting everyone: no question)
std::wstring serverHome, clientHome;
int delayMs = 0;        // added in each direction between the hosts, and to the bare figures
double bareStream = 0;  // MB/s of a bare TCP stream of the copy's bytes

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits for each prefix in turn; on a miss prints the host's last lines.
bool waitOrTell(HostProcess *host, const char *who, const std::vector<std::string> &prefixes, int ms)
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
        !waitOrTell(client, "client", {std::string("STATE ") + clientState, "STATE Waiting"}, timeoutMs))
        return false;
    double seconds = secondsSince(start);
    if (!waitOrTell(server, "server", {std::string("STATE ") + serverState, "STATE Waiting"}, 10000))
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
            !waitOrTell(client, "client", {"CLEAR", "STATE CallDIR"}, 10000))
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

// Starts a server and a client host and waits for their first listings (and the agreement, when fast); with a
// delay, the client reaches the server through a relay that adds it in each direction. 0, else 2.
int startPair(HostProcess *server, HostProcess *client, Relay *relay, const std::wstring &serverFolder,
              const std::wstring &clientFolder, bool fast)
{
    std::string why;
    int port = 0;
    std::vector<std::wstring> extra;
    if (fast)
        extra.push_back(L"--fast");
    std::vector<std::wstring> serverExtra = extra, clientExtra = extra;
    if (fast && privateLink) {
        serverExtra.insert(serverExtra.end(), {L"--home", serverHome});
        clientExtra.insert(clientExtra.end(), {L"--home", clientHome});
    }
    relay->delayMs = delayMs;
    if (!startServerHost(server, &port, serverFolder, &why, serverExtra) ||
        (delayMs > 0 && !relay->start(port, RelayMode::Delay, 1u))) {
        fprintf(stderr, "%s\n", why.c_str());
        return 2;
    }
    Clock::time_point started = Clock::now();
    if (!startClientHost(client, delayMs > 0 ? relay->port : port, clientFolder, &why, clientExtra)) {
        fprintf(stderr, "%s\n", why.c_str());
        return 2;
    }
    if (fast && privateLink) {
        // The agreement, the handshake, then the client's first listing.
        if (!waitOrTell(client, "client", {"KIND 3|", "STATE CallDIR", "STATE Waiting"}, 15000))
            return 2;
        printf("private link: client start to its first listing (agreement, handshake, listing): %.1f ms\n",
               secondsSince(started) * 1000);
        fflush(stdout);
        return 0;
    }
    if (!waitOrTell(server, "server", {"STATE RequestDIR", "STATE Waiting", "STATE CallDIR", "STATE Waiting"},
                     15000) ||
        !waitOrTell(client, "client", {"STATE CallDIR", "STATE Waiting", "STATE RequestDIR", "STATE Waiting"},
                     15000))
        return 2;
    // On the fast link the client's first pair above is its question for the agreement; its listing and the
    // server's listing of it have both ended once the server's second pair is seen.
    return 0;
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
        Relay relay;
        if (startPair(&server, &client, &relay, serverFolder, clientFolder, fastLink) != 0) {
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

// count files of 1,000 bytes pushed on each link in turn, one command per file, back to back: ms per file
// beside the ping-pong taken just before.
bool timeSmallFiles(int count)
{
    const size_t fileBytes = 1000;
    for (bool fast : {false, true}) {
        std::wstring serverFolder = makeTempFolder(L"pwfs");
        std::wstring clientFolder = makeTempFolder(L"pwfc");
        std::vector<std::wstring> names;
        bool ok = !serverFolder.empty() && !clientFolder.empty();
        for (int i = 0; ok && i < count; i++) {
            wchar_t name[32] = {};
            _snwprintf(name, 31, L"small%04d.txt", i);
            names.push_back(name);
            ok = writeFileBytes(clientFolder + L"\\" + name, randomBytes(fileBytes, 1000u + i));
        }
        if (!ok)
            fprintf(stderr, "cannot write the small files\n");
        if (ok) {
            HostProcess server, client;
            Relay relay;
            ok = startPair(&server, &client, &relay, serverFolder, clientFolder, fast) == 0;
            double rate = ok ? pingPongRate(0.5) : 0;
            Clock::time_point start = Clock::now();
            for (int i = 0; ok && i < count; i++) {
                ok = client.send("push " + quotedPath(clientFolder + L"\\" + names[i]) + " " +
                                 quotedPath(serverFolder)) &&
                     waitOrTell(&client, "client", {"STATE CallCopyTO", "STATE Waiting"}, 30000) &&
                     waitOrTell(&server, "server", {"STATE RequestCopyTO", "STATE Waiting"}, 10000);
            }
            double ms = secondsSince(start) * 1000 / count;
            for (int i = 0; ok && i < count; i++)
                ok = sameFile(clientFolder + L"\\" + names[i], serverFolder + L"\\" + names[i], "small file");
            bool boxes = reportBoxes(&server, "server");
            boxes = reportBoxes(&client, "client") || boxes;
            ok = ok && !boxes;
            if (ok)
                printf("%d files of %zu bytes, %s link, one push each back to back: %.2f ms per file (%.1f "
                       "ping-pong round trips at %.0f round trips/s)\n",
                       count, fileBytes, fast ? "fast" : "classic", ms, ms * rate / 1000, rate);
            fflush(stdout);
            client.end();
            server.end();
        }
        removeTree(serverFolder);
        removeTree(clientFolder);
        if (!ok)
            return false;
    }
    return true;
}

// A file of any size against its copy, a piece at a time: size, bytes and last-write time.
bool sameLargeFile(const std::wstring &expected, const std::wstring &copy, const char *what)
{
    HANDLE files[2];
    const std::wstring *paths[2] = {&expected, &copy};
    LARGE_INTEGER sizes[2] = {};
    FILETIME written[2] = {};
    bool same = true;
    for (int i = 0; i < 2; i++) {
        files[i] = CreateFileW(paths[i]->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        same = same && files[i] != INVALID_HANDLE_VALUE && GetFileSizeEx(files[i], &sizes[i]) &&
               GetFileTime(files[i], nullptr, nullptr, &written[i]);
    }
    const char *why = !same ? "cannot be read"
                      : sizes[0].QuadPart != sizes[1].QuadPart ? "has another size"
                      : CompareFileTime(&written[0], &written[1]) != 0 ? "has another last-write time"
                                                                        : nullptr;
    const DWORD pieceBytes = 4u << 20;
    std::vector<char> a(pieceBytes), b(pieceBytes);
    for (long long at = 0; why == nullptr; at += pieceBytes) {
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(files[0], a.data(), pieceBytes, &gotA, nullptr) ||
            !ReadFile(files[1], b.data(), pieceBytes, &gotB, nullptr) || gotA != gotB ||
            memcmp(a.data(), b.data(), gotA) != 0)
            why = "has other bytes";
        else if (gotA == 0)
            break;
    }
    for (HANDLE file : files) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (why != nullptr)
        fprintf(stderr, "%s: %s %s\n", what, narrow(copy).c_str(), why);
    return why == nullptr;
}

std::string memoryText(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters)))
        return "unknown";
    char text[128];
    snprintf(text, sizeof(text), "peak working set %.1f MB, private %.1f MB", counters.PeakWorkingSetSize / 1e6,
             counters.PagefileUsage / 1e6);
    return text;
}

void printMemory(const char *when, HostProcess *server, HostProcess *client)
{
    printf("  memory %s: server %s; client %s\n", when, memoryText(server->process).c_str(),
           memoryText(client->process).c_str());
    fflush(stdout);
}

// A sparse source: random pieces at its start, middle and end, holes between; a fixed last-write time.
bool makeSparseSource(const std::wstring &path, long long bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const long long pieceBytes = 1 << 20;
    bool ok = bytes >= 3 * pieceBytes;
    long long offsets[3] = {0, bytes / 2, bytes - pieceBytes};
    for (int i = 0; ok && i < 3; i++) {
        std::string piece = randomBytes(static_cast<size_t>(pieceBytes), 77u + i);
        LARGE_INTEGER at;
        at.QuadPart = offsets[i];
        DWORD written = 0;
        ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
             WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr) &&
             written == piece.size();
    }
    CloseHandle(file);
    return ok && setWriteTime(path, utcFileTime(2021, 3, 4, 5, 6, 7));
}

// A sparse file of megabytes pushed and pulled back on the fast link, beside a bare stream of as many bytes.
bool timeBigFile(double megabytes)
{
    long long bytes = static_cast<long long>(megabytes * 1e6);
    std::wstring serverFolder = makeTempFolder(L"pwgs");
    std::wstring clientFolder = makeTempFolder(L"pwgc");
    std::wstring backFolder = clientFolder + L"\\back";
    ULARGE_INTEGER freeBytes = {};
    if (serverFolder.empty() || clientFolder.empty() || !CreateDirectoryW(backFolder.c_str(), nullptr) ||
        !GetDiskFreeSpaceExW(clientFolder.c_str(), &freeBytes, nullptr, nullptr)) {
        fprintf(stderr, "cannot make the temporary folders\n");
        return false;
    }
    bool ok = true;
    if (freeBytes.QuadPart < 10000000000ull) {
        printf("big file: skipped, %.1f GB free (10 GB wanted)\n", freeBytes.QuadPart / 1e9);
    } else {
        std::wstring source = clientFolder + L"\\big.bin";
        std::wstring pushed = serverFolder + L"\\big.bin";
        ok = makeSparseSource(source, bytes);
        if (!ok)
            fprintf(stderr, "cannot make the sparse source\n");
        HostProcess server, client;
        Relay relay;
        ok = ok && startPair(&server, &client, &relay, serverFolder, clientFolder, true) == 0;
        if (ok) {
            bareStream = bareStreamRate(static_cast<size_t>(bytes));
            printf("big file, fast link, sparse (3 random MiB, holes between); bare stream of as many bytes: %.1f "
                   "MB/s\n",
                   bareStream);
            printMemory("before", &server, &client);
        }
        int timeoutMs = 60000 + static_cast<int>(bytes / 1000000) * 200;
        Clock::time_point checkStart;
        ok = ok &&
             timeCopy(&client, &server, "  push", "push " + quotedPath(source) + " " + quotedPath(serverFolder),
                      "CallCopyTO", "RequestCopyTO", static_cast<size_t>(bytes), timeoutMs);
        if (ok) {
            printMemory("after the push", &server, &client);
            checkStart = Clock::now();
            ok = sameLargeFile(source, pushed, "big push");
            printf("  push checked (size, bytes, last-write time) in %.1f s\n", secondsSince(checkStart));
        }
        ok = ok && timeCopy(&client, &server, "  pull", "pull " + quotedPath(pushed) + " " + quotedPath(backFolder),
                            "CallCopyFrom", "RequestCopyFrom", static_cast<size_t>(bytes), timeoutMs);
        if (ok) {
            printMemory("after the pull", &server, &client);
            checkStart = Clock::now();
            ok = sameLargeFile(source, backFolder + L"\\big.bin", "big pull");
            printf("  pull checked (size, bytes, last-write time) in %.1f s\n", secondsSince(checkStart));
        }
        fflush(stdout);
        bool boxes = reportBoxes(&server, "server");
        boxes = reportBoxes(&client, "client") || boxes;
        ok = ok && !boxes;
        client.end();
        server.end();
    }
    removeTree(serverFolder);
    removeTree(clientFolder);
    return ok;
}

}  // namespace

int main(int argc, char **argv)
{
    double megabytes = argc > 1 ? atof(argv[1]) : 4.0;
    int entries = argc > 2 ? atoi(argv[2]) : 200;
    int rounds = argc > 3 ? atoi(argv[3]) : 20;
    privateLink = argc > 4 && strcmp(argv[4], "private") == 0;
    fastLink = argc > 4 && (strcmp(argv[4], "fast") == 0 || privateLink);
    if (privateLink) {
        serverHome = makeTempFolder(L"pwbk");
        clientHome = makeTempFolder(L"pwbk");
    }
    delayMs = argc > 5 ? atoi(argv[5]) : 0;
    setPairDelay(delayMs);
    // The classic DIR table holds 1024 rows and its file limit is 999,997,000 bytes; the fast link has neither.
    if (megabytes <= 0 || (!fastLink && (megabytes > 999.997 || entries > 1000)) || entries < 0 || rounds < 1) {
        fprintf(stderr, "usage: pw_bench [MEGABYTES (0-999.997)] [ENTRIES (0-1000)] [LISTINGS (1+)] [classic|fast|private] "
                        "[DELAY ms each way]\n");
        return 2;
    }
    pingPong = pingPongRate();
    bareStream = bareStreamRate(static_cast<size_t>(megabytes * 1e6));
    printf("ping-pong (1008 bytes answered by 3): %.0f round trips/s; bare stream: %.1f MB/s; %s link; %d ms each "
           "way\n",
           pingPong, bareStream, privateLink ? "private (fast, encrypted)" : fastLink ? "fast" : "classic", delayMs);
    fflush(stdout);
    int result = run(megabytes, entries, rounds);
    const char *files = getenv("PW_BENCH_FILES");
    if (result == 0 && files != nullptr && atoi(files) > 0 && !timeSmallFiles(atoi(files)))
        result = 1;
    const char *big = getenv("PW_BENCH_BIG_MB");
    if (result == 0 && big != nullptr && atof(big) > 0 && !timeBigFile(atof(big)))
        result = 1;
    if (privateLink) {
        removeTree(serverHome);
        removeTree(clientHome);
    }
    return result;
}

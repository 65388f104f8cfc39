// app_bench.cpp: pw_app_bench, figures of the real program: two parcelwight.exe instances, a server and a client,
// each started in its own folder with its own settings file, driven from outside with window messages. Every
// figure is printed beside a bare ping-pong measured in the same run; nothing is asserted.
//
// Command line: pw_app_bench PROGRAM [MEGABYTES]   (default 4; a megabyte is 1,000,000 bytes)
// Then folder copies in one stream, on loopback and through a relay that adds 10 ms each way; with
// PW_BENCH_TREE=1 also 100,000 empty files in 10,000 folders; PW_BENCH_TREE_ONLY=1 runs these alone. Every
// instance it starts ends with it.
// The figures run on the fast link the two instances agree on (fastlink_on is 1 when missing); then a second pair,
// with fastlink_on=0, lists the same 1,000 entries on the classic link beside them.
// Works under C:\pwbench, removed at the end. Exits 1 when a step fails or a copy differs, 2 on a bad call.
#include "tests/support/test_support.h"
#include "tests/tools/ping_pong.h"
#include "tests/tools/remote_window.h"
#include "tests/net/relay.h"

#include <psapi.h>

#include "resources/resource_ids.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t Root[] = L"C:\\pwbench";
const wchar_t CopyDialogCaption[] = L"コピー設定画面";
const int ListEntries = 1000;
const int OwnEntries = 10000;
const int SmallFiles = 20;
const int SmallBytes = 1000;
const int FolderFiles = 1000;  // the small files of one folder copy
const int ListRounds = 3;
const int DirRowsClassic = 1024;  // the classic DIR table, terminator included

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Instance {
    const char *who = "";
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;
    HWND own = nullptr;
    HWND peer = nullptr;
    HWND bar = nullptr;
};

Instance server, client;

// Every instance the benchmark starts ends with it, however it ends: a failed step, an exception, or its own end.
HANDLE instances()
{
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
        return made;
    }();
    return job;
}
double pingPong = 0;  // round trips per second

void fail(const char *what)
{
    fprintf(stderr, "app bench: %s\n", what);
}

// A message box in either instance means the step went wrong: show it and stop waiting.
bool boxShown()
{
    for (Instance *instance : {&server, &client}) {
        std::wstring text;
        if (instance->process.dwProcessId != 0 && findMessageBox(instance->process.dwProcessId, &text) != nullptr) {
            fprintf(stderr, "app bench: the %s shows a box: %s\n", instance->who, utf8(text).c_str());
            return true;
        }
    }
    return false;
}

bool waitFor(const char *what, const std::function<bool()> &done, int timeoutMs, int pollMs = 2)
{
    bool boxed = false;
    DWORD lastLook = GetTickCount();
    bool ok = pollUntil(
        [&] {
            if (done())
                return true;
            // Looking for boxes walks every window: not on every poll.
            if (GetTickCount() - lastLook > 250) {
                lastLook = GetTickCount();
                boxed = boxShown();
            }
            return boxed;
        },
        timeoutMs, pollMs);
    if (!ok || boxed) {
        fprintf(stderr, "app bench: gave up waiting for %s\n", what);
        return false;
    }
    return true;
}

bool waiting(const Instance &instance)
{
    std::wstring status = statusText(instance.bar);
    return (L"|" + status + L"|").find(L"|Waiting|") != std::wstring::npos;
}

bool writeSettings(const std::wstring &folder, int mode, const std::wstring &own, int port, int fastLink = 1,
                   const std::wstring &served = L"")
{
    std::wstring text = L"\xFEFF[Parcelwight_setting]\r\ncurrentdirectory_r=" + own + L"\r\nip_mode=" +
                        std::to_wstring(mode) + L"\r\nport_no=" + std::to_wstring(port) +
                        L"\r\nip_no1=127\r\nip_no2=0\r\nip_no3=0\r\nip_no4=1\r\nsendreadmonitor_on=0\r\nfastlink_on=" +
                        std::to_wstring(fastLink) + L"\r\n" + (served.empty() ? L"" : L"serve_directory=" + served + L"\r\n");
    return writeFileBytes(folder + L"\\Parcelwight.ini",
                          std::string(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(wchar_t)));
}

// Starts the program in folder and waits for its window and an own pane of ownRows rows (any, when 0); *ms is
// the time from the process start to that.
bool start(Instance *instance, const std::wstring &program, const std::wstring &folder, int ownRows = 0,
           double *ms = nullptr)
{
    Clock::time_point begin = Clock::now();
    std::wstring command = L"\"" + program + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &instance->process)) {
        fail("cannot start the program");
        return false;
    }
    AssignProcessToJobObject(instances(), instance->process.hProcess);
    DWORD id = instance->process.dwProcessId;
    // The window is found by its title while it is still making its children: wait for them too.
    return waitFor("the main window",
                   [&] {
                       std::vector<HWND> windows = findMainWindows(id);
                       if (windows.empty())
                           return false;
                       instance->main = windows[0];
                       instance->own = GetDlgItem(instance->main, IDC_OWN_PANE);
                       instance->peer = GetDlgItem(instance->main, IDC_PEER_PANE);
                       instance->bar = GetDlgItem(instance->main, IDC_STATUS_BAR);
                       if (!instance->own || !instance->peer || !instance->bar)
                           return false;
                       int rows = paneRows(instance->own);
                       if (rows <= 0 || (ownRows > 0 && rows < ownRows))
                           return false;
                       if (ms != nullptr)
                           *ms = msSince(begin);
                       return true;
                   },
                   300000, 20);
}

void stop(Instance *instance)
{
    if (instance->process.hProcess == nullptr)
        return;
    PostMessageW(instance->main, WM_CLOSE, 0, 0);
    // A linked instance first asks in a message box whether to close its link, as it asks a user: yes. A report
    // left open from a failed step is taken away.
    HANDLE process = instance->process.hProcess;
    DWORD id = instance->process.dwProcessId;
    pollUntil(
        [&] {
            std::wstring text;
            HWND box = findMessageBox(id, &text);
            if (box != nullptr)
                PostMessageW(box, WM_COMMAND, text.find(L"切断") != std::wstring::npos ? IDYES : IDOK, 0);
            return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        },
        10000, 20);
    if (WaitForSingleObject(instance->process.hProcess, 0) != WAIT_OBJECT_0) {
        fprintf(stderr, "app bench: the %s did not close; ended\n", instance->who);
        TerminateProcess(instance->process.hProcess, 1);
        WaitForSingleObject(instance->process.hProcess, 5000);
    }
    CloseHandle(instance->process.hProcess);
    CloseHandle(instance->process.hThread);
    instance->process = {};
}

// Selects exactly these rows of the pane by their names.
bool selectOnly(HWND pane, const std::vector<std::wstring> &names)
{
    if (!selectPaneRow(pane, -1, false))
        return false;
    for (const std::wstring &name : names) {
        int row = findPaneRow(pane, name.c_str());
        if (row < 0 || !selectPaneRow(pane, row, true)) {
            fprintf(stderr, "app bench: no row %s\n", utf8(name).c_str());
            return false;
        }
    }
    return true;
}

// Double-clicks a folder of the pane; *ms is the time until the pane holds rows rows.
// Each look at the pane is a message its thread must serve: looking too often would slow what is measured.
// With endsShort, a listing that ends in Waiting with fewer rows also ends the wait (the classic table's limit).
bool openFolder(const Instance &instance, HWND pane, const wchar_t *name, int rows, double *ms = nullptr,
                int pollMs = 10, bool endsShort = false)
{
    if (!waitFor("Waiting before a double-click", [&] { return waiting(instance); }, 60000) ||
        !selectOnly(pane, {name}))
        return false;
    int row = findPaneRow(pane, name);
    int before = paneRows(pane);
    Clock::time_point begin = Clock::now();
    if (!doubleClickPaneRow(pane, row)) {
        fail("the double-click was not taken");
        return false;
    }
    // The old rows may stay until the new ones come: wait for the exact count, which no two folders here share.
    auto listed = [&] {
        int now = paneRows(pane);
        return now == rows || (endsShort && now != before && now > 2 && waiting(instance));
    };
    if (!waitFor("the folder's rows", listed, 300000, pollMs)) {
        fprintf(stderr, "app bench: %d rows, expected %d\n", paneRows(pane), rows);
        return false;
    }
    if (ms != nullptr)
        *ms = msSince(begin);
    return waitFor("Waiting after a listing", [&] { return waiting(instance); }, 60000);
}

// The pane holds rows rows and the instance is back to Waiting (a copy loop lists its destination again).
bool settled(const Instance &instance, HWND pane, int rows)
{
    return waitFor("the pane listed again", [&] { return paneRows(pane) == rows && waiting(instance); }, 60000, 5);
}

long long fileSize(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Runs copy command 105 or 106 on the selection, presses Start in the first dialog and waits until every target
// holds its bytes; *ms runs from Start to the last arrival. Then waits for the loop's end.
// From Start to every target at its size; with no targets, to the end of the copy loop (a folder copy, whose
// thousand targets would cost more to look at than to copy).
bool timeCopy(int command, const std::vector<std::wstring> &targets, long long bytes, double *ms)
{
    PostMessageW(client.main, WM_COMMAND, static_cast<WPARAM>(command), 0);
    HWND dialog = nullptr;
    if (!waitFor("the copy dialog",
                 [&] { return (dialog = findProcessDialog(client.process.dwProcessId, CopyDialogCaption)) != nullptr; },
                 20000))
        return false;
    HWND startButton = GetDlgItem(dialog, IDC_START);
    if (!waitFor("Start enabled", [&] { return IsWindowEnabled(startButton) != FALSE; }, 20000))
        return false;
    Clock::time_point begin = Clock::now();
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), reinterpret_cast<LPARAM>(startButton));
    int timeoutMs = 60000 + static_cast<int>(targets.size()) * 10000 + static_cast<int>(bytes / 1000) * 5;
    auto arrived = [&] {
        for (const std::wstring &target : targets) {
            if (fileSize(target) != bytes)
                return false;
        }
        return true;
    };
    if (!targets.empty() && !waitFor("the copies", arrived, timeoutMs, 1))
        return false;
    *ms = msSince(begin);
    // While the dialog is there, only it is looked at: a search of every window, or a question to the client's
    // window, at each poll would load the wineserver that the copy itself waits on.
    bool ended = waitFor("the end of the copy loop", [&] { return !IsWindow(dialog) && waiting(client); },
                         targets.empty() ? 600000 : 60000, targets.empty() ? 10 : 20);
    if (targets.empty())
        *ms = msSince(begin);
    return ended;
}

bool sameBytes(const std::wstring &a, const std::wstring &b)
{
    std::string one, two;
    if (!readFileBytes(a, &one) || !readFileBytes(b, &two) || one != two) {
        fprintf(stderr, "app bench: %s differs from %s\n", utf8(b).c_str(), utf8(a).c_str());
        return false;
    }
    return true;
}

// The machine is shared and its load changes: each figure gets a ping-pong taken just before it.
void measurePingPong()
{
    pingPong = pingPongRate(0.5);
}

void printRate(const char *what, double perSecond)
{
    printf("%s: %.2fx the ping-pong (%.0f round trips/s)\n", what, perSecond / pingPong, pingPong);
    fflush(stdout);
}

void printMs(const char *what, double ms)
{
    printf("%s: %.0f ping-pong round trips (%.0f round trips/s)\n", what, ms * pingPong / 1000, pingPong);
    fflush(stdout);
}

std::string randomBytes(size_t bytes, unsigned seed)
{
    std::string data(bytes, '\0');
    std::mt19937 random(seed);
    for (char &c : data)
        c = static_cast<char>(random() & 0xff);
    return data;
}

bool makeFiles(const std::wstring &folder, const wchar_t *format, int count, const std::string &bytes)
{
    for (int i = 0; i < count; i++) {
        wchar_t name[32] = {};
        _snwprintf(name, 31, format, i);
        if (!writeFileBytes(folder + L"\\" + name, bytes))
            return false;
    }
    return true;
}

std::wstring smallName(int i)
{
    wchar_t name[32] = {};
    _snwprintf(name, 31, L"small%02d.txt", i);
    return name;
}

uint64_t cpu100ns(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<uint64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<uint64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

// From the peer pane's current folder, opens parent (none: stays there), then lists parent\folder ListRounds
// times, back to parent each time, and prints the figure with the link's name; *got: the rows the pane held.
// With mayEndShort a listing that ends with fewer rows is taken (the classic table's limit).
bool timePeerListings(const wchar_t *parent, int parentRows, const wchar_t *folder, int rows, const char *link,
                      bool mayEndShort = false, int *got = nullptr)
{
    if (parent != nullptr && !openFolder(client, client.peer, parent, parentRows))
        return false;
    double total = 0, best = 0;
    int held = 0;
    measurePingPong();
    for (int round = 0; round < ListRounds; round++) {
        double ms = 0;
        if (!openFolder(client, client.peer, folder, rows, &ms, 20, mayEndShort))
            return false;
        held = paneRows(client.peer);
        if (!openFolder(client, client.peer, L"..", parentRows))
            return false;
        total += ms;
        best = round == 0 || ms < best ? ms : best;
    }
    if (got != nullptr)
        *got = held;
    char line[256];
    snprintf(line, sizeof(line), "peer pane listing, %s link: %d rows in %.0f ms (%.0f rows/s; best %.0f ms, %d "
             "listings)", link, held, total / ListRounds, held * 1000.0 * ListRounds / total, best, ListRounds);
    printRate(line, held * 1000.0 * ListRounds / total);
    return true;
}

// Both instances up, linked and done with their first listings (which cross: the client lists the server's
// C:\, then the server the client's). The server listens on port 0: the system picks a free port.
bool startLinked(const std::wstring &program, const std::wstring &startServer, const std::wstring &serverFolder,
                 const std::wstring &startClient, const std::wstring &clientFolder, int ownRows, int fastLink,
                 double *startMs, Relay *relay = nullptr, int delayMs = 0, bool serveFolder = false)
{
    server.who = "server";
    client.who = "client";
    if (!writeSettings(startServer, 1, serverFolder, 0, fastLink, serveFolder ? serverFolder : L"") ||
        !start(&server, program, startServer))
        return false;
    int port = openServerLink(server.main, IDM_OPEN_LINK, IDM_CLOSE_LINK, 20000);
    if (port == 0) {
        fail("the server did not listen");
        return false;
    }
    if (relay != nullptr) {
        relay->delayMs = delayMs;
        if (!relay->start(port, RelayMode::Delay, 1u)) {
            fail("the relay did not start");
            return false;
        }
        port = relay->port;
    }
    if (!writeSettings(startClient, 0, clientFolder, port, fastLink) ||
        !start(&client, program, startClient, ownRows, startMs))
        return false;
    PostMessageW(client.main, WM_COMMAND, IDM_OPEN_LINK, 0);
    return waitFor("the first listings",
                   [&] { return paneRows(client.peer) > 0 && paneRows(server.peer) > 0 && waiting(client) &&
                                waiting(server); },
                   60000, 20);
}

// A second pair with fastlink_on=0: the 1,000 entries on the classic link, beside the fast figure.
bool classicListing(const std::wstring &program)
{
    std::wstring start = std::wstring(Root) + L"\\start";
    bool ok = startLinked(program, start + L"\\server", std::wstring(Root) + L"\\server", start + L"\\client",
                          std::wstring(Root) + L"\\client", 0, 0, nullptr) &&
              timePeerListings(L"pwbench", 6, L"list", ListEntries + 2, "classic (fastlink_on=0)");
    stop(&client);
    stop(&server);
    return ok;
}

bool measure(const std::wstring &program, long long bytes)
{
    std::wstring startServer = std::wstring(Root) + L"\\start\\server";
    std::wstring startClient = std::wstring(Root) + L"\\start\\client";
    std::wstring serverFolder = std::wstring(Root) + L"\\server";
    std::wstring clientFolder = std::wstring(Root) + L"\\client";
    std::wstring listFolder = std::wstring(Root) + L"\\list";
    std::wstring ownBig = clientFolder + L"\\tenk";
    for (const std::wstring &folder :
         {std::wstring(Root), std::wstring(Root) + L"\\start", startServer, startClient, serverFolder, clientFolder,
          listFolder, ownBig}) {
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            fail("cannot make the folders");
            return false;
        }
    }
    std::string data = randomBytes(static_cast<size_t>(bytes), 20240611u);
    if (!writeFileBytes(clientFolder + L"\\push.bin", data) ||
        !writeFileBytes(serverFolder + L"\\pull.bin", randomBytes(static_cast<size_t>(bytes), 7u)) ||
        !makeFiles(listFolder, L"entry%04d.txt", ListEntries, "x") ||
        !makeFiles(clientFolder, L"small%02d.txt", SmallFiles, randomBytes(SmallBytes, 3u)) ||
        !makeFiles(ownBig, L"f%05d.txt", OwnEntries, std::string())) {
        fail("cannot write the files");
        return false;
    }

    // The client starts in the folder of 10,000 entries; the copies run from its parent.
    double startMs = 0;
    if (!startLinked(program, startServer, serverFolder, startClient, ownBig, OwnEntries + 2, 1, &startMs))
        return false;
    char line[256];
    snprintf(line, sizeof(line), "own folder of %d entries: %.0f ms from the process start to its rows", OwnEntries,
             startMs);
    printMs(line, startMs);

    // The client's folder of 10,000 entries through the peer pane first: only the fast link brings them all,
    // which tells the link the two agreed on. C:\pwbench\client holds push.bin, the small files and tenk
    // besides "." and ".."; C:\pwbench holds start, server, client and list.
    int got = 0;
    if (!openFolder(client, client.own, L"..", SmallFiles + 4, nullptr, 20) ||
        !openFolder(client, client.peer, L"pwbench", 6) ||
        !timePeerListings(L"client", SmallFiles + 4, L"tenk", OwnEntries + 2, "the agreed", true, &got) ||
        !openFolder(client, client.peer, L"..", 6))
        return false;
    const char *link = got > DirRowsClassic ? "fast" : "classic";
    printf("link agreed: %s (%d rows reached the peer pane; the classic table holds %d)\n", link, got,
           DirRowsClassic);
    fflush(stdout);
    if (!timePeerListings(nullptr, 6, L"list", ListEntries + 2, link))
        return false;

    // Push and pull one file; a copy is its blocks and the trailer, each answered by "ACK".
    if (!openFolder(client, client.peer, L"server", 3) || !selectOnly(client.own, {L"push.bin"}))
        return false;
    double blocks = static_cast<double>((bytes + 999) / 1000 + 1);
    double ms = 0;
    measurePingPong();
    if (!timeCopy(IDM_COPY_TO_PEER, {serverFolder + L"\\push.bin"}, bytes, &ms) ||
        !sameBytes(clientFolder + L"\\push.bin", serverFolder + L"\\push.bin"))
        return false;
    snprintf(line, sizeof(line), "push %.2f MB: %.0f ms (%.0f blocks/s)", bytes / 1e6, ms, blocks * 1000 / ms);
    printRate(line, blocks * 1000 / ms);
    measurePingPong();
    if (!settled(client, client.peer, 4) || !selectOnly(client.peer, {L"pull.bin"}) ||
        !timeCopy(IDM_COPY_FROM_PEER, {clientFolder + L"\\pull.bin"}, bytes, &ms) ||
        !sameBytes(serverFolder + L"\\pull.bin", clientFolder + L"\\pull.bin"))
        return false;
    snprintf(line, sizeof(line), "pull %.2f MB: %.0f ms (%.0f blocks/s)", bytes / 1e6, ms, blocks * 1000 / ms);
    printRate(line, blocks * 1000 / ms);

    // Small files: one multi-select, Start pressed in the first dialog only.
    std::vector<std::wstring> names, targets;
    for (int i = 0; i < SmallFiles; i++) {
        names.push_back(smallName(i));
        targets.push_back(serverFolder + L"\\" + smallName(i));
    }
    // push.bin, pull.bin, the small files, tenk, "." and "..".
    measurePingPong();
    if (!settled(client, client.own, SmallFiles + 5) || !selectOnly(client.own, names) ||
        !timeCopy(IDM_COPY_TO_PEER, targets, SmallBytes, &ms))
        return false;
    snprintf(line, sizeof(line), "%d files of %d bytes in one copy: %.0f ms per file", SmallFiles, SmallBytes,
             ms / SmallFiles);
    printMs(line, ms / SmallFiles);

    // Own folder of 10,000 entries: entering it, then listing it again (command 101).
    measurePingPong();
    if (!settled(client, client.peer, SmallFiles + 4) ||
        !openFolder(client, client.own, L"tenk", OwnEntries + 2, &ms, 20))
        return false;
    snprintf(line, sizeof(line), "own folder of %d entries: %.0f ms to enter", OwnEntries, ms);
    printMs(line, ms);
    measurePingPong();
    Clock::time_point begin = Clock::now();
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(client.main, WM_COMMAND, IDM_OWN_RELIST, 0, SMTO_ABORTIFHUNG, 300000, &ignored);
    if (!waitFor("the own folder's rows", [&] { return paneRows(client.own) == OwnEntries + 2; }, 300000, 20))
        return false;
    ms = msSince(begin);
    snprintf(line, sizeof(line), "own folder of %d entries: %.0f ms to list again (101)", OwnEntries, ms);
    printMs(line, ms);

    // A folder of 1,000 small files in one copy: one dialog, the files one after another.
    std::wstring smalls = clientFolder + L"\\smalls";
    if (!CreateDirectoryW(smalls.c_str(), nullptr) ||
        !makeFiles(smalls, L"s%04d.txt", FolderFiles, randomBytes(SmallBytes, 5u))) {
        fail("cannot write the folder of small files");
        return false;
    }
    // push.bin, pull.bin, the small files, tenk, smalls, "." and "..".
    if (!openFolder(client, client.own, L"..", SmallFiles + 6, nullptr, 20) || !selectOnly(client.own, {L"smalls"}))
        return false;
    measurePingPong();
    if (!timeCopy(IDM_COPY_TO_PEER, {}, SmallBytes, &ms))
        return false;
    for (int i = 0; i < FolderFiles; i++) {
        wchar_t name[32] = {};
        _snwprintf(name, 31, L"\\smalls\\s%04d.txt", i);
        if (fileSize(serverFolder + name) != SmallBytes) {
            fail("a file of the folder copy is missing");
            return false;
        }
    }
    snprintf(line, sizeof(line), "a folder of %d files of %d bytes in one copy: %.1f ms per file", FolderFiles,
             SmallBytes, ms / FolderFiles);
    printMs(line, ms / FolderFiles);

    // Idle: neither side should spend CPU time with nothing to do.
    uint64_t serverBefore = cpu100ns(server.process.hProcess), clientBefore = cpu100ns(client.process.hProcess);
    Sleep(2000);
    printf("idle CPU over 2 s: server %.0f ms, client %.0f ms\n",
           (cpu100ns(server.process.hProcess) - serverBefore) / 1e4,
           (cpu100ns(client.process.hProcess) - clientBefore) / 1e4);
    fflush(stdout);
    return true;
}

int countFiles(const std::wstring &folder)
{
    int count = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        count += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? countFiles(folder + L"\\" + name) : 1;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

size_t peakMemory(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize : 0;
}

// One folder pushed, from Start to the end of the copy loop; the peer's copy is removed afterwards.
bool timeFolderPush(const std::wstring &clientFolder, const std::wstring &serverFolder, const wchar_t *name, int rows,
                    double *ms)
{
    // The server serves its folder, which the peer pane opens by itself.
    auto served = [&] {
        std::wstring shown = controlText(client.main, IDC_PEER_FOLDER_LABEL);
        while (!shown.empty() && shown.back() == L'\\')
            shown.pop_back();
        return _wcsicmp(shown.c_str(), serverFolder.c_str()) == 0 && waiting(client);
    };
    bool ok = waitFor("the served folder", served, 60000, 20) &&
              selectOnly(client.own, {name}) && timeCopy(IDM_COPY_TO_PEER, {}, 0, ms);
    (void)clientFolder;
    if (ok && countFiles(serverFolder + L"\\" + name) != rows) {
        fail("a file of the tree is missing");
        ok = false;
    }
    removeTree(serverFolder + L"\\" + name);
    return ok;
}

// The floor under Wine: what each small file's own calls cost with no link and no program around them, in one
// folder of count files: made whole (create, write, times, close), then read (open, type, read, size and times,
// close), the calls the folder stream makes for a file of one piece on each side.
void printFileCallsFloor(const std::wstring &folder, int count, const std::string &bytes)
{
    CreateDirectoryW(folder.c_str(), nullptr);
    FILETIME times;
    GetSystemTimeAsFileTime(&times);
    std::vector<char> read(bytes.size() + 1);
    double ms[2] = {};
    for (int pass = 0; pass < 2; pass++) {
        Clock::time_point begin = Clock::now();
        for (int i = 0; i < count; i++) {
            std::wstring path = folder + L"\\f" + std::to_wstring(i);
            HANDLE file = pass == 0 ? CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)
                                    : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD done = 0;
            LARGE_INTEGER size;
            FILETIME written;
            if (pass == 0) {
                WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
                SetFileTime(file, &times, &times, &times);
            } else {
                GetFileType(file);
                ReadFile(file, read.data(), static_cast<DWORD>(read.size()), &done, nullptr);
                GetFileSizeEx(file, &size);
                GetFileTime(file, nullptr, nullptr, &written);
            }
            CloseHandle(file);
        }
        ms[pass] = msSince(begin) / count;
    }
    removeTree(folder);
    printf("one file's calls alone, %d files of %d bytes in one folder: made whole %.3f ms, read %.3f ms\n", count,
           static_cast<int>(bytes.size()), ms[0], ms[1]);
    fflush(stdout);
}

// Folder copies between two instances that agree on the tree stream, with delayMs added each way.
bool treeFigures(const std::wstring &program, int delayMs, bool bigTree)
{
    std::wstring base = std::wstring(Root) + L"\\tree" + std::to_wstring(delayMs);
    std::wstring serverFolder = base + L"\\server", clientFolder = base + L"\\client";
    for (const std::wstring &folder : {base, base + L"\\start", base + L"\\start\\server",
                                       base + L"\\start\\client", serverFolder, clientFolder,
                                       clientFolder + L"\\smalls", clientFolder + L"\\megs"}) {
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            fail("cannot make the tree folders");
            return false;
        }
    }
    const int MegFiles = 100;
    const int MegBytes = 1000000;
    if (!makeFiles(clientFolder + L"\\smalls", L"s%04d.txt", FolderFiles, randomBytes(SmallBytes, 5u)) ||
        !makeFiles(clientFolder + L"\\megs", L"m%03d.bin", MegFiles, randomBytes(MegBytes, 6u))) {
        fail("cannot write the tree folders");
        return false;
    }
    int folders = 0, files = 0;
    // The big tree on loopback only: through the relay it would take as long again to say the same.
    bigTree = bigTree && delayMs == 0;
    if (bigTree) {
        // 10,000 folders of 10 empty files each, ten folders to a parent.
        std::wstring top = clientFolder + L"\\hundredk";
        CreateDirectoryW(top.c_str(), nullptr);
        for (int a = 0; a < 1000; a++) {
            std::wstring parent = top + L"\\p" + std::to_wstring(a);
            CreateDirectoryW(parent.c_str(), nullptr);
            for (int b = 0; b < 10; b++) {
                std::wstring folder = parent + L"\\f" + std::to_wstring(b);
                CreateDirectoryW(folder.c_str(), nullptr);
                folders++;
                for (int c = 0; c < 10; c++, files++)
                    writeFileBytes(folder + L"\\e" + std::to_wstring(c), std::string());
            }
        }
    }
    if (delayMs == 0)
        printFileCallsFloor(base + L"\\floor", FolderFiles, randomBytes(SmallBytes, 7u));
    Relay relay;
    bool ok = startLinked(program, base + L"\\start\\server", serverFolder, base + L"\\start\\client",
                          clientFolder, 0, 1, nullptr, delayMs > 0 ? &relay : nullptr, delayMs, true);
    char line[256];
    double ms = 0;
    const char *where = delayMs > 0 ? "through 10 ms each way" : "on loopback";
    double roundTripMs = 2.0 * delayMs;
    for (int pass = 0; ok && pass < 2; pass++) {
        const wchar_t *name = pass == 0 ? L"smalls" : L"megs";
        int count = pass == 0 ? FolderFiles : MegFiles;
        size_t bytes = static_cast<size_t>(count) * (pass == 0 ? SmallBytes : MegBytes);
        measurePingPong();
        ok = timeFolderPush(clientFolder, serverFolder, name, count, &ms);
        if (!ok)
            break;
        setPairDelay(delayMs);
        double bare = bareStreamRate(bytes);
        setPairDelay(0);
        double bareMs = bare > 0 ? bytes / 1e6 / bare * 1000 : 0;
        if (delayMs > 0)
            snprintf(line, sizeof(line), "tree stream %s, %d files of %d bytes: %.2f ms per file, %.2f round trips "
                     "per file (%.0f in all); bare stream of the same bytes %.0f ms: %.2fx its speed",
                     where, count, pass == 0 ? SmallBytes : MegBytes, ms / count, ms / roundTripMs / count,
                     ms / roundTripMs, bareMs, bareMs / ms);
        else
            snprintf(line, sizeof(line), "tree stream %s, %d files of %d bytes: %.2f ms per file; bare stream of "
                     "the same bytes %.0f ms: %.2fx its speed", where, count, pass == 0 ? SmallBytes : MegBytes,
                     ms / count, bareMs, bareMs / ms);
        printMs(line, ms / count);
    }
    if (ok && bigTree) {
        ok = timeFolderPush(clientFolder, serverFolder, L"hundredk", files, &ms);
        snprintf(line, sizeof(line), "tree stream %s, %d empty files in %d folders: %.1f s; peak working set: "
                 "client %.1f MB, server %.1f MB", where, files, folders, ms / 1000,
                 peakMemory(client.process.hProcess) / 1048576.0, peakMemory(server.process.hProcess) / 1048576.0);
        printMs(line, ms / (files > 0 ? files : 1));
    }
    stop(&client);
    stop(&server);
    relay.stop();
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    double megabytes = argc > 2 ? _wtof(argv[2]) : 4.0;
    if (argc < 2 || argc > 3 || megabytes <= 0 || megabytes > 999.997) {
        fprintf(stderr, "usage: pw_app_bench PROGRAM [MEGABYTES (0-999.997)]\n");
        return 2;
    }
    removeTree(Root);
    pingPong = pingPongRate();
    printf("ping-pong (1008 bytes answered by 3, over loopback): %.0f round trips/s\n", pingPong);
    fflush(stdout);
    // PW_BENCH_TREE_ONLY=1: the folder copies alone.
    const char *treeOnly = getenv("PW_BENCH_TREE_ONLY");
    bool ok = true;
    if (treeOnly == nullptr || treeOnly[0] != '1') {
        ok = measure(argv[1], static_cast<long long>(megabytes * 1e6));
        // The client first: a server that still has a client would ask before closing.
        stop(&client);
        stop(&server);
        ok = ok && classicListing(argv[1]);
    } else {
        CreateDirectoryW(Root, nullptr);
    }
    const char *bigTree = getenv("PW_BENCH_TREE");
    // Off by default: the folder copies take a minute and more (100,000 files: several).
    bool trees = (treeOnly != nullptr && treeOnly[0] == '1') || (bigTree != nullptr && bigTree[0] == '1');
    for (int delayMs : {0, 10})
        ok = ok && (!trees || treeFigures(argv[1], delayMs, bigTree != nullptr && bigTree[0] == '1'));
    printf("ping-pong again at the end: %.0f round trips/s\n", pingPongRate());
    removeTree(Root);
    return ok ? 0 : 1;
}

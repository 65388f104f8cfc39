// host_process.h: drives a console host process (pw_host.exe) as the real peer of a test: start it, write
// command lines to its stdin, read its stdout lines with a timeout, end it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Full path of build/tests/tools/pw_host.exe, found from the running test executable's own path.
std::wstring hostExecutablePath();

struct HostProcess {
    HostProcess() = default;
    HostProcess(const HostProcess &) = delete;
    HostProcess &operator=(const HostProcess &) = delete;
    ~HostProcess();

    // Starts pw_host.exe with the arguments (each quoted as needed) in workingFolder (empty: the test's own).
    bool start(const std::vector<std::wstring> &arguments, const std::wstring &workingFolder = std::wstring());

    // Writes one command line (UTF-8; the newline is added).
    bool send(const std::string &command);

    // The next line not read yet, waiting at most timeoutMs. False on timeout or when the host has ended.
    bool readLine(std::string *line, int timeoutMs);

    // Reads lines until one starts with prefix; true with that line. Lines passed over stay in history().
    bool waitFor(const std::string &prefix, int timeoutMs = 5000, std::string *line = nullptr);

    // Every line read so far, in order.
    std::vector<std::string> history();

    // Lines that arrived but were not read yet, without waiting.
    std::vector<std::string> drain();

    // "quit", then TerminateProcess when it has not exited within timeoutMs. Returns the exit code (or -1).
    int end(int timeoutMs = 5000);

    bool running();

    HANDLE process = nullptr;
    DWORD processId = 0;

private:
    void readAll();

    HANDLE input = nullptr;   // our end of the host's stdin
    HANDLE output = nullptr;  // our end of the host's stdout
    std::thread reader;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::string> lines;
    size_t nextLine = 0;
    bool finished = false;
};

// Waits for a line starting with each prefix in turn (lines in between are passed over). On a miss, false with
// the missing prefix and the host's last lines in *why.
bool waitForSequence(HostProcess *host, const std::vector<std::string> &prefixes, int timeoutMs, std::string *why);
// The same as a test's check: a miss is a failure naming the host (who) and showing its last lines.
bool sawSequence(HostProcess *host, const char *who, const std::vector<std::string> &prefixes, int ms = 15000);

// A path as one argument of a host command: UTF-8 in double quotes.
std::string quotedPath(const std::wstring &path);

// Starts a server host on *port and waits for its READY; with *port 0 the system picks the port, which is
// written back. SCOPED_TRACE-friendly: false with the reason in *why.
// extra: more options ("--fast", "--serve", PATH, ...).
bool startServerHost(HostProcess *host, int *port, const std::wstring &folder, std::string *why = nullptr,
                     const std::vector<std::wstring> &extra = {});
bool startClientHost(HostProcess *host, int port, const std::wstring &folder, std::string *why = nullptr,
                     const std::vector<std::wstring> &extra = {});

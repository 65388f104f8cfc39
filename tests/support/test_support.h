// test_support.h: helpers shared by the suites: message-box recorder, loopback sockets, temporary folders.
#pragma once

#include "core/app_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// A helper's failures name its caller's line: the helper takes a Caller first and opens with TRACE_CALLER(at);
// a macro of the helper's own name passes HERE.
struct Caller {
    const char *file;
    int line;
};
#define HERE (Caller{__FILE__, __LINE__})
#define TRACE_CALLER(at) ::testing::ScopedTrace callerTrace((at).file, (at).line, "called from here")

// Serving this thread's messages (a WM_QUIT is dropped): what is queued now; for ms milliseconds; or until done()
// holds, within timeoutMs (returns done()).
void serveMessages();
void pumpFor(int ms);
bool pumpUntil(const std::function<bool()> &done, int timeoutMs);

// Message boxes: every box the code under test shows is recorded and answered with boxAnswer.
struct RecordedBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
    DWORD thread;  // the thread that asked for the box
};
void recordBoxes(int answer = IDOK);  // installs the recorder and clears the record
std::vector<RecordedBox> recordedBoxes();
void clearRecordedBoxes();
// How many recorded boxes carry this caption.
int boxesCaptioned(const std::wstring &caption);
// Checks that exactly one box was recorded, with this owner, text, caption and flags.
void expectOnlyBoxAt(Caller at, HWND owner, const std::wstring &text, const std::wstring &caption, UINT flags);
#define expectOnlyBox(...) expectOnlyBoxAt(HERE, __VA_ARGS__)

// Winsock started once for the process.
void startWinsock();

// A connected TCP pair over 127.0.0.1 (listen on port 0, connect, accept).
bool loopbackPair(SOCKET *ours, SOCKET *theirs);

// A listener on 127.0.0.1 at *port, or on a port the system picks when *port is 0 (written back);
// INVALID_SOCKET on failure.
SOCKET listenLoopback(int *port);
// The same for datagrams, bound and not listening.
SOCKET datagramLoopback(int *port);

// Receives one message (one recv) within timeoutMs; returns the byte count, 0 on close, -1 on timeout/error.
// With from, one datagram and where it came from.
int receiveWithin(SOCKET s, char *buffer, int size, int timeoutMs, sockaddr_in *from = nullptr);
std::string receiveMessage(SOCKET s, int timeoutMs = 2000);  // one recv; empty on timeout

// True when nothing arrives on s within ms.
bool silentFor(SOCKET s, int ms);

// A socket connected to 127.0.0.1:port, or INVALID_SOCKET.
SOCKET connectTo(int port);
// Closes with SO_LINGER 0: the peer sees a reset, not an orderly close.
void resetSocket(SOCKET s);
// True when the peer closes or resets the connection within ms.
bool seesClosed(SOCKET s, int ms);

bool sendText(SOCKET s, const std::string &message);

// A fresh empty folder under the temporary folder; removed with everything in it by removeTree.
std::wstring makeTempFolder(const wchar_t *prefix = L"pw");
void removeTree(const std::wstring &folder);

// Runs script in the host's /bin/sh (links, modes: what Win32 under Wine cannot make) and waits until done says
// it has taken effect.
bool runHostShell(const std::string &script, const std::function<bool()> &done);

// Wine keeps no read-only bit of a folder set through Win32, but reads the host's mode 555 as read-only: the
// host's chmod makes the folder read-only (555) or writable again (755). True once the attribute shows it.
bool setHostReadOnly(const std::wstring &folder, bool readOnly);
bool writeFileBytes(const std::wstring &path, const std::string &bytes);
// Writes bytes at offset, keeping what else the file holds (made when missing).
bool writeFileBytesAt(const std::wstring &path, unsigned long long offset, const std::string &bytes);
// A file of the given logical size without writing its bytes; what it held below that size stays.
bool makeSparseFile(const std::wstring &path, unsigned long long size);
bool readFileBytes(const std::wstring &path, std::string *bytes);
// The text of a UTF-16 little-endian file after its byte order mark; "" when it cannot be read or is shorter
// than the mark, NoByteOrderMark when it does not start with one.
std::wstring readUtf16File(const std::wstring &path);
extern const wchar_t NoByteOrderMark[];
// Checks that path can be read and holds exactly want.
void expectFileBytesAt(Caller at, const std::wstring &path, const std::string &want);
#define expectFileBytes(...) expectFileBytesAt(HERE, __VA_ARGS__)
bool fileExists(const std::wstring &path);
// count bytes of a seeded generator, the same for the same seed.
std::string randomBytes(size_t count, unsigned seed);
// The last write time of path; false when it cannot be opened.
bool lastWriteTime(const std::wstring &path, FILETIME *written);

// A UTC date and time as a FILETIME; and a date and time of this process's zone (the users' zone in the suites).
FILETIME utcFileTime(int year, int month, int day, int hour, int minute, int second = 0);
FILETIME localFileTime(int year, int month, int day, int hour, int minute, int second = 0);
// Sets the last write time of a file or folder; false when it cannot be opened or set.
bool setWriteTime(const std::wstring &path, const FILETIME &written);

// The port a bound socket has (a link opened on port 0 listens where the system put it), or 0.
int boundPort(SOCKET s);

// The thread's ANSI code page form of a wide path, as the wire carries it.
std::string ansiPath(const std::wstring &path);

// UTF-8 <-> wide for messages in assertions.
std::string narrow(const std::wstring &text);
std::wstring widen(const std::string &utf8);
// A Japanese name of chars characters: 3 bytes each in UTF-8, 2 in code page 932.
std::wstring japaneseName(size_t chars);

// test_support.h: helpers shared by the suites: message-box recorder, loopback sockets, temporary folders.
#pragma once

#include "core/app_state.h"

#include <string>
#include <vector>

// Message boxes: every box the code under test shows is recorded and answered with boxAnswer.
struct RecordedBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};
void recordBoxes(int answer = IDOK);  // installs the recorder and clears the record
std::vector<RecordedBox> recordedBoxes();
void clearRecordedBoxes();
// Checks that exactly one box was recorded, with this owner, text, caption and flags.
void expectOnlyBox(HWND owner, const std::wstring &text, const std::wstring &caption, UINT flags);

// Winsock started once for the process.
void startWinsock();

// A connected TCP pair over 127.0.0.1 (listen on port 0, connect, accept).
bool loopbackPair(SOCKET *ours, SOCKET *theirs);

// Receives one message (one recv) within timeoutMs; returns the byte count, 0 on close, -1 on timeout/error.
int receiveWithin(SOCKET s, char *buffer, int size, int timeoutMs);
std::string receiveMessage(SOCKET s, int timeoutMs = 2000);  // one recv; empty on timeout

// True when nothing arrives on s within ms.
bool silentFor(SOCKET s, int ms);

// A fresh empty folder under the temporary folder; removed with everything in it by removeTree.
std::wstring makeTempFolder(const wchar_t *prefix = L"pw");
void removeTree(const std::wstring &folder);
bool writeFileBytes(const std::wstring &path, const std::string &bytes);
bool readFileBytes(const std::wstring &path, std::string *bytes);
bool fileExists(const std::wstring &path);

// A free TCP port on 127.0.0.1.
int freeTcpPort();

// UTF-8 <-> wide for messages in assertions.
std::string narrow(const std::wstring &text);
std::wstring widen(const std::string &utf8);

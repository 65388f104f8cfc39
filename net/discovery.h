// discovery.h: finding the other machine: the server's answerer of searches, the client's search over
// broadcast, multicast and the machines met before, and the list of servers reached before.
#pragma once

#include "core/app_state.h"

// How long a search listens; its questions go out again every SearchRoundMs within it, so one lost datagram
// or one filtered way does not hide a server.
constexpr DWORD SearchMs = 2000;
constexpr DWORD SearchRoundMs = 500;
// Answers a server gives in one second at most, whoever asks.
constexpr int AnswersPerSecond = 16;

// Server: answers searches on the UDP port of the listening socket's own number while the link is open. False,
// and quiet, when that port cannot be had: the link works without it. UI thread, once the link is open.
bool startSearchAnswerer(SOCKET listener);
// Stops the answerer; nothing when none runs. UI thread.
void stopSearchAnswerer();

// Client: clears the search and fills the rows of the machines met before (the last servers reached, the
// paired machines) and whom it asks: typedPort, the default port and the ports met before.
void prepareServerSearch(ServerSearch *search, int typedPort, HWND notify);
// A whole search on the calling thread: questions to every interface's broadcast address, 255.255.255.255,
// the multicast group and each machine met before, again each round, answers taken for SearchMs. Each new or
// newly answering row is posted to search->notify as WM_SEARCH_FOUND (wParam: its index), the end as
// WM_SEARCH_DONE.
void runServerSearch(ServerSearch *search);
// runServerSearch on its own thread. False when no thread could be made.
bool startServerSearch(ServerSearch *search);
// Ends a running search and waits for its thread; nothing when none runs. UI thread.
void endServerSearch(ServerSearch *search);

// Tests: a search asks this machine only (127.255.255.255 and multicast on loopback), never the LAN.
extern bool searchLoopbackOnly;

// A server reached as a client goes first in AppState.recentServers.
void rememberServer(const sockaddr_in &address);

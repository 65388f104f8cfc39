// receive_loops.h: the network thread in Client and in Server mode: each connection's byte stream cut into
// messages, one conversation per connection, and the liveness of the running exchange.
//
// Server mode serves one conversation at a time. The connection it belongs to is AppState.exchangeSlot, the
// shown connection: the one that last sent a request ("DD", "FD", "FC", "CD") while nothing ran, or, when no
// connection is shown, the first to arrive. The panes, the link label and the status show that connection; the
// server's own requests (copy, listing, new folder, "CUT") go to it, and every answer goes to the connection
// whose message it answers. While an exchange runs, a message of any other connection is answered "NAK" on that
// connection and changes nothing. Another connection's arrival or departure shows nothing; when the shown
// connection leaves, the lowest remaining one is shown.
#pragma once

#include <windows.h>
#include <cstdint>

// A running exchange that hears nothing for AppState.livenessMs ends as failed; a stop asked for ends it at
// once when the peer has said nothing for this long (a healthy peer answers within milliseconds).
constexpr DWORD StopSilenceMs = 200;

DWORD WINAPI ClientThread(LPVOID parameter);
DWORD WINAPI ServerThread(LPVOID parameter);

// Server mode: the number of occupied client slots; 0 in Client mode.
int32_t countClients();

// The link closed under the running exchange: it ends as lost (a half-received file's temporary file is
// deleted, a pending stop forgotten, Waiting). Called on the UI thread once the network thread has ended.
void abandonExchange();

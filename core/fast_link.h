// fast_link.h: the fast link between two instances of this program: the agreement that a classic peer never
// notices, and every exchange once agreed (listings in one stream, files in large pieces with a digest and
// resume). Runs on the network thread, except sendRequest, which the requester's thread calls.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "core/app_state.h"

// True when the running exchange's connection (the exchange's slot in Server mode) has agreed on the fast link.
bool fastLinkOn();

// Sends a request in the form the link speaks: the classic message ("DD", "FD", "FC", "CD" + A path, or "CUT")
// as it is, or its fast form. A push's source (AppState.sendSourcePath) is opened here on the fast link; one that
// cannot be read ends the exchange at once with its reason. Returns 0, or the socket error number.
int sendRequest(const char *message, int length);

// A whole fast message of the exchange's connection.
void handleFastMessage(const char *message, int count);

// Client, as the link opens: the agreement request goes out first, before any listing; without the fast link
// allowed, the opening listing goes at once. The opening listing follows the agreement (startDueOwnListing).
void startClientOpening();
// Client: the agreement request goes out after delayMs, once nothing runs (a few times per link at most).
void scheduleFastProbe(DWORD delayMs);
// Client: the agreement's own exchange ended other than by its terminator: asked again when the server was busy,
// else the link stays classic and the opening listing goes.
void probeEnded(TransferOutcome outcome);
// Called by the receive loop on every pass: sends the agreement request when it is due. Milliseconds until it
// should be called again (INFINITE: nothing due).
DWORD startDueFastProbe();

// Server: a "DD" in Waiting that is the agreement request. True when it was answered here.
bool answerFastProbe(const char *message, int count);
// Client, in the agreement's CallDIR: the peer's record. True when it was taken (answered "ACK").
bool takeFastProbeRecord(const char *message, int count);
// Client: the agreement's terminator arrived. The fast link starts when the peer's record offered it.
void finishFastProbe();
// Server: the last row of the agreement answer has gone; the connection now waits for the client's "HI".
void awaitFastHello();

// Called by endExchange as the running exchange ends, before its file is let go: the fast link's part of it ends
// too. True when the exchange was the agreement's own, which no user asked for.
bool endFastExchange(TransferState ended, TransferOutcome outcome);

// Sends what the window allows of the running transfer, and a stop the user asked for. True when more is ready
// to go at once (the receive loop then does not wait).
bool fastPump();
// The user's stop of the running fast exchange: the peer is told and drops its part; this side ends as stopped.
void stopFastExchange();

// The link was lost or fell silent under a fast transfer: the received part is kept, under the temporary name
// and with what resuming needs, instead of being deleted.
void keepPartialForResume();

// Answers one connection straight, not through the exchange's socket, with a refusal in the form it speaks:
// "NAK", or on the fast link "NO" with the reason.
void refuseOnConnection(SOCKET s, int fast, FastReason reason);

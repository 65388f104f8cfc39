// protocol_engine.h: runs each received message against the transfer state, answers the peer and carries out
// the request. Runs on the network thread only.
#pragma once

#include "core/app_state.h"

// Handles one whole message of count bytes (not NUL-terminated; at most ReceiveMaxBytes are looked at).
void handleMessage(const char *message, int count);

// The last row of a served listing has gone: the exchange ends, and a server asks once for its new client's
// folder (500 ms later; a client waiting for that request asks for its own opening listing once it is served).
void finishServedListing();

// Starts this side's opening listing of the peer's folder once it is due and nothing runs (Server: the new
// client's folder; Client: the server's, after the agreement). Called by the receive loop on every pass;
// returns the milliseconds until it should be called again (INFINITE: nothing due).
DWORD startDueOwnListing(DWORD now);

// Sends "DD" + AppState.peerFolder. Does not change the transfer state; callers set CallDIR.
void requestPeerDir();

// Either thread: enters CallDIR, refreshes the status and asks for AppState.peerFolder. Returns the listing's
// number (never 0), or 0 with nothing sent when another exchange runs.
LONG startPeerListing();

// Network thread, after the peer made a folder: lists the peer folder again when the new-folder command set
// AppState.relistAfterFolder, and clears it.
void relistAfterNewFolder();

// Client mode: the server's "CUT" (or its fast form) arms the main window's timer that closes the link.
void closeOnCut();

// Network thread: arms the main window's timer that closes the link shortly (the thread never closes it).
void scheduleLinkClose();

// Either thread: enters next from Waiting in one atomic step, before the exchange's fields are written. False
// when an exchange already runs (it may have started on the other thread a moment ago).
bool claimExchange(TransferState next);

// Ends the running exchange on this side: the transfer file closed (a temporary file deleted), a pending stop
// forgotten, back to Waiting and the status refreshed. When this side had asked, the outcome is recorded and
// exchangeEnded is called.
void endExchange(TransferOutcome outcome);

// True in the states of the side that asked for the running exchange.
bool isRequesterState(TransferState state);

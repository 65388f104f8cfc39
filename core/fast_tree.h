// fast_tree.h: a whole folder in one exchange of the fast link (the tree stream), pushed or pulled. The
// requester's thread starts it; everything after runs on the network thread. Only two sides that both speak it
// use it; the folder copy goes file by file on any other link.
#pragma once

#include "core/app_state.h"

// True when the link of the next exchange speaks the tree stream.
bool treeStreamOn();

// Requester, with the exchange claimed (CallCopyTO for a push, CallCopyFrom for a pull): sends "TP" (the local
// folder localRoot goes to the peer's folder peerPath) or "TG" (the peer's folder peerPath comes into the local
// folder localRoot). The overwrite answer that already holds for the command is standing (see AppState).
// Returns 0, or a socket error (nothing left running).
int requestTreeStream(bool pull, const wchar_t *localRoot, const wchar_t *peerPath, int32_t standing);

// Network thread, in Waiting: a "TP" or "TG" of the peer's. True when it was one (served or refused here).
bool serveTreeRequest(const char *message, int count);
// A message of the running tree stream.
void handleTreeMessage(const char *message, int count);
// Sends what the stream allows now. True when more is ready to go at once.
bool treePump();
// The stream has ended (any outcome): open files are closed, and the part being received is kept for resume
// when the link was lost, else removed.
void endTreeStream(TransferOutcome outcome);

// protocol_engine.h: runs each received message against the transfer state, answers the peer and carries out
// the request. Runs on the network thread only.
#pragma once

// Handles the message in AppState.receiveBuffer (AppState.receivedLength bytes).
void handleMessage();

// Sends "DD" + AppState.peerFolder. Does not change the transfer state; callers set CallDIR.
void requestPeerDir();

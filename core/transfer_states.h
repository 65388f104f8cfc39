// transfer_states.h: the engine's file-transfer states and the starts of a transfer the peer asks for; shared
// between the engine's two files.
#pragma once

#include "core/wire_message.h"

// protocol_engine.cpp
// Answers "NAK", ends whatever transfer was running (its file closed, a temporary file deleted) and returns
// to Waiting. The status bar is not refreshed.
void refuseMessage();
// Answers "ACK".
void sendAck();

// transfer_states.cpp
// "FD" + path in Waiting: remember the target, answer "ACK", enter RequestCopyTO.
void startServedPush(const char *message, int textLength);
// "FC" + path in Waiting: open the source and answer with its first block, or its trailer, or "NAK".
void startServedPull(const char *message, int textLength);
// CallCopyTO (FR) and RequestCopyFrom (FB): one block per "ACK", the stop tag when asked.
void handleSendingState(BlockKind kind, const char *message, int count);
// RequestCopyTO (FR, into incomingTargetA) and CallCopyFrom (FB, into pullTargetA).
void handleReceivingState(BlockKind kind, const char *targetPathA, const char *message, int count);

// file_sender.h: streams one local file to the peer as numbered blocks of 1000 bytes and a trailer.
#pragma once

#include "core/wire_message.h"

constexpr int SendStepBlockSent = 1;
constexpr int SendStepFinished = 0;
constexpr int SendStepStopped = 2;

// blockNumber 0 opens AppState.sendSourcePath and sends the first block; n >= 1 sends the next block under n;
// -1 closes the file and sends nothing. Results: 1 block sent, 0 trailer sent, 2 stopped or failed. A missing
// source, or one that is not a disk file, is refused (2) and nothing is created.
int sendStep(BlockKind kind, int blockNumber);

// True when the last sendStep stopped because reading the source failed before its end (the peer has not been
// told: the engine answers with "NAK").
bool sendStepReadFailed();

// send_ops.h: what the transfer core asks of the network: the one path by which a protocol message other than
// a file block leaves this side, and the two traffic-monitor rings. net/message_sender.cpp provides them, as the
// windows provide the operations of ui_ops.h; no core file includes a net header.
#pragma once

#include "core/app_state.h"

extern const char SentRingMarker[];      // "***** WRITE-END *****"
extern const char ReceivedRingMarker[];  // "***** READ-END *****"

// Sends length bytes in one message on the socket the mode selects.
// Returns 0, or the socket error number. Shows nothing.
int sendMessage(const char *data, int length);

// Records a received message in the received ring when the monitors are on.
void logReceived(const char *message, int length);

// Sends every byte of a message, going on after a short send. Returns false on a socket error.
bool sendWhole(SOCKET s, const char *data, int length);

// The socket every message of this side goes to: in Server mode the exchange's connection (exchangeSlot),
// in Client mode mainSocket.
SOCKET linkSocket();

// Appends a message line to a ring and moves the marker after it.
void ringAppend(MonitorRing ring, int32_t *position, const char *data, int length, const char *marker);

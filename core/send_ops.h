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

// The bytes of one piece, in order on s, never mixed with another thread's: what the connection cannot take
// at once waits in its outbox and goes later. Only the network thread waits for it, and not past a stop, the
// link's close or a short while in which nothing moved. False on a socket error, or when the outbox is full.
bool sendBytes(SOCKET s, const char *data, int length);
// Bytes of earlier messages still wait to go out on s.
bool sendHeld(SOCKET s);
// Network thread, on every pass: sends what the channel's connection (a slot, or ClientSlotCount for Client
// mode) takes now of its waiting bytes. False when it has taken nothing of them for the liveness time, or could
// not hold a message: the connection is to close.
bool flushOutbox(int channel, SOCKET s);
// Forgets a connection's waiting bytes as it opens or closes.
void clearOutbox(int channel);

// The socket every message of this side goes to: in Server mode the exchange's connection (exchangeSlot),
// in Client mode mainSocket.
SOCKET linkSocket();

// Appends a message line to a ring and moves the marker after it.
void ringAppend(MonitorRing ring, int32_t *position, const char *data, int length, const char *marker);

// message_sender.cpp: placeholder until the send path lands.
#include "net/message_sender.h"
const char SentRingMarker[] = "***** WRITE-END *****";
const char ReceivedRingMarker[] = "***** READ-END *****";
int sendMessage(const char *, int) { return 0; }
void logReceived() {}
bool sendWhole(SOCKET, const char *, int) { return false; }
SOCKET linkSocket() { return INVALID_SOCKET; }
void ringAppend(MonitorRing, int32_t *, const char *, int, const char *) {}

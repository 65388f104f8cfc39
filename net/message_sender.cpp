// message_sender.cpp: the one send path for protocol messages other than file blocks, and the two
// traffic-monitor rings, as core/send_ops.h declares them.
#include "core/send_ops.h"

#include "core/private_link.h"

#include <cstdio>
#include <cstring>

const char SentRingMarker[] = "***** WRITE-END *****";
const char ReceivedRingMarker[] = "***** READ-END *****";

SOCKET linkSocket()
{
    if (AppState.mode != ConnectionMode::Server)
        return AppState.mainSocket;
    int slot = AppState.exchangeSlot;
    return slot >= 0 && slot < ClientSlotCount ? AppState.clientSlots[slot] : INVALID_SOCKET;
}

bool sendWhole(SOCKET s, const char *data, int length)
{
    // A private link seals it; a link whose peer is still being proven or asked about sends nothing.
    bool sealed = false;
    if (privateSend(s, data, length, &sealed))
        return sealed;
    int done = 0;
    while (done < length) {
        int sent = send(s, data + done, length - done, 0);
        if (sent == SOCKET_ERROR)
            return false;
        // A blocking send never reports 0 for a non-empty buffer; stop rather than spin if it ever does.
        if (sent <= 0) {
            WSASetLastError(WSAECONNABORTED);
            return false;
        }
        done += sent;
    }
    return true;
}

void ringAppend(MonitorRing ring, int32_t *position, const char *data, int length, const char *marker)
{
    int line = *position;
    if (line < 0 || line >= RingLines)
        line = 0;
    int copied = length < 0 ? 0 : (length > RingLineBytes ? RingLineBytes : length);
    memset(ring[line], 0, RingLineBytes);
    if (copied > 0)
        memcpy(ring[line], data, copied);
    line = (line + 1) % RingLines;
    memset(ring[line], 0, RingLineBytes);
    size_t markerBytes = strlen(marker);
    if (markerBytes > static_cast<size_t>(RingLineBytes))
        markerBytes = RingLineBytes;
    memcpy(ring[line], marker, markerBytes);
    *position = line;
}

void logReceived(const char *message, int length)
{
    if (AppState.monitorOn && message != nullptr)
        ringAppend(AppState.receivedRing, &AppState.receivedRingPos, message, length, ReceivedRingMarker);
}

int sendMessage(const char *data, int length)
{
    int errorCode = 0;
    if (!sendWhole(linkSocket(), data, length)) {
        errorCode = WSAGetLastError();
        if (errorCode == 0)
            errorCode = SOCKET_ERROR;
    }
    if (AppState.monitorOn)
        ringAppend(AppState.sentRing, &AppState.sentRingPos, data, length, SentRingMarker);
    // No box here: a refusal is the peer's to report, and a failed send means the link is gone, which the
    // receive loop tells the user once.
    return errorCode;
}

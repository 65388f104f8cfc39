// message_sender.cpp: the one send path for protocol messages other than file blocks, and the two
// traffic-monitor rings, as core/send_ops.h declares them.
#include "core/send_ops.h"

#include "core/private_link.h"
#include "net/connection.h"

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

// ---- Sending on a connection ------------------------------------------------------------------------------
// Link sockets do not block: a connection that takes bytes slowly, or not at all (a frozen peer), must not hold
// the thread that sends, so what it cannot take at once waits in its outbox, in order, and goes out later. The
// network thread waits for it a little (that is the pace of a transfer); any other thread never waits.

// How long the network thread waits for a connection that has taken nothing, and the slice it waits in.
static const DWORD SendPatienceMs = 200;
static const long SendSliceUs = 20000;

static INIT_ONCE outboxLockMade = INIT_ONCE_STATIC_INIT;
static CRITICAL_SECTION outboxLock;

static BOOL CALLBACK makeOutboxLock(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&outboxLock);
    return TRUE;
}

static void lockOutboxes()
{
    InitOnceExecuteOnce(&outboxLockMade, makeOutboxLock, nullptr, nullptr);
    EnterCriticalSection(&outboxLock);
}

static void unlockOutboxes()
{
    LeaveCriticalSection(&outboxLock);
}

// The outbox of the connection s is, or -1 for a socket that is no connection of the link.
static int channelOf(SOCKET s)
{
    if (s == INVALID_SOCKET || s == 0)
        return -1;
    if (AppState.mode != ConnectionMode::Server)
        return s == AppState.mainSocket ? ClientSlotCount : -1;
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        if (AppState.clientSlots[slot] == s)
            return slot;
    }
    return -1;
}

// Sends what s takes now of data. The count sent, or -1 on a socket error.
static int sendWhatFits(SOCKET s, const char *data, int length)
{
    int done = 0;
    while (done < length) {
        int sent = send(s, data + done, length - done, 0);
        if (sent == SOCKET_ERROR)
            return WSAGetLastError() == WSAEWOULDBLOCK ? done : -1;
        // A send never reports 0 for a non-empty buffer; stop rather than spin if it ever does.
        if (sent <= 0) {
            WSASetLastError(WSAECONNABORTED);
            return -1;
        }
        done += sent;
    }
    return done;
}

// Under the lock: the outbox's bytes that s takes now. False on a socket error.
static bool drainOutbox(SOCKET s, Outbox *box)
{
    if (box->end <= box->start)
        return true;
    int sent = sendWhatFits(s, box->bytes + box->start, box->end - box->start);
    if (sent < 0)
        return false;
    if (sent > 0)
        box->moved = GetTickCount();
    box->start += sent;
    if (box->start >= box->end) {
        box->start = 0;
        box->end = 0;
    }
    return true;
}

// Under the lock: bytes kept behind what the outbox holds. False (the connection broken) when they do not fit.
static bool holdInOutbox(Outbox *box, const char *data, int length)
{
    if (box->end <= box->start) {
        box->start = 0;
        box->end = 0;
        box->moved = GetTickCount();
    }
    if (length > OutboxBytes - box->end && box->start > 0) {
        memmove(box->bytes, box->bytes + box->start, static_cast<size_t>(box->end - box->start));
        box->end -= box->start;
        box->start = 0;
    }
    if (length > OutboxBytes - box->end) {
        box->broken = 1;
        return false;
    }
    memcpy(box->bytes + box->end, data, static_cast<size_t>(length));
    box->end += length;
    return true;
}

// Network thread: waits while s takes the outbox's bytes until room bytes are free, but not past the link's
// close, a stop or SendPatienceMs in which nothing moved. False on a socket error.
static bool waitForRoom(SOCKET s, Outbox *box, int room)
{
    for (;;) {
        lockOutboxes();
        bool ok = drainOutbox(s, box);
        bool roomy = OutboxBytes - (box->end - box->start) >= room;
        DWORD moved = box->moved;
        unlockOutboxes();
        if (!ok || roomy || !AppState.linkOpen || linkIsClosing() || AppState.stopRequest != StopRequest::None ||
            GetTickCount() - moved >= SendPatienceMs)
            return ok;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval slice;
        slice.tv_sec = 0;
        slice.tv_usec = SendSliceUs;
        if (select(0, nullptr, &writable, nullptr, &slice) == SOCKET_ERROR)
            return false;
    }
}

bool sendBytes(SOCKET s, const char *data, int length)
{
    lockOutboxes();
    int channel = channelOf(s);
    if (channel < 0) {
        unlockOutboxes();
        int sent = sendWhatFits(s, data, length);
        if (sent >= 0 && sent < length)
            WSASetLastError(WSAEWOULDBLOCK);
        return sent == length;
    }
    Outbox *box = &AppState.outboxes[channel];
    bool waits = GetCurrentThreadId() == AppState.netThreadId;
    bool ok = !box->broken && drainOutbox(s, box);
    int room = OutboxBytes - (box->end - box->start);
    unlockOutboxes();
    if (ok && waits && room < length)
        ok = waitForRoom(s, box, length);
    if (!ok) {
        if (WSAGetLastError() == 0)
            WSASetLastError(WSAECONNABORTED);
        return false;
    }
    lockOutboxes();
    int sent = box->end > box->start ? 0 : sendWhatFits(s, data, length);
    ok = sent >= 0 && (sent == length || holdInOutbox(box, data + sent, length - sent));
    bool held = box->end > box->start;
    unlockOutboxes();
    if (ok && held && waits)
        ok = waitForRoom(s, box, OutboxBytes);
    if (!ok && WSAGetLastError() == 0)
        WSASetLastError(WSAECONNABORTED);
    return ok;
}

bool sendWhole(SOCKET s, const char *data, int length)
{
    // A private link seals it; a link whose peer is still being proven or asked about sends nothing.
    bool sealed = false;
    if (privateSend(s, data, length, &sealed))
        return sealed;
    return sendBytes(s, data, length);
}

bool sendHeld(SOCKET s)
{
    lockOutboxes();
    int channel = channelOf(s);
    bool held = channel >= 0 && AppState.outboxes[channel].end > AppState.outboxes[channel].start;
    unlockOutboxes();
    return held;
}

void clearOutbox(int channel)
{
    if (channel < 0 || channel > ClientSlotCount)
        return;
    lockOutboxes();
    Outbox *box = &AppState.outboxes[channel];
    box->start = 0;
    box->end = 0;
    box->broken = 0;
    unlockOutboxes();
}

bool flushOutbox(int channel, SOCKET s)
{
    if (channel < 0 || channel > ClientSlotCount)
        return true;
    lockOutboxes();
    Outbox *box = &AppState.outboxes[channel];
    bool ok = !box->broken && drainOutbox(s, box);
    // Read after the drain, which may have just moved the clock forward: an earlier time would wrap below it
    // and end a connection that is taking bytes.
    DWORD now = GetTickCount();
    if (ok && box->end > box->start && now - box->moved >= AppState.livenessMs)
        ok = false;
    unlockOutboxes();
    return ok;
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

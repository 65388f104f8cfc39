// receive_loops.cpp: ClientThread and ServerThread: receive each connection's stream, cut it into messages and
// hand them to the engine one at a time; refuse other connections while an exchange runs; end an exchange
// whose peer fell silent or went away; accept and drop clients. Its state lives in AppState.
#include "net/receive_loops.h"

#include "core/app_state.h"
#include "core/fast_link.h"
#include "core/fast_wire.h"
#include "core/file_receiver.h"
#include "core/private_link.h"
#include "core/protocol_engine.h"
#include "core/reports.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "net/connection.h"
#include "core/message_framer.h"
#include "core/send_ops.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstring>

// How long a thread with nothing due sleeps before it looks at linkOpen again.
static const DWORD IdlePollMs = 500;
// While an exchange runs, how often its stop and its silence are looked at.
static const DWORD ExchangePollMs = 50;

static const wchar_t SilentPeerText[] = L"相手からの応答が途絶えました\r\n処理を中止します";
static const wchar_t SilentPeerCaption[] = L"応答なし";
static const wchar_t LinkLostText[] = L"相手との接続が切れました\r\n処理を中止します";
static const wchar_t LinkLostCaption[] = L"切断";


static bool exchangeRunning()
{
    return AppState.transferState != TransferState::Waiting;
}

void abandonExchange()
{
    if (exchangeRunning()) {
        endExchange(TransferOutcome::LinkLost);
        return;
    }
    abandonTransferFile();
    AppState.stopRequest = StopRequest::None;
}

int32_t countClients()
{
    if (AppState.mode != ConnectionMode::Server)
        return 0;
    int32_t count = 0;
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        if (AppState.clientSlots[slot] != INVALID_SOCKET && AppState.clientSlots[slot] != 0)
            count++;
    }
    return count;
}

// "NAK" straight to one connection, not through the link's own socket: a refusal of bytes that were no
// message (malformed), or of another connection's message while an exchange runs (busy).
static void answerNak(SOCKET s, const MessageFramer *framer, FastReason reason)
{
    refuseOnConnection(s, framer->fast, reason);
}

// Bytes that can be no message on the exchange's own connection: the peer is told once, and whatever ran
// cannot go on, because the peer stops at a "NAK".
static void refuseGarbage(SOCKET s, const MessageFramer *framer)
{
    answerNak(s, framer, FastReason::Malformed);
    if (exchangeRunning())
        endExchange(TransferOutcome::Failed);
}

// The running exchange's silence and stop; called after every pass's input has been handled.
static void watchExchange()
{
    if (!exchangeRunning()) {
        AppState.exchangeWatched = false;
        return;
    }
    // Read before the clock: the user's side may start an exchange, and restart this clock, at any moment, and
    // a time taken after now would wrap into a silence of days.
    DWORD heard = AppState.lastHeard;
    DWORD now = GetTickCount();
    if (!AppState.exchangeWatched) {
        AppState.exchangeWatched = true;
        AppState.lastHeard = now;
        return;
    }
    DWORD silent = now - heard;
    if (AppState.stopRequest != StopRequest::None && silent >= StopSilenceMs) {
        AppState.exchangeWatched = false;
        if (fastLinkOn())
            stopFastExchange();
        else
            endExchange(TransferOutcome::Stopped);
        return;
    }
    if (silent >= AppState.livenessMs) {
        AppState.exchangeWatched = false;
        keepPartialForResume();
        endExchange(TransferOutcome::Failed);
        postReport(SilentPeerText, SilentPeerCaption);
    }
}

// How long the next wait may sleep (starting the server's own listing when it is due): until the first quiet
// window closes or that listing is due, and never long while an exchange runs
// (its stop and silence are looked at).
static DWORD passWaitMs(const MessageFramer *framers, int count)
{
    // A fast transfer with more to send and room in its window goes on at once.
    if (fastPump())
        return 0;
    DWORD now = GetTickCount();
    DWORD wait = exchangeRunning() || sendHeld(linkSocket()) ? ExchangePollMs : IdlePollMs;
    DWORD listing = startDueOwnListing(now);
    if (listing < wait)
        wait = listing;
    DWORD probe = startDueFastProbe();
    if (probe < wait)
        wait = probe;
    for (int i = 0; i < count; i++) {
        DWORD due = framerQuietDue(&framers[i], now);
        if (due < wait)
            wait = due;
    }
    return wait;
}

// A link socket never blocks its thread: what a connection cannot take at once waits in its outbox.
static void neverBlock(SOCKET s)
{
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

// Receives what the connection holds into its framer. False when the peer has closed or reset it.
static bool receiveInto(SOCKET s, MessageFramer *framer, int channel)
{
    int room = 0;
    char *sealed = privateReceiveSpace(channel, &room);
    if (sealed != nullptr) {
        int count = room > 0 ? recv(s, sealed, room, 0) : 0;
        if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
            return true;
        return count > 0 && privateReceived(channel, framer, sealed, count, GetTickCount());
    }
    char *space = framerSpace(framer, &room);
    if (room <= 0) {
        resetFramer(framer);
        space = framerSpace(framer, &room);
    }
    int count = recv(s, space, room, 0);
    if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        return true;
    if (count <= 0)
        return false;
    framerReceived(framer, count, GetTickCount());
    return true;
}

// ---- Client mode ----------------------------------------------------------------------------------------------

// False once the link is to close.
static bool serveClientMessages()
{
    for (;;) {
        const char *message = nullptr;
        int length = 0;
        FramerEvent event = nextMessage(&AppState.clientFramer, GetTickCount(), &message, &length);
        if (event == FramerEvent::None) {
            bool added = false;
            if (!privateOpenWaiting(PrivateClientChannel, &AppState.clientFramer, &added))
                return false;
            if (added)
                continue;
            if (expireUnfinished(&AppState.clientFramer, GetTickCount(), AppState.livenessMs) == FramerEvent::None)
                return true;
            event = FramerEvent::Garbage;
        }
        if (event == FramerEvent::Garbage) {
            refuseGarbage(AppState.mainSocket, &AppState.clientFramer);
            continue;
        }
        PrivateVerdict verdict = privateScreen(PrivateClientChannel, message, length, &AppState.clientFramer);
        if (verdict == PrivateVerdict::Close)
            return false;
        if (verdict == PrivateVerdict::Serve)
            handleMessage(message, length);
    }
}

// The peer of the shown connection has gone: a running exchange ends and the user is told once.
static void endForLostLink()
{
    if (exchangeRunning()) {
        endExchange(TransferOutcome::LinkLost);
        postReport(LinkLostText, LinkLostCaption);
    } else {
        abandonExchange();
    }
}

// The server closed or reset the connection. A failure that closeLink caused needs nothing more; otherwise a
// running exchange ends, the user is told, and the main window's timer closes the link, as after a "CUT".
static void clientLinkLost()
{
    if (!AppState.linkOpen || linkIsClosing())
        return;
    endForLostLink();
    scheduleLinkClose();
}

// The server failed a check of the private link, or one of the two sides refused the other: the link closes as
// after a "CUT".
static void endPrivateClient()
{
    if (linkIsClosing())
        return;
    endForLostLink();
    scheduleLinkClose();
}

// The server has taken nothing of what waits for it for the liveness time: the link ends as after its silence.
static void clientStalled()
{
    if (!AppState.linkOpen || linkIsClosing())
        return;
    if (exchangeRunning()) {
        keepPartialForResume();
        endExchange(TransferOutcome::Failed);
    }
    postReport(SilentPeerText, SilentPeerCaption);
    scheduleLinkClose();
}

// Client mode keeps one overlapped receive pending on mainSocket and waits for it with a timeout: a select
// before every receive costs a round trip of its own under some socket layers. The receive is never cancelled,
// only waited for again, so no byte can be lost to a timeout; closing the socket ends it. The receive, its event
// and its space in the framer (AppState.clientReceive, clientEvent, clientReceiveSpace) are the client thread's
// own for its life: made at its start, the event closed at its end.

enum class ReceiveStep { Got, Quiet, Lost, Failed };

static ReceiveStep takeClientBytes(DWORD got)
{
    if (got == 0)
        return ReceiveStep::Lost;
    if (privateReceivesSealed(PrivateClientChannel)) {
        if (!privateReceived(PrivateClientChannel, &AppState.clientFramer, AppState.clientReceiveSpace,
                             static_cast<int>(got), GetTickCount()))
            return ReceiveStep::Failed;
        return ReceiveStep::Got;
    }
    framerReceivedAt(&AppState.clientFramer, AppState.clientReceiveSpace, static_cast<int>(got), GetTickCount());
    return ReceiveStep::Got;
}

// Bytes from the server within waitMs, nothing, or the end of the connection.
static ReceiveStep receiveClientBytes(DWORD waitMs)
{
    DWORD got = 0;
    DWORD flags = 0;
    if (!AppState.clientReceivePending) {
        WSAResetEvent(AppState.clientEvent);
        memset(&AppState.clientReceive, 0, sizeof(AppState.clientReceive));
        AppState.clientReceive.hEvent = AppState.clientEvent;
        int room = 0;
        char *space = privateReceiveSpace(PrivateClientChannel, &room);
        if (space == nullptr)
            space = framerSpace(&AppState.clientFramer, &room);
        if (room <= 0) {
            resetFramer(&AppState.clientFramer);
            space = framerSpace(&AppState.clientFramer, &room);
        }
        AppState.clientReceiveSpace = space;
        WSABUF buffer;
        buffer.len = static_cast<ULONG>(room);
        buffer.buf = space;
        if (WSARecv(AppState.mainSocket, &buffer, 1, &got, &flags, &AppState.clientReceive, nullptr) == 0)
            return takeClientBytes(got);
        if (WSAGetLastError() != WSA_IO_PENDING)
            return ReceiveStep::Lost;
        AppState.clientReceivePending = true;
    }
    if (WaitForSingleObject(AppState.clientEvent, waitMs) == WAIT_TIMEOUT)
        return ReceiveStep::Quiet;
    AppState.clientReceivePending = false;
    if (!WSAGetOverlappedResult(AppState.mainSocket, &AppState.clientReceive, &got, FALSE, &flags))
        return ReceiveStep::Lost;
    return takeClientBytes(got);
}

DWORD WINAPI ClientThread(LPVOID)
{
    resetFramer(&AppState.clientFramer);
    AppState.fastProbeTried = 0;
    AppState.fastProbePending = 0;
    AppState.fastPeerOffered = 0;
    AppState.ownListingPending = 0;
    AppState.exchangeWatched = false;
    AppState.clientReceivePending = false;
    AppState.netThreadId = GetCurrentThreadId();
    clearOutbox(ClientSlotCount);
    neverBlock(AppState.mainSocket);
    AppState.clientEvent = WSACreateEvent();
    if (AppState.clientEvent == WSA_INVALID_EVENT) {
        postReport(L"受信の準備ができませんでした\r\n接続を閉じてください", L"WSACreateEvent");
        return 1;
    }
    privateChannelOpened(PrivateClientChannel);
    startClientOpening();
    while (AppState.linkOpen) {
        if (AppState.mode != ConnectionMode::Client) {
            // Never waits on a box here; a thread of the wrong mode has nothing to receive.
            postReport(L"ClientThreadでSreverModeで実行された", L"Read1Thread");
            break;
        }
        const char *held = nullptr;
        int heldLength = 0;
        PrivateEvent event = privatePass(PrivateClientChannel, &held, &heldLength);
        if (event == PrivateEvent::Close) {
            endPrivateClient();
            break;
        }
        // What the classic server asked while our user was asked is answered once it is allowed; the opening
        // listing, held back until then, follows by itself.
        if (event == PrivateEvent::Release && held != nullptr)
            handleMessage(held, heldLength);
        ReceiveStep step = receiveClientBytes(passWaitMs(&AppState.clientFramer, 1));
        if (step == ReceiveStep::Lost) {
            clientLinkLost();
            break;
        }
        if (step == ReceiveStep::Got)
            AppState.lastHeard = GetTickCount();
        if (step == ReceiveStep::Failed || !serveClientMessages()) {
            endPrivateClient();
            break;
        }
        watchExchange();
        if (!flushOutbox(ClientSlotCount, AppState.mainSocket)) {
            clientStalled();
            break;
        }
    }
    privateChannelClosed(PrivateClientChannel);
    // A receive still out ends with the socket, which closeLink has closed by now: let it signal first.
    if (AppState.clientReceivePending)
        WaitForSingleObject(AppState.clientEvent, IdlePollMs);
    AppState.clientReceivePending = false;
    WSACloseEvent(AppState.clientEvent);
    AppState.clientEvent = WSA_INVALID_EVENT;
    return 0;
}

// ---- Server mode ----------------------------------------------------------------------------------------------

static bool slotOccupied(int slot)
{
    return slot >= 0 && slot < ClientSlotCount && AppState.clientSlots[slot] != INVALID_SOCKET &&
           AppState.clientSlots[slot] != 0;
}

// "[a,b,c,d]" of the slot's client into peerHostNameA, and its wide form.
static void peerAddressText(int slot, wchar_t *wide, int wideChars)
{
    AppState.peerAddressLength = sizeof(sockaddr_in);
    if (getpeername(AppState.clientSlots[slot], reinterpret_cast<sockaddr *>(&AppState.peerAddress),
                    &AppState.peerAddressLength) != 0)
        AppState.peerAddress = AppState.slotAddresses[slot];
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&AppState.peerAddress.sin_addr);
    memset(AppState.peerHostNameA, 0, sizeof(AppState.peerHostNameA));
    snprintf(AppState.peerHostNameA, sizeof(AppState.peerHostNameA) - 1, "[%d,%d,%d,%d]", bytes[0], bytes[1],
             bytes[2], bytes[3]);
    wireToWide(AppState.peerHostNameA, -1, wide, wideChars);
}

static void showPeerLabel(const wchar_t *format, int slot)
{
    wchar_t address[32];
    memset(address, 0, sizeof(address));
    peerAddressText(slot, address, COUNTOF(address));
    wchar_t label[80];
    memset(label, 0, sizeof(label));
    _snwprintf(label, COUNTOF(label) - 1, format, address);
    setLinkLabel(label);
}

// The slot becomes the shown connection: the label names it and the server's own requests go to it.
static void showConnection(int slot)
{
    AppState.exchangeSlot = slot;
    showPeerLabel(L"Server:Conection:%ls", slot);
    AppState.peerPresent = 1;
    refreshStatus();
}

static void acceptClient(SOCKET listener)
{
    int slot = -1;
    for (int i = 0; i < ClientSlotCount; i++) {
        if (AppState.clientSlots[i] == INVALID_SOCKET) {
            slot = i;
            break;
        }
    }
    sockaddr_in address;
    int addressLength = sizeof(address);
    memset(&address, 0, sizeof(address));
    SOCKET client = accept(listener, reinterpret_cast<sockaddr *>(&address), &addressLength);
    if (client == INVALID_SOCKET)
        return;
    if (slot < 0 || !peerAddressAllowed(address)) {
        closesocket(client);
        return;
    }
    AppState.currentSlot = slot;
    AppState.clientSlots[slot] = client;
    AppState.slotAddresses[slot] = address;
    AppState.slotAcceptedAt[slot] = GetTickCount();
    AppState.slotSpoke[slot] = 0;
    resetFramer(&AppState.slotFramers[slot]);
    privateChannelOpened(slot);
    clearOutbox(slot);
    neverBlock(client);
    if (!slotOccupied(AppState.exchangeSlot) || AppState.exchangeSlot == slot)
        showConnection(slot);
}

// The slot's client has closed or reset its connection. Only the shown connection's departure shows.
static void dropClient(int slot)
{
    bool shown = slot == AppState.exchangeSlot;
    wchar_t address[32];
    memset(address, 0, sizeof(address));
    if (shown)
        peerAddressText(slot, address, COUNTOF(address));
    SOCKET client = AppState.clientSlots[slot];
    privateChannelClosed(slot);
    shutdown(client, SD_BOTH);
    closesocket(client);
    AppState.clientSlots[slot] = INVALID_SOCKET;
    resetFramer(&AppState.slotFramers[slot]);
    clearOutbox(slot);
    if (!shown)
        return;
    AppState.fastProbeAnswering = 0;

    endForLostLink();
    clearPeerPane();
    AppState.serverAskedPeerDir = 0;
    AppState.ownListingPending = 0;
    wchar_t label[80];
    memset(label, 0, sizeof(label));
    _snwprintf(label, COUNTOF(label) - 1, L"Server:CutOFF:%ls", address);
    setLinkLabel(label);
    AppState.peerPresent = 0;
    for (int other = 0; other < ClientSlotCount; other++) {
        if (slotOccupied(other)) {
            showConnection(other);
            return;
        }
    }
    refreshStatus();
}

// One whole message of the slot's connection. Another connection than the exchange's is refused while an
// exchange runs; while none runs, its request makes it the shown connection and is served.
static void dispatchFromSlot(int slot, const char *message, int length)
{
    PrivateVerdict verdict = privateScreen(slot, message, length, &AppState.slotFramers[slot]);
    if (verdict == PrivateVerdict::Close) {
        dropClient(slot);
        return;
    }
    if (verdict == PrivateVerdict::Consumed)
        return;
    if (slot != AppState.exchangeSlot) {
        const MessageFramer *framer = &AppState.slotFramers[slot];
        if (framer->fast ? isFast(message, length, FastRefuse) : isNak(message, length))
            return;
        if (exchangeRunning() || !isServedRequest(message, length, framer)) {
            answerNak(AppState.clientSlots[slot], framer, FastReason::Busy);
            return;
        }
        clearPeerPane();
        AppState.serverAskedPeerDir = 0;
        AppState.ownListingPending = 0;
        showConnection(slot);
    }
    AppState.serverSlotNumber = slot + 1;
    handleMessage(message, length);
}

static void refuseSlotGarbage(int slot)
{
    if (slot == AppState.exchangeSlot)
        refuseGarbage(AppState.clientSlots[slot], &AppState.slotFramers[slot]);
    else
        answerNak(AppState.clientSlots[slot], &AppState.slotFramers[slot], FastReason::Malformed);
}

static void serveSlotMessages(int slot)
{
    if (!slotOccupied(slot))
        return;
    const char *held = nullptr;
    int heldLength = 0;
    PrivateEvent event = privatePass(slot, &held, &heldLength);
    if (event == PrivateEvent::Close) {
        dropClient(slot);
        return;
    }
    if (held != nullptr)
        dispatchFromSlot(slot, held, heldLength);
    while (slotOccupied(slot)) {
        const char *message = nullptr;
        int length = 0;
        FramerEvent event = nextMessage(&AppState.slotFramers[slot], GetTickCount(), &message, &length);
        if (event == FramerEvent::None) {
            bool added = false;
            if (!privateOpenWaiting(slot, &AppState.slotFramers[slot], &added)) {
                dropClient(slot);
                return;
            }
            if (added)
                continue;
            if (expireUnfinished(&AppState.slotFramers[slot], GetTickCount(), AppState.livenessMs) == FramerEvent::None)
                return;
            event = FramerEvent::Garbage;
        }
        if (event == FramerEvent::Message) {
            dispatchFromSlot(slot, message, length);
            continue;
        }
        refuseSlotGarbage(slot);
    }
}

static void receiveFromSlot(int slot)
{
    AppState.currentSlot = slot;
    // A reset or aborted connection is as gone as a closed one; left in its slot it would be readable, and
    // fail, at every pass.
    if (!receiveInto(AppState.clientSlots[slot], &AppState.slotFramers[slot], slot)) {
        dropClient(slot);
        return;
    }
    AppState.slotSpoke[slot] = 1;
    if (slot == AppState.exchangeSlot)
        AppState.lastHeard = GetTickCount();
}

// A connection that has sent nothing at all for the liveness time is closed: a classic client asks at once,
// so it holds a slot for nothing (connections that never speak would fill every slot). One that has spoken
// stays, however long it idles.
static void dropMuteClients()
{
    DWORD now = GetTickCount();
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        if (slotOccupied(slot) && !AppState.slotSpoke[slot] &&
            now - AppState.slotAcceptedAt[slot] >= AppState.livenessMs)
            dropClient(slot);
    }
}

// Sends on what waits for each connection; one that has taken none of it for the liveness time, or could not
// hold a message, is closed.
static void flushSlots()
{
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        if (slotOccupied(slot) && !flushOutbox(slot, AppState.clientSlots[slot]))
            dropClient(slot);
    }
}

DWORD WINAPI ServerThread(LPVOID parameter)
{
    SOCKET listener = static_cast<SOCKET>(reinterpret_cast<UINT_PTR>(parameter));
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        AppState.clientSlots[slot] = INVALID_SOCKET;
        resetFramer(&AppState.slotFramers[slot]);
    }
    AppState.exchangeWatched = false;
    AppState.netThreadId = GetCurrentThreadId();

    while (AppState.linkOpen) {
        fd_set readable;
        fd_set writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_SET(listener, &readable);
        for (int slot = 0; slot < ClientSlotCount; slot++) {
            SOCKET client = AppState.clientSlots[slot];
            if (client == INVALID_SOCKET)
                continue;
            FD_SET(client, &readable);
            if (sendHeld(client))
                FD_SET(client, &writable);
        }
        DWORD waitMs = passWaitMs(AppState.slotFramers, ClientSlotCount);
        timeval wait;
        wait.tv_sec = static_cast<long>(waitMs / 1000);
        wait.tv_usec = static_cast<long>((waitMs % 1000) * 1000);
        int ready = select(0, &readable, writable.fd_count > 0 ? &writable : nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            // Closing the listening socket makes select fail; that is the link closing, not a fault.
            if (AppState.linkOpen && !linkIsClosing())
                postReport(L"Failed in execution of select.", L"select_Error");
            break;
        }
        if (ready > 0 && FD_ISSET(listener, &readable)) {
            if (!AppState.linkOpen || linkIsClosing())
                break;
            acceptClient(listener);
        }
        for (int slot = 0; ready > 0 && slot < ClientSlotCount; slot++) {
            SOCKET client = AppState.clientSlots[slot];
            if (client != INVALID_SOCKET && FD_ISSET(client, &readable))
                receiveFromSlot(slot);
        }
        for (int slot = 0; slot < ClientSlotCount; slot++)
            serveSlotMessages(slot);
        watchExchange();
        flushSlots();
        dropMuteClients();
    }
    for (int slot = 0; slot < ClientSlotCount; slot++)
        privateChannelClosed(slot);
    return 0;
}

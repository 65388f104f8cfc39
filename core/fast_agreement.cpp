// fast_agreement.cpp: the agreement on the fast link, carried over the classic listing so that a classic peer
// never notices it: the client's request, the server's record, the client's "HI".
#include "core/fast_link.h"
#include "core/fast_link_internal.h"

#include "core/app_state.h"
#include "core/private_link.h"
#include "core/protocol_engine.h"
#include "core/send_ops.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

// A server busy with another connection refuses the question; it is asked again a while later, a few times.
static const int FastProbeTries = 8;
static const DWORD FastProbeRetryMs = 1500;
// A classic server lists its new client 500 ms after the first listing it served, which was the question: the
// client waits this long for that request before it asks for its own opening listing, so the two never cross.
static const DWORD ClassicServerAsksWithinMs = 2000;

void scheduleFastProbe(DWORD delayMs)
{
    if (AppState.mode == ConnectionMode::Client && AppState.fastLinkAllowed && !fastLinkOn() &&
        AppState.fastProbeTried < FastProbeTries) {
        AppState.fastProbeTried++;
        AppState.fastProbePending = 1;
        AppState.fastProbeDue = GetTickCount() + delayMs;
    }
}

// The client's opening listing of the server's folder, after delayMs (or at once once the server has listed us).
static void scheduleOpeningListing(DWORD delayMs)
{
    AppState.ownListingDue = GetTickCount() + delayMs;
    AppState.ownListingPending = 1;
}

void startClientOpening()
{
    // The agreement first, before any listing; a client that does not offer it is a classic client.
    if (!AppState.fastLinkAllowed) {
        startPeerListing();
        return;
    }
    AppState.fastProbeTried = 0;
    scheduleFastProbe(0);
}

void probeEnded(TransferOutcome outcome)
{
    if (outcome == TransferOutcome::LinkLost || outcome == TransferOutcome::Done)
        return;
    // Refused: the server was busy. Anything else was no answer a server gives: the link stays classic.
    int tried = AppState.fastProbeTried;
    if (outcome == TransferOutcome::Refused && tried < FastProbeTries) {
        scheduleFastProbe(FastProbeRetryMs);
        return;
    }
    scheduleOpeningListing(0);
}

DWORD startDueFastProbe()
{
    if (!AppState.fastProbePending)
        return INFINITE;
    DWORD left = AppState.fastProbeDue - GetTickCount();
    if (left != 0 && left < 0x80000000u)
        return left;
    if (!claimExchange(TransferState::CallDIR))
        return 50;
    AppState.fastProbePending = 0;
    AppState.fastProbing = 1;
    AppState.fastPeerOffered = 0;
    AppState.fastPeerVersion = 0;
    refreshStatus();
    char message[64];
    memset(message, 0, sizeof(message));
    int length = buildPathRequest(message, COUNTOF(message), DirRequestTag, FastProbeFolderA);
    if (sendMessage(message, length) != 0)
        endExchange(TransferOutcome::Failed);
    return INFINITE;
}

static bool isProbeRequest(const char *message, int count)
{
    int text = textLength(message, count);
    int probe = static_cast<int>(strlen(FastProbeFolderA));
    return text == probe + 2 && memcmp(message + 2, FastProbeFolderA, static_cast<size_t>(probe)) == 0;
}

// The served folder, as the agreement tells it, in A form: empty for the whole machine, and the sign of an untold
// folder for one that does not fit or does not come back from the code page whole.
static void servedFolderA(char *out, int outBytes)
{
    memset(out, 0, static_cast<size_t>(outBytes));
    if (AppState.servedFolder[0] == 0)
        return;
    wchar_t back[PathChars];
    if (wideToWire(AppState.servedFolder, -1, out, outBytes) > 0 &&
        wireToWide(out, -1, back, COUNTOF(back)) > 0 && wcscmp(back, AppState.servedFolder) == 0)
        return;
    memset(out, 0, static_cast<size_t>(outBytes));
    if (outBytes > static_cast<int>(strlen(FastServedUntold)))
        memcpy(out, FastServedUntold, strlen(FastServedUntold));
}

bool answerFastProbe(const char *message, int count)
{
    if (!isProbeRequest(message, count))
        return false;
    if (!claimExchange(TransferState::RequestDIR)) {
        sendMessage(NakMessage, 3);
        return true;
    }
    // Switched off, this side answers as a classic peer does for a folder that is not there.
    AppState.dirCount = 0;
    if (AppState.fastLinkAllowed) {
        char served[200];
        servedFolderA(served, COUNTOF(served));
        char *row = AppState.dirTable[0];
        memset(row, 0, DirRowBytes);
        // A record the classic framer cuts like any other: the name carries the offer, date and size are empty.
        int bytes = snprintf(row, DirRowBytes - 1, "DR000000%s%d|%c|%s,,,8", FastProbeRecordPrefix,
                             offeredFastVersion(), AppState.servedReadOnly ? 'R' : 'W', served);
        if (bytes > 0 && bytes < DirRowBytes - 1) {
            AppState.dirCount = 1;
            AppState.fastProbeAnswering = 1;
        }
    }
    char *end = AppState.dirTable[AppState.dirCount];
    memset(end, 0, DirRowBytes);
    memcpy(end, DirEndMessage, 8);
    AppState.dirCount++;
    refreshStatus();
    AppState.dirCursor = 1;
    sendMessage(AppState.dirTable[0], textLength(AppState.dirTable[0], DirRowBytes));
    // Switched off, this side counts it as a classic server does: its first listing served, it lists its client.
    if (AppState.dirCount == 1)
        finishServedListing();
    return true;
}

// Once agreed, every message goes in one send, so nothing is gained by holding a small one back: without this,
// an "EN" after the last "DA" waits for the peer's delayed ACK.
static void sendAtOnce(SOCKET s)
{
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
}

void awaitFastHello()
{
    // Everything after the terminator is the fast link; this side waits in RequestDIR, where nothing of its own
    // can start, until the client's "HI" says it has switched too.
    int slot = AppState.exchangeSlot;
    if (slot >= 0 && slot < ClientSlotCount) {
        AppState.slotFramers[slot].fast = 1;
        sendAtOnce(AppState.clientSlots[slot]);
    }
}

bool takeFastProbeRecord(const char *message, int count)
{
    int text = textLength(message, count);
    if (!isDirRecord(message, count))
        return false;
    DirRecordFields fields;
    int version = 0;
    int readOnly = 0;
    char served[PathChars];
    if (splitDirRecord(message + BlockHeaderBytes, text - BlockHeaderBytes, &fields) &&
        parseProbeRecord(fields.name, static_cast<int>(strnlen(fields.name, sizeof(fields.name))), &version,
                         &readOnly, served, COUNTOF(served)) &&
        version >= 1) {
        AppState.fastPeerOffered = 1;
        AppState.fastPeerVersion = version;
        AppState.peerServedReadOnly = readOnly;
        memcpy(AppState.peerServedFolderA, served, sizeof(AppState.peerServedFolderA));
    }
    sendMessage(AckMessage, 3);
    return true;
}

// The peer serves one folder: it is listed in place of the folder this side would ask for. Before this side's
// opening listing, that listing asks for it; after it, the user interface opens it.
static void tellPeerServes(const char *folderA)
{
    memset(AppState.peerServedFolder, 0, sizeof(AppState.peerServedFolder));
    // Told that it is a folder, if not which: the pane says so rather than offer the whole machine.
    AppState.peerServedUntold = strcmp(folderA, FastServedUntold) == 0 ? 1 : 0;
    if (folderA[0] == 0 || AppState.peerServedUntold ||
        wireToWide(folderA, -1, AppState.peerServedFolder, COUNTOF(AppState.peerServedFolder)) <= 0) {
        memset(AppState.peerServedFolder, 0, sizeof(AppState.peerServedFolder));
        return;
    }
    bool opening = AppState.mode == ConnectionMode::Client ? AppState.ownListingPending != 0
                                                           : !AppState.serverAskedPeerDir;
    if (!opening) {
        peerServesFolder();
        return;
    }
    memset(AppState.peerFolder, 0, sizeof(AppState.peerFolder));
    wcsncpy(AppState.peerFolder, AppState.peerServedFolder, COUNTOF(AppState.peerFolder) - 1);
}

void finishFastProbe()
{
    bool offered = AppState.fastPeerOffered != 0;
    endExchange(TransferOutcome::Done);
    if (!offered) {
        // A classic server: it lists us first, then our opening listing goes, as between two classic peers.
        scheduleOpeningListing(ClassicServerAsksWithinMs);
        // A client that asks its user about classic servers starts nothing until the answer.
        privateAfterAgreement(PrivateClientChannel, 0);
        return;
    }
    AppState.clientFramer.fast = 1;
    sendAtOnce(AppState.mainSocket);
    char served[PathChars];
    servedFolderA(served, COUNTOF(served));
    unsigned char payload[8 + PathChars];
    int servedBytes = static_cast<int>(strnlen(served, sizeof(served)));
    putLittleEndian(payload, static_cast<uint64_t>(offeredFastVersion()), 4);
    payload[4] = AppState.servedReadOnly ? 1 : 0;
    memcpy(payload + 5, served, static_cast<size_t>(servedBytes));
    sendFast(FastHello, payload, 5 + servedBytes);
    // Agreed, before any listing. The private link's handshake follows when both offered it (and on the server
    // in takeHello): the opening listing waits until it is done, as nothing can be claimed while it runs.
    scheduleOpeningListing(0);
    tellPeerServes(AppState.peerServedFolderA);
    // Both folders above went in the code page; every name after the hello goes in UTF-8 when both speak it.
    AppState.clientFramer.utf8 = AppState.fastPeerVersion >= FastUtf8Version ? 1 : 0;
    AppState.clientFramer.trees = AppState.fastPeerVersion >= FastTreeVersion ? 1 : 0;
    privateAfterAgreement(PrivateClientChannel, AppState.fastPeerVersion);
}

void takeHello(const unsigned char *payload, int bytes)
{
    AppState.fastProbeAnswering = 0;
    endExchange(TransferOutcome::Done);
    if (bytes < 5 || bytes - 5 > PathChars - 1)
        return;
    AppState.peerServedReadOnly = payload[4] != 0;
    memset(AppState.peerServedFolderA, 0, sizeof(AppState.peerServedFolderA));
    memcpy(AppState.peerServedFolderA, payload + 5, static_cast<size_t>(bytes - 5));
    tellPeerServes(AppState.peerServedFolderA);
    int slot = AppState.exchangeSlot;
    if (slot >= 0 && slot < ClientSlotCount) {
        uint64_t version = getLittleEndian(payload, 4);
        AppState.slotFramers[slot].utf8 = version >= FastUtf8Version ? 1 : 0;
        AppState.slotFramers[slot].trees = version >= FastTreeVersion ? 1 : 0;
        // Agreed, before any listing: the private link's handshake follows when both offered it.
        privateAfterAgreement(slot, version > 1000 ? 1000 : static_cast<int>(version));
    }
}

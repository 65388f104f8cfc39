// protocol_engine.cpp: the frame of the engine (monitor, "NAK" short-cut, dispatch by state), the requests the
// peer makes in Waiting, the directory exchange in both directions and the folder exchange.
#include "core/protocol_engine.h"

#include "core/private_link.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/fast_link.h"
#include "core/paths.h"
#include "core/served_folder.h"
#include "core/tree_listing.h"
#include "core/file_receiver.h"
#include "core/text_codec.h"
#include "core/transfer_states.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "core/send_ops.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <cwchar>

// Room for a request's path: bytes of its A form, and wide characters of what it becomes here.
static const int RequestPathBytes = 1024;
static const int RequestPathChars = 1024;
static const UINT DisconnectDelayMs = 100;
static const DWORD OwnRequestDelayMs = 500;
static const DWORD ExchangePollMs = 50;

void refuseMessage()
{
    // The answer goes out first; an unfinished transfer never leaves a file open or a temporary file behind.
    sendMessage(NakMessage, 3);
    endExchange(TransferOutcome::Failed);
}

void sendAck()
{
    sendMessage(AckMessage, 3);
}

bool isRequesterState(TransferState state)
{
    return state == TransferState::CallDIR || state == TransferState::CallCopyTO ||
           state == TransferState::CallCopyFrom || state == TransferState::FolderTO;
}

void endExchange(TransferOutcome outcome)
{
    TransferState ended = AppState.transferState;
    LONG listing = AppState.listingSerial;  // read before Waiting lets another listing claim the link
    // The agreement's own listing is no exchange the user asked for: it ends without a word.
    bool probing = endFastExchange(ended, outcome);
    bool asked = isRequesterState(ended) && !probing;
    abandonTransferFile();
    AppState.stopRequest = StopRequest::None;
    AppState.expectedBlock = 0;
    AppState.transferState = TransferState::Waiting;
    if (ended != TransferState::Waiting)
        refreshStatus();
    FastReason reason = outcome == TransferOutcome::Done ? FastReason::None : AppState.endReason;
    AppState.endReason = FastReason::None;
    // A server's listing that met a request of its client's lists again once the link is free.
    if (ended == TransferState::CallDIR && reason == FastReason::Busy && !probing &&
        AppState.mode == ConnectionMode::Server) {
        AppState.ownListingDue = GetTickCount() + OwnRequestDelayMs;
        AppState.ownListingPending = 1;
    }
    if (asked) {
        AppState.lastReason = reason;
        AppState.lastOutcome = outcome;
        AppState.endedState = ended;
        AppState.endedListing = listing;
        exchangeEnded();
    }
}

// The path of a request in wide text, as this side serves it. Returns its length in characters, or 0 when it
// is empty, longer than a path may be, or not to be reached by the peer.
static int requestPathToWide(const char *message, int textLen, PeerAccess access, wchar_t *out, int outChars)
{
    char pathA[RequestPathBytes];
    int bytes = copyRequestPath(message, textLen, pathA, COUNTOF(pathA));
    memset(out, 0, outChars * sizeof(wchar_t));
    if (bytes == 0)
        return 0;
    if (!resolvePeerPath(pathA, bytes, access, out, outChars)) {
        memset(out, 0, outChars * sizeof(wchar_t));
        return 0;
    }
    return static_cast<int>(wcsnlen(out, outChars));
}

static void sendDirRow(int row)
{
    sendMessage(AppState.dirTable[row], textLength(AppState.dirTable[row], DirRowBytes));
}

void finishServedListing()
{
    endExchange(TransferOutcome::Done);
    // A client that waits for its server's listing of it asks for its own opening listing now.
    if (AppState.mode == ConnectionMode::Client && AppState.ownListingPending)
        AppState.ownListingDue = GetTickCount();
    if (AppState.mode == ConnectionMode::Server && !AppState.serverAskedPeerDir) {
        // Not a sleep: the receive loop starts it when due, and a client request that comes first is served.
        AppState.ownListingDue = GetTickCount() + OwnRequestDelayMs;
        AppState.ownListingPending = 1;
        AppState.serverAskedPeerDir = 1;
    }
}

DWORD startDueOwnListing(DWORD now)
{
    if (!AppState.ownListingPending)
        return INFINITE;
    DWORD left = AppState.ownListingDue - now;
    if (left != 0 && left < 0x80000000u)
        return left;
    // An exchange that runs at the due time goes first; the listing follows once it has ended.
    if (!startPeerListing())
        return ExchangePollMs;
    AppState.ownListingPending = 0;
    return INFINITE;
}

// "DD" + folder in Waiting: build the table and send its first row.
static void serveDirectory(const char *message, int textLen)
{
    wchar_t folder[RequestPathChars];
    int chars = requestPathToWide(message, textLen, PeerAccess::List, folder, COUNTOF(folder));
    if (chars == 0) {
        refuseMessage();
        return;
    }
    buildDirTable(folder, chars);
    if (AppState.dirCount <= 0) {
        refuseMessage();
        return;
    }
    AppState.transferState = TransferState::RequestDIR;
    refreshStatus();
    AppState.dirCursor = 0;
    sendDirRow(0);
    AppState.dirCursor = 1;
    if (AppState.dirCount == 1)
        finishServedListing();
}

// "CD" + folder in Waiting: "ACK" when the folder is there afterwards (made now, or already a folder),
// "NAK" when nothing could be made (a file of that name, a missing parent).
static void createRequestedFolder(const char *message, int textLen)
{
    wchar_t folder[RequestPathChars];
    int chars = requestPathToWide(message, textLen, PeerAccess::CreateFolder, folder, COUNTOF(folder));
    if (chars == 0) {
        refuseMessage();
        return;
    }
    AppState.transferState = TransferState::FolderFrom;
    refreshStatus();
    if (!CreateDirectoryW(folder, nullptr) && !isFolderOnDisk(folder)) {
        refuseMessage();
        return;
    }
    sendAck();
    endExchange(TransferOutcome::Done);
    fileArrived(folder);
}

void scheduleLinkClose()
{
    // The main window's timer closes the link; this thread must not wait for that itself.
    SetTimer(AppState.timerWindow, IDT_CLOSE_LINK, DisconnectDelayMs, nullptr);
}

void closeOnCut()
{
    if (AppState.mode == ConnectionMode::Client)
        scheduleLinkClose();
}

bool claimExchange(TransferState next)
{
    static_assert(sizeof(TransferState) == sizeof(LONG), "the state is swapped as one LONG");
    // Nothing starts while the peer is being proven or asked about.
    if (!privateLinkReady())
        return false;
    LONG was = InterlockedCompareExchange(reinterpret_cast<volatile LONG *>(&AppState.transferState),
                                          static_cast<LONG>(next), static_cast<LONG>(TransferState::Waiting));
    if (was != static_cast<LONG>(TransferState::Waiting))
        return false;
    // The silence clock starts with the exchange, also when the last one ended since the loop last looked.
    AppState.lastHeard = GetTickCount();
    return true;
}

// A request is served only once its state is claimed, before any field of the transfer is touched: this
// side's user may have started an exchange in the same instant, and its request is on its way. The crossing
// request is then refused; the peer tells its user, and ours goes on.
static bool claimToServe(TransferState serving)
{
    if (claimExchange(serving))
        return true;
    sendMessage(NakMessage, 3);
    // Ours has just been claimed, and its request meets the peer in a requester state: it is refused there.
    AppState.endReason = FastReason::Busy;
    return false;
}

static void handleWaiting(const char *message, int count)
{
    int textLen = textLength(message, count);
    if (isPathRequest(message, count, DirRequestTag)) {
        if (answerFastProbe(message, count))
            return;
        if (claimToServe(TransferState::RequestDIR))
            serveDirectory(message, textLen);
    } else if (isPathRequest(message, count, PushRequestTag)) {
        if (claimToServe(TransferState::RequestCopyTO))
            startServedPush(message, textLen);
    } else if (isPathRequest(message, count, PullRequestTag)) {
        if (claimToServe(TransferState::RequestCopyFrom))
            startServedPull(message, textLen);
    } else if (isFolderRequest(message, count)) {
        if (claimToServe(TransferState::FolderFrom))
            createRequestedFolder(message, textLen);
    } else if (isCut(message, count) && AppState.mode == ConnectionMode::Client)
        closeOnCut();
    else
        refuseMessage();
}

// CallDIR: one peer record per message until the terminator.
static void handleCallDir(const char *message, int count)
{
    if (AppState.fastProbing) {
        if (isDirEnd(message, count))
            finishFastProbe();
        else if (!takeFastProbeRecord(message, count))
            refuseMessage();
        return;
    }
    if (isDirEnd(message, count)) {
        endExchange(TransferOutcome::Done);
        return;
    }
    if (!isDirRecord(message, count)) {
        refuseMessage();
        return;
    }
    int textLen = textLength(message, count);
    AppState.lastDirIndex = sixDigitNumber(message);
    char body[RequestPathBytes];
    memset(body, 0, sizeof(body));
    int bodyBytes = textLen - BlockHeaderBytes;
    memcpy(body, message + BlockHeaderBytes, bodyBytes);
    bool refused = AppState.treeListing ? addTreeRecord(body, bodyBytes) : addPeerRecord(body, bodyBytes);
    if (refused)
        refuseMessage();
    else
        sendAck();
}

// RequestDIR: the next row of the table per "ACK".
static void handleRequestDir(const char *message, int count)
{
    if (!isAck(message, count)) {
        refuseMessage();
        return;
    }
    if (AppState.dirCursor < 0 || AppState.dirCursor >= AppState.dirCount || AppState.dirCursor >= DirRows)
        return;
    sendDirRow(AppState.dirCursor);
    AppState.dirCursor++;
    if (AppState.dirCursor != AppState.dirCount)
        return;
    if (AppState.fastProbeAnswering)
        awaitFastHello();
    else
        finishServedListing();
}

// FolderTO: the peer's "ACK" to "CD" makes this side list the peer folder again when the new-folder command
// asked (a folder copy lists the pane again when it ends); anything else is ignored.
static void handleFolderTo(const char *message, int count)
{
    if (!isAck(message, count))
        return;
    endExchange(TransferOutcome::Done);
    relistAfterNewFolder();
}

void relistAfterNewFolder()
{
    if (!AppState.relistAfterFolder)
        return;
    AppState.relistAfterFolder = 0;
    startPeerListing();
}

void handleMessage(const char *message, int count)
{
    if (message != nullptr && count > 0 && fastLinkOn()) {
        handleFastMessage(message, count);
        return;
    }
    logReceived(message, count);
    if (message == nullptr)
        count = 0;
    if (count < 0)
        count = 0;
    if (count > ReceiveMaxBytes)
        count = ReceiveMaxBytes;

    // "NAK" is never answered. For the side that asked it means refused, or stopped when a stop was on its way.
    if (isNak(message, count)) {
        if (AppState.transferState != TransferState::Waiting)
            endExchange(AppState.stopRequest == StopRequest::Sent ? TransferOutcome::Stopped : TransferOutcome::Refused);
        return;
    }

    // The peer's request while this side waits for the answer to its own: the two crossed, and each side now
    // waits on the other. Its request is refused, and ours ends with the reason, so this side's user is told
    // and may ask again; the peer's answer to ours comes in Waiting and is ignored.
    if (isRequesterState(AppState.transferState) && isPeerRequest(message, count)) {
        sendMessage(NakMessage, 3);
        AppState.endReason = FastReason::Busy;
        endExchange(TransferOutcome::Refused);
        return;
    }

    switch (AppState.transferState) {
    case TransferState::Waiting:
        handleWaiting(message, count);
        break;
    case TransferState::CallDIR:
        handleCallDir(message, count);
        break;
    case TransferState::RequestDIR:
        handleRequestDir(message, count);
        break;
    case TransferState::FolderTO:
        handleFolderTo(message, count);
        break;
    case TransferState::CallCopyTO:
        handleSendingState(BlockKind::FR, message, count);
        break;
    case TransferState::RequestCopyFrom:
        handleSendingState(BlockKind::FB, message, count);
        break;
    case TransferState::RequestCopyTO:
        handleReceivingState(BlockKind::FR, AppState.incomingTargetA, message, count);
        break;
    case TransferState::CallCopyFrom:
        handleReceivingState(BlockKind::FB, AppState.pullTargetA, message, count);
        break;
    default:
        refuseMessage();
        break;
    }
}

LONG startPeerListing()
{
    if (!claimExchange(TransferState::CallDIR))
        return 0;
    // Only the claimant writes the number, and nothing is asked before it is written.
    LONG serial = InterlockedIncrement(&AppState.listingSerial);
    if (serial == 0)
        serial = InterlockedIncrement(&AppState.listingSerial);
    refreshStatus();
    requestPeerDir();
    return serial;
}

void requestPeerDir()
{
    char path[FastPathBytes];
    char message[RequestPathBytes];
    memset(path, 0, sizeof(path));
    memset(message, 0, sizeof(message));
    // A folder whose A form does not fit a path goes out as "DD" alone, which the peer refuses with "NAK":
    // that returns this side to Waiting instead of leaving it in CallDIR with nothing asked.
    if (pathToWire(AppState.peerFolder, path, COUNTOF(path)) < 0)
        path[0] = 0;
    int length = buildPathRequest(message, COUNTOF(message), DirRequestTag, path);
    if (length < 0) {
        memcpy(message, DirRequestTag, 2);
        length = 2;
    }
    sendRequest(message, length);
}

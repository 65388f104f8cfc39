// fast_link.cpp: the fast link's messages in and out: sending them, the requests this side makes, the paths the
// peer names, and the dispatch of every fast message received to the part of the link that handles it.
#include "core/fast_link.h"
#include "core/fast_link_internal.h"
#include "core/fast_tree.h"

#include "core/app_state.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/reports.h"
#include "core/send_ops.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstring>

bool fastLinkOn()
{
    if (AppState.mode == ConnectionMode::Server) {
        int slot = AppState.exchangeSlot;
        return slot >= 0 && slot < ClientSlotCount && AppState.slotFramers[slot].fast != 0;
    }
    return AppState.clientFramer.fast != 0;
}

bool endFastExchange(TransferState ended, TransferOutcome outcome)
{
    bool probing = AppState.fastProbing != 0;
    AppState.fastProbing = 0;
    AppState.fastSending = 0;
    AppState.fastSentAtOnce = 0;
    cancelPartCheck();
    if (AppState.treeStream)
        endTreeStream(outcome);
    if (outcome == TransferOutcome::LinkLost)
        keepPartialForResume();
    // A part that is not kept is deleted as the exchange ends: its resume record goes with it.
    if (AppState.tempFilePending)
        deleteResumeInfo();
    if (probing && ended == TransferState::CallDIR)
        probeEnded(outcome);
    return probing;
}

// ---- Sending ------------------------------------------------------------------------------------------------

void logSent(const char *message, int length)
{
    if (!AppState.monitorOn)
        return;
    char line[RingLineBytes];
    int bytes = describeFastMessage(message, length, line, COUNTOF(line));
    ringAppend(AppState.sentRing, &AppState.sentRingPos, line, bytes, SentRingMarker);
}

// Sends the message whose payload (payloadBytes) already lies at fastPiece + FastHeaderBytes.
int sendPiece(const char *tag, int payloadBytes)
{
    putFastHeader(AppState.fastPiece, tag, payloadBytes);
    int length = FastHeaderBytes + payloadBytes;
    logSent(AppState.fastPiece, length);
    if (!sendWhole(linkSocket(), AppState.fastPiece, length)) {
        int error = WSAGetLastError();
        return error != 0 ? error : SOCKET_ERROR;
    }
    return 0;
}

// A small message, built apart from fastPiece so that a piece in the making is never overwritten.
static int sendSmall(SOCKET s, const char *tag, const void *payload, int payloadBytes)
{
    char message[FastHeaderBytes + FastPathBytes + 64];
    if (payloadBytes < 0 || payloadBytes > static_cast<int>(sizeof(message)) - FastHeaderBytes)
        return SOCKET_ERROR;
    putFastHeader(message, tag, payloadBytes);
    if (payloadBytes > 0)
        memcpy(message + FastHeaderBytes, payload, static_cast<size_t>(payloadBytes));
    logSent(message, FastHeaderBytes + payloadBytes);
    if (!sendWhole(s, message, FastHeaderBytes + payloadBytes)) {
        int error = WSAGetLastError();
        return error != 0 ? error : SOCKET_ERROR;
    }
    return 0;
}

int sendFast(const char *tag, const void *payload, int payloadBytes)
{
    return sendSmall(linkSocket(), tag, payload, payloadBytes);
}

void sendNumber(const char *tag, uint64_t value, int bytes)
{
    unsigned char payload[8];
    putLittleEndian(payload, value, bytes);
    sendFast(tag, payload, bytes);
}

void refuseOnConnection(SOCKET s, int fast, FastReason why)
{
    if (!fast) {
        sendWhole(s, NakMessage, 3);
        if (AppState.monitorOn)
            ringAppend(AppState.sentRing, &AppState.sentRingPos, NakMessage, 3, SentRingMarker);
        return;
    }
    unsigned char reason = static_cast<unsigned char>(why);
    sendSmall(s, FastRefuse, &reason, 1);
}

// Ends the running exchange with a reason the summary can show.
void endWith(TransferOutcome outcome, FastReason reason)
{
    AppState.endReason = reason;
    endExchange(outcome);
}

// Tells the peer why, and ends this side's exchange.
void refuseWith(FastReason reason)
{
    unsigned char byte = static_cast<unsigned char>(reason);
    sendFast(FastRefuse, &byte, 1);
    endWith(TransferOutcome::Refused, reason);
}

// ---- Requests -----------------------------------------------------------------------------------------------

int sendRequest(const char *message, int length)
{
    if (!fastLinkOn())
        return sendMessage(message, length);
    if (length == 3 && memcmp(message, CutMessage, 3) == 0)
        return sendFast(FastCut, nullptr, 0);
    if (length < 2)
        return SOCKET_ERROR;
    int text = textLength(message, length);
    const char *path = message + 2;
    int pathBytes = text > 2 ? text - 2 : 0;
    if (pathBytes > FastPathBytes - 1)
        return SOCKET_ERROR;
    AppState.endReason = FastReason::None;
    AppState.transferSize = -1;
    AppState.resumedFrom = -1;
    if (memcmp(message, DirRequestTag, 2) == 0)
        return sendFast(FastList, path, pathBytes);
    if (memcmp(message, FolderRequestTag, 2) == 0)
        return sendFast(FastMakeFolder, path, pathBytes);
    if (memcmp(message, PullRequestTag, 2) == 0)
        return sendFast(FastPull, path, pathBytes);
    if (memcmp(message, PushRequestTag, 2) != 0)
        return SOCKET_ERROR;
    if (!openFastSource()) {
        // Nothing went out; the copy learns why as from any ended exchange.
        endWith(TransferOutcome::Failed, FastReason::CannotRead);
        return 0;
    }
    unsigned char payload[FileHeadBytes + FastPathBytes];
    putFileHead(payload);
    memcpy(payload + FileHeadBytes, path, static_cast<size_t>(pathBytes));
    // Set before the request goes out: the receiver's "RS" may come back before this thread goes on.
    AppState.fastSentAtOnce = fitsOnePiece() ? 1 : 0;
    if (AppState.fastSentAtOnce)
        return sendPushWithFile(payload, FileHeadBytes + pathBytes);
    return sendFast(FastPush, payload, FileHeadBytes + pathBytes);
}

// ---- Paths the peer names -----------------------------------------------------------------------------------

// The path of a fast request as this side serves it. FastReason::None when it may be used.
FastReason resolveFastPath(const unsigned char *path, int bytes, PeerAccess access, wchar_t *out,
                                  int outChars)
{
    memset(out, 0, static_cast<size_t>(outChars) * sizeof(wchar_t));
    if (bytes <= 0 || bytes > FastPathBytes - 1)
        return FastReason::TooLong;
    if (memchr(path, 0, static_cast<size_t>(bytes)) != nullptr ||
        !wireTextValid(reinterpret_cast<const char *>(path), bytes))
        return FastReason::Malformed;
    // The budget is 259 characters, whatever bytes they take.
    if (wireToWide(reinterpret_cast<const char *>(path), bytes, out, outChars < PathChars ? outChars : PathChars) < 0)
        return FastReason::TooLong;
    PathRefusal why = PathRefusal::None;
    if (resolvePeerPathFor(reinterpret_cast<const char *>(path), bytes, access, out, outChars, &why))
        return FastReason::None;
    memset(out, 0, static_cast<size_t>(outChars) * sizeof(wchar_t));
    switch (why) {
    case PathRefusal::ReadOnly:
        return FastReason::ReadOnly;
    case PathRefusal::Outside:
        return FastReason::Outside;
    case PathRefusal::Missing:
        return FastReason::CannotRead;
    default:
        return FastReason::Malformed;
    }
}

bool claimFast(TransferState serving)
{
    if (claimExchange(serving))
        return true;
    unsigned char reason = static_cast<unsigned char>(FastReason::Busy);
    sendFast(FastRefuse, &reason, 1);
    return false;
}

// ---- Dispatch -----------------------------------------------------------------------------------------------

static void logFastReceived(const char *message, int count)
{
    if (!AppState.monitorOn)
        return;
    char line[RingLineBytes];
    int bytes = describeFastMessage(message, count, line, COUNTOF(line));
    ringAppend(AppState.receivedRing, &AppState.receivedRingPos, line, bytes, ReceivedRingMarker);
}


static void handleFastWaiting(const char *message, int count, const unsigned char *payload, int bytes)
{
    if (isFast(message, count, FastList)) {
        if (claimFast(TransferState::RequestDIR))
            serveFastListing(payload, bytes);
    } else if (isFast(message, count, FastMakeFolder)) {
        if (claimFast(TransferState::FolderFrom))
            makeFastFolder(payload, bytes);
    } else if (isFast(message, count, FastPush)) {
        if (claimFast(TransferState::RequestCopyTO))
            startServedFastPush(payload, bytes);
    } else if (isFast(message, count, FastPull)) {
        if (claimFast(TransferState::RequestCopyFrom))
            startServedFastPull(payload, bytes);
    } else if (isFast(message, count, FastCut)) {
        closeOnCut();
    } else if (serveTreeRequest(message, count)) {
        return;
    } else if (!isTreeStreamMessage(message, count) && !isFast(message, count, FastData) && !isFast(message, count, FastAck) &&
               !isFast(message, count, FastEnd) && !isFast(message, count, FastDone) &&
               !isFast(message, count, FastRefuse) && !isFast(message, count, FastStop)) {
        // What is left of a transfer that has ended is dropped; anything else is no request of this link.
        unsigned char reason = static_cast<unsigned char>(FastReason::Malformed);
        sendFast(FastRefuse, &reason, 1);
    }
}

void handleFastMessage(const char *message, int count)
{
    logFastReceived(message, count);
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, count, &bytes);
    TransferState state = AppState.transferState;
    if (state == TransferState::Waiting) {
        handleFastWaiting(message, count, payload, bytes);
        return;
    }
    if (isFastRequest(message, count)) {
        // A request that crosses ours: refused, and ours goes on.
        unsigned char reason = static_cast<unsigned char>(FastReason::Busy);
        sendFast(FastRefuse, &reason, 1);
        return;
    }
    if (isFast(message, count, FastRefuse)) {
        FastReason reason = bytes >= 1 ? static_cast<FastReason>(payload[0]) : FastReason::None;
        deleteResumeInfo();
        endWith(AppState.stopRequest == StopRequest::Sent ? TransferOutcome::Stopped : TransferOutcome::Refused,
                reason);
        return;
    }
    if (isFast(message, count, FastStop)) {
        deleteResumeInfo();
        endExchange(TransferOutcome::Stopped);
        return;
    }
    if (AppState.treeStream) {
        handleTreeMessage(message, count);
        return;
    }
    switch (state) {
    case TransferState::RequestDIR:
        if (AppState.fastProbeAnswering && isFast(message, count, FastHello))
            takeHello(payload, bytes);
        break;
    case TransferState::CallDIR:
        if (isFast(message, count, FastRows))
            takeRows(payload, bytes);
        else if (isFast(message, count, FastListEnd))
            takeListEnd(payload, bytes);
        break;
    case TransferState::FolderTO:
        if (isFast(message, count, FastDone)) {
            endExchange(TransferOutcome::Done);
            relistAfterNewFolder();
        }
        break;
    case TransferState::CallCopyTO:
    case TransferState::RequestCopyFrom:
        if (isFast(message, count, FastResume))
            startSending(payload, bytes);
        else if (isFast(message, count, FastAck) && bytes >= 8)
            AppState.fastAcked = static_cast<int64_t>(getLittleEndian(payload, 8));
        else if (isFast(message, count, FastDone))
            endExchange(TransferOutcome::Done);
        break;
    case TransferState::CallCopyFrom:
    case TransferState::RequestCopyTO:
        if (state == TransferState::CallCopyFrom && isFast(message, count, FastFileHead))
            startPulledFile(payload, bytes);
        // Before the file's head, data can only be that of a push of the peer's that crossed this pull and was
        // refused: it is dropped.
        else if (state == TransferState::CallCopyFrom && AppState.fileState != FileIoState::Open)
            break;
        else if (isFast(message, count, FastData))
            receivePiece(payload, bytes);
        else if (isFast(message, count, FastEnd))
            finishReceiving(payload, bytes);
        break;
    default:
        break;
    }
}

// fast_send.cpp: sending a file on the fast link. It flows as "DA" pieces that are not answered one by one: the
// sender keeps at most FastWindowBytes unacknowledged, so a stop, a refusal or the peer's silence still ends the
// exchange at once.
#include "core/fast_link.h"
#include "core/fast_link_internal.h"
#include "core/fast_tree.h"

#include "core/app_state.h"
#include "core/crc32c.h"
#include "core/file_receiver.h"
#include "core/protocol_engine.h"
#include "core/send_ops.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstring>

static const int PiecesPerPump = 8;

// ---- Sending a file -----------------------------------------------------------------------------------------

// Opens sendSourcePath for a fast send: size and times into the transfer's fields. False when it cannot be read.
bool openFastSource()
{
    abandonTransferFile();
    HANDLE file = CreateFileW(AppState.sendSourcePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return false;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) ||
        !GetFileTime(file, &AppState.fastTimes[0], &AppState.fastTimes[1], &AppState.fastTimes[2])) {
        CloseHandle(file);
        return false;
    }
    AppState.fileHandle = file;
    AppState.fileState = FileIoState::Open;
    AppState.transferSize = size.QuadPart;
    AppState.fastOffset = 0;
    AppState.fastAcked = 0;
    AppState.fastDigest = 0;
    AppState.fastSending = 0;
    AppState.fastSentAtOnce = 0;
    AppState.resumedFrom = -1;
    AppState.bytesDone = 0;
    return true;
}

static bool sendNextPiece();

// A file that fits one piece goes straight after its request or its head, without waiting for the receiver's
// "RS": it has no resume record to continue from (it is under ResumeMinBytes), and that round trip was a good
// part of a small file's time. A receiver that did hold a part starts again at the piece of offset 0.
// fastSending stays 0, so the network thread sends nothing of its own.
bool fitsOnePiece()
{
    return AppState.transferSize <= FastPieceBytes;
}
static_assert(FastPieceBytes < ResumeMinBytes, "a file of one piece has no resume record");

// The served pull's one piece, then "EN"; an empty file is "EN" alone. Network thread.
void sendWholeFileNow()
{
    if (sendNextPiece())
        sendNextPiece();
}

// The request, the piece and "EN" of a push whose file fits one piece. The requester's thread only.
static char pushAtOnce[3 * FastHeaderBytes + FileHeadBytes + FastPathBytes + 8 + FastPieceBytes + 4];

// Built whole before any of it leaves: once the request is out, the network thread owns the transfer and may end
// it at once (the receiver refuses it), so this thread touches neither the file nor the transfer's fields after.
int sendPushWithFile(const unsigned char *request, int requestBytes)
{
    if (requestBytes < 0 || requestBytes > FileHeadBytes + FastPathBytes) {
        endWith(TransferOutcome::Failed, FastReason::Malformed);
        return 0;
    }
    char *out = pushAtOnce;
    int length = static_cast<int>(AppState.transferSize);
    unsigned char *data = reinterpret_cast<unsigned char *>(out + FastHeaderBytes + requestBytes + FastHeaderBytes);
    DWORD got = 0;
    if (length > 0 && (!ReadFile(AppState.fileHandle, data + 8, static_cast<DWORD>(length), &got, nullptr) ||
                       got != static_cast<DWORD>(length))) {
        endWith(TransferOutcome::Failed, FastReason::SourceChanged);
        return 0;
    }
    // A source rewritten meanwhile would pass a mixture off as the file.
    if (!sourceUnchanged()) {
        endWith(TransferOutcome::Failed, FastReason::SourceChanged);
        return 0;
    }
    abandonTransferFile();
    putFastHeader(out, FastPush, requestBytes);
    memcpy(out + FastHeaderBytes, request, static_cast<size_t>(requestBytes));
    int at = FastHeaderBytes + requestBytes;
    logSent(out, at);
    AppState.fastDigest = 0;
    if (length > 0) {
        putLittleEndian(data, 0, 8);
        AppState.fastDigest = crc32cUpdate(0, data + 8, static_cast<size_t>(length));
        putFastHeader(out + at, FastData, 8 + length);
        logSent(out + at, FastHeaderBytes + 8 + length);
        at += FastHeaderBytes + 8 + length;
    }
    putFastHeader(out + at, FastEnd, 4);
    putLittleEndian(reinterpret_cast<unsigned char *>(out + at + FastHeaderBytes), AppState.fastDigest, 4);
    logSent(out + at, FastHeaderBytes + 4);
    at += FastHeaderBytes + 4;
    AppState.fastOffset = length;
    AppState.bytesDone = length;
    if (!sendWhole(linkSocket(), out, at)) {
        int error = WSAGetLastError();
        return error != 0 ? error : SOCKET_ERROR;
    }
    return 0;
}

// Size and times of the open source into out (FileHeadBytes).
void putFileHead(unsigned char *out)
{
    putLittleEndian(out, static_cast<uint64_t>(AppState.transferSize), 8);
    for (int i = 0; i < 3; i++)
        putFileTime(out + 8 + i * FileTimeBytes, AppState.fastTimes[i]);
}

// "GE" in Waiting: the peer pulls a file.
void startServedFastPull(const unsigned char *payload, int bytes)
{
    FastReason reason = resolveFastPath(payload, bytes, PeerAccess::Read, AppState.sendSourcePath,
                                        COUNTOF(AppState.sendSourcePath));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    if (!openFastSource()) {
        refuseWith(FastReason::CannotRead);
        return;
    }
    unsigned char head[FileHeadBytes];
    putFileHead(head);
    AppState.fastSentAtOnce = fitsOnePiece() ? 1 : 0;
    if (sendFast(FastFileHead, head, sizeof(head)) == 0 && AppState.fastSentAtOnce)
        sendWholeFileNow();
}

// "RS": the receiver's part is checked against our first bytes, a slice at a time (sendingPartChecked).
void startSending(const unsigned char *payload, int bytes)
{
    // The whole file has gone already; what the receiver held it drops at the piece of offset 0.
    if (AppState.fastSentAtOnce)
        return;
    if (bytes < 12 || AppState.fileState != FileIoState::Open) {
        refuseWith(FastReason::Malformed);
        return;
    }
    uint64_t offset = getLittleEndian(payload, 8);
    uint32_t theirs = static_cast<uint32_t>(getLittleEndian(payload + 8, 4));
    // A part longer than the source cannot be of it: the whole file goes.
    if (offset > static_cast<uint64_t>(AppState.transferSize))
        offset = 0;
    startPartCheck(PartCheckSide::Sender, AppState.fileHandle, static_cast<int64_t>(offset), theirs);
}

// The data flows from where both sides agree: the receiver's part, or from 0 when its bytes are not ours.
void sendingPartChecked(bool same, int64_t bytes, uint32_t digest)
{
    int64_t offset = same ? bytes : 0;
    if (!seekTo(AppState.fileHandle, offset)) {
        refuseWith(FastReason::CannotRead);
        return;
    }
    AppState.fastOffset = offset;
    AppState.fastAcked = offset;
    AppState.fastDigest = same ? digest : 0;
    AppState.bytesDone = offset;
    AppState.resumedFrom = offset > 0 ? offset : -1;
    AppState.fastSending = 1;
}

bool sourceUnchanged()
{
    FILETIME created, accessed, written;
    LARGE_INTEGER size;
    return GetFileTime(AppState.fileHandle, &created, &accessed, &written) &&
           GetFileSizeEx(AppState.fileHandle, &size) && size.QuadPart == AppState.transferSize &&
           written.dwLowDateTime == AppState.fastTimes[2].dwLowDateTime &&
           written.dwHighDateTime == AppState.fastTimes[2].dwHighDateTime;
}

FastReason sendFilePiece(bool *more)
{
    *more = false;
    int64_t left = AppState.transferSize - AppState.fastOffset;
    if (left <= 0) {
        // A source rewritten meanwhile would pass a mixture off as the file.
        if (!sourceUnchanged())
            return FastReason::SourceChanged;
        sendNumber(FastEnd, AppState.fastDigest, 4);
        return FastReason::None;
    }
    int length = left < FastPieceBytes ? static_cast<int>(left) : FastPieceBytes;
    unsigned char *payload = reinterpret_cast<unsigned char *>(AppState.fastPiece + FastHeaderBytes);
    DWORD got = 0;
    if (!ReadFile(AppState.fileHandle, payload + 8, static_cast<DWORD>(length), &got, nullptr) ||
        got != static_cast<DWORD>(length))
        return FastReason::SourceChanged;
    putLittleEndian(payload, static_cast<uint64_t>(AppState.fastOffset), 8);
    AppState.fastDigest = crc32cUpdate(AppState.fastDigest, payload + 8, static_cast<size_t>(length));
    // A failed send means the link is gone; the receive loop ends the exchange and tells the user once.
    if (sendPiece(FastData, 8 + length) != 0)
        return FastReason::None;
    AppState.fastOffset += length;
    AppState.bytesDone = AppState.fastOffset;
    *more = true;
    return FastReason::None;
}

// One piece, or "EN" when the whole file has gone. False when nothing more can go now.
static bool sendNextPiece()
{
    bool more = false;
    FastReason reason = sendFilePiece(&more);
    if (!more)
        AppState.fastSending = 0;
    if (reason != FastReason::None) {
        refuseWith(reason);
        return false;
    }
    return more;
}

static bool fastTransferState(TransferState state)
{
    return state == TransferState::CallCopyTO || state == TransferState::CallCopyFrom;
}

void stopFastExchange()
{
    // Either direction: the peer drops its part of the exchange, and so does this side.
    sendFast(FastStop, nullptr, 0);
    deleteResumeInfo();
    endExchange(TransferOutcome::Stopped);
}

bool fastPump()
{
    if (!fastLinkOn())
        return false;
    TransferState state = AppState.transferState;
    if (AppState.stopRequest == StopRequest::Requested && fastTransferState(state)) {
        stopFastExchange();
        return false;
    }
    if (AppState.treeStream)
        return treePump();
    // Nothing else of the exchange moves while a part to be resumed is checked.
    if (stepPartCheck())
        return true;
    // A connection that has not taken the last piece yet gets no more until it does.
    if (sendHeld(linkSocket()))
        return false;
    if (!AppState.fastSending)
        return false;
    for (int i = 0; i < PiecesPerPump; i++) {
        if (AppState.fastOffset - AppState.fastAcked >= FastWindowBytes || sendHeld(linkSocket()))
            return false;
        if (!sendNextPiece())
            return false;
    }
    return true;
}

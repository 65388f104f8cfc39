// transfer_states.cpp: the engine while a file moves: the starts of a push or pull the peer asks for, the two
// sending states and the two receiving states.
#include "core/transfer_states.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/file_sender.h"
#include "core/protocol_engine.h"
#include "core/reports.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/send_ops.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

// Copies a request's path into incomingTargetA. False when there is none or it does not fit.
static bool takeRequestPath(const char *message, int textLen)
{
    return copyRequestPath(message, textLen, AppState.incomingTargetA, COUNTOF(AppState.incomingTargetA)) > 0;
}

void startServedPush(const char *message, int textLen)
{
    if (!takeRequestPath(message, textLen)) {
        refuseMessage();
        return;
    }
    // A target that is a folder or a device, or whose temporary name would not fit, is refused now, before any
    // data is sent for it. The target is the path as this side serves it, so what was checked is what gets
    // written.
    wchar_t target[PathChars];
    memset(target, 0, sizeof(target));
    int bytes = static_cast<int>(strnlen(AppState.incomingTargetA, COUNTOF(AppState.incomingTargetA)));
    if (!resolvePeerPath(AppState.incomingTargetA, bytes, PeerAccess::Write, target, COUNTOF(target)) ||
        wideToWire(target, -1, AppState.incomingTargetA, COUNTOF(AppState.incomingTargetA)) <= 0 ||
        !canReceiveInto(target)) {
        refuseMessage();
        return;
    }
    AppState.expectedBlock = 0;
    AppState.bytesDone = 0;
    sendAck();
    AppState.transferState = TransferState::RequestCopyTO;
    refreshStatus();
}

void startServedPull(const char *message, int textLen)
{
    memset(AppState.sendSourcePath, 0, sizeof(AppState.sendSourcePath));
    if (!takeRequestPath(message, textLen) ||
        !resolvePeerPath(AppState.incomingTargetA,
                         static_cast<int>(strnlen(AppState.incomingTargetA, COUNTOF(AppState.incomingTargetA))),
                         PeerAccess::Read, AppState.sendSourcePath, COUNTOF(AppState.sendSourcePath))) {
        refuseMessage();
        return;
    }
    AppState.transferState = TransferState::RequestCopyFrom;
    refreshStatus();
    AppState.blockCount = 0;
    int result = sendStep(BlockKind::FB, 0);
    if (result == SendStepBlockSent) {
        AppState.blockCount = 1;
        return;
    }
    // A missing source, a device or folder, or a file that cannot be read: refused, and nothing is created.
    if (result == SendStepStopped)
        refuseMessage();
    else
        endExchange(TransferOutcome::Done);
}

void handleSendingState(BlockKind kind, const char *message, int count)
{
    if (!isAck(message, count)) {
        refuseMessage();
        return;
    }
    if (AppState.stopRequest == StopRequest::Sent) {
        endExchange(TransferOutcome::Stopped);
        return;
    }
    if (AppState.stopRequest == StopRequest::Requested) {
        char tag[BlockHeaderBytes];
        buildStopTag(tag, kind);
        sendMessage(tag, BlockHeaderBytes);
        AppState.stopRequest = StopRequest::Sent;
        sendStep(kind, -1);
        return;
    }
    int result = sendStep(kind, AppState.blockCount);
    if (result == SendStepBlockSent) {
        AppState.blockCount++;
        return;
    }
    if (result == SendStepFinished) {
        endExchange(TransferOutcome::Done);
        return;
    }
    // A failed send is not answered (the answer would fail the same way, and the link is gone), but a source
    // that could not be opened or read must end the peer's side too.
    if (kind == BlockKind::FR || sendStepReadFailed())
        refuseMessage();
    else
        endExchange(TransferOutcome::Failed);
}

// The serving side of a push could not put the file in place: its user is told, since the pushing side
// cannot be (the trailer is not answered).
static void reportUnplacedFile()
{
    wchar_t text[PathChars + 96];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"受け取ったファイルを置けませんでした。元のファイルはそのままです。\r\n%ls",
               AppState.targetFileName);
    postReport(text, L"受信");
}

void handleReceivingState(BlockKind kind, const char *targetPathA, const char *message, int count)
{
    if (isStopTag(message, count, kind)) {
        // The temporary file goes; the target stays as it was.
        sendAck();
        endExchange(TransferOutcome::Stopped);
        return;
    }
    if (isTrailer(message, count, kind)) {
        // Times a short trailer lacks read as zero, which leaves that time alone.
        char times[TrailerBytes - BlockHeaderBytes];
        memset(times, 0, sizeof(times));
        int timeBytes = count - BlockHeaderBytes;
        memcpy(times, message + BlockHeaderBytes, timeBytes < static_cast<int>(sizeof(times)) ? timeBytes : sizeof(times));
        bool placed = writeStep(targetPathA, times, sizeof(times), TrailerNumber) == WriteStepFinished;
        if (!placed && kind == BlockKind::FR)
            reportUnplacedFile();
        endExchange(placed ? TransferOutcome::Done : TransferOutcome::Failed);
        return;
    }
    // Stop on a pull (a whole file that has already arrived is kept): the next block is answered with "NAK",
    // which ends the exchange on both sides.
    if (kind == BlockKind::FB && AppState.stopRequest == StopRequest::Requested) {
        sendMessage(NakMessage, 3);
        endExchange(TransferOutcome::Stopped);
        return;
    }
    int number = 0;
    if (isBlock(message, count, kind) && strictBlockNumber(message, &number)) {
        if (writeStep(targetPathA, message + BlockHeaderBytes, count - BlockHeaderBytes, number) ==
            WriteStepBlockWritten)
            sendAck();
        else
            refuseMessage();
        return;
    }
    refuseMessage();
}

// transfer_states.cpp: the engine while a file moves: the starts of a push or pull the peer asks for, the two
// sending states and the two receiving states.
#include "core/transfer_states.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/file_sender.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "net/message_sender.h"

#include <cstring>

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
    // A target whose temporary name would not fit is refused now, before any data is sent for it. The target
    // is the path as this side serves it, so what was checked is what gets written.
    wchar_t target[PathChars];
    wchar_t temporary[PathChars];
    memset(target, 0, sizeof(target));
    memset(temporary, 0, sizeof(temporary));
    int bytes = static_cast<int>(strnlen(AppState.incomingTargetA, COUNTOF(AppState.incomingTargetA)));
    if (!resolvePeerPath(AppState.incomingTargetA, bytes, PeerAccess::Write, target, COUNTOF(target)) ||
        wideToAnsi(target, -1, AppState.incomingTargetA, COUNTOF(AppState.incomingTargetA)) <= 0 ||
        !temporaryNameFor(target, temporary, COUNTOF(temporary))) {
        refuseMessage();
        return;
    }
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
    if (result == SendStepStopped)
        refuseMessage();
    AppState.transferState = TransferState::Waiting;
    refreshStatus();
}

void handleSendingState(BlockKind kind, const char *message, int count)
{
    if (!isAck(message, count)) {
        refuseMessage();
        return;
    }
    if (AppState.stopRequest == StopRequest::Sent) {
        AppState.stopRequest = StopRequest::None;
        AppState.transferState = TransferState::Waiting;
        refreshStatus();
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
    if (result == SendStepStopped) {
        // A failed send is not answered on the serving side (the answer would fail the same way), but a source
        // that could not be read must end the peer's side too.
        if (kind == BlockKind::FR || sendStepReadFailed())
            refuseMessage();
    }
    AppState.transferState = TransferState::Waiting;
    refreshStatus();
}

void handleReceivingState(BlockKind kind, const char *targetPathA, const char *message, int count)
{
    if (isStopTag(message, count, kind)) {
        // The temporary file goes; the target stays as it was.
        abandonTransferFile();
        AppState.transferState = TransferState::Waiting;
        refreshStatus();
        sendAck();
        return;
    }
    if (isTrailer(message, count, kind)) {
        writeStep(targetPathA, message + BlockHeaderBytes, TrailerBytes - BlockHeaderBytes, TrailerNumber);
        AppState.transferState = TransferState::Waiting;
        refreshStatus();
        return;
    }
    if (isBlock(message, count, kind)) {
        int number = sixDigitNumber(message);
        if (writeStep(targetPathA, message + BlockHeaderBytes, count - BlockHeaderBytes, number) != 0)
            sendAck();
        else
            refuseMessage();
        return;
    }
    refuseMessage();
}

// fast_tree.cpp: the tree stream as one exchange: its request, the messages of a running stream handed to the
// sender or the receiver, the requester's tally and overwrite decisions, and its end.
#include "core/fast_tree.h"
#include "core/fast_tree_internal.h"

#include "core/fast_link.h"
#include "core/fast_link_internal.h"
#include "core/fast_wire.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/send_ops.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

static const DWORD KeepAliveMs = 5000;  // while the user is asked, the peer hears this often that we are here

bool treeStreamOn()
{
    if (!fastLinkOn())
        return false;
    if (AppState.mode == ConnectionMode::Server) {
        int slot = AppState.exchangeSlot;
        return slot >= 0 && slot < ClientSlotCount && AppState.slotFramers[slot].trees != 0;
    }
    return AppState.clientFramer.trees != 0;
}

// ---- The queue ----------------------------------------------------------------------------------------------

TreeItem *treeItem(FastTree *tree, int index)
{
    return tree->items + (tree->head + index) % TreeQueueItems;
}

TreeItem *pushTreeItem(FastTree *tree)
{
    if (tree->count >= TreeQueueItems)
        return nullptr;
    TreeItem *item = treeItem(tree, tree->count++);
    memset(item, 0, sizeof(*item));
    return item;
}

void popTreeItem(FastTree *tree)
{
    if (tree->count <= 0)
        return;
    tree->head = (tree->head + 1) % TreeQueueItems;
    tree->count--;
    if (tree->decided > 0)
        tree->decided--;
    if (tree->answered > 0)
        tree->answered--;
    tree->frontOpen = false;
    tree->frontFailed = false;
}

// ---- Sending ------------------------------------------------------------------------------------------------

unsigned char *treeMessageSpace(FastTree *tree, int payloadBytes)
{
    if (payloadBytes < 0 || payloadBytes > FastMaxPayload)
        return nullptr;
    if (tree->batchBytes + FastHeaderBytes + payloadBytes > TreeBatchBytes && flushTreeMessages(tree) != 0)
        return nullptr;
    return reinterpret_cast<unsigned char *>(tree->batch + tree->batchBytes + FastHeaderBytes);
}

void queueTreeMessage(FastTree *tree, const char *tag, int payloadBytes)
{
    char *message = tree->batch + tree->batchBytes;
    putFastHeader(message, tag, payloadBytes);
    logSent(message, FastHeaderBytes + payloadBytes);
    tree->batchBytes += FastHeaderBytes + payloadBytes;
}

int flushTreeMessages(FastTree *tree)
{
    int bytes = tree->batchBytes;
    tree->batchBytes = 0;
    if (bytes == 0 || sendWhole(linkSocket(), tree->batch, bytes))
        return 0;
    int error = WSAGetLastError();
    return error != 0 ? error : SOCKET_ERROR;
}

int sendTreeMessage(const char *tag, const void *payload, int payloadBytes)
{
    FastTree *tree = AppState.fastTree;
    unsigned char *at = tree != nullptr ? treeMessageSpace(tree, payloadBytes) : nullptr;
    if (at == nullptr)
        return SOCKET_ERROR;
    if (payloadBytes > 0)
        memmove(at, payload, static_cast<size_t>(payloadBytes));
    queueTreeMessage(tree, tag, payloadBytes);
    return 0;
}

const wchar_t *treeRelative(const FastTree *tree, const wchar_t *path)
{
    size_t chars = wcsnlen(path, PathChars);
    if (chars <= static_cast<size_t>(tree->rootChars))
        return L"";
    return path + tree->rootChars + 1;
}

void sendTreeFailed(FastReason reason, const wchar_t *relative)
{
    unsigned char payload[1 + PathChars * 3];
    payload[0] = static_cast<unsigned char>(reason);
    int bytes = wideToWire(relative, -1, reinterpret_cast<char *>(payload + 1), static_cast<int>(sizeof(payload)) - 1);
    sendTreeMessage(FastTreeFailed, payload, 1 + (bytes > 0 ? bytes : 0));
}

// ---- The requester's tally ----------------------------------------------------------------------------------

void tallyPast(int64_t bytes)
{
    if (!AppState.fastTree->requester)
        return;
    AppState.treeTally.filesPast++;
    AppState.treeTally.bytesPast += bytes > 0 ? bytes : 0;
}

void tallyWritten(int64_t bytes)
{
    if (!AppState.fastTree->requester)
        return;
    AppState.treeTally.written++;
    tallyPast(bytes);
}

void tallySkipped(int64_t bytes)
{
    if (!AppState.fastTree->requester)
        return;
    AppState.treeTally.skipped++;
    tallyPast(bytes);
}

void tallyFailed(const wchar_t *relative, FastReason reason, int64_t bytes)
{
    if (!AppState.fastTree->requester)
        return;
    TreeTally &tally = AppState.treeTally;
    tally.failed++;
    if (bytes >= 0)
        tallyPast(bytes);
    if (tally.named < TreeNamedFailures) {
        wchar_t *name = tally.names[tally.named];
        memset(name, 0, sizeof(tally.names[0]));
        wcsncpy(name, relative, PathChars - 1);
        tally.reasons[tally.named++] = reason;
    }
}

void tallyMoving(const wchar_t *relative)
{
    if (!AppState.fastTree->requester)
        return;
    TreeTally &tally = AppState.treeTally;
    LONG next = tally.movingSlot ^ 1;
    memset(tally.moving[next], 0, sizeof(tally.moving[0]));
    wcsncpy(tally.moving[next], relative, PathChars - 1);
    InterlockedExchange(&tally.movingSlot, next);
}

// ---- The overwrite decision ---------------------------------------------------------------------------------

TreeItemState decideHeld(FastTree *tree, const TreeItem *item)
{
    bool incomingNewer = item->held == TreeHeld::Older;
    if (item->held == TreeHeld::Same && (tree->flags & TreeSkipSame))
        return TreeItemState::Skip;
    if (tree->standing == 3)  // OverwriteAnswer::OverwriteAll
        return TreeItemState::Send;
    if (tree->standing == 5)  // OverwriteAnswer::OverwriteNewer
        return incomingNewer ? TreeItemState::Send : TreeItemState::Skip;
    if (tree->standing == 6)  // OverwriteAnswer::SkipAll
        return TreeItemState::Skip;
    TreeAsk &ask = AppState.treeAsk;
    memset(&ask, 0, sizeof(ask));
    wcsncpy(ask.name, treeRelative(tree, item->path), PathChars - 1);
    ask.incomingSize = item->size;
    ask.incomingWritten = item->times[2];
    ask.existingSize = item->heldSize;
    ask.existingWritten = item->heldWritten;
    tree->asking = true;
    tree->lastKeepAlive = GetTickCount();
    InterlockedExchange(&AppState.treeQuestion, static_cast<LONG>(TreeQuestion::Asked));
    askTreeOverwrite();
    return TreeItemState::Held;
}

bool takeTreeAnswer(FastTree *tree, TreeItemState *decision)
{
    if (InterlockedCompareExchange(&AppState.treeQuestion, static_cast<LONG>(TreeQuestion::None),
                                   static_cast<LONG>(TreeQuestion::Answered)) !=
        static_cast<LONG>(TreeQuestion::Answered)) {
        // The peer waits on us: it hears that we are here, and our own silence clock does not run out.
        DWORD now = GetTickCount();
        AppState.lastHeard = now;
        if (now - tree->lastKeepAlive >= KeepAliveMs) {
            tree->lastKeepAlive = now;
            unsigned char here[8];
            putLittleEndian(here, static_cast<uint64_t>(tree->sending ? tree->streamAcked : tree->streamReceived), 8);
            sendTreeMessage(FastAck, here, sizeof(here));
        }
        return false;
    }
    tree->asking = false;
    tree->standing = AppState.treeStanding;
    int answer = AppState.treeAnswer;
    if (answer == 1)  // OverwriteAnswer::Overwrite
        *decision = TreeItemState::Send;
    else if (answer == 2)  // OverwriteAnswer::Skip
        *decision = TreeItemState::Skip;
    else {
        // 中止: the whole tree stops, as with Stop.
        *decision = TreeItemState::Skip;
        AppState.stopRequest = StopRequest::Requested;
    }
    return true;
}

// ---- The exchange -------------------------------------------------------------------------------------------

static void freeTree(FastTree *tree)
{
    if (tree == nullptr)
        return;
    free(tree->items);
    free(tree->batch);
    free(tree->held);
    free(tree);
}

static FastTree *newTree(bool sending, bool requester, uint8_t flags, const wchar_t *root)
{
    FastTree *tree = static_cast<FastTree *>(calloc(1, sizeof(FastTree)));
    if (tree == nullptr)
        return nullptr;
    tree->items = static_cast<TreeItem *>(calloc(TreeQueueItems, sizeof(TreeItem)));
    tree->batch = static_cast<char *>(malloc(TreeBatchBytes));
    tree->held = sending ? nullptr : static_cast<unsigned char *>(malloc(TreeHeldBytes));
    if (tree->items == nullptr || tree->batch == nullptr || (!sending && tree->held == nullptr)) {
        freeTree(tree);
        return nullptr;
    }
    tree->freshChars = -1;
    tree->sending = sending;
    tree->requester = requester;
    tree->flags = flags;
    size_t chars = wcsnlen(root, PathChars - 1);
    wmemcpy(tree->root, root, chars);
    tree->rootChars = static_cast<int>(chars);
    AppState.fastTree = tree;
    AppState.treeStream = 1;
    return tree;
}

static void resetTally()
{
    memset(&AppState.treeTally, 0, sizeof(AppState.treeTally));
    AppState.treeTally.filesTotal = -1;
    AppState.treeTally.bytesTotal = -1;
    InterlockedExchange(&AppState.treeQuestion, static_cast<LONG>(TreeQuestion::None));
}

int requestTreeStream(bool pull, const wchar_t *localRoot, const wchar_t *peerPath, int32_t standing)
{
    unsigned char payload[1 + PathChars * 3];
    payload[0] = TreeSkipSame;
    int bytes = wideToWire(peerPath, -1, reinterpret_cast<char *>(payload + 1), static_cast<int>(sizeof(payload)) - 1);
    if (bytes <= 0)
        return SOCKET_ERROR;
    resetTally();
    AppState.endReason = FastReason::None;
    AppState.transferSize = -1;
    AppState.resumedFrom = -1;
    AppState.bytesDone = 0;
    FastTree *tree = newTree(!pull, true, TreeSkipSame, localRoot);
    if (tree == nullptr)
        return SOCKET_ERROR;
    tree->standing = standing;
    // Sent at once, by the requester's thread: the network thread owns the batch.
    memcpy(AppState.fastPiece + FastHeaderBytes, payload, static_cast<size_t>(1 + bytes));
    int sent = sendPiece(pull ? FastTreePull : FastTreePush, 1 + bytes);
    if (sent != 0) {
        endTreeStream(TransferOutcome::Failed);
        return sent;
    }
    if (!pull)
        startTreeSending(tree);
    return 0;
}

bool serveTreeRequest(const char *message, int count)
{
    bool push = isFast(message, count, FastTreePush);
    if (!push && !isFast(message, count, FastTreePull))
        return false;
    if (!claimFast(push ? TransferState::RequestCopyTO : TransferState::RequestCopyFrom))
        return true;
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, count, &bytes);
    if (bytes < 2) {
        refuseWith(FastReason::Malformed);
        return true;
    }
    wchar_t root[PathChars];
    FastReason reason = resolveFastPath(payload + 1, bytes - 1, push ? PeerAccess::CreateFolder : PeerAccess::Read,
                                        root, COUNTOF(root));
    if (reason == FastReason::None && !push && !isFolderOnDisk(root))
        reason = FastReason::CannotRead;
    if (reason != FastReason::None) {
        refuseWith(reason);
        return true;
    }
    refreshStatus();
    FastTree *tree = newTree(!push, false, payload[0], root);
    if (tree == nullptr) {
        refuseWith(FastReason::CannotWrite);
        return true;
    }
    if (!push)
        startTreeSending(tree);
    return true;
}

void handleTreeMessage(const char *message, int count)
{
    FastTree *tree = AppState.fastTree;
    if (tree == nullptr)
        return;
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, count, &bytes);
    if (tree->sending) {
        if (isFast(message, count, FastTreeWord)) {
            takeTreeWord(tree, payload, bytes);
        } else if (isFast(message, count, FastAck) && bytes >= 8) {
            int64_t acked = static_cast<int64_t>(getLittleEndian(payload, 8));
            if (acked > tree->streamAcked)
                tree->streamAcked = acked;
        } else if (isFast(message, count, FastTreeFailed) && bytes >= 1) {
            wchar_t relative[PathChars];
            memset(relative, 0, sizeof(relative));
            wireToWide(reinterpret_cast<const char *>(payload + 1), bytes - 1, relative, COUNTOF(relative));
            // A file's bytes were counted as past when its data went.
            tallyFailed(relative, static_cast<FastReason>(payload[0]), -1);
        } else if (isFast(message, count, FastTreeEnd) && tree->phase == TreePhase::Ended) {
            // The receiver counts what it put in place.
            if (tree->requester && bytes >= 8)
                AppState.treeTally.written = static_cast<int64_t>(getLittleEndian(payload, 8));
            endExchange(TransferOutcome::Done);
        }
        return;
    }
    takeTreeEntry(tree, message, count);
}

bool treePump()
{
    FastTree *tree = AppState.fastTree;
    if (tree == nullptr)
        return false;
    // While a resumed file's part is checked nothing else of this side's stream moves, but what the pass took
    // in is answered (a receiver's acknowledgements of the files before it).
    bool checking = stepPartCheck();
    if (AppState.fastTree != tree)
        return false;
    // A connection that has not taken the last piece yet gets no more until it does.
    if (sendHeld(linkSocket()))
        return checking;
    bool more = checking || (tree->sending ? pumpTreeSending(tree) : pumpTreeReceiving(tree));
    // What this pass made goes in one send; an ended stream has sent its own.
    if (AppState.fastTree == tree && flushTreeMessages(tree) != 0)
        return false;
    return more;
}

void endTreeStream(TransferOutcome outcome)
{
    FastTree *tree = AppState.fastTree;
    AppState.treeStream = 0;
    AppState.fastTree = nullptr;
    InterlockedExchange(&AppState.treeQuestion, static_cast<LONG>(TreeQuestion::None));
    if (tree == nullptr)
        return;
    // A stream that ended whole sends its last words; any other end has told the peer already, and what waits
    // would come to it after the end.
    if (outcome == TransferOutcome::Done)
        flushTreeMessages(tree);
    if (tree->sending)
        endTreeSending(tree);
    else
        endTreeReceiving(tree, outcome);
    freeTree(tree);
}

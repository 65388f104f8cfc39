// fast_tree_send.cpp: the sending side of a tree stream: counts the tree, then walks it again and announces its
// entries ahead of their data ("TD", "TF", "TC"), and sends each file's data once the receiver's word on it has
// come. Announcing ahead is what spares a round trip per file: the words come back while data flows.
#include "core/fast_tree_internal.h"

#include "core/crc32c.h"
#include "core/fast_link_internal.h"
#include "core/fast_tree.h"
#include "core/fast_wire.h"
#include "core/file_receiver.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

static const int CountStepsPerPump = 4096;  // a stop is seen between them
static const int MessagesPerPump = 64;

enum class FrontStep { Progress, Wait, Gone };

void startTreeSending(FastTree *tree)
{
    tree->phase = TreePhase::Counting;
}

// path below the tree's folder, in wire text after a head of headBytes at fastPiece.
static int putRelativePath(FastTree *tree, const wchar_t *path, int headBytes)
{
    char *at = AppState.fastPiece + FastHeaderBytes + headBytes;
    int room = FastMaxPayload - headBytes;
    int bytes = wideToWire(treeRelative(tree, path), -1, at, room);
    return bytes > 0 ? bytes : 0;
}

static void entryOfWalk(const TreeWalk &walk, TreeEntryWire *entry)
{
    memset(entry, 0, sizeof(*entry));
    entry->size = walk.size;
    memcpy(entry->times, walk.times, sizeof(entry->times));
    entry->attributes = walk.attributes;
}

// "TD" or "TC" of the folder at path.
static int sendFolderEntry(FastTree *tree, const char *tag, const TreeEntryWire &head, const wchar_t *path)
{
    unsigned char *payload = reinterpret_cast<unsigned char *>(AppState.fastPiece + FastHeaderBytes);
    TreeEntryWire entry = head;
    entry.path = nullptr;
    entry.pathBytes = 0;
    putTreeFolder(payload, TreeFolderHeadBytes, entry);
    return sendTreeMessage(tag, payload, TreeFolderHeadBytes + putRelativePath(tree, path, TreeFolderHeadBytes));
}

static bool countSome(FastTree *tree)
{
    if (!tree->walkOpen) {
        if (!startTreeWalk(&tree->walk, tree->root)) {
            refuseWith(FastReason::CannotRead);
            return false;
        }
        tree->walkOpen = true;
    }
    for (int i = 0; i < CountStepsPerPump; i++) {
        WalkStep step = nextWalkStep(&tree->walk);
        if (step == WalkStep::File) {
            tree->totalFiles++;
            tree->totalBytes += tree->walk.size;
        } else if (step == WalkStep::End) {
            endTreeWalk(&tree->walk);
            unsigned char totals[16];
            putLittleEndian(totals, static_cast<uint64_t>(tree->totalFiles), 8);
            putLittleEndian(totals + 8, static_cast<uint64_t>(tree->totalBytes), 8);
            if (tree->requester) {
                AppState.treeTally.filesTotal = tree->totalFiles;
                AppState.treeTally.bytesTotal = tree->totalBytes;
            }
            if (sendTreeMessage(FastTreeTotal, totals, sizeof(totals)) != 0 ||
                !startTreeWalk(&tree->walk, tree->root)) {
                tree->phase = TreePhase::Ended;
                return false;
            }
            tree->phase = TreePhase::Streaming;
            return true;
        }
    }
    return true;
}

// An entry that is not sent: the requester names it; a server tells its requester.
static void entryNotSent(FastTree *tree, FastReason reason)
{
    const wchar_t *relative = treeRelative(tree, tree->walk.path);
    if (tree->requester)
        tallyFailed(relative, reason, -1);
    else
        sendTreeFailed(reason, relative);
}

// The next entry of the walk: a folder goes at once, a file is announced, a folder's end waits its turn. False
// when nothing more can be announced now.
static bool announceNext(FastTree *tree)
{
    if (tree->phase != TreePhase::Streaming || tree->count >= TreeQueueItems)
        return false;
    WalkStep step = nextWalkStep(&tree->walk);
    TreeEntryWire entry;
    entryOfWalk(tree->walk, &entry);
    switch (step) {
    case WalkStep::Folder:
        sendFolderEntry(tree, FastTreeFolder, entry, tree->walk.path);
        return true;
    case WalkStep::File: {
        TreeItem *item = pushTreeItem(tree);
        item->number = tree->nextNumber++;
        item->state = TreeItemState::Unanswered;
        item->size = tree->walk.size;
        item->attributes = tree->walk.attributes;
        memcpy(item->times, tree->walk.times, sizeof(item->times));
        wcsncpy(item->path, tree->walk.path, PathChars - 1);
        entry.number = item->number;
        unsigned char *payload = reinterpret_cast<unsigned char *>(AppState.fastPiece + FastHeaderBytes);
        putTreeFile(payload, TreeFileHeadBytes, entry);
        sendTreeMessage(FastTreeFile, payload,
                        TreeFileHeadBytes + putRelativePath(tree, tree->walk.path, TreeFileHeadBytes));
        return true;
    }
    case WalkStep::Close: {
        TreeItem *item = pushTreeItem(tree);
        item->state = TreeItemState::Close;
        item->attributes = tree->walk.attributes;
        memcpy(item->times, tree->walk.times, sizeof(item->times));
        wcsncpy(item->path, tree->walk.path, PathChars - 1);
        return true;
    }
    case WalkStep::Unfinished:
        entryNotSent(tree, FastReason::Unfinished);
        return true;
    case WalkStep::TooLong:
        entryNotSent(tree, FastReason::TooLong);
        return true;
    default:
        endTreeWalk(&tree->walk);
        tree->phase = TreePhase::Walked;
        return false;
    }
}

// The receiver's word on the first file that had none.
void takeTreeWord(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeWordWire word;
    TreeItem *item = nullptr;
    while (tree->answered < tree->count) {
        TreeItem *next = treeItem(tree, tree->answered++);
        if (next->state != TreeItemState::Close) {
            item = next;
            break;
        }
    }
    if (!parseTreeWord(payload, bytes, &word) || item == nullptr || item->state != TreeItemState::Unanswered ||
        word.number != item->number) {
        refuseWith(FastReason::Malformed);
        return;
    }
    item->held = word.held;
    item->reason = static_cast<FastReason>(word.reason);
    item->offset = word.offset;
    item->digest = word.digest;
    item->heldSize = word.heldSize;
    item->heldWritten = word.heldWritten;
    if (word.held == TreeHeld::Nothing)
        item->state = TreeItemState::Send;
    else if (word.held == TreeHeld::Declined)
        item->state = TreeItemState::Declined;
    else
        // Only the requester decides over a file that is there.
        item->state = tree->requester ? TreeItemState::Held : TreeItemState::Skip;
}

// Settles the files the receiver holds, in order; the user is asked about one at a time.
static void decideHeldFiles(FastTree *tree)
{
    for (int i = 0; i < tree->count; i++) {
        TreeItem *item = treeItem(tree, i);
        if (item->state == TreeItemState::Unanswered)
            return;
        if (item->state != TreeItemState::Held)
            continue;
        TreeItemState decision = TreeItemState::Held;
        if (tree->asking) {
            if (!takeTreeAnswer(tree, &decision))
                return;
        } else {
            decision = decideHeld(tree, item);
        }
        if (decision == TreeItemState::Held)
            return;
        item->state = decision;
        item->reason = FastReason::None;
        // Overwritten from the start: a part held for another source is no part of this one.
        if (decision == TreeItemState::Send && item->held != TreeHeld::Nothing)
            item->offset = 0;
    }
}

// A file's bytes so far (bytesDone) are zeroed before the tally counts the whole file, so that the dialog,
// reading both on another thread, never sees them twice.
static void fileEnded(FastTree *tree, const TreeItem *item, FastReason reason)
{
    AppState.bytesDone = 0;
    if (reason == FastReason::None)
        tallySkipped(item->size);
    else
        tallyFailed(treeRelative(tree, item->path), reason, item->size);
    abandonTransferFile();
    popTreeItem(tree);
}

static void sendSkip(const TreeItem *item, FastReason reason)
{
    unsigned char payload[5];
    putLittleEndian(payload, item->number, 4);
    payload[4] = static_cast<unsigned char>(reason);
    sendTreeMessage(FastTreeSkip, payload, sizeof(payload));
}

// The front file's data starts at offset, whose digest is given. A reason when the file cannot be read there.
static FastReason startFrontAt(int64_t offset, uint32_t digest)
{
    if (!seekTo(AppState.fileHandle, offset))
        return FastReason::CannotRead;
    AppState.fastOffset = offset;
    AppState.fastDigest = digest;
    AppState.bytesDone = offset;
    AppState.resumedFrom = offset > 0 ? offset : -1;
    return FastReason::None;
}

// Opens the front file; its data starts at 0, or where the receiver's part ends once our bytes before that are
// checked to be the part's. A reason when it cannot be sent as announced.
static FastReason openFront(FastTree *tree, TreeItem *item)
{
    memset(AppState.sendSourcePath, 0, sizeof(AppState.sendSourcePath));
    wcsncpy(AppState.sendSourcePath, item->path, COUNTOF(AppState.sendSourcePath) - 1);
    if (!openFastSource())
        return FastReason::CannotRead;
    if (AppState.transferSize != item->size || CompareFileTime(&AppState.fastTimes[2], &item->times[2]) != 0)
        return FastReason::SourceChanged;
    tree->frontOpen = true;
    tallyMoving(treeRelative(tree, item->path));
    if (item->offset <= 0 || item->offset > item->size)
        return startFrontAt(0, 0);
    startPartCheck(PartCheckSide::TreeSender, AppState.fileHandle, item->offset, item->digest);
    return FastReason::None;
}

void treeSourceChecked(bool same, int64_t bytes, uint32_t digest)
{
    FastTree *tree = AppState.fastTree;
    if (tree == nullptr || tree->count == 0)
        return;
    FastReason reason = same ? startFrontAt(bytes, digest) : startFrontAt(0, 0);
    if (reason != FastReason::None) {
        TreeItem *item = treeItem(tree, 0);
        sendSkip(item, reason);
        fileEnded(tree, item, reason);
    }
}

// A file of one piece: opened, read whole and let go at once, its data and end put in the batch. It is read one
// byte past its announced size, so a file grown since the walk is seen. A reason when it cannot go as announced.
static FastReason sendWholeSmallFile(FastTree *tree, TreeItem *item)
{
    int length = static_cast<int>(item->size);
    unsigned char *payload = treeMessageSpace(tree, 8 + length + 1);
    if (payload == nullptr)
        return FastReason::None;  // the link is gone: the receive loop ends the exchange
    HANDLE file = CreateFileW(item->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FastReason::CannotRead;
    DWORD got = 0;
    LARGE_INTEGER size;
    FILETIME written;
    // Size and time by the calls that only look at the open file: GetFileInformationByHandle also asks for the
    // volume's serial number, which costs a file's whole copy again under Wine.
    bool read = GetFileType(file) == FILE_TYPE_DISK &&
                ReadFile(file, payload + 8, static_cast<DWORD>(length + 1), &got, nullptr) &&
                GetFileSizeEx(file, &size) && GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    if (!read)
        return FastReason::CannotRead;
    if (got != static_cast<DWORD>(length) || size.QuadPart != item->size ||
        CompareFileTime(&written, &item->times[2]) != 0)
        return FastReason::SourceChanged;
    tallyMoving(treeRelative(tree, item->path));
    uint32_t digest = crc32cUpdate(0, payload + 8, static_cast<size_t>(length));
    if (length > 0) {
        putLittleEndian(payload, 0, 8);
        queueTreeMessage(tree, FastData, 8 + length);
    }
    unsigned char end[4];
    putLittleEndian(end, digest, 4);
    sendTreeMessage(FastEnd, end, sizeof(end));
    tree->streamSent += length;
    if (tree->requester)
        AppState.treeTally.bytesMoved += length;
    return FastReason::None;
}

static FrontStep sendFront(FastTree *tree)
{
    if (tree->count == 0)
        return FrontStep::Wait;
    TreeItem *item = treeItem(tree, 0);
    switch (item->state) {
    case TreeItemState::Close: {
        TreeEntryWire entry;
        memset(&entry, 0, sizeof(entry));
        entry.attributes = item->attributes;
        memcpy(entry.times, item->times, sizeof(entry.times));
        int sent = sendFolderEntry(tree, FastTreeClose, entry, item->path);
        popTreeItem(tree);
        return sent == 0 ? FrontStep::Progress : FrontStep::Gone;
    }
    case TreeItemState::Declined:
        fileEnded(tree, item, item->reason);
        return FrontStep::Progress;
    case TreeItemState::Skip:
        sendSkip(item, item->reason);
        fileEnded(tree, item, item->reason);
        return FrontStep::Progress;
    case TreeItemState::Send:
        break;
    default:
        return FrontStep::Wait;
    }
    if (tree->streamSent - tree->streamAcked >= FastWindowBytes)
        return FrontStep::Wait;
    if (!tree->frontOpen && item->size <= FastPieceBytes) {
        FastReason reason = sendWholeSmallFile(tree, item);
        if (reason != FastReason::None) {
            sendSkip(item, reason);
            fileEnded(tree, item, reason);
            return FrontStep::Progress;
        }
        AppState.bytesDone = 0;
        tallyPast(item->size);
        popTreeItem(tree);
        return FrontStep::Progress;
    }
    // A larger file's pieces go straight from the piece buffer: what waits in the batch goes before them.
    if (flushTreeMessages(tree) != 0)
        return FrontStep::Gone;
    if (!tree->frontOpen) {
        FastReason reason = openFront(tree, item);
        if (reason != FastReason::None) {
            sendSkip(item, reason);
            fileEnded(tree, item, reason);
            return FrontStep::Progress;
        }
        // Its first bytes are checked against the receiver's part before any of its data goes.
        if (partCheckRunning())
            return FrontStep::Progress;
    }
    int64_t before = AppState.fastOffset;
    bool more = false;
    FastReason reason = sendFilePiece(&more);
    int64_t piece = AppState.fastOffset - before;
    tree->streamSent += piece;
    if (tree->requester)
        AppState.treeTally.bytesMoved += piece;
    if (reason != FastReason::None) {
        // Pieces of it may have gone: the receiver drops its part at the "TK".
        sendSkip(item, reason);
        fileEnded(tree, item, reason);
        return FrontStep::Progress;
    }
    if (more)
        return FrontStep::Progress;
    AppState.bytesDone = 0;
    tallyPast(item->size);
    abandonTransferFile();
    popTreeItem(tree);
    return FrontStep::Progress;
}

bool pumpTreeSending(FastTree *tree)
{
    if (tree->phase == TreePhase::Ended)
        return false;
    if (tree->phase == TreePhase::Counting)
        return countSome(tree);
    decideHeldFiles(tree);
    bool progressed = false;
    for (int i = 0; i < MessagesPerPump && AppState.fastTree == tree; i++) {
        // The front file's first bytes are being checked against the receiver's part: its data waits.
        if (partCheckRunning())
            return true;
        FrontStep step = sendFront(tree);
        if (step == FrontStep::Gone)
            return false;
        if (step == FrontStep::Progress) {
            progressed = true;
            continue;
        }
        if (!announceNext(tree))
            break;
        progressed = true;
    }
    if (AppState.fastTree != tree)
        return false;
    if (tree->phase == TreePhase::Walked && tree->count == 0) {
        unsigned char totals[16];
        putLittleEndian(totals, static_cast<uint64_t>(tree->totalFiles), 8);
        putLittleEndian(totals + 8, static_cast<uint64_t>(tree->totalBytes), 8);
        sendTreeMessage(FastTreeEnd, totals, sizeof(totals));
        tree->phase = TreePhase::Ended;
        return false;
    }
    return progressed;
}

void endTreeSending(FastTree *tree)
{
    endTreeWalk(&tree->walk);
}

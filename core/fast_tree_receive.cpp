// fast_tree_receive.cpp: the receiving side of a tree stream: makes each folder as it comes, gives its word on
// each announced file (what it holds there), writes each file's data into its part and puts it in place by the
// fast receive's rule, and sets a folder's times and attributes once everything in it has come. Every path the
// peer sends is taken below the tree's folder, name by name; nothing it sends can reach outside.
#include "core/fast_tree_internal.h"

#include "core/crc32c.h"
#include "core/fast_link_internal.h"
#include "core/fast_tree.h"
#include "core/fast_wire.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

static_assert(TreeHeldBytes <= ResumeMinBytes, "a file held in memory is one a lost link would not resume");

// The attributes a copy carries: a folder all three, a file all but read-only, which would refuse the next copy.
static const DWORD FolderAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
static const DWORD FileAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// One name of a relative path: not empty, no up entry, nothing Windows refuses in a name, no trailing dot or
// blank (which Windows drops, naming another file).
static bool nameIsMakable(const wchar_t *name, size_t chars)
{
    if (chars == 0 || (chars == 1 && name[0] == L'.') || (chars == 2 && name[0] == L'.' && name[1] == L'.'))
        return false;
    if (name[chars - 1] == L'.' || name[chars - 1] == L' ')
        return false;
    for (size_t i = 0; i < chars; i++) {
        if (name[i] < 0x20 || wcschr(L"<>:\"/|?*", name[i]) != nullptr)
            return false;
    }
    return true;
}

// The local path of a path the peer sent, below the tree's folder, into out; relative gets the path as the
// summary names it. A reason when it names no place inside the tree's folder.
static FastReason localPathOf(FastTree *tree, const char *path, int bytes, wchar_t *out, wchar_t *relative)
{
    memset(out, 0, sizeof(wchar_t) * PathChars);
    memset(relative, 0, sizeof(wchar_t) * PathChars);
    if (bytes == 0) {
        wmemcpy(out, tree->root, static_cast<size_t>(tree->rootChars));
        return FastReason::None;
    }
    if (memchr(path, 0, static_cast<size_t>(bytes)) != nullptr)
        return FastReason::Malformed;
    int chars = wireToWide(path, bytes, relative, PathChars);
    if (chars <= 0)
        return chars < 0 ? FastReason::TooLong : FastReason::Malformed;
    for (const wchar_t *name = relative;;) {
        const wchar_t *end = wcschr(name, L'\\');
        size_t length = end != nullptr ? static_cast<size_t>(end - name) : wcslen(name);
        if (!nameIsMakable(name, length))
            return FastReason::BadName;
        if (end == nullptr)
            break;
        name = end + 1;
    }
    if (!joinPathN(tree->root, tree->rootChars, relative, out, PathChars))
        return FastReason::TooLong;
    return FastReason::None;
}

// An entry this side could not make or fill: the requester names it, a server tells its requester.
static void entryFailed(FastTree *tree, const wchar_t *relative, FastReason reason, int64_t bytes)
{
    if (tree->requester)
        tallyFailed(relative, reason, bytes);
    else
        sendTreeFailed(reason, relative);
}

// True when path lies below the folder this stream made itself.
static bool belowFresh(const FastTree *tree, const wchar_t *path)
{
    int chars = tree->freshChars;
    return chars >= 0 && wcsncmp(path, tree->fresh, static_cast<size_t>(chars)) == 0 && path[chars] == L'\\';
}

static void makeFolder(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeEntryWire entry;
    wchar_t path[PathChars];
    wchar_t relative[PathChars];
    if (!parseTreeFolder(payload, bytes, &entry)) {
        refuseWith(FastReason::Malformed);
        return;
    }
    FastReason reason = localPathOf(tree, entry.path, entry.pathBytes, path, relative);
    bool made = reason == FastReason::None && CreateDirectoryW(path, nullptr);
    if (reason == FastReason::None && !made && !isFolderOnDisk(path))
        reason = GetLastError() == ERROR_DISK_FULL ? FastReason::DiskFull : FastReason::CannotWrite;
    if (!belowFresh(tree, path)) {
        // The walk is depth first: a folder outside the fresh one means the fresh one's entries have all come.
        tree->freshChars = made ? static_cast<int>(wcsnlen(path, PathChars - 1)) : -1;
        if (made)
            wmemcpy(tree->fresh, path, static_cast<size_t>(tree->freshChars) + 1);
    }
    if (reason != FastReason::None)
        entryFailed(tree, relative, reason, -1);
}

// Everything in the folder has come: it takes its source's times, which writing into it had moved, and then its
// attributes (a read-only folder could take nothing more).
static void closeFolder(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeEntryWire entry;
    wchar_t path[PathChars];
    wchar_t relative[PathChars];
    if (!parseTreeFolder(payload, bytes, &entry) ||
        localPathOf(tree, entry.path, entry.pathBytes, path, relative) != FastReason::None)
        return;
    HANDLE folder = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder != INVALID_HANDLE_VALUE) {
        SetFileTime(folder, &entry.times[0], &entry.times[1], &entry.times[2]);
        CloseHandle(folder);
    }
    if (entry.attributes & FolderAttributes)
        SetFileAttributesW(path, FILE_ATTRIBUTE_DIRECTORY | (entry.attributes & FolderAttributes));
    // A pane that shows the folder, or the one that holds it, lists it again once, not once a file.
    fileArrived(path);
    size_t chars = wcsnlen(path, PathChars);
    if (chars + 1 < PathChars) {
        path[chars] = L'\\';
        path[chars + 1] = 0;
        fileArrived(path);
    }
}

static void sendWord(const TreeItem *item, TreeHeld held, FastReason reason)
{
    TreeWordWire word;
    memset(&word, 0, sizeof(word));
    word.number = item->number;
    word.held = held;
    word.reason = static_cast<uint8_t>(reason);
    word.offset = item->offset;
    word.digest = item->digest;
    word.heldSize = item->heldSize;
    word.heldWritten = item->heldWritten;
    unsigned char payload[TreeWordBytes];
    putTreeWord(payload, word);
    sendTreeMessage(FastTreeWord, payload, sizeof(payload));
}

// What this side holds at the item's target, into its fields; Declined with a reason for a target it cannot write.
// A part an interrupted copy of the same file left is digested before the word goes (tree->checking).
static TreeHeld lookAtTarget(FastTree *tree, TreeItem *item)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    TreeHeld held = TreeHeld::Nothing;
    if (GetFileAttributesExW(item->path, GetFileExInfoStandard, &data)) {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            item->reason = FastReason::CannotWrite;
            return TreeHeld::Declined;
        }
        item->heldSize = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        item->heldWritten = data.ftLastWriteTime;
        int order = CompareFileTime(&item->times[2], &data.ftLastWriteTime);
        if (order == 0 && item->heldSize == item->size)
            held = TreeHeld::Same;
        else
            held = order > 0 ? TreeHeld::Older : TreeHeld::Newer;
    }
    if (!canReceivePartInto(item->path)) {
        item->reason = FastReason::BadName;
        return TreeHeld::Declined;
    }
    int64_t bytes = 0;
    HANDLE part = openHeldPart(item->path, item->size, item->times[2], &bytes);
    if (part != INVALID_HANDLE_VALUE) {
        tree->checking = true;
        startPartCheck(PartCheckSide::TreeReceiver, part, bytes, 0);
    }
    return held;
}

void treePartChecked(bool read, int64_t bytes, uint32_t digest)
{
    FastTree *tree = AppState.fastTree;
    if (tree == nullptr)
        return;
    tree->checking = false;
    if (tree->answered >= tree->count)
        return;
    TreeItem *item = treeItem(tree, tree->answered);
    item->offset = read ? bytes : 0;
    item->digest = read ? digest : 0;
}

static void popDeclinedFront(FastTree *tree)
{
    while (tree->count > 0 && tree->answered > 0 && treeItem(tree, 0)->state == TreeItemState::Declined)
        popTreeItem(tree);
}

// Gives the item its word: data to come, or none.
static void answerItem(FastTree *tree, TreeItem *item, TreeHeld held)
{
    tree->answered++;
    if (held == TreeHeld::Declined) {
        sendWord(item, held, item->reason);
        item->state = TreeItemState::Declined;
        // The word says why; a requester that sends names it from there.
        if (item->reason == FastReason::None)
            tallySkipped(item->size);
        else
            tallyFailed(treeRelative(tree, item->path), item->reason, item->size);
        return;
    }
    sendWord(item, held, FastReason::None);
    item->state = TreeItemState::Send;
}

// Words for the files announced, in order. The requester settles a file it holds itself (asking the user when
// nothing it was told covers it); a server tells what it holds and the requester decides.
static void answerFiles(FastTree *tree)
{
    if (tree->asking) {
        TreeItemState decision;
        if (!takeTreeAnswer(tree, &decision))
            return;
        TreeItem *item = treeItem(tree, tree->answered);
        if (decision == TreeItemState::Skip)
            item->reason = FastReason::None;
        answerItem(tree, item, decision == TreeItemState::Send ? TreeHeld::Nothing : TreeHeld::Declined);
    }
    while (!tree->asking && !tree->checking && tree->answered < tree->count) {
        TreeItem *item = treeItem(tree, tree->answered);
        if (!item->looked && item->state != TreeItemState::Declined && !item->fresh) {
            item->looked = true;
            item->held = lookAtTarget(tree, item);
            if (tree->checking)
                break;
        }
        TreeHeld held = item->state == TreeItemState::Declined ? TreeHeld::Declined
                        : item->fresh                                  ? TreeHeld::Nothing
                                                                       : item->held;
        if (tree->requester && held != TreeHeld::Nothing && held != TreeHeld::Declined) {
            item->held = held;
            TreeItemState decision = decideHeld(tree, item);
            if (decision == TreeItemState::Held)
                break;
            if (decision == TreeItemState::Skip)
                item->reason = FastReason::None;
            held = decision == TreeItemState::Send ? TreeHeld::Nothing : TreeHeld::Declined;
        }
        answerItem(tree, item, held);
    }
    popDeclinedFront(tree);
}

static void announced(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeEntryWire entry;
    TreeItem *item = nullptr;
    if (!parseTreeFile(payload, bytes, &entry) || (item = pushTreeItem(tree)) == nullptr) {
        refuseWith(FastReason::Malformed);
        return;
    }
    item->number = entry.number;
    item->size = entry.size;
    item->attributes = entry.attributes;
    memcpy(item->times, entry.times, sizeof(item->times));
    item->state = TreeItemState::Unanswered;
    wchar_t relative[PathChars];
    item->reason = localPathOf(tree, entry.path, entry.pathBytes, item->path, relative);
    if (item->reason != FastReason::None) {
        // Named by what could be read of it.
        memset(item->path, 0, sizeof(item->path));
        joinPathN(tree->root, tree->rootChars, relative, item->path, PathChars);
        item->state = TreeItemState::Declined;
    }
    item->fresh = belowFresh(tree, item->path);
    const wchar_t *name = wcsrchr(item->path, L'\\');
    name = name != nullptr ? name + 1 : item->path;
    item->direct = item->fresh && item->size < TreeHeldBytes && !isDeviceName(name, static_cast<int>(wcslen(name)));
    answerFiles(tree);
}

// The front file, which data may come for; null (the stream refused) when there is none.
static TreeItem *dataFront(FastTree *tree)
{
    popDeclinedFront(tree);
    if (tree->count == 0 || treeItem(tree, 0)->state != TreeItemState::Send) {
        refuseWith(FastReason::Malformed);
        return nullptr;
    }
    return treeItem(tree, 0);
}

static void frontFailed(FastTree *tree, TreeItem *item, FastReason reason)
{
    AppState.bytesDone = 0;
    deleteResumeInfo();
    abandonTransferFile();
    tree->frontFailed = true;
    entryFailed(tree, treeRelative(tree, item->path), reason, item->size);
}

static bool openFront(FastTree *tree, TreeItem *item)
{
    if (tree->frontOpen)
        return true;
    AppState.transferSize = item->size;
    memcpy(AppState.fastTimes, item->times, sizeof(AppState.fastTimes));
    if (!openReceivePart(item->path, item->offset, item->digest)) {
        frontFailed(tree, item, FastReason::CannotWrite);
        return false;
    }
    tree->frontOpen = true;
    tallyMoving(treeRelative(tree, item->path));
    return true;
}

static void frontEnded(FastTree *tree)
{
    AppState.bytesDone = 0;
    tree->heldBytes = 0;
    tree->heldDigest = 0;
    popTreeItem(tree);
    popDeclinedFront(tree);
}

// A direct file's piece, held in memory. False when it does not follow what came before it.
static bool holdPiece(FastTree *tree, const TreeItem *item, const unsigned char *payload, int bytes)
{
    if (bytes < 8)
        return false;
    int64_t offset = static_cast<int64_t>(getLittleEndian(payload, 8));
    int length = bytes - 8;
    if (offset == 0) {
        tree->heldBytes = 0;
        tree->heldDigest = 0;
        tallyMoving(treeRelative(tree, item->path));
    }
    if (offset != tree->heldBytes || length > item->size - offset)
        return false;
    memcpy(tree->held + offset, payload + 8, static_cast<size_t>(length));
    tree->heldDigest = crc32cUpdate(tree->heldDigest, payload + 8, static_cast<size_t>(length));
    tree->heldBytes += length;
    AppState.bytesDone = tree->heldBytes;
    return true;
}

// A direct file whose digest holds is made at once with its attributes, written and given its times: nothing
// else can be at its name, and it is never there unchecked or in part (one that fails to be written goes).
static FastReason makeHeldFile(FastTree *tree, const TreeItem *item, const unsigned char *payload, int bytes)
{
    if (bytes < 4 || tree->heldBytes != item->size)
        return FastReason::Malformed;
    if (static_cast<uint32_t>(getLittleEndian(payload, 4)) != tree->heldDigest)
        return FastReason::Digest;
    DWORD attributes = item->attributes & FileAttributes;
    HANDLE file = CreateFileW(item->path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool whole = file != INVALID_HANDLE_VALUE &&
                 (tree->heldBytes == 0 ||
                  (WriteFile(file, tree->held, static_cast<DWORD>(tree->heldBytes), &written, nullptr) &&
                   written == static_cast<DWORD>(tree->heldBytes)));
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        // Times that cannot be set leave the bytes right: the file is kept, as any other copy keeps it.
        const FILETIME *t = item->times;
        if (whole)
            SetFileTime(file, (t[0].dwLowDateTime | t[0].dwHighDateTime) ? &t[0] : nullptr,
                        (t[1].dwLowDateTime | t[1].dwHighDateTime) ? &t[1] : nullptr,
                        (t[2].dwLowDateTime | t[2].dwHighDateTime) ? &t[2] : nullptr);
        CloseHandle(file);
        if (!whole)
            DeleteFileW(item->path);
    }
    if (whole)
        return FastReason::None;
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? FastReason::DiskFull
                                                                        : FastReason::CannotWrite;
}

static void takeData(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeItem *item = dataFront(tree);
    if (item == nullptr)
        return;
    int64_t piece = bytes > 8 ? bytes - 8 : 0;
    tree->streamReceived += piece;
    if (tree->requester)
        AppState.treeTally.bytesMoved += piece;
    if (tree->streamReceived - tree->streamAckedAt >= FastAckEveryBytes) {
        tree->streamAckedAt = tree->streamReceived;
        unsigned char acked[8];
        putLittleEndian(acked, static_cast<uint64_t>(tree->streamReceived), 8);
        sendTreeMessage(FastAck, acked, sizeof(acked));
    }
    if (tree->frontFailed)
        return;
    if (item->direct) {
        if (!holdPiece(tree, item, payload, bytes))
            frontFailed(tree, item, FastReason::Malformed);
        return;
    }
    if (!openFront(tree, item))
        return;
    FastReason reason = writeReceivedPiece(payload, bytes);
    if (reason != FastReason::None)
        frontFailed(tree, item, reason);
}

static void takeEnd(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeItem *item = dataFront(tree);
    if (item == nullptr)
        return;
    if (item->direct && !tree->frontFailed) {
        if (tree->heldBytes == 0)
            tallyMoving(treeRelative(tree, item->path));
        FastReason reason = makeHeldFile(tree, item, payload, bytes);
        if (reason != FastReason::None) {
            frontFailed(tree, item, reason);
        } else {
            tree->writtenFiles++;
            tree->writtenBytes += item->size;
            AppState.bytesDone = 0;
            tallyWritten(item->size);
        }
    } else if (!tree->frontFailed && openFront(tree, item)) {
        FastReason reason = putReceivedInPlace(payload, bytes);
        if (reason != FastReason::None) {
            frontFailed(tree, item, reason);
        } else {
            if (item->attributes & FileAttributes)
                SetFileAttributesW(item->path, item->attributes & FileAttributes);
            tree->writtenFiles++;
            tree->writtenBytes += item->size;
            AppState.bytesDone = 0;
            tallyWritten(item->size);
        }
    }
    frontEnded(tree);
}

// "TK": no data comes for the front file (any that came is dropped).
static void takeSkip(FastTree *tree, const unsigned char *payload, int bytes)
{
    TreeItem *item = dataFront(tree);
    if (item == nullptr)
        return;
    if (bytes < 5 || static_cast<uint32_t>(getLittleEndian(payload, 4)) != item->number) {
        refuseWith(FastReason::Malformed);
        return;
    }
    FastReason reason = static_cast<FastReason>(payload[4]);
    if (tree->frontOpen && !tree->frontFailed) {
        deleteResumeInfo();
        abandonTransferFile();
    }
    AppState.bytesDone = 0;
    if (!tree->frontFailed) {
        if (reason == FastReason::None)
            tallySkipped(item->size);
        else
            entryFailed(tree, treeRelative(tree, item->path), reason, item->size);
    }
    frontEnded(tree);
}

void takeTreeEntry(FastTree *tree, const char *message, int count)
{
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, count, &bytes);
    if (isFast(message, count, FastData)) {
        takeData(tree, payload, bytes);
    } else if (isFast(message, count, FastTreeFile)) {
        announced(tree, payload, bytes);
    } else if (isFast(message, count, FastEnd)) {
        takeEnd(tree, payload, bytes);
    } else if (isFast(message, count, FastTreeFolder)) {
        makeFolder(tree, payload, bytes);
    } else if (isFast(message, count, FastTreeClose)) {
        closeFolder(tree, payload, bytes);
    } else if (isFast(message, count, FastTreeSkip)) {
        takeSkip(tree, payload, bytes);
    } else if (isFast(message, count, FastTreeTotal) && bytes >= 16) {
        if (tree->requester) {
            AppState.treeTally.filesTotal = static_cast<int64_t>(getLittleEndian(payload, 8) & INT64_MAX);
            AppState.treeTally.bytesTotal = static_cast<int64_t>(getLittleEndian(payload + 8, 8) & INT64_MAX);
        }
    } else if (isFast(message, count, FastTreeFailed) && bytes >= 1) {
        wchar_t relative[PathChars];
        memset(relative, 0, sizeof(relative));
        wireToWide(reinterpret_cast<const char *>(payload + 1), bytes - 1, relative, COUNTOF(relative));
        tallyFailed(relative, static_cast<FastReason>(payload[0]), -1);
    } else if (isFast(message, count, FastTreeEnd)) {
        if (tree->count != 0) {
            refuseWith(FastReason::Malformed);
            return;
        }
        unsigned char written[16];
        putLittleEndian(written, static_cast<uint64_t>(tree->writtenFiles), 8);
        putLittleEndian(written + 8, static_cast<uint64_t>(tree->writtenBytes), 8);
        sendTreeMessage(FastTreeEnd, written, sizeof(written));
        endExchange(TransferOutcome::Done);
    }
    // "AK" from a sender whose user is asked only says it is there.
}

bool pumpTreeReceiving(FastTree *tree)
{
    // The question's answer, or the files after a part just checked.
    if (tree->asking || tree->answered < tree->count)
        answerFiles(tree);
    return false;
}

void endTreeReceiving(FastTree *, TransferOutcome outcome)
{
    // A lost link keeps the part with its resume record for the same copy again; anything else removes it.
    if (outcome != TransferOutcome::LinkLost && outcome != TransferOutcome::Failed)
        deleteResumeInfo();
}

// copy_tree.cpp: copies a whole folder, both ways: in one exchange on a link that speaks the tree stream, else
// one exchange at a time: "CD" makes each folder on the peer, "DD" lists each peer folder into the tree table,
// "FD" or "FC" moves each file. The copy dialog starts each step and calls back when it has ended; nothing here
// waits. Its statics are reset by resetAppState through resetUiModules().
#include "dialogs/copy_dialog.h"

#include "core/text_codec.h"
#include "core/tree_listing.h"
#include "core/dir_table.h"
#include "core/fast_link.h"
#include "core/fast_tree.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

constexpr int MaxTreeDepth = 16;      // folders below the copied one
constexpr int PendingFolders = 256;   // folders found and not yet copied

struct TreeFolder {
    wchar_t source[PathChars];
    wchar_t destination[PathChars];
    int32_t depth;
    bool trial;        // a peer row of type 8 with no size: a folder if it lists, else a file
    int64_t total;     // the file's size when the trial finds a file
    bool approximate;
    FileFacts row;     // pull: size and date of its row in the listing above it
};

enum class TreePhase { Idle, CreatePeer, ListNewPeer, ListPeer, Files, Stream };

// Pull: a folder made here that takes its peer row's time once everything under it is written (writing its
// files would move the time again). Its subtree is done when the walk comes back to the pending entries that
// were there before it.
struct TimedFolder {
    wchar_t path[PathChars];
    FILETIME written;
    int base;  // pending entries below its own found folders
};

static struct {
    bool running;
    bool fromPeer;
    bool cancelled;
    TreePhase phase;
    TreeFolder pending[PendingFolders];
    int pendingCount;
    int folderBase;               // pending entries found in the current folder start here
    TreeFolder current;
    size_t rootChars;             // characters of the source before the names the summary shows
    HANDLE find;                  // push: the search of the current local folder
    bool findStarted;
    int rowCursor;                // pull: the next row of the tree table
    int subfoldersAhead;          // folders of the current one that the walk has not met yet
    int folderFiles;              // files of the current folder counted into the whole copy
    TimedFolder timed[MaxTreeDepth + 2];  // the folders open around the current one, outermost first
    int timedCount;
    int64_t folderBytes;
    wchar_t fileName[PathChars];  // the file now moving, as the summary names it
} tree;

void resetTreeCopy()
{
    if (tree.find != INVALID_HANDLE_VALUE && tree.find != nullptr)
        FindClose(tree.find);
    memset(&tree, 0, sizeof(tree));
    tree.find = INVALID_HANDLE_VALUE;
}

static const wchar_t TooLongReason[] = L"パスが長すぎます";
static const wchar_t TooDeepReason[] = L"フォルダが深すぎます";
static const wchar_t TooManyReason[] = L"フォルダが多すぎます";
static const wchar_t NoFolderReason[] = L"フォルダを作れません";
static const wchar_t NoListingReason[] = L"一覧を取れません";

static const wchar_t *shownName(const wchar_t *source)
{
    size_t chars = wcslen(source);
    return chars > tree.rootChars ? source + tree.rootChars : source;
}

static void fail(const wchar_t *source, const wchar_t *reason)
{
    recordCopyResult(shownName(source), CopyResult::Failed, reason, false);
}

// An entry of the current folder whose own path did not fit: named by the folder's shown name and its own.
static void failChild(const wchar_t *name, const wchar_t *reason)
{
    wchar_t shown[PathChars * 2];
    if (!joinFolderName(shownName(tree.current.source), name, shown, COUNTOF(shown)))
        wcsncpy(shown, name, COUNTOF(shown) - 1);
    recordCopyResult(shown, CopyResult::Failed, reason, false);
}

// Listing records go back to the peer pane.
static void endTreeListing()
{
    AppState.treeListing = 0;
}

static void closeSearch()
{
    if (tree.find != INVALID_HANDLE_VALUE && tree.find != nullptr)
        FindClose(tree.find);
    tree.find = INVALID_HANDLE_VALUE;
    tree.findStarted = false;
}

// A folder found inside the current one waits its turn; a path too long, too deep or past the full table is
// refused and told.
static bool queueEntry(const wchar_t *name, bool trial);

static void queueFolder(const wchar_t *name)
{
    queueEntry(name, false);
}

// A trial is not told when it cannot wait: it is taken as the file its type code says. False then.
static bool queueEntry(const wchar_t *name, bool trial)
{
    TreeFolder *next = tree.pending + tree.pendingCount;
    wchar_t source[PathChars];
    if (!joinFolderName(tree.current.source, name, source, PathChars)) {
        if (!trial)
            failChild(name, TooLongReason);
        return false;
    }
    if (tree.current.depth + 1 > MaxTreeDepth) {
        if (!trial)
            fail(source, TooDeepReason);
        return false;
    }
    if (tree.pendingCount >= PendingFolders) {
        if (!trial)
            fail(source, TooManyReason);
        return false;
    }
    if (!joinFolderName(tree.current.destination, name, next->destination, PathChars)) {
        if (!trial)
            fail(source, TooLongReason);
        return false;
    }
    memcpy(next->source, source, sizeof(source));
    next->depth = tree.current.depth + 1;
    next->trial = trial;
    tree.pendingCount++;
    return true;
}

// The folders found in one folder are taken in the order they were found.
static void orderFoundFolders()
{
    for (int low = tree.folderBase, high = tree.pendingCount - 1; low < high; ++low, --high) {
        TreeFolder swap = tree.pending[low];
        tree.pending[low] = tree.pending[high];
        tree.pending[high] = swap;
    }
}

// The reason of a step refused here that leaves the rest of the tree to go; null for one that ends it.
static const wchar_t *refusalReason(RequestStart started)
{
    if (started == RequestStart::TooLong)
        return TooLongReason;
    if (started == RequestStart::Unwritable)
        return UnwritableNameReason;
    return nullptr;
}

static RequestStart sendPathRequest(const char *tag, const wchar_t *path, TransferState state)
{
    char pathA[FastPathBytes];
    char message[FastPathBytes + 2];
    if (!codePageHolds(path))
        return RequestStart::Unwritable;
    if (pathToWire(path, pathA, COUNTOF(pathA)) <= 0)
        return RequestStart::TooLong;
    int length = buildPathRequest(message, COUNTOF(message), tag, pathA);
    if (length < 0)
        return RequestStart::TooLong;
    clearTreeListing();
    AppState.treeListing = 1;
    RequestStart started = startTreeExchange(message, length, state);
    if (started != RequestStart::Started)
        endTreeListing();
    return started;
}


static bool nextEntry(HWND dialog);

// The peer row's date, to the minute it carries, as a file time; false when the row has none.
static bool rowWriteTime(const FileFacts &row, FILETIME *out)
{
    SYSTEMTIME local, utc;
    return rowDateTime(row.date, &local) && TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) &&
           SystemTimeToFileTime(&utc, out);
}

// The current folder, made here by a pull, gets its row's time when its subtree is done.
static void timeCurrentFolder()
{
    FILETIME written;
    if (!tree.fromPeer || tree.timedCount >= static_cast<int>(COUNTOF(tree.timed)) ||
        !rowWriteTime(tree.current.row, &written))
        return;
    TimedFolder *folder = tree.timed + tree.timedCount++;
    memcpy(folder->path, tree.current.destination, sizeof(folder->path));
    folder->written = written;
    folder->base = tree.folderBase;
}

// Sets the time of every open folder whose subtree is done: nothing pending is left above its base.
static void closeTimedFolders(int pending)
{
    while (tree.timedCount > 0 && tree.timed[tree.timedCount - 1].base >= pending) {
        TimedFolder *folder = tree.timed + --tree.timedCount;
        HANDLE handle = CreateFileW(folder->path, FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        // A folder whose time cannot be set keeps today's: its files are all there, and nothing else can be done.
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        SetFileTime(handle, nullptr, nullptr, &folder->written);
        CloseHandle(handle);
    }
}

// Push: the files of a local folder go into the whole copy as the folder is taken; its folders are met later.
static void countLocalFolder(const wchar_t *folder)
{
    wchar_t pattern[PathChars];
    WIN32_FIND_DATAW found;
    if (!joinFolderName(folder, L"*", pattern, PathChars))
        return;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (isUpFolderName(found.cFileName))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree.subfoldersAhead++;
            continue;
        }
        if (isResumeRecordName(found.cFileName) || isTemporaryName(found.cFileName))
            continue;
        tree.folderFiles++;
        tree.folderBytes += (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    wholeFilesFound(tree.folderFiles, tree.folderBytes, false);
}

// Pull: the files of a peer folder's listing go into the whole copy once it has come in.
static void countPeerListing()
{
    wchar_t size[64];
    for (int i = 0; i < treeRowCount(); ++i) {
        const TreeRow *row = treeRow(i);
        if (row->type == TypeFolder) {
            tree.subfoldersAhead++;
            continue;
        }
        if (row->type != TypeOther)
            continue;
        memset(size, 0, sizeof(size));
        wireToWide(row->size, -1, size, COUNTOF(size));
        bool approximate = false;
        int64_t bytes = static_cast<int64_t>(sizeTextValue(size, &approximate));
        // No bytes: tried as a folder first, counted as a file only if it is one.
        if (bytes <= 0) {
            tree.subfoldersAhead++;
            continue;
        }
        wholeFilesFound(1, bytes, approximate);
    }
}

bool treeStillCounting()
{
    return tree.running && !tree.cancelled &&
           (tree.pendingCount > 0 || tree.subfoldersAhead > 0 || (tree.fromPeer && tree.phase == TreePhase::ListPeer));
}

// Takes the next folder and starts its first step. False when the tree is done.
static bool nextFolder()
{
    closeSearch();
    orderFoundFolders();
    tree.subfoldersAhead = 0;
    while (!tree.cancelled && tree.pendingCount > 0) {
        closeTimedFolders(tree.pendingCount);
        tree.current = tree.pending[--tree.pendingCount];
        tree.folderBase = tree.pendingCount;
        RequestStart started;
        if (tree.fromPeer) {
            if (!tree.current.trial && !CreateDirectoryW(tree.current.destination, nullptr) &&
                !isFolderOnDisk(tree.current.destination)) {
                fail(tree.current.source, NoFolderReason);
                continue;
            }
            started = sendPathRequest(DirRequestTag, tree.current.source, TransferState::CallDIR);
            tree.phase = TreePhase::ListPeer;
        } else {
            started = sendPathRequest(FolderRequestTag, tree.current.destination, TransferState::FolderTO);
            tree.phase = TreePhase::CreatePeer;
        }
        if (started == RequestStart::Started) {
            tree.folderFiles = 0;
            tree.folderBytes = 0;
            if (!tree.fromPeer)
                countLocalFolder(tree.current.source);
            else if (!tree.current.trial)
                timeCurrentFolder();
            return true;
        }
        fail(tree.current.source, refusalReason(started));
        // Another exchange, or a link that failed: nothing more of the tree can go now.
        if (refusalReason(started) == nullptr)
            tree.cancelled = true;
    }
    // A stopped tree is not done: its folders keep the times its writes gave them.
    if (!tree.cancelled)
        closeTimedFolders(0);
    tree.timedCount = 0;
    tree.phase = TreePhase::Idle;
    tree.running = false;
    return false;
}

static void treeRowFacts(const TreeRow *row, FileFacts *facts)
{
    wchar_t size[FactChars];
    wchar_t date[FactChars];
    memset(size, 0, sizeof(size));
    memset(date, 0, sizeof(date));
    wireToWide(row->size, -1, size, COUNTOF(size));
    wireToWide(row->date, -1, date, COUNTOF(date));
    rowFileFacts(size, date, facts);
}

// Starts one file of the current folder. peer: the peer's facts of it (a pull's incoming file, or the one a
// push lands on; null when the peer lists none). True when a transfer runs; false when the file was passed over
// (refused, skipped) and the walk goes on.
static bool startFileAt(HWND dialog, const wchar_t *source, const wchar_t *destination, const FileFacts *peer,
                        int64_t total, bool approximate)
{
    FileFacts local;
    bool exists = tree.fromPeer ? localFileFacts(destination, &local) : peer != nullptr && localFileFacts(source, &local);
    if (exists) {
        OverwriteAnswer answer = tree.fromPeer ? overwriteDecision(shownName(source), *peer, local)
                                               : overwriteDecision(shownName(source), local, *peer);
        if (answer == OverwriteAnswer::Cancel) {
            tree.cancelled = true;
            AppState.copyDialogClosed = 1;
            noteCommandStopped();
            recordCopyResult(shownName(source), CopyResult::NotCopied, nullptr, false);
            return false;
        }
        if (answer == OverwriteAnswer::Skip) {
            wholeFilesPassed(1, total);
            recordCopyResult(shownName(source), CopyResult::Skipped, nullptr, false);
            return false;
        }
    }
    memset(tree.fileName, 0, sizeof(tree.fileName));
    wcsncpy(tree.fileName, shownName(source), COUNTOF(tree.fileName) - 1);
    RequestStart started = startFileTransfer(dialog, source, destination, total, approximate);
    if (started == RequestStart::Started)
        return true;
    wholeFilesPassed(1, total);
    fail(source, refusalReason(started));
    if (refusalReason(started) == nullptr)
        tree.cancelled = true;
    return false;
}

static bool startFile(HWND dialog, const wchar_t *name, const FileFacts *peer, int64_t total, bool approximate)
{
    wchar_t source[PathChars];
    wchar_t destination[PathChars];
    if (!joinFolderName(tree.current.source, name, source, PathChars) ||
        !joinFolderName(tree.current.destination, name, destination, PathChars)) {
        wholeFilesPassed(1, total);
        failChild(name, TooLongReason);
        return false;
    }
    return startFileAt(dialog, source, destination, peer, total, approximate);
}

// Push: the next entry of the local search.
static bool nextLocalEntry(HWND dialog)
{
    WIN32_FIND_DATAW found;
    for (;;) {
        if (tree.cancelled)
            return nextFolder();
        if (!tree.findStarted) {
            tree.findStarted = true;
            wchar_t pattern[PathChars];
            if (!joinFolderName(tree.current.source, L"*", pattern, PathChars))
                return nextFolder();
            tree.find = FindFirstFileW(pattern, &found);
            if (tree.find == INVALID_HANDLE_VALUE)
                return nextFolder();
        } else if (!FindNextFileW(tree.find, &found)) {
            return nextFolder();
        }
        if (isUpFolderName(found.cFileName))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (tree.subfoldersAhead > 0)
                tree.subfoldersAhead--;
            queueFolder(found.cFileName);
            continue;
        }
        // What an unfinished receive left here is not pushed: the record silently, the file named.
        if (isResumeRecordName(found.cFileName))
            continue;
        if (isTemporaryName(found.cFileName)) {
            failChild(found.cFileName, UnfinishedFileReason);
            continue;
        }
        int64_t size = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        const TreeRow *there = treeRowNamed(found.cFileName);
        FileFacts peer;
        if (there != nullptr)
            treeRowFacts(there, &peer);
        if (startFile(dialog, found.cFileName, there != nullptr ? &peer : nullptr, size, false))
            return true;
    }
}

// Pull: the next row of the peer folder's listing.
static bool nextPeerRow(HWND dialog)
{
    while (!tree.cancelled && tree.rowCursor < treeRowCount()) {
        const TreeRow *row = treeRow(tree.rowCursor++);
        wchar_t name[PathChars];
        wchar_t size[64];
        memset(name, 0, sizeof(name));
        memset(size, 0, sizeof(size));
        if (wireToWide(row->name, -1, name, COUNTOF(name)) <= 0 || isUpFolderName(name))
            continue;
        if (row->type == TypeFolder) {
            if (tree.subfoldersAhead > 0)
                tree.subfoldersAhead--;
            if (queueEntry(name, false))
                treeRowFacts(row, &tree.pending[tree.pendingCount - 1].row);
            continue;
        }
        if (row->type != TypeOther)
            continue;
        wireToWide(row->size, -1, size, COUNTOF(size));
        bool approximate = false;
        int64_t total = static_cast<int64_t>(sizeTextValue(size, &approximate));
        if (total <= 0 && tree.subfoldersAhead > 0)
            tree.subfoldersAhead--;
        // A folder with more attributes than the directory bit comes as type 8 with no bytes: it is tried.
        FileFacts facts;
        treeRowFacts(row, &facts);
        if (total <= 0 && queueEntry(name, true)) {
            TreeFolder *queued = tree.pending + tree.pendingCount - 1;
            queued->total = total;
            queued->approximate = approximate;
            queued->row = facts;
            continue;
        }
        // A row without bytes that could not wait its trial is copied as the file its type code says.
        if (total <= 0)
            wholeFilesFound(1, 0, false);
        if (startFile(dialog, name, &facts, total, approximate))
            return true;
    }
    return nextFolder();
}

static bool nextEntry(HWND dialog)
{
    return tree.fromPeer ? nextPeerRow(dialog) : nextLocalEntry(dialog);
}

void treeStreamName(const wchar_t *relative, wchar_t *out, int outChars)
{
    const wchar_t *root = shownName(tree.pending[0].source);
    if (relative[0] == 0 || !joinFolderName(root, relative, out, outChars)) {
        memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
        wcsncpy(out, relative[0] != 0 ? relative : root, static_cast<size_t>(outChars) - 1);
    }
}

// The whole folder in one exchange; false when it did not start (the copy then goes one exchange at a time, or
// is told as refused).
static bool beginTreeStream(const wchar_t *source, const wchar_t *destination)
{
    RequestStart started =
        tree.fromPeer ? startTreeStream(destination, source) : startTreeStream(source, destination);
    if (started != RequestStart::Started)
        return false;
    tree.phase = TreePhase::Stream;
    return true;
}

// The stream has ended: what it wrote, passed over and could not copy goes into the summary.
static bool treeStreamEnded(TransferOutcome outcome)
{
    const TreeFolder &root = tree.pending[0];
    // A peer row on trial that is no folder after all: it is copied as the file it is.
    if (root.trial && outcome == TransferOutcome::Refused && AppState.lastReason == FastReason::CannotRead) {
        treeStreamCounted();
        tree.pendingCount = 1;
        return nextFolder();
    }
    const TreeTally &stream = AppState.treeTally;
    wchar_t name[PathChars];
    for (int i = 0; i < stream.named; ++i) {
        treeStreamName(stream.names[i], name, COUNTOF(name));
        recordCopyResult(name, CopyResult::Failed, fastReasonText(stream.reasons[i]), false);
    }
    recordCopyResults(CopyResult::Failed, stream.failed - stream.named);
    recordCopyResults(CopyResult::Done, stream.written);
    recordCopyResults(CopyResult::Skipped, stream.skipped);
    if (outcome != TransferOutcome::Done && outcome != TransferOutcome::Stopped)
        recordTransferOutcome(shownName(root.source), outcome);
    treeStreamCounted();
    tree.phase = TreePhase::Idle;
    tree.running = false;
    return false;
}

bool beginTreeCopy(const wchar_t *source, const wchar_t *destinationFolder, bool fromPeer, bool onTrial,
                   const FileFacts &sourceRow)
{
    memset(&tree, 0, sizeof(tree));
    tree.find = INVALID_HANDLE_VALUE;
    tree.fromPeer = fromPeer;
    tree.running = true;
    const wchar_t *separator = wcsrchr(source, L'\\');
    const wchar_t *name = separator != nullptr ? separator + 1 : source;
    tree.rootChars = static_cast<size_t>(name - source);
    TreeFolder *root = tree.pending;
    if (wcslen(source) > PathChars - 1 || !joinFolderName(destinationFolder, name, root->destination, PathChars)) {
        recordCopyResult(name, CopyResult::Failed, TooLongReason, false);
        tree.running = false;
        return false;
    }
    wcsncpy(root->source, source, PathChars - 1);
    root->trial = fromPeer && onTrial;
    root->total = -1;
    root->row = sourceRow;
    tree.pendingCount = 1;
    if (treeStreamOn() && beginTreeStream(root->source, root->destination))
        return true;
    return nextFolder();
}

// Push: the peer folder has been asked for and listed (or not): its files follow, or it is told as failed. The
// listing also shows the names the overwrite question looks for. A peer that answers "ACK" to "CD" whatever
// happened is caught here too: a folder that is not there lists nothing.
static bool peerFolderListed(HWND dialog, TransferOutcome outcome)
{
    endTreeListing();
    if (treeRowCount() == 0) {
        wholeFilesPassed(tree.folderFiles, tree.folderBytes);
        fail(tree.current.source, NoFolderReason);
        if (outcome == TransferOutcome::LinkLost)
            tree.cancelled = true;
        return nextFolder();
    }
    tree.phase = TreePhase::Files;
    return nextEntry(dialog);
}

bool treeStepEnded(HWND dialog, TransferOutcome outcome)
{
    switch (tree.phase) {
    case TreePhase::CreatePeer:
        // The peer's "ACK" ends the step (the engine lists nothing after it while a copy runs); then the new
        // folder is listed.
        endTreeListing();
        if (outcome == TransferOutcome::Done &&
            sendPathRequest(DirRequestTag, tree.current.destination, TransferState::CallDIR) == RequestStart::Started) {
            tree.phase = TreePhase::ListNewPeer;
            return true;
        }
        return peerFolderListed(dialog, outcome);
    case TreePhase::ListNewPeer:
        return peerFolderListed(dialog, outcome);
    case TreePhase::ListPeer:
        endTreeListing();
        if (tree.current.trial && outcome != TransferOutcome::LinkLost) {
            // Nothing listed: a file after all. Listed: a folder, made here before its entries come.
            bool listed = treeRowCount() > 0 && outcome == TransferOutcome::Done;
            tree.rowCursor = treeRowCount();
            tree.phase = TreePhase::Files;
            if (!listed) {
                wholeFilesFound(1, tree.current.total, tree.current.approximate);
                if (startFileAt(dialog, tree.current.source, tree.current.destination, &tree.current.row,
                                tree.current.total, tree.current.approximate))
                    return true;
                return nextEntry(dialog);
            }
            if (!CreateDirectoryW(tree.current.destination, nullptr) && !isFolderOnDisk(tree.current.destination)) {
                fail(tree.current.source, NoFolderReason);
                return nextFolder();
            }
            timeCurrentFolder();
        }
        if (treeRowCount() == 0 || outcome != TransferOutcome::Done) {
            fail(tree.current.source, NoListingReason);
            if (outcome == TransferOutcome::LinkLost)
                tree.cancelled = true;
            return nextFolder();
        }
        // A classic peer's listing stops at 1023 rows; the fast link's is cut only when this side had no room.
        if ((!fastLinkOn() && treeRowCount() >= DirRows - 1) || treeListingCut())
            noteListingCut(shownName(tree.current.source), treeRowCount());
        countPeerListing();
        tree.rowCursor = 0;
        tree.phase = TreePhase::Files;
        return nextEntry(dialog);
    case TreePhase::Stream:
        return treeStreamEnded(outcome);
    case TreePhase::Files:
        recordTransferOutcome(tree.fileName, outcome);
        // Stop ends the whole folder; a lost link ends everything.
        if (outcome == TransferOutcome::Stopped || outcome == TransferOutcome::LinkLost)
            tree.cancelled = true;
        return nextEntry(dialog);
    default:
        return false;
    }
}

void stopTreeCopy()
{
    tree.cancelled = true;
}

void abandonTreeCopy()
{
    endTreeListing();
    closeSearch();
    tree.running = false;
    tree.timedCount = 0;
    tree.phase = TreePhase::Idle;
}

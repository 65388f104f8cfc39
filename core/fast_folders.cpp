// fast_folders.cpp: listings in one stream of row batches, and folders made, on the fast link.
#include "core/fast_link_internal.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/served_folder.h"
#include "core/tree_listing.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

// ---- Listings -----------------------------------------------------------------------------------------------

struct RowBatch {
    int used;     // payload bytes in fastPiece
    bool failed;  // a send failed: the link is gone
};

static bool flushRows(RowBatch *batch)
{
    if (batch->used > 0 && sendPiece(FastRows, batch->used) != 0)
        batch->failed = true;
    batch->used = 0;
    return !batch->failed;
}

static bool addRowToBatch(const char *record, int bytes, void *context)
{
    RowBatch *batch = static_cast<RowBatch *>(context);
    if (batch->used + 2 + bytes > FastPieceBytes && !flushRows(batch))
        return false;
    unsigned char *at = reinterpret_cast<unsigned char *>(AppState.fastPiece + FastHeaderBytes + batch->used);
    putLittleEndian(at, static_cast<uint64_t>(bytes), 2);
    memcpy(at + 2, record, static_cast<size_t>(bytes));
    batch->used += 2 + bytes;
    return true;
}

void serveFastListing(const unsigned char *path, int bytes)
{
    wchar_t folder[PathChars];
    FastReason reason = resolveFastPath(path, bytes, PeerAccess::List, folder, COUNTOF(folder));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    RowBatch batch = {0, false};
    int leftOut = 0;
    int rows = listFolderRecords(folder, static_cast<int>(wcsnlen(folder, COUNTOF(folder))), addRowToBatch, &batch,
                                 &leftOut);
    if (!flushRows(&batch)) {
        endExchange(TransferOutcome::Failed);
        return;
    }
    // The rows left out are told, so that the asker's pane can say so rather than look whole.
    unsigned char end[8];
    putLittleEndian(end, static_cast<uint64_t>(rows), 4);
    putLittleEndian(end + 4, static_cast<uint64_t>(leftOut), 4);
    sendFast(FastListEnd, end, sizeof(end));
    finishServedListing();
}

// Rows of a listing this side asked for, into the pane or the folder copy's table.
void takeRows(const unsigned char *payload, int bytes)
{
    int at = 0;
    while (at + 2 <= bytes) {
        int length = static_cast<int>(getLittleEndian(payload + at, 2));
        at += 2;
        if (length > bytes - at || length < BlockHeaderBytes || length > FastRecordBytes - 1)
            break;
        const char *record = reinterpret_cast<const char *>(payload + at);
        at += length;
        if (!isDirRecord(record, length))
            continue;
        AppState.lastDirIndex = sixDigitNumber(record);
        // A row that is refused is left out, as the pane counts it; the rest of the listing goes on.
        if (AppState.treeListing)
            addTreeRecord(record + BlockHeaderBytes, length - BlockHeaderBytes);
        else
            addPeerRecord(record + BlockHeaderBytes, length - BlockHeaderBytes);
    }
}

// The listing is whole. A peer that left rows out says how many (an older one sends the row count alone).
void takeListEnd(const unsigned char *payload, int bytes)
{
    int leftOut = bytes >= 8 ? static_cast<int>(getLittleEndian(payload + 4, 4) & 0x7fffffff) : 0;
    if (leftOut > 0 && AppState.treeListing)
        AppState.treeRowsCut = 1;
    else if (leftOut > 0)
        notePeerRowsLeftOut(leftOut);
    endExchange(TransferOutcome::Done);
}

// ---- Folders ------------------------------------------------------------------------------------------------

void makeFastFolder(const unsigned char *path, int bytes)
{
    wchar_t folder[PathChars];
    FastReason reason = resolveFastPath(path, bytes, PeerAccess::CreateFolder, folder, COUNTOF(folder));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    if (!CreateDirectoryW(folder, nullptr) && !isFolderOnDisk(folder)) {
        refuseWith(FastReason::CannotWrite);
        return;
    }
    sendFast(FastDone, nullptr, 0);
    endExchange(TransferOutcome::Done);
    fileArrived(folder);
}

// fast_part_check.cpp: the digest of a part to be resumed (or of the source's bytes before it), taken a slice
// per pass of the network thread. A part of several gigabytes is checked while the loop goes on serving its
// connections, the user's stop and the silence clocks, and the peer, which waits for this side meanwhile, hears
// every so often that it is still here.
#include "core/fast_link.h"
#include "core/fast_link_internal.h"
#include "core/fast_tree_internal.h"

#include "core/app_state.h"

#include <cstring>

// 8 MiB: a few milliseconds of reading and digesting.
static const int64_t SliceBytes = 64 * static_cast<int64_t>(FastPieceBytes);

static void finishPartCheck(bool read)
{
    PartCheck check = AppState.partCheck;
    cancelPartCheck();
    bool same = read && check.digest == check.theirs;
    switch (check.side) {
    case PartCheckSide::Receiver:
        receivingPartChecked(read, check.end, check.digest);
        break;
    case PartCheckSide::Sender:
        sendingPartChecked(same, check.end, check.digest);
        break;
    case PartCheckSide::TreeReceiver:
        treePartChecked(read, check.end, check.digest);
        break;
    case PartCheckSide::TreeSender:
        treeSourceChecked(same, check.end, check.digest);
        break;
    default:
        break;
    }
}

void startPartCheck(PartCheckSide side, HANDLE file, int64_t bytes, uint32_t theirs)
{
    PartCheck &check = AppState.partCheck;
    cancelPartCheck();
    memset(&check, 0, sizeof(check));
    check.side = side;
    check.file = file;
    check.end = bytes > 0 ? bytes : 0;
    check.theirs = theirs;
    check.toldAt = GetTickCount();
    if (!seekTo(file, 0))
        finishPartCheck(false);
    else if (check.end == 0)
        finishPartCheck(true);
}

bool partCheckRunning()
{
    return AppState.partCheck.side != PartCheckSide::None;
}

void cancelPartCheck()
{
    PartCheck &check = AppState.partCheck;
    // Only a folder stream's receiver opens a file of its own for the check.
    if (check.side == PartCheckSide::TreeReceiver && check.file != nullptr && check.file != INVALID_HANDLE_VALUE)
        CloseHandle(check.file);
    check.side = PartCheckSide::None;
    check.file = nullptr;
}

bool stepPartCheck()
{
    PartCheck &check = AppState.partCheck;
    if (check.side == PartCheckSide::None)
        return false;
    DWORD now = GetTickCount();
    // The peer says nothing while it waits for this side, so this side's own silence clock is held too; the
    // peer's is kept from running out by an "AK", which it takes as it takes any acknowledgement.
    AppState.lastHeard = now;
    if (now - check.toldAt >= AppState.livenessMs / 6) {
        check.toldAt = now;
        sendNumber(FastAck, 0, 8);
    }
    int64_t slice = check.end - check.done;
    if (slice > SliceBytes)
        slice = SliceBytes;
    if (!digestOnward(check.file, slice, &check.digest)) {
        finishPartCheck(false);
        return true;
    }
    check.done += slice;
    if (check.done >= check.end)
        finishPartCheck(true);
    return true;
}

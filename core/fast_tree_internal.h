// fast_tree_internal.h: what the tree stream's sender, receiver and exchange files share.
#pragma once

#include "core/app_state.h"
#include "core/tree_walk.h"

// Files announced and not yet finished, on either side: the sender sends no further "TF" while this many are
// open, so neither side holds more, however large the tree.
constexpr int TreeQueueItems = 256;
// The stream's messages leave several to a send: each send and each receive is a call through the wineserver.
// One piece of data fits whole, so a full batch never overruns the connection's outbox.
constexpr int TreeBatchBytes = FastMessageMax;
// A file below a folder the stream made that is too small to be resumed is held in memory whole, and made under
// its own name once its digest holds: no part, no rename, each a path the wineserver looks up again.
constexpr int TreeHeldBytes = 1 << 20;

enum class TreeItemState : uint8_t {
    Unanswered,  // the "TF" went (or came); the receiver's word has not been given
    Held,        // the word says a file is there: the requester decides
    Send,        // its data goes (from offset)
    Skip,        // no data goes: "TK" (reason 0: passed over)
    Declined,    // the receiver declined it in its word: nothing more goes
    Close,       // a folder's end: "TC" goes when it reaches the front
};

struct TreeItem {
    uint32_t number;
    TreeItemState state;
    TreeHeld held;
    FastReason reason;
    int64_t size;
    int64_t offset;      // from the word: where the data starts
    uint32_t digest;     // and the CRC of the receiver's part before it
    bool fresh;          // receiver: its folder was made by this stream, so nothing of it can be there yet
    bool direct;         // receiver: fresh and under TreeHeldBytes, so held in memory and made whole once its digest holds
    bool looked;         // receiver: what it holds at the target is known (held), its part checked or being so
    int64_t heldSize;    // the file the receiver holds, for the question
    FILETIME heldWritten;
    DWORD attributes;
    FILETIME times[3];
    wchar_t path[PathChars];  // the local file: the sender's source, the receiver's target
};

enum class TreePhase : uint8_t { Counting, Streaming, Walked, Ended };

struct FastTree {
    bool sending;
    bool requester;
    uint8_t flags;
    int32_t standing;          // requester: 0, or the OverwriteAnswer that holds for the rest
    wchar_t root[PathChars];   // the local tree's folder
    int rootChars;
    TreeItem *items;           // ring of TreeQueueItems
    int head;
    int count;
    int decided;               // items at the front whose word is in and whose fate is settled
    bool asking;               // the overwrite question is out
    bool checking;             // receiver: the part held for the next file to be answered is being digested
    bool frontOpen;            // the front file's data is flowing
    bool frontFailed;          // receiver: the front file failed; its data is dropped until its end
    char *batch;               // messages not yet sent (TreeBatchBytes)
    int batchBytes;
    // Sender.
    TreePhase phase;
    TreeWalk walk;
    bool walkOpen;
    uint32_t nextNumber;
    int64_t totalFiles;        // the count before the stream
    int64_t totalBytes;
    int64_t streamSent;        // data bytes sent, and acknowledged, for the window
    int64_t streamAcked;
    DWORD lastKeepAlive;
    // Receiver.
    int answered;              // items at the front that have had their word
    int64_t streamReceived;
    int64_t streamAckedAt;
    int64_t writtenFiles;
    int64_t writtenBytes;
    unsigned char *held;       // the front file's data when it is direct (TreeHeldBytes)
    int heldBytes;
    uint32_t heldDigest;
    // The outermost folder this stream made itself that its entries may still come into (-1 chars: none).
    // Looking for a file that cannot be there costs a search of its folder under Wine: files below it skip it.
    wchar_t fresh[PathChars];
    int freshChars;
};

// fast_tree.cpp
TreeItem *treeItem(FastTree *tree, int index);  // index from the front
TreeItem *pushTreeItem(FastTree *tree);         // null when the ring is full
void popTreeItem(FastTree *tree);
// A message of the running stream, into the batch. 0, or the socket error of a batch that had to go first.
int sendTreeMessage(const char *tag, const void *payload, int payloadBytes);
// Room for a payload of up to payloadBytes at the batch's end (sending what waits when it does not fit), and the
// message once that payload is written there. Null on a socket error.
unsigned char *treeMessageSpace(FastTree *tree, int payloadBytes);
void queueTreeMessage(FastTree *tree, const char *tag, int payloadBytes);
// Sends what the batch holds. 0, or the socket error.
int flushTreeMessages(FastTree *tree);
void sendTreeFailed(FastReason reason, const wchar_t *relative);
const wchar_t *treeRelative(const FastTree *tree, const wchar_t *path);
// The requester's tally: a file past, written, passed over or failed (named while there is room).
void tallyPast(int64_t bytes);
void tallyWritten(int64_t bytes);
void tallySkipped(int64_t bytes);
void tallyFailed(const wchar_t *relative, FastReason reason, int64_t bytes);
void tallyMoving(const wchar_t *relative);
// Requester: what to do with a file the receiver holds. Send, Skip, or Held while the user is asked.
TreeItemState decideHeld(FastTree *tree, const TreeItem *item);
// The question has been answered: applies it to the item asked about. False while it has not.
bool takeTreeAnswer(FastTree *tree, TreeItemState *decision);

// fast_tree_send.cpp
void startTreeSending(FastTree *tree);
bool pumpTreeSending(FastTree *tree);
void takeTreeWord(FastTree *tree, const unsigned char *payload, int bytes);
void endTreeSending(FastTree *tree);
// The front file's first bytes checked against the receiver's part: its data starts after them when same.
void treeSourceChecked(bool same, int64_t bytes, uint32_t digest);

// fast_tree_receive.cpp
void takeTreeEntry(FastTree *tree, const char *message, int count);
bool pumpTreeReceiving(FastTree *tree);
void endTreeReceiving(FastTree *tree, TransferOutcome outcome);
// The part held for the next file to be answered has been digested (read false: it could not be read).
void treePartChecked(bool read, int64_t bytes, uint32_t digest);

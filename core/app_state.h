// app_state.h: the one process-wide record shared by the UI thread and the network thread, its enumerations
// and the sizes of its fixed buffers.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdint>

#include "core/fast_wire.h"
#include "core/message_framer.h"
#include "core/search_wire.h"

#define COUNTOF(a) (sizeof(a) / sizeof((a)[0]))

// Sizes the wire protocol, the peer and the dialogs rely on.
constexpr int PathChars = 260;            // a path of at most 259 characters and its NUL
constexpr int DirRows = 1024;
constexpr int TreeRowsMax = 200000;       // one peer folder of a folder copy, on the fast link
constexpr int DirRowBytes = 256;          // a DR record of at most 255 bytes and its NUL
constexpr int RingLines = 32;
constexpr int RingLineBytes = 272;
constexpr int ClientSlotCount = 10;
constexpr int ReceiveMaxBytes = 1024;     // one receive, one message
constexpr int BlockDataBytes = 1000;
constexpr int BlockHeaderBytes = 8;
constexpr int TrailerBytes = 32;
constexpr int TrailerNumber = 999999;     // block number of the trailer and row number of the terminator
constexpr int64_t MaxFileBytes = 999997000;
constexpr int FileBufferBytes = 64000;  // file I/O in pieces of 64 blocks; the wire still carries 1000 bytes a block
constexpr int StatusParts = 6;
constexpr int DefaultPort = 1050;
constexpr DWORD DefaultLivenessMs = 30000;  // silence that ends an exchange as failed
constexpr int AddressTextChars = 16;      // "255.255.255.255" and its NUL

enum class ConnectionMode : int32_t { Client = 0, Server = 1 };

// The names are also the status-bar texts.
enum class TransferState : int32_t {
    Waiting = 0,
    CallDIR = 1,
    RequestDIR = 2,
    CallCopyTO = 3,
    RequestCopyTO = 4,
    CallCopyFrom = 5,
    RequestCopyFrom = 6,
    FolderTO = 7,
    FolderFrom = 8,
    StopTO = 9,
    StopFrom = 10,
};

// Who the server serves: a new machine is paired after its user and ours confirm one code; a classic peer, which
// cannot be encrypted, is asked about, refused, or served as before.
enum class AdmissionMode : int32_t { Ask = 0, PairedOnly = 1, Everyone = 2 };

// What the open link is, for the user: nothing yet, the classic lock-step, the fast link in clear, encrypted.
enum class LinkKind : int32_t { None = 0, Classic = 1, Fast = 2, Private = 3 };

enum class FileIoState : int32_t { Closed = 0, Open = 1, Done = 2, Failed = 3 };

enum class StopRequest : int32_t { None = 0, Requested = 1, Sent = 2 };

// How the last exchange this side asked for ended, for the copy dialog and its summary.
enum class TransferOutcome : int32_t { None = 0, Done = 1, Stopped = 2, Refused = 3, Failed = 4, LinkLost = 5 };

typedef char DirTable[DirRows][DirRowBytes];
typedef char MonitorRing[RingLines][RingLineBytes];
typedef SOCKET ClientSlots[ClientSlotCount];

// The bytes of a connection's messages that it could not take at once, kept in order until it does
// (net/message_sender.cpp): room for the rest of the longest message and a few small ones behind it.
constexpr int OutboxBytes = FastMessageMax + 8192;
struct Outbox {
    char bytes[OutboxBytes];
    int32_t start;      // bytes[start, end) wait to go out
    int32_t end;
    int32_t broken;     // a message did not fit: the connection can carry nothing more
    DWORD moved;        // when its bytes last moved, or began to wait
};

// A resumed part's digest, taken a slice per pass of the network thread (core/fast_part_check.cpp), so that a
// part of any size leaves the loop serving its connections, its stop and its silence clock meanwhile.
// In a folder stream the receiver checks a file's part before its word, the sender its source's start.
enum class PartCheckSide : int32_t { None = 0, Receiver = 1, Sender = 2, TreeReceiver = 3, TreeSender = 4 };
struct PartCheck {
    PartCheckSide side;   // the receiver's part before its "RS", or the sender's source after it
    HANDLE file;          // the file digested: the transfer's own, or (a folder stream's receiver) one of its own
    int64_t done;         // bytes digested so far
    int64_t end;          // bytes to digest
    uint32_t digest;
    uint32_t theirs;      // sender: the receiver's digest that ours must match
    DWORD toldAt;         // when the peer last heard that this side is still at it
};

// One row of a peer folder listed for a folder copy.
struct TreeRow {
    char name[PathChars];  // as the wire carries it (see core/text_codec.h)
    char size[64];
    int32_t type;
    char date[32];  // as the peer sent it: local "yyyy/mm/dd hh:mm"
};

// How a tree stream went, for the requester's copy dialog: the network thread writes it while the stream runs;
// the dialog reads the counters on its timer and the rest once the exchange has ended.
constexpr int TreeNamedFailures = 8;
struct TreeTally {
    int64_t filesTotal;   // -1 until the sender has counted the tree
    int64_t bytesTotal;
    int64_t filesPast;    // files written, passed over or failed
    int64_t bytesPast;    // and their bytes, with the file now moving's bytes so far
    int64_t bytesMoved;   // file data that went over the link
    int64_t written;
    int64_t skipped;
    int64_t failed;
    int32_t named;        // failures named below; the rest are counted
    wchar_t names[TreeNamedFailures][PathChars];  // below the tree's folder
    FastReason reasons[TreeNamedFailures];
    // The file now moving, below the tree's folder: the network thread writes the slot movingSlot does not
    // name and then turns movingSlot to it, so the dialog's timer reads a whole name.
    wchar_t moving[2][PathChars];
    LONG movingSlot;
};

// The overwrite question of a tree stream, from the network thread to the copy dialog and back.
enum class TreeQuestion : LONG { None = 0, Asked = 1, Answered = 2 };
struct TreeAsk {
    wchar_t name[PathChars];  // below the tree's folder
    int64_t incomingSize;
    FILETIME incomingWritten;
    int64_t existingSize;
    FILETIME existingWritten;
};

struct AppStateRecord {
    // Link configuration and state. Written by the UI thread (settings, open, close); the network thread reads
    // linkOpen once per pass and writes the slot and peer fields.
    ConnectionMode mode;
    int32_t ip[4];
    int32_t port;
    int32_t linkOpen;
    int32_t peerPresent;
    int32_t serverAskedPeerDir;
    SOCKET mainSocket;
    int32_t currentSlot;
    ClientSlots clientSlots;
    sockaddr_in linkAddress;
    sockaddr_in peerAddress;
    int32_t peerAddressLength;
    char peerHostNameA[32];
    wchar_t peerHostName[32];
    int32_t clientSocketNumber;
    int32_t serverSlotNumber;
    wchar_t ownAddressText[64];
    wchar_t ownHostText[64];
    HANDLE netThread;
    DWORD netThreadExitCode;  // STILL_ACTIVE while it runs; 0 when closeLink gave up on it
    HWND timerWindow;

    // Folders and names. UI thread only.
    wchar_t startFolder[PathChars];
    wchar_t ownFolder[PathChars];
    wchar_t peerFolder[PathChars];
    wchar_t selectedName[PathChars];
    wchar_t newFolderName[PathChars];
    // A peer row of type 8 may be a folder with more than the folder attribute (hidden, read-only), which the
    // listing rule gives the file code: it is entered on trial, and left again when its listing is empty.
    int32_t peerEntryOnTrial;
    wchar_t peerFolderBeforeTrial[PathChars];
    // The pane keeps the folder that last listed until the first row of the folder asked for comes: a refused
    // folder is never shown as open. peerPaneClearPending is set here and cleared by the network thread.
    wchar_t peerFolderListed[PathChars];
    wchar_t peerFolderRefused[PathChars];   // the folder the last pane listing could not open; empty when it did
    int32_t peerPaneListing;                // a listing asked for by the pane runs
    LONG peerPaneSerial;                    // and this is its number (listingSerial at its claim)
    volatile LONG peerPaneClearPending;

    // What the peer may reach on this machine (see core/served_folder.h). Written by the UI thread (settings,
    // the served-folder dialog) only while the link is closed; the network thread reads them for every request
    // and every accepted connection.
    wchar_t servedFolder[PathChars];                // empty: the whole machine
    int32_t servedReadOnly;                         // 1: the peer may list and read, not write or create
    wchar_t allowedPeerAddress[AddressTextChars];   // dotted IPv4 the server accepts alone; empty: any

    // This instance's identity as users see it (core/paired_machines.h): its key's fingerprint, short and
    // readable. Written by the UI thread at start, before any link opens; empty until the key is loaded.
    wchar_t ownFingerprint[32];
    // Who is served (settings; UI thread while the link is closed, read by the network thread).
    AdmissionMode admission;
    // The kind of the open link and, on a private link, the peer's fingerprint. Network thread; the status bar
    // and the link label read them.
    LinkKind linkKind;
    wchar_t peerFingerprint[32];
    wchar_t peerMachineName[64];   // the host name the peer's handshake gave; empty on other links

    // Transfer. The UI thread sets the requester's fields and state before its request goes out; from then on
    // the network thread owns them until transferState is back at Waiting.
    TransferState transferState;
    int32_t copyFromPeer;
    int32_t copyDialogClosed;
    StopRequest stopRequest;
    int32_t blockCount;
    DirTable dirTable;
    int32_t dirCount;
    int32_t dirCursor;
    int32_t lastDirIndex;
    wchar_t sendSourcePath[PathChars];
    char incomingTargetA[PathChars];
    char pullTargetA[FastPathBytes];  // the pull's own target in the wire's text
    HANDLE fileHandle;
    FileIoState fileState;
    wchar_t targetFileName[PathChars];
    wchar_t tempFileName[PathChars];
    TransferOutcome lastOutcome;  // written by the network thread before it calls exchangeEnded
    TransferState endedState;     // the requester state that lastOutcome ended (CallDIR, CallCopyTO, ...)
    // Every listing of the peer's folder is numbered by whoever claims it, so that the end told for one is
    // never taken for the end of one started after it.
    volatile LONG listingSerial;
    LONG endedListing;            // with endedState CallDIR: the number of the listing that ended
    int64_t bytesDone;            // file bytes sent or received so far in the running transfer
    int32_t exchangeSlot;         // Server mode: the slot whose connection the running exchange belongs to
    DWORD livenessMs;             // an exchange that hears nothing for this long ends as failed
    // The open copy dialog, told when its exchange ends. Set and cleared by the UI thread, read by the network
    // thread only to post it the end: both through setCopyDialog and openCopyDialog.
    void *volatile copyDialog;
    int32_t relistAfterFolder;    // requester: the peer pane lists again once the peer made the folder
    // The file side of the running transfer, network thread only: one transfer at a time, so the sender's
    // read-ahead and the receiver's write-behind share one buffer.
    char fileBuffer[FileBufferBytes];
    int32_t fileBufferUsed;       // bytes held in fileBuffer
    int32_t fileBufferPos;        // sender: the next byte to send from fileBuffer
    int64_t fileSizeAtOpen;       // sender: the source's size when it was opened; it sends exactly this much
    int64_t fileBytesRead;        // sender: bytes read from the source so far
    FILETIME sourceWrittenAtOpen; // sender: the source's last write when it was opened
    int32_t expectedBlock;        // receiver: the block number the next block must carry
    int32_t tempFilePending;      // receiver: a temporary file exists that must be moved or deleted
    int32_t sendReadFailed;       // sender: the last sendStep stopped because the source could not be read
    int32_t treeListing;          // set by a folder copy: the records of its listing go to the tree table

    // The fast link (core/fast_link.cpp). fastLinkAllowed is the setting; the rest is the network thread's,
    // except that the UI thread writes a requester's fields before its request goes out, as above.
    int32_t fastLinkAllowed;      // agree on the fast link with a peer that offers it
    int32_t fastProbeTried;       // Client: times this link has been asked
    DWORD fastProbeDue;
    int32_t fastProbePending;     // Client: the agreement request is due (before any listing)
    int32_t fastProbing;          // Client: the agreement request is out, in CallDIR
    int32_t fastProbeAnswering;   // Server: the agreement answer went out; the client's "HI" completes it
    int32_t fastPeerOffered;      // Client: the peer's answer named a link this side speaks
    int32_t fastPeerVersion;      // Client: and its version
    int32_t peerServedReadOnly;   // what the peer said it serves, once agreed
    char peerServedFolderA[PathChars];
    wchar_t peerServedFolder[PathChars];
    int32_t peerServedUntold;     // the peer serves one folder whose name the agreement could not carry
    FastReason endReason;         // why the exchange that ends next was refused or failed
    FastReason lastReason;        // with lastOutcome: the reason, when the fast link gave one
    int32_t fastSending;          // sender: pieces go out while the window allows
    int32_t fastSentAtOnce;       // sender: the whole file went with its request; the receiver's "RS" is not waited for
    int64_t transferSize;         // the file's size as its sender opened it; -1 while unknown
    int64_t fastOffset;           // sender: the next byte to send; receiver: the next byte expected
    int64_t fastAcked;            // sender: bytes the receiver acknowledged; receiver: bytes acknowledged
    int64_t resumedFrom;          // the offset a resumed transfer continued from; -1 when it started afresh
    uint32_t fastDigest;          // CRC-32C of the file's bytes so far
    PartCheck partCheck;
    FILETIME fastTimes[3];        // creation, last access, last write of the source
    wchar_t resumeInfoName[PathChars];  // receiver: what a resumed transfer must match, beside the temporary file
    char fastPiece[FastMessageMax];     // the message being built: a piece of data, rows of a listing

    // Traffic monitors. Written by whichever thread sends or receives; read by the monitor windows.
    int32_t monitorOn;
    MonitorRing receivedRing;
    int32_t receivedRingPos;
    MonitorRing sentRing;
    int32_t sentRingPos;

    // Finding servers (net/discovery.h). answerSearches and recentServers are settings of the UI thread. The
    // answerer is started and ended by the UI thread as the server's link opens and closes, its answer built
    // then; the answer thread only reads them. search belongs to the connection dialog and its search thread.
    int32_t answerSearches;       // answer the searches of clients while the server's link is open
    RecentServer recentServers[RecentServersMax];
    SOCKET answerSocket;
    WSAEVENT answerReadable;
    HANDLE answerStop;
    HANDLE answerThread;
    unsigned char answerBytes[SearchAnswerMaxBytes];
    int32_t answerLength;
    ServerSearch search;

    // User-interface handles. Created and owned by the UI thread; the network thread only sends them messages.
    HWND mainWindow;
    HWND statusBar;
    volatile LONG statusRedrawPosted;  // the network thread has posted a redraw the UI thread has not done yet
    HWND ownPane;           // list view 301
    HWND peerPane;          // list view 302
    HWND ownHostLabel;      // 303
    HWND linkLabel;         // 304
    HWND ownFolderLabel;    // 305
    HWND peerFolderLabel;   // 306
    HIMAGELIST paneImages;
    HBITMAP aboutBitmap;
    HINSTANCE instance;
    int32_t statusEdges[StatusParts];
    // The box about to open is centred on this owner when it first activates (core/message_box.cpp); both are
    // set only while platformMessageBox waits for its box.
    HWND boxCentringOwner;
    HHOOK boxCentringHook;

    // The receive loops' own state. Network thread only, except linkClosing, which closeLink raises on the UI
    // thread before it closes the socket so that the network thread takes the failures the close causes for
    // what they are; the next open clears it.
    sockaddr_in slotAddresses[ClientSlotCount];   // each slot's client as accepted (a reset one no longer tells)
    MessageFramer slotFramers[ClientSlotCount];   // each connection's unfinished bytes
    DWORD slotAcceptedAt[ClientSlotCount];        // when each slot's client was accepted
    int32_t slotSpoke[ClientSlotCount];           // and whether it has sent anything since
    MessageFramer clientFramer;
    int32_t exchangeWatched;                      // the running exchange as the loop last saw it
    int32_t ownListingPending;                    // the opening listing of the peer's folder is due
    DWORD ownListingDue;                          // at this tick
    DWORD lastHeard;                              // when the exchange's connection last brought bytes
    int32_t clientReceivePending;                 // Client mode: an overlapped receive into clientFramer is out
    // Client mode: the one overlapped receive, its event and where in clientFramer it goes. Made at the client
    // thread's start, the event closed at its end; nothing moves them while a receive is out.
    WSAEVENT clientEvent;
    WSAOVERLAPPED clientReceive;
    char *clientReceiveSpace;
    volatile LONG linkClosing;
    // Each connection's waiting bytes: [slot] in Server mode, [ClientSlotCount] for Client mode's mainSocket.
    // Whichever thread sends, under the sender's lock; the network thread sends them on when it can.
    Outbox outboxes[ClientSlotCount + 1];
    DWORD netThreadId;                            // the thread that may wait for a slow connection

    // A folder copy's listing of one peer folder: filled by the network thread while treeListing is set, read
    // by the UI thread once the listing has ended.
    TreeRow *treeRows;            // heap, grown by the network thread while it lists (core/tree_listing.cpp)
    int32_t *treeOrder;           // the rows' indexes in name order, made by the UI thread when it looks up
    int32_t treeRowsCapacity;
    int32_t treeRowsUsed;
    int32_t treeRowsCut;          // rows were left out for lack of room
    int32_t treeOrderBuilt;

    // A whole folder in one exchange (core/fast_tree.h). The requester's thread sets the request's fields before
    // its request goes out; from then on the network thread owns them until transferState is back at Waiting.
    int32_t treeStream;               // the running exchange is a tree stream
    struct FastTree *fastTree;        // its walk and queues (heap), network thread
    TreeTally treeTally;
    // The overwrite question: the network thread fills treeAsk and raises treeQuestion to Asked; the copy
    // dialog writes treeAnswer (an OverwriteAnswer) and treeStanding (the answer that holds for the rest of the
    // command: 0, OverwriteAll or OverwriteNewer) and raises it to Answered.
    volatile LONG treeQuestion;
    TreeAsk treeAsk;
    int32_t treeAnswer;
    int32_t treeStanding;
};

extern AppStateRecord AppState;

// Zero-fills the record, sets the fields that do not start at zero, and resets the user interface's module
// statics (resetUiModules). Called once at start, and by tests between cases, with the link closed.
void resetAppState();

// The copy dialog handed between the threads; null when none is open.
void setCopyDialog(HWND dialog);
HWND openCopyDialog();

// Status-bar text of a transfer state; empty for a value outside the enumeration.
const wchar_t *transferStateName(TransferState state);

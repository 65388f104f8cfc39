// fast_wire.h: the messages of the fast link, which two instances of this program agree on after the opening
// listings (see docs/fast-link.md). Each message is a two-letter tag, its payload length as four little-endian
// bytes, and the payload: its end never depends on a quiet stream.
#pragma once

#include <windows.h>
#include <cstdint>

constexpr int FastHeaderBytes = 6;
constexpr int FastPieceBytes = 128 * 1024;               // file data per "DA"
constexpr int FastMaxPayload = FastPieceBytes + 64;      // anything longer is no message of this link
constexpr int FastMessageMax = FastHeaderBytes + FastMaxPayload;
constexpr int64_t FastWindowBytes = 8 * 1024 * 1024;     // data sent and not yet acknowledged
constexpr int64_t FastAckEveryBytes = 1024 * 1024;       // the receiver acknowledges this often
// Names in UTF-8 spend up to 3 bytes a UTF-16 unit (a surrogate pair 4 for its two), so the fast link budgets a
// path in units, 259 as a path buffer holds, and sizes its fields for the bytes: a path and its NUL, and a DR
// record (header, a name of 255 units, date, size and type) and its NUL.
constexpr int FastPathUnits = 259;
constexpr int FastPathBytes = 3 * FastPathUnits + 1;
constexpr int FastRecordBytes = 1024;
// 1: names in the ANSI code page; 2: names in UTF-8, once both sides speak 2 (after the client's "HI").
// 3: a whole folder in one exchange (the tree stream), once both sides speak 3.
constexpr int FastLinkVersion = 3;
constexpr int FastUtf8Version = 2;
constexpr int FastTreeVersion = 3;

// The tags, one constant each.
extern const char FastHello[3];     // "HI": client's answer to the agreement: version, read-only, served folder
extern const char FastList[3];      // "LS": list a folder (path)
extern const char FastRows[3];      // "LR": listing rows, each a 2-byte length and a DR record
extern const char FastListEnd[3];   // "LE": the listing is whole: rows sent (4), rows left out (4)
extern const char FastMakeFolder[3];// "MK": make a folder (path)
extern const char FastPush[3];      // "PU": take my file: size, three times, target path
extern const char FastPull[3];      // "GE": send me a file (path)
extern const char FastFileHead[3];  // "FH": the file you asked for: size, three times
extern const char FastResume[3];    // "RS": send from this offset; digest of the part I hold
extern const char FastData[3];      // "DA": offset and file bytes
extern const char FastAck[3];       // "AK": bytes received so far
extern const char FastEnd[3];       // "EN": all data sent; digest of the whole file
extern const char FastDone[3];      // "OK": folder made, file in place
extern const char FastRefuse[3];    // "NO": one reason byte
extern const char FastStop[3];      // "SP": the user stopped the transfer
extern const char FastCut[3];       // "CU": the server closes the link

// The tree stream: one exchange carries a whole folder. The sender walks it and sends its entries back to back;
// the receiver answers each file with what it holds of it ("TW"), and the sender sends that file's "DA" pieces
// and "EN", or "TK" when it sends none. Paths are below the tree's folder, in UTF-8, '\\' between names.
extern const char FastTreePush[3];  // "TP": take my folder: flags (1), the folder to make (path)
extern const char FastTreePull[3];  // "TG": send me this folder: flags (1), its path
extern const char FastTreeFolder[3];// "TD": a folder: attributes (4), three times, path (empty: the tree's folder)
extern const char FastTreeClose[3]; // "TC": everything in that folder has gone: attributes (4), three times, path
extern const char FastTreeFile[3];  // "TF": a file: number (4), size (8), three times, attributes (4), path
extern const char FastTreeWord[3];  // "TW": the receiver on file number (4): what it holds (1), reason (1),
                                    // offset to send from (8), CRC-32C of the part before it (4), and the size (8)
                                    // and last write (8) of the file it holds
extern const char FastTreeSkip[3];  // "TK": no data goes for file number (4): reason (1), 0 for the user's choice
extern const char FastTreeFailed[3];// "TX": the receiver could not make or fill an entry: reason (1), path
extern const char FastTreeEnd[3];   // "TE": sender: every entry has gone; receiver: all of it is written. Files (8),
                                    // bytes (8)
extern const char FastTreeTotal[3]; // "TT": sender, before the first entry: the tree's files (8) and bytes (8)

constexpr uint8_t TreeSkipSame = 1;  // flag: a file held with the same size and last write is not sent again

// What the receiver holds of a file, in "TW".
enum class TreeHeld : uint8_t {
    Nothing = 0,  // send it (from the offset: a part kept from an earlier copy)
    Older = 1,    // a file of that name, last written before the incoming one
    Newer = 2,    // one last written after it, or at the same time with another size
    Same = 3,     // the same size and last write
    Declined = 4, // do not send it: refused (reason) or passed over (reason 0)
};

constexpr int TreeTimesBytes = 24;
constexpr int TreeFolderHeadBytes = 4 + TreeTimesBytes;
constexpr int TreeFileHeadBytes = 4 + 8 + TreeTimesBytes + 4;
constexpr int TreeWordBytes = 4 + 1 + 1 + 8 + 4 + 8 + 8;

// One entry of the stream, as "TD", "TC" and "TF" carry it. path points into the message.
struct TreeEntryWire {
    uint32_t number;
    int64_t size;
    FILETIME times[3];  // creation, last access, last write
    uint32_t attributes;
    const char *path;
    int pathBytes;
};

struct TreeWordWire {
    uint32_t number;
    TreeHeld held;
    uint8_t reason;
    int64_t offset;
    uint32_t digest;
    int64_t heldSize;
    FILETIME heldWritten;
};

// Payloads into out (room bytes); the payload's length, or -1 when it does not fit.
int putTreeFolder(unsigned char *out, int room, const TreeEntryWire &entry);
int putTreeFile(unsigned char *out, int room, const TreeEntryWire &entry);
void putTreeWord(unsigned char *out, const TreeWordWire &word);
// The same read back from a payload; false when it is too short or a size is out of range.
bool parseTreeFolder(const unsigned char *payload, int bytes, TreeEntryWire *entry);
bool parseTreeFile(const unsigned char *payload, int bytes, TreeEntryWire *entry);
bool parseTreeWord(const unsigned char *payload, int bytes, TreeWordWire *word);
// True for a message of the tree stream that is not a request: what is left of a tree that has ended.
bool isTreeStreamMessage(const char *message, int count);

// Why a request was refused. The byte travels; each side shows its own text.
enum class FastReason : uint8_t {
    None = 0,
    Outside = 1,      // not inside what the peer serves
    ReadOnly = 2,     // the peer serves read-only
    CannotWrite = 3,  // the target cannot be written (a folder, a device, a read-only file, no permission)
    DiskFull = 4,
    Digest = 5,       // the bytes that arrived are not the bytes that were sent
    CannotRead = 6,   // the source is missing or cannot be read
    Busy = 7,         // another exchange runs
    Malformed = 8,
    SourceChanged = 9,
    BadName = 10,     // a name this side cannot make (the tree stream)
    TooLong = 11,     // a path too long for either side (the tree stream)
    Unfinished = 12,  // the part of an unfinished receive, which is not sent on (the tree stream)
};

// The refusal's text for the summary; empty for None.
const wchar_t *fastReasonText(FastReason reason);

// The folder of the agreement request: '|' is forbidden in Windows names and is no wildcard, so a peer that
// does not know it lists a missing folder (the terminator alone).
extern const char FastProbeFolderA[];
// The prefix of the one record a new peer answers it with: "|fast|<version>|<R or W>|<served folder>".
extern const char FastProbeRecordPrefix[];
// In place of a served folder that the agreement's field cannot carry (too long for it, or a name the code page
// lacks): the peer serves one folder, not the whole machine. '?' is no folder's name.
extern const char FastServedUntold[];

// True for the requests ("LS", "MK", "PU", "GE", "TP", "TG").
bool isFastRequest(const char *message, int count);

// Whole fast message at data (count bytes held): *length set, true. False while more bytes must come; *length
// is -1 when the header names no message of this link (garbage).
bool cutFastMessage(const char *data, int count, int *length);

// Header into out[0..5] for a payload of payloadBytes.
void putFastHeader(char *out, const char *tag, int payloadBytes);

// True when message (whole, count bytes) carries tag.
bool isFast(const char *message, int count, const char *tag);

// The payload of a whole message and its length.
const unsigned char *fastPayload(const char *message, int count, int *payloadBytes);

// A readable line for the traffic monitors: "[fast] DA 131072 @0", "[fast] LS C:\x", ...
int describeFastMessage(const char *message, int count, char *out, int outBytes);

// The probe record's fields, from a DR record body. False when it is no probe answer.
bool parseProbeRecord(const char *body, int length, int *version, int *readOnly, char *servedA, int servedBytes);

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
// 1: names in the ANSI code page; 2: names in UTF-8, once both sides speak 2 (after the client's "HI").
constexpr int FastLinkVersion = 2;
constexpr int FastUtf8Version = 2;

// The tags, one constant each.
extern const char FastHello[3];     // "HI": client's answer to the agreement: version, read-only, served folder
extern const char FastList[3];      // "LS": list a folder (path)
extern const char FastRows[3];      // "LR": listing rows, each a 2-byte length and a DR record
extern const char FastListEnd[3];   // "LE": the listing is whole (4-byte row count)
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
};

// The refusal's text for the summary; empty for None.
const wchar_t *fastReasonText(FastReason reason);

// The folder of the agreement request: '|' is forbidden in Windows names and is no wildcard, so a peer that
// does not know it lists a missing folder (the terminator alone).
extern const char FastProbeFolderA[];
// The prefix of the one record a new peer answers it with: "|fast|<version>|<R or W>|<served folder>".
extern const char FastProbeRecordPrefix[];

// True for the four requests ("LS", "MK", "PU", "GE").
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

// wire_message.h: building and recognising the messages of the link, byte for byte. "count" is the byte count
// of one whole message as the framer cut it; nothing after it is read. A text message ends at its first zero
// byte or at count, whichever comes first.
#pragma once

#include <windows.h>
#include <cstdint>

#include "core/fast_wire.h"

// Which way file blocks flow: "FR" blocks are pushed by the side that started the copy, "FB" blocks are
// served to the side that asked for a file.
enum class BlockKind : int32_t { FR = 0, FB = 1 };

extern const char AckMessage[4];   // "ACK"
extern const char NakMessage[4];   // "NAK"
extern const char CutMessage[4];   // "CUT"
extern const char DirEndMessage[9];  // "DR999999"
// The two-byte tags of the requests and of DR records.
extern const char DirRequestTag[3];     // "DD": list a folder
extern const char PushRequestTag[3];    // "FD": take the file I send
extern const char PullRequestTag[3];    // "FC": send me a file
extern const char FolderRequestTag[3];  // "CD": make a folder
extern const char DirRecordTag[3];      // "DR"
extern const char PushBlockTag[3];      // "FR": a block of the file the requester pushes
extern const char PullBlockTag[3];      // "FB": a block of the file the requester pulls

// Bytes before the first zero byte, never more than count.
int textLength(const char *message, int count);

// Recognition, exactly as the peer expects it.
bool isNak(const char *message, int count);            // N A K first; length not tested
bool isAck(const char *message, int count);            // A C K first; length not tested
bool isCut(const char *message, int count);            // C U T and text length exactly 3
bool isPathRequest(const char *message, int count, const char *tag);  // "DD", "FD", "FC": text length > 4
bool isFolderRequest(const char *message, int count);  // "CD": text length > 2
bool isPeerRequest(const char *message, int count);    // any of the four requests
bool isDirEnd(const char *message, int count);         // first eight bytes "DR999999"
bool isDirRecord(const char *message, int count);      // "DR" and text length > 11
bool isStopTag(const char *message, int count, BlockKind kind);  // "FRDTSTOP"/"FBDTSTOP", count > 7
bool isTrailer(const char *message, int count, BlockKind kind);  // "FR999999"/"FB999999", count > 7
bool isBlock(const char *message, int count, BlockKind kind);    // "FR"/"FB", count > 7

// The six bytes after a two-byte tag read the way atoi reads them (leading blanks and a sign accepted, the
// first other non-digit ends the number).
int sixDigitNumber(const char *message);

// The six bytes after a block's two-byte tag, when all six are ASCII digits. False otherwise.
bool strictBlockNumber(const char *message, int *number);

// The path bytes of a request (after its two-byte tag, textLength - 2 of them) into out, zero-filled first.
// Returns their count; 0 when there are none or more than a path may hold (PathChars - 1) or than out holds.
int copyRequestPath(const char *message, int textLength, char *out, int outBytes);

// "DD", "FD", "FC" or "CD" followed by the A path, into out (zero-filled first). Returns the text length, or
// -1 when the message would not fit outBytes - 1 bytes (out is then empty).
int buildPathRequest(char *out, int outBytes, const char *tag, const char *pathA);

// "FR%06d" or "FB%06d" into out[0..7] (no NUL). Returns 8.
int buildBlockHeader(char *out, BlockKind kind, int number);

// "FRDTSTOP" or "FBDTSTOP" into out[0..7]. Returns 8.
int buildStopTag(char *out, BlockKind kind);

// The one little-endian rule of both links: bytes (at most 8) of value, least significant first.
void putLittleEndian(unsigned char *out, uint64_t value, int bytes);
uint64_t getLittleEndian(const unsigned char *in, int bytes);

// FILETIME as 64 bits, low word first, each word least significant byte first. A trailer carries three of
// them after its header: creation, last access, last write.
constexpr int FileTimeBytes = 8;
void putFileTime(unsigned char *out, const FILETIME &time);
FILETIME getFileTime(const unsigned char *in);

// "FR999999"/"FB999999" and the three times: 32 bytes into out. Returns 32.
int buildTrailer(char *out, BlockKind kind, const FILETIME &creation, const FILETIME &access, const FILETIME &write);

// The four fields of a DR record body ("name,date,size,type"), split at its last three commas: names are not
// escaped and may hold commas, the other three fields never do.
struct DirRecordFields {
    char name[FastPathBytes];  // a name in UTF-8 on the fast link
    char date[64];
    char size[64];
    char type[64];
};

// Fills fields (cleared first) from the length bytes of text. False when there are fewer than three commas,
// or a field does not fit its buffer (possible only from a foreign peer): such a record is refused, never cut.
bool splitDirRecord(const char *text, int length, DirRecordFields *fields);

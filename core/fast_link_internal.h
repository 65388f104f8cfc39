// fast_link_internal.h: what the parts of the fast link share among themselves (agreement, listings and
// folders, receiving, sending, dispatch). Network thread only, except where a part says otherwise.
#pragma once

#include "core/app_state.h"
#include "core/fast_wire.h"
#include "core/served_folder.h"
#include "core/wire_message.h"

#include <cstdint>

constexpr int TimesBytes = 3 * FileTimeBytes;
constexpr int FileHeadBytes = 8 + TimesBytes;       // size, then the three times
constexpr int64_t ResumeMinBytes = 1 << 20;         // smaller files start again

// ---- Messages out (fast_link.cpp) ----
// Records a message this side sends in the sent ring when the monitors are on.
void logSent(const char *message, int length);
// Sends the message whose payload (payloadBytes) already lies at fastPiece + FastHeaderBytes. 0, or the error.
int sendPiece(const char *tag, int payloadBytes);
// A small message on the exchange's connection, built apart from fastPiece. 0, or the error.
int sendFast(const char *tag, const void *payload, int payloadBytes);
// A message whose payload is one little-endian number of bytes bytes.
void sendNumber(const char *tag, uint64_t value, int bytes);
// Ends the running exchange with a reason the summary can show.
void endWith(TransferOutcome outcome, FastReason reason);
// Tells the peer why, and ends this side's exchange.
void refuseWith(FastReason reason);
// Claims the exchange for a request of the peer's; answers "NO busy" when another runs.
bool claimFast(TransferState serving);
// The path of a fast request as this side serves it. FastReason::None when it may be used.
FastReason resolveFastPath(const unsigned char *path, int bytes, PeerAccess access, wchar_t *out, int outChars);

// ---- The agreement (fast_agreement.cpp) ----
// Server, waiting in RequestDIR after its answer: the client's "HI".
void takeHello(const unsigned char *payload, int bytes);

// ---- Listings and folders (fast_folders.cpp) ----
void serveFastListing(const unsigned char *path, int bytes);
void takeRows(const unsigned char *payload, int bytes);
void takeListEnd(const unsigned char *payload, int bytes);
void makeFastFolder(const unsigned char *path, int bytes);

// ---- Receiving a file (fast_receive.cpp) ----
void startServedFastPush(const unsigned char *payload, int bytes);
void startPulledFile(const unsigned char *payload, int bytes);
void receivePiece(const unsigned char *payload, int bytes);
void finishReceiving(const unsigned char *payload, int bytes);
void deleteResumeInfo();
// Opens target's temporary file, keeping a part an interrupted copy of the same source left (transferSize and
// fastTimes name the source) when it is still of the length whose digest is given; sends nothing. False when it
// cannot be written.
bool openReceivePart(const wchar_t *target, int64_t held, uint32_t digest);
// The part a copy of the source (size, last write) into target would resume from, opened to be read, and its
// length; INVALID_HANDLE_VALUE when nothing can be resumed.
HANDLE openHeldPart(const wchar_t *target, int64_t size, const FILETIME &lastWrite, int64_t *bytes);
// Writes one "DA" payload into the open part; sends nothing.
FastReason writeReceivedPiece(const unsigned char *payload, int bytes);
// "EN": the digest decides; only a whole, matching file replaces the target, with the source's times. Sends
// nothing.
FastReason putReceivedInPlace(const unsigned char *payload, int bytes);
// The next bytes of an open file from where it stands, added to *digest. False when the file ends first or
// reading failed.
bool digestOnward(HANDLE file, int64_t bytes, uint32_t *digest);
bool seekTo(HANDLE file, int64_t offset);

// ---- A part to be resumed (fast_part_check.cpp) ----
// Digests the first bytes of the open file a slice per pass of the loop (stepPartCheck); then the side's own
// procedure below (or the folder stream's) goes on. Nothing to digest goes on at once.
void startPartCheck(PartCheckSide side, HANDLE file, int64_t bytes, uint32_t theirs);
// One slice of the running check. False when none runs.
bool stepPartCheck();
bool partCheckRunning();
// Ends a check without going on (the exchange has ended), closing a file the check opened.
void cancelPartCheck();
// Receiver: the held part's digest (read false: it could not be read, and the part starts again); "RS" goes.
void receivingPartChecked(bool read, int64_t bytes, uint32_t digest);
// Sender: same says whether the receiver's part matched our first bytes; the data flows from there, or from 0.
void sendingPartChecked(bool same, int64_t bytes, uint32_t digest);

// ---- Sending a file (fast_send.cpp) ----
// Opens sendSourcePath for a fast send: size and times into the transfer's fields. False when it cannot be read.
bool openFastSource();
// True when the open source goes whole after its request or head (see fast_send.cpp).
bool fitsOnePiece();
// The one piece, then "EN"; an empty file is "EN" alone.
void sendWholeFileNow();
// The requester's push of a file that fits one piece: the request (its payload given), the piece and "EN" in one
// send, the file read and let go first. 0, or the socket error.
int sendPushWithFile(const unsigned char *request, int requestBytes);
// Size and times of the open source into out (FileHeadBytes).
void putFileHead(unsigned char *out);
void startServedFastPull(const unsigned char *payload, int bytes);
void startSending(const unsigned char *payload, int bytes);
// One "DA" piece of the open source, or "EN" once all of it has gone (*more false then). A reason when the source
// changed or could not be read; nothing was sent for it.
FastReason sendFilePiece(bool *more);
bool sourceUnchanged();

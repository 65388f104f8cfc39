// file_receiver.h: writes the blocks of a received file to a temporary file that replaces the target, with
// the sender's times, only when the trailer arrives.
#pragma once

#include <windows.h>

constexpr int WriteStepFailed = 0;
constexpr int WriteStepBlockWritten = 1;
constexpr int WriteStepFinished = 2;

// Block 0 starts a new file for targetPathA; each later block must carry the next number and is appended;
// 999999 finishes from the 24 trailer bytes and puts the file in the target's place; -1 discards the
// temporary file. Returns WriteStepBlockWritten for a block taken, WriteStepFinished when the target has been
// replaced, and WriteStepFailed otherwise (a block out of order, a failed write, a target that could not be
// replaced); after a failure no temporary file is left.
int writeStep(const char *targetPathA, const char *data, int length, int blockNumber);

// True when a received file could be written to target: it is not a folder or a device, and its temporary
// name fits and is not one either.
bool canReceiveInto(const wchar_t *target);

// The temporary name of a target: cut before the last '.' of its file name and ".$TEMP" appended; a name
// without any '.' gets ".$TEMP" after the whole path. Returns false when the name would not fit outChars - 1 characters.
bool temporaryNameFor(const wchar_t *target, wchar_t *out, int outChars);

// The part a fast receive writes, beside its target: the whole name and ".$TEMP" ("a.txt.$TEMP"), so that
// "a.txt" and "a.doc" never share one. A name too long for that, with room for its resume record's suffix (255
// characters, 255 UTF-8 bytes for a disk that keeps names in UTF-8, a path of 259), is cut and marked with a
// hash of the whole target: "<cut>~1a2b3c4d.$TEMP", still in the target's folder. False when nothing fits.
bool partNameFor(const wchar_t *target, wchar_t *out, int outChars);
// canReceiveInto with that part name.
bool canReceivePartInto(const wchar_t *target);

// What a transfer leaves beside its target: the temporary file of an unfinished receive (".$TEMP") and the fast
// link's resume record (".$RESUME"), compared without case. Neither is one of the user's files.
extern const wchar_t ResumeSuffix[];
bool isTemporaryName(const wchar_t *name);
bool isResumeRecordName(const wchar_t *name);

// Ends an unfinished transfer: closes the open transfer file and deletes a receiver's temporary file.
void abandonTransferFile();

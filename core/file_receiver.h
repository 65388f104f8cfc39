// file_receiver.h: writes the blocks of a received file to a temporary file that replaces the target, with
// the sender's times, only when the trailer arrives.
#pragma once

#include <windows.h>

// Block 0 starts a new file for targetPathA; 1..999998 append; 999999 finishes from the 24 trailer bytes;
// -1 discards the temporary file. Returns 1 while the file is open and every write succeeded, else 0.
int writeStep(const char *targetPathA, const char *data, int length, int blockNumber);

// The temporary name of a target: cut before its last '.' and ".$TEMP" appended; a target without any '.'
// gets ".$TEMP" after the whole path. Returns false when the name would not fit outChars - 1 characters.
bool temporaryNameFor(const wchar_t *target, wchar_t *out, int outChars);

// Ends an unfinished transfer: closes the open transfer file and deletes a receiver's temporary file.
void abandonTransferFile();

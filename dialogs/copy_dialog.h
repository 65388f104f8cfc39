// copy_dialog.h: commands 105 and 106, one copy dialog per selected item.
#pragma once

#include <windows.h>
#include <cstdint>

// Runs the whole copy command over the selected items of the source pane (own pane when !fromPeer).
void runCopyCommand(HWND window, bool fromPeer);

// Builds and sends the "FD" or "FC" request for the item shown in the copy dialog and enters the transfer
// state. Returns false when the request was refused (another exchange running, a path too long) and nothing
// was sent.
bool startCopyRequest(HWND dialog);

// True when a pane's size text ("123", "45K", "953M", "10G", "" ...) stands for more than a transfer may carry.
bool sizeTextTooLarge(const wchar_t *sizeText);

// True for a drive row's name ("c:\").
bool isDriveName(const wchar_t *name);

// folder + "\" (unless the folder already ends with one) + name into out. False, and out empty, when the result
// would not fit outChars - 1 characters.
bool joinFolderName(const wchar_t *folder, const wchar_t *name, wchar_t *out, int outChars);

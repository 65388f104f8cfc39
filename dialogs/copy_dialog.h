// copy_dialog.h: commands 105 and 106, one copy dialog per selected item.
#pragma once

#include <windows.h>

void runCopyCommand(HWND window, bool fromPeer);
void startCopyRequest(HWND dialog);

// folder_dialog.h: commands 107 and 108 and the folder-name dialog.
#pragma once

#include <windows.h>

void runNewFolderCommand(HWND window, bool onPeer);

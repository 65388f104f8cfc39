// folder_dialog.cpp: placeholder until the folder dialog lands.
#include "dialogs/folder_dialog.h"
void runNewFolderCommand(HWND, bool) {}

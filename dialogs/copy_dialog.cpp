// copy_dialog.cpp: placeholder until the copy dialog lands.
#include "dialogs/copy_dialog.h"
void runCopyCommand(HWND, bool) {}
void startCopyRequest(HWND) {}

// environment_dialog.cpp: placeholder until the dialogs land.
#include "dialogs/environment_dialog.h"
INT_PTR runEnvironmentDialog(HWND) { return 0; }
HWND openAboutBox(HWND) { return nullptr; }

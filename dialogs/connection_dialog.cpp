// connection_dialog.cpp: placeholder until the dialog lands.
#include "dialogs/connection_dialog.h"
INT_PTR runConnectionDialog(HWND) { return 0; }

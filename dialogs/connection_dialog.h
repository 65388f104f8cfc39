// connection_dialog.h: the connection settings dialog (command 109).
#pragma once

#include <windows.h>

INT_PTR runConnectionDialog(HWND window);

// environment_dialog.h: the environment dialog (command 116) and the About box (command 119).
#pragma once

#include <windows.h>

INT_PTR runEnvironmentDialog(HWND window);
HWND openAboutBox(HWND window);

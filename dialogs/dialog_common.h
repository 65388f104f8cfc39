// dialog_common.h: what every dialog of the program shares.
#pragma once

#include <windows.h>

// The module whose resources hold the dialog templates and the bitmap.
HINSTANCE dialogInstance();

// WM_PAINT of a dialog that draws nothing of its own: validates the area so no paint message repeats.
void paintNothing(HWND dialog);

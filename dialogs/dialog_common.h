// dialog_common.h: what every dialog of the program shares.
#pragma once

#include <windows.h>

// The module whose resources hold the dialog templates and the bitmap.
HINSTANCE dialogInstance();

// WM_PAINT of a dialog that draws nothing of its own: validates the area so no paint message repeats.
void paintNothing(HWND dialog);

// Fills the label id of dialog with this machine's fingerprint, which a user reads out to the peer's user.
void showOwnFingerprint(HWND dialog, int id);

// environment_dialog.h: the environment dialog (command 116) and the About box (command 119).
#pragma once

#include <windows.h>

INT_PTR runEnvironmentDialog(HWND window);
HWND openAboutBox(HWND window);

// The About picture's size in its bitmap, and where the box draws it: centred along the top at the box's DPI.
constexpr int AboutPictureWidth = 128;
constexpr int AboutPictureHeight = 64;
void aboutPicturePlace(HWND dialog, RECT *place);

// main_window.h: the window class, the main window, its children, layout and the close sequence.
#pragma once

#include <windows.h>

bool createMainWindow(HINSTANCE instance);
// The window's place at first start on a screen of this size and DPI: centred a little above the middle, and
// moved and shrunk into the work area of the screen's monitor when it would not fit there.
void firstStartPlace(int screenWidth, int screenHeight, int dpi, RECT *place);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void createMainChildren(HWND window);
// Back to the first-start layout and focus: 96 DPI, no columns fitted, no pane remembered.
void resetMainWindowLayout();
// Closes the window, the link first when it is open, after asking: a server with a client whether to cut it,
// any other open link whether to close it. The 終了 command and the title bar's close button both come here.
void requestClose(HWND window);

// Gives the keyboard back to the pane that last had it (the own pane at first).
void restorePaneFocus(HWND window);

// Arms timer 1 to close the link: after "CUT" to a connected client 1 s later, otherwise 100 ms later. True
// when "CUT" went out.
bool armLinkClose(HWND window);

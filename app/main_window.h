// main_window.h: the window class, the main window, its children, layout and the close sequence.
#pragma once

#include <windows.h>

bool createMainWindow(HINSTANCE instance);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void createMainChildren(HWND window);
void requestClose(HWND window);

// main_window_harness.h: the program's main window created in the test process, and helpers to drive it.
#pragma once

#include "core/app_state.h"
#include "tests/support/test_support.h"
#include "tests/support/test_window.h"

#include <functional>
#include <string>
#include <vector>

// Creates the main window with the product's code, with startFolder as the current directory. Resets
// AppState first. Shown only when asked; a hidden window gets its first paint by hand.
HWND startMainWindow(const std::wstring &startFolder, bool show = false);

// Destroys the window if it still exists, with the link taken down first so nothing is left running.
void stopMainWindow(HWND window);

// Leaves folder as the current directory (for the temporary folder) and removes it with everything in it.
void leaveAndRemoveFolder(const std::wstring &folder);

std::wstring statusPart(int part);
int statusPartCount();
// Sends the pane's parent an NM_DBLCLK as the list view would.
void doubleClick(HWND window, int paneId);

// Receives one message while serving the window's messages (the network thread waits on them).
std::string receivePumping(SOCKET s, int timeoutMs = 4000);
// True when s sees its peer close within timeoutMs while messages are served (no data comes before).
bool closedPumping(SOCKET s, int timeoutMs);

// An INI value as the profile functions read it.
std::wstring iniValue(const std::wstring &file, const wchar_t *key);

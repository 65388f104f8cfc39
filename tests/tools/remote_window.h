// remote_window.h: reading and driving another process's Parcelwight windows from outside. List-view and
// status-bar messages that carry pointers get their buffers inside the target process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Main windows of running instances; only those of processId when it is not 0. Every desktop is searched.
std::vector<HWND> findMainWindows(DWORD processId = 0);
DWORD windowProcess(HWND window);

// A visible top-level dialog of the process with this caption (any caption when null), or null.
HWND findProcessDialog(DWORD processId, const wchar_t *caption);
// A message box of the process (null when none), with its text.
HWND findMessageBox(DWORD processId, std::wstring *text);

int paneRows(HWND pane);  // -1 when the window does not answer
bool paneText(HWND pane, int row, int column, std::wstring *text);
int findPaneRow(HWND pane, const wchar_t *name);  // the row whose first column is name, or -1
bool selectPaneRow(HWND pane, int row, bool selected);  // row -1: every row
// Double-clicks the row's first column (posted: returns before the pane's owner has handled it).
bool doubleClickPaneRow(HWND pane, int row);

std::wstring controlText(HWND window, int id);
// The status bar's parts joined by '|'.
std::wstring statusText(HWND bar);

// Opens a server's link (its settings say port 0) with openCommand and returns the port the system chose, or 0.
// Should another listener open at the same moment, the link is closed with closeCommand and opened again.
int openServerLink(HWND window, int openCommand, int closeCommand, int timeoutMs);

// Polls done every pollMs until it holds (true) or timeoutMs has passed (false).
bool pollUntil(const std::function<bool()> &done, int timeoutMs, int pollMs = 5);

std::string utf8(const std::wstring &text);

// monitor_window.h: the received-data, sent-data and DIR table windows (commands 113 to 115).
#pragma once

#include <windows.h>

enum class MonitorView : int { Received = 0, Sent = 1, DirTable = 2 };

constexpr int MonitorRowChars = 256;   // a drawn row shows at most this many characters
constexpr int MonitorLineHeight = 20;  // pixels between two drawn lines

// Opens the view's window owned by window, or brings forward the one already open.
HWND openMonitorWindow(HWND window, MonitorView view);

// The view's window title.
const wchar_t *monitorTitle(MonitorView view);

// Rows a view draws at each paint: 32 ring lines or 1024 DIR table rows.
int monitorRowCount(MonitorView view);

// The y position of a row: the ring lines one under the other, the DIR table as 32 pages over 32 lines.
int monitorRowY(MonitorView view, int index);

// The text a row shows: its bytes up to the first zero (never past the row's end) decoded from the ANSI code
// page, at most 256 characters. out is zero-filled first. Returns the number of characters.
int monitorRowText(MonitorView view, int index, wchar_t *out, int outChars);

// Draws every row of a view in index order through draw (TextOutW in the window); empty rows are skipped.
typedef void (*MonitorRowDraw)(void *context, int x, int y, const wchar_t *text, int chars);
void drawMonitorRows(MonitorView view, MonitorRowDraw draw, void *context);

// pane_rows.h: the row tables behind the two virtual list views, their view order and sorting.
#pragma once

#include <windows.h>

// Posted to the panes' parent when the network thread has stored peer rows; many rows share one post.
#define WM_PANE_ROWS (WM_APP + 16)

constexpr int PaneFieldChars = 64;

// A new list view in AppState.ownPane or peerPane starts with an empty table in listing order.
void startPaneTable(HWND pane);
// Both tables empty and bound to no list view, as at first start.
void resetPaneTables();

int paneRowCount(HWND pane);

// Reads the name of the first selected row (the topmost of several) into name, cleared first, and its type
// code into *type when type is not null. False when no row is selected.
bool readSelectedName(HWND pane, wchar_t *name, int nameChars, int *type = nullptr);

// The type code of the row at view index, a folder by its attribute bit where this side has it; -1 for none.
int paneRowType(HWND pane, int item);

// Inserts a row into the pane's table at index (appended when past the end). On the pane's own thread the
// list view shows it at once; from another thread the parent is told with one coalesced WM_PANE_ROWS.
// Returns the row's table index, or -1 when the table could not take it.
int insertPaneRow(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date, const wchar_t *size);

// Like insertPaneRow, with the entry's attributes and its size in bytes kept for opening and sorting.
int insertPaneEntry(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date,
                    const wchar_t *size, DWORD attributes, unsigned long long sizeBytes);

// Stores a row like insertPaneEntry without telling the list view: showPaneRows shows a batch at once.
int storePaneEntry(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date,
                   const wchar_t *size, DWORD attributes, unsigned long long sizeBytes);

// Empties the pane's table, from any thread (as insertPaneRow tells the list view).
void clearPaneRows(HWND pane);

// Shows the table's rows now (UI thread): the view order is rebuilt, sorted when a column was chosen.
void showPaneRows(HWND pane);

// notePeerRowsLeftOut, which counts the peer's records that could not become rows, is declared in core/ui_ops.h.

// Rows the peer's listing could not show (malformed or too large for a row), counted since the last clear.
int peerRowsLeftOut();

// The panes' parent procedure hands these over: LVN_GETDISPINFOW, LVN_COLUMNCLICK, LVN_ODFINDITEMW from a
// pane, and WM_PANE_ROWS. True when handled, with the result in *result.
bool handlePaneMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

// Sorts a pane by column 0 (name), 1 (date) or 2 (size): folders first, then files; the same column again
// turns the order round. Selected rows stay selected.
void sortPane(HWND pane, int column);

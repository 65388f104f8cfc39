// pane_test_window.h: a hidden stand-in for the main window with the two real list views and labels 305/306.
#pragma once

#include "core/app_state.h"

#include <string>
#include <vector>

struct PaneRow {
    std::wstring name;
    std::wstring date;
    std::wstring size;
    int image;
};

// Creates the parent with list views 301/302 (report view, three columns) and labels 305/306, and points
// AppState.ownPane and AppState.peerPane at them.
HWND createPaneTestWindow();
void destroyPaneTestWindow(HWND parent);

std::vector<PaneRow> paneRows(HWND pane);
const PaneRow *findRow(const std::vector<PaneRow> &rows, const std::wstring &name);

// Appends a row with only a name (image 0).
void addNameRow(HWND pane, const wchar_t *name);
// Selects exactly the given row; -1 clears the selection.
void selectOnly(HWND pane, int row);
int rowIndex(HWND pane, const std::wstring &name);

std::wstring labelText(HWND parent, int id);

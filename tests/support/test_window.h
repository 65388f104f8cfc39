// test_window.h: the stand-in main window of the suites, bare (test_window.cpp) or with the panes and labels of
// the window suites (test_panes.cpp), and the list-view readers and drivers they share.
#pragma once

#include "core/app_state.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A stand-in main window of the calling thread (message-only unless visible): counts each timer that fires on it
// (one-shot: killed when it fires) and the recorder's synchronous messages, from zero at each creation.
HWND createTestWindow(bool visible = false);
long timersFired(UINT_PTR id);
long syncMessagesServed();

// The visible stand-in with virtual list views 301/302 over the panes' row tables (report view, three columns: name, date,
// size) and labels 303..306; sets AppState.instance, mainWindow, ownPane, peerPane and the label handles.
HWND createTestMainWindow();
void destroyTestMainWindow(HWND window);

// A fresh AppState, recorded message boxes and the stand-in main window for each test.
class TestWindowFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    HWND window = nullptr;
};

// The same with a fresh temporary folder, removed with everything in it after the window.
class FolderWindowFixture : public TestWindowFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring folder;
};

struct PaneRow {
    std::wstring name;
    std::wstring date;
    std::wstring size;
    int image;
};

// Every row of a pane: the three column texts and the image index.
std::vector<PaneRow> paneRows(HWND pane);
const PaneRow *findRow(const std::vector<PaneRow> &rows, const std::wstring &name);
// Checks the pane holds exactly the rows of want, in order, every field.
void expectRowsAt(Caller at, HWND pane, const std::vector<PaneRow> &want);
#define expectRows(...) expectRowsAt(HERE, __VA_ARGS__)
std::wstring paneCell(HWND pane, int row, int column);
std::vector<std::wstring> paneNames(HWND pane);
// Index of the first row named name, or -1.
int paneRowOf(HWND pane, const std::wstring &name);

// Adds a row with a name, image 0 and a size text at index (the end when -1).
void addPaneRow(HWND pane, const std::wstring &name, const std::wstring &size = std::wstring(), int index = -1);
// Selects exactly the given rows (none when empty).
void selectRows(HWND pane, const std::vector<int> &rows);
// Selects exactly the rows with these names; a fatal failure when one is missing.
void selectNamedRowsAt(Caller at, HWND pane, const std::vector<std::wstring> &names);
#define selectNamedRows(...) selectNamedRowsAt(HERE, __VA_ARGS__)
std::vector<int> selectedRows(HWND pane);

std::wstring windowText(HWND window);
std::wstring controlText(HWND dialog, int id);

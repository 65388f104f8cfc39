// fake_ui.h: the user-interface operations of the core, recorded for the suites that run without the program's
// windows; when a window is given, each is first carried to that window's thread with a synchronous message, as
// the program's windows are.
#pragma once

#include "core/app_state.h"

#include <string>
#include <vector>

struct FakeUi {
    std::vector<TransferState> states;     // transferState at each refreshStatus
    std::vector<std::string> peerRows;     // "<index>|<record body>" for each row taken
    int clears = 0;                        // clearPeerPane calls
    std::vector<std::wstring> linkLabels;  // setLinkLabel texts
    std::vector<std::wstring> servedFolders;  // peerServesFolder: the folder the peer said it serves
    bool refuseRecords = false;            // addPeerRecord refuses every row
    int rowsLeftOut = 0;                   // notePeerRowsLeftOut, summed
    std::vector<TransferOutcome> outcomes; // AppState.lastOutcome at each exchangeEnded
};

// Clears the record and forgets the window (not thread-safe against a running network thread).
void resetFakeUi();
FakeUi fakeUiSnapshot();
// Rows with fewer than three commas are refused as the peer pane refuses them; with refuse, every row.
void setFakeUiRefuseRecords(bool refuse);

// Every operation but exchangeEnded called on another thread than window's first sends it FakeUiSyncMessage.
constexpr UINT FakeUiSyncMessage = WM_APP + 40;
void setFakeUiWindow(HWND window);
// How many synchronous messages the network thread has started to send since setFakeUiWindow.
long fakeUiSendsStarted();

// net_ui.h: the user-interface operations of the core for the network suites: recorded, and when a window is
// given, carried to that window's thread with a synchronous message first, as the program's windows are.
#pragma once

#include "core/app_state.h"

#include <string>
#include <vector>

struct NetUi {
    std::vector<TransferState> states;     // transferState at each refreshStatus
    std::vector<std::string> peerRows;     // "<index>|<record body>"
    int clears = 0;
    std::vector<std::wstring> linkLabels;
    std::vector<TransferOutcome> outcomes;  // AppState.lastOutcome at each exchangeEnded
};

void resetNetUi();
NetUi netUiSnapshot();

// Every operation called on another thread than window's first sends it NetUiSyncMessage and waits.
constexpr UINT NetUiSyncMessage = WM_APP + 40;
void setNetUiWindow(HWND window);
// How many synchronous messages the network thread has started to send.
long netUiSendsStarted();

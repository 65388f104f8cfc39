// fake_ui.h: the user-interface operations of the core, recorded for the suites that run without windows.
#pragma once

#include "core/app_state.h"

#include <string>
#include <vector>

struct FakeUi {
    std::vector<TransferState> states;     // transferState at each refreshStatus
    std::vector<std::string> peerRows;     // "<index>|<record body>" for each addPeerRecord
    int clears;                            // clearPeerPane calls
    std::vector<std::wstring> linkLabels;  // setLinkLabel texts
    bool refuseRecords;                    // addPeerRecord answers true (refused)
    std::vector<TransferOutcome> outcomes; // AppState.lastOutcome at each exchangeEnded
};

// Clears the record (not thread-safe against a running network thread; call between exchanges).
void resetFakeUi();
FakeUi fakeUiSnapshot();
void setFakeUiRefuseRecords(bool refuse);

// app_state.cpp: the one AppState record.
#include "core/app_state.h"
#include "core/reports.h"
#include "core/tree_listing.h"
#include "core/ui_ops.h"

#include <cstring>

AppStateRecord AppState;

void resetAppState()
{
    freeTreeListing();
    memset(&AppState, 0, sizeof(AppState));
    discardReports();
    static const int32_t edges[StatusParts] = {90, 140, 250, 370, 850, -1};
    memcpy(AppState.statusEdges, edges, sizeof(edges));
    AppState.peerAddressLength = sizeof(sockaddr_in);
    AppState.livenessMs = DefaultLivenessMs;
    AppState.transferSize = -1;
    AppState.resumedFrom = -1;
    // Served as before until the settings say otherwise: a new INI asks.
    AppState.admission = AdmissionMode::Everyone;
    resetUiModules();
}

void setCopyDialog(HWND dialog)
{
    InterlockedExchangePointer(&AppState.copyDialog, dialog);
}

HWND openCopyDialog()
{
    return static_cast<HWND>(InterlockedCompareExchangePointer(&AppState.copyDialog, nullptr, nullptr));
}

const wchar_t *transferStateName(TransferState state)
{
    static const wchar_t *const names[] = {
        L"Waiting",      L"CallDIR",         L"RequestDIR", L"CallCopyTO", L"RequestCopyTO", L"CallCopyFrom",
        L"RequestCopyFrom", L"FolderTO",     L"FolderFrom", L"StopTO",     L"StopFrom",
    };
    int index = static_cast<int>(state);
    if (index < 0 || index >= static_cast<int>(COUNTOF(names)))
        return L"";
    return names[index];
}

// peer_pane.h: the right list view, the peer's folder as its DR records arrive.
#pragma once

#include <windows.h>

// addPeerRecord and clearPeerPane are declared in core/ui_ops.h.
#include "core/ui_ops.h"

// A double-click in the peer pane: moves AppState.peerFolder by the first selected row, empties the pane and
// asks the peer for the folder (state CallDIR). Called only while the transfer state is Waiting.
void navigatePeerPane(HWND window);

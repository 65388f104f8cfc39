// peer_pane.h: the right list view, the peer's folder as its DR records arrive.
#pragma once

#include <windows.h>

// addPeerRecord and clearPeerPane are declared in core/ui_ops.h.
#include "core/ui_ops.h"

void navigatePeerPane(HWND window);

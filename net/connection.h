// connection.h: opening and closing the one TCP link, and this machine's own address and name.
#pragma once

#include "core/app_state.h"

bool openClient(HWND window);
bool openServer(HWND window);
void closeLink(HWND window);
bool lookupOwnHost();

// Fills AppState.linkAddress from AppState.ip and AppState.port: the server's address in Client mode, every
// local address in Server mode.
void fillLinkAddress(ConnectionMode mode);

// True from the moment closeLink starts closing the socket until the next open: a receive or select that fails
// then was caused by the close, not by the peer.
bool linkIsClosing();

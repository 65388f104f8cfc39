// peer_pane.cpp: placeholder until the peer pane lands.
#include "panes/peer_pane.h"
bool addPeerRecord(const char *, int) { return false; }
void clearPeerPane() {}
void navigatePeerPane(HWND) {}

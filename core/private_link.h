// private_link.h: the answers the user interface gives to the private link's questions (core/ui_ops.h asks
// them). Called on the UI thread; the network thread takes them on its next pass.
#pragma once

// The user's answer to askPairing: true when the other screen shows the same code.
void pairingAnswered(bool same);
// The user's answer to askClassicPeer: serve (or use) the classic peer, and whether to keep that answer for
// its address.
void classicPeerAnswered(bool allow, bool remember);

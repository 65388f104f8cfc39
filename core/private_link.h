// private_link.h: the answers the user interface gives to the private link's questions (core/ui_ops.h asks
// them). Called on the UI thread; the network thread takes them on its next pass.
#pragma once

#include <cstdint>

// The user's answer to askPairing: true when the other screen shows the same code.
void pairingAnswered(bool same);
// The user's answer to askClassicPeer: serve (or use) the classic peer, and whether to keep that answer for
// its address.
void classicPeerAnswered(bool allow, bool remember);

// The answers as the network thread takes them: each one once, None while the user has not answered. The
// network thread takes any stale answer before it asks.
enum class UserAnswer : int32_t { None = 0, Yes = 1, No = 2 };
UserAnswer takePairingAnswer();
// remember (when not null) says whether the user wants the answer kept for the peer's address.
UserAnswer takeClassicPeerAnswer(bool *remember);

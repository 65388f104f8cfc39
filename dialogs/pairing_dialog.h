// pairing_dialog.h: the pairing question (template 31), modeless: the code both screens show, the peer's name
// and fingerprint, a countdown, はい and いいえ. Its answer goes to pairingAnswered (core/private_link.h).
#pragma once

#include <windows.h>

// How long the question waits for the user, as long as the link waits for it.
constexpr int PairingSeconds = 60;

// Shows the question over owner, in place of one still on screen; null when it could not be made. After はい it
// stays, says it waits for the peer's user, and goes by itself once the link is private or closed; いいえ,
// closing it or the end of the time answers no.
HWND openPairingDialog(HWND owner, const wchar_t *code, const wchar_t *peerName, const wchar_t *peerFingerprint,
                       int seconds);
// The link gave up on the pairing (the peer declined, the time ran out, the link ended): the question goes, and
// the user is told when it was still on screen.
void endPairingDialog();
// The question on screen, or null.
HWND pairingDialogWindow();

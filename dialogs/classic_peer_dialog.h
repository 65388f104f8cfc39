// classic_peer_dialog.h: the classic-peer question (template 32), modeless: whether to serve (Server) or use
// (Client) a peer of the old way, which cannot be encrypted, and whether to keep the answer for its address. Its
// answer goes to classicPeerAnswered (core/private_link.h).
#pragma once

#include <windows.h>

// Shows the question about the peer at this dotted address over owner, in place of one still on screen; null
// when it could not be made. いいえ and closing it answer no; it goes by itself when the link closes.
HWND openClassicPeerDialog(HWND owner, const wchar_t *address);
// The question on screen, or null.
HWND classicPeerDialogWindow();

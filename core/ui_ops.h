// ui_ops.h: what the transfer core and the network thread ask of the user interface. The program provides
// these with its windows (app/status_bar.cpp, panes/peer_pane.cpp, panes/pane_rows.cpp, app/module_reset.cpp);
// the console host and the tests provide their own. From the network thread they must be synchronous: they
// return when the update is done.
#pragma once

#include <windows.h>

// Rewrites the six status-bar parts from AppState.
void refreshStatus();

// Inserts one DR record body (name,date,size,type; not NUL-terminated within length) into the peer pane at
// AppState.lastDirIndex. Returns true when the record is malformed and was refused. The program stores the row
// in the pane's table and tells the window with a post: the row is in place when this returns, not yet drawn.
bool addPeerRecord(const char *text, int length);

// Counts rows of the peer's listing that could not be shown: records malformed or too large for a row, and
// entries the peer left out because its link cannot carry them. The folder label tells the count. Any thread.
void notePeerRowsLeftOut(int rows);

// Removes every row of the peer pane.
void clearPeerPane();

// Sets the text of the link label (control 304 of the main window).
void setLinkLabel(const wchar_t *text);

// The exchange this side asked for has ended; AppState.lastOutcome says how. Never waits: the program posts
// it to the copy dialog.
void exchangeEnded();

// A tree stream met a file that is there (AppState.treeAsk): the copy dialog asks the overwrite question. Never
// waits: the answer comes back through AppState.treeQuestion.
void askTreeOverwrite();

// The peer serves one folder, AppState.peerServedFolder: the peer pane opens it. Never waits.
void peerServesFolder();

// A received file has been put in place at targetPath (wide, NUL-terminated), or the peer has had a folder made
// there. Never waits: the program posts it to the main window, which lists its own pane again when that is the
// folder it shows.
void fileArrived(const wchar_t *targetPath);

// Pairing with a new machine: shows the code both screens show and asks whether the peer's screen shows the
// same one. Never waits: the answer comes back through pairingAnswered (core/private_link.h), or never, and
// the link ends after 60 s.
void askPairing(const wchar_t *code, const wchar_t *peerName, const wchar_t *peerFingerprint);
// Takes the pairing question away unanswered (the link ended, the peer declined, the time ran out).
void endPairingQuestion();
// A classic peer (no encryption) at this dotted address: asks whether to serve it (Server) or to use it
// (Client). Never waits: the answer comes back through classicPeerAnswered.
void askClassicPeer(const wchar_t *address);
// A paired machine came back with another key and was refused. Never waits.
void warnKeyChanged(const wchar_t *peerName, const wchar_t *address);

// Puts the user interface's own module statics back to their first-start values; resetAppState calls it last,
// with the link closed.
void resetUiModules();

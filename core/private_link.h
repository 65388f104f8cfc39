// private_link.h: the private link between two instances of this program: the handshake right after the fast
// link's agreement, the records every later message travels in, and who is admitted at all (classic peers, new
// instances not yet paired). The network thread calls these for one connection at a time, named by its channel:
// the server's slot, or PrivateClientChannel in Client mode. pairingAnswered and classicPeerAnswered come from
// the UI thread.
#pragma once

#include "core/app_state.h"

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

constexpr int PrivateClientChannel = ClientSlotCount;
constexpr int PrivateChannelCount = ClientSlotCount + 1;
// The fast link's version that promises the handshake after "HI".
constexpr int FastPrivateVersion = 4;
// A question to the user that nobody answers, or a handshake that stalls, ends the link after this long.
constexpr DWORD PairingAnswerMs = 60000;
// Tests shorten it.
void setPrivateAnswerMs(DWORD ms);

// The handshake's messages, in the fast link's form (tag, 4-byte length, payload).
extern const char PrivateCommit[3];       // "PC": client: SHA-256 of its ephemeral key and nonce
extern const char PrivateServerHello[3];  // "PS": server: ephemeral key, nonce, identity key, host name
extern const char PrivateClientHello[3];  // "PK": client: the same, opening its commitment
extern const char PrivateDecision[3];     // "PD": server: 1 when both users compare the code
extern const char PrivateFinish[3];       // "PF": this side's signature of the handshake: its side said yes

// The version this side offers in the agreement: FastPrivateVersion once it has an identity key.
int offeredFastVersion();

// A connection begins (accept, the client thread's start) or ends (drop, the thread's end).
void privateChannelOpened(int channel);
void privateChannelClosed(int channel);

// The agreement has ended with the peer's version (0: a classic peer). Client: the handshake starts, or the
// classic server is screened; true when the listings may start now. Server: after "HI" the handshake is
// awaited; true always.
bool privateAfterAgreement(int channel, int peerVersion);

// False while the connection is being proven (the handshake) or asked about: nothing may start on it.
bool privateAdmitted(int channel);
// The same for the link's own connection (the client's, or the server's shown one).
bool privateLinkReady();

enum class PrivateVerdict : int32_t {
    Serve = 0,     // hand the message on as always
    Consumed = 1,  // the handshake took it, or it waits for the user's answer
    Close = 2,     // end this connection: a failed check or a refusal (the user has been told)
};
// A request, the only kind of message that gets anything served: the fast link's, or a classic DD, FD, FC, CD.
bool isServedRequest(const char *message, int length, const MessageFramer *framer);
// Every whole message of a connection passes here first.
PrivateVerdict privateScreen(int channel, const char *message, int length, MessageFramer *framer);

enum class PrivateEvent : int32_t {
    None = 0,
    Release = 1,   // admitted now: the held message (Server) is to be served, or the listings start (Client)
    Close = 2,
};
// Once per pass of the network thread: the user's answers and the 60 s limit. *message and *length are the held
// message with Release, when there is one.
PrivateEvent privatePass(int channel, const char **message, int *length);

// Sends on the connection's socket when its sending is sealed or held: true with *sent set when it took the
// send. Every send of the program passes here first.
bool privateSend(SOCKET s, const char *data, int length, bool *sent);

// Receiving: where the next receive goes (the record buffer once the peer seals, else the framer), and the
// bytes it brought (space is where they were put). False when a record failed its check: the connection ends
// and nothing of it reached the framer.
char *privateReceiveSpace(int channel, int *room);
bool privateReceivesSealed(int channel);
bool privateReceived(int channel, MessageFramer *framer, char *space, int bytes, DWORD now);
// Opens the records that wait, as far as the framer has room. False on a failed check; *added set when the
// framer got bytes.
bool privateOpenWaiting(int channel, MessageFramer *framer, bool *added);

// paired_machines.h: the machines this instance has paired with, kept in a file beside its INI, and the
// addresses whose classic peers the user decided about. Both threads call these; each call is whole.
#pragma once

#include "core/crypto.h"

#include <windows.h>
#include <cstdint>

struct PairedMachine {
    wchar_t fingerprint[32];   // as AppState.ownFingerprint shows one
    wchar_t hostName[64];
    wchar_t address[16];       // dotted IPv4 it last came from
    FILETIME pairedAt;
};

// The file beside Parcelwight.ini.
extern const wchar_t PairedFileName[];
constexpr int PairedMachinesMax = 64;
constexpr int ClassicAnswersMax = 64;

// True when a machine with this fingerprint has been paired.
bool pairedMachineKnown(const wchar_t *fingerprint);
// The paired machines in the order they were paired, for the dialog that lists them.
int pairedMachineCount();
bool pairedMachineAt(int index, PairedMachine *out);
// Forgets one; its next meeting pairs again. False when there was none or the file could not be written.
bool forgetPairedMachine(const wchar_t *fingerprint);

// What a peer's key is to us: paired with it; unknown; or a host name we paired with under another key.
enum class PeerStanding : int32_t { Paired = 0, Unknown = 1, KeyChanged = 2 };
PeerStanding peerStanding(const uint8_t publicKey[EcdsaPublicBytes], const wchar_t *hostName);
// Remembers a machine both users have just confirmed (its earlier entry under the same key is replaced).
bool rememberPairedMachine(const uint8_t publicKey[EcdsaPublicBytes], const wchar_t *hostName,
                           const wchar_t *address);

// The user's kept answer for classic peers at this dotted address: 1 allow, 0 refuse, -1 none kept.
int classicAnswerFor(const wchar_t *address);
bool rememberClassicAnswer(const wchar_t *address, bool allow);
bool forgetClassicAnswer(const wchar_t *address);

// Reads the file again (at start, and by tests after they change the start folder).
void reloadPairedMachines();

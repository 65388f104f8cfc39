// paired_machines.h: the machines this instance has paired with, kept in a file beside its INI, and the
// addresses whose classic peers the user decided about.
#pragma once

#include <windows.h>
#include <cstdint>

struct PairedMachine {
    wchar_t fingerprint[32];   // as AppState.ownFingerprint shows one
    wchar_t hostName[64];
    wchar_t address[16];       // dotted IPv4 it last came from
    FILETIME pairedAt;
};

// True when a machine with this fingerprint has been paired.
bool pairedMachineKnown(const wchar_t *fingerprint);
// The paired machines in the order they were paired, for the dialog that lists them.
int pairedMachineCount();
bool pairedMachineAt(int index, PairedMachine *out);
// Forgets one; its next meeting pairs again. False when there was none or the file could not be written.
bool forgetPairedMachine(const wchar_t *fingerprint);

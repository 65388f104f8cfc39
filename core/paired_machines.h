// paired_machines.h: the machines this instance has paired with, kept in a file beside its INI.
#pragma once

#include <windows.h>

// True when a machine with this fingerprint (as AppState.ownFingerprint shows one) has been paired.
bool pairedMachineKnown(const wchar_t *fingerprint);

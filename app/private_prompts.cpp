// private_prompts.cpp: the program's side of the private link's questions (core/ui_ops.h).
#include "core/ui_ops.h"

void askPairing(const wchar_t *code, const wchar_t *peerName, const wchar_t *peerFingerprint)
{
    (void)code;
    (void)peerName;
    (void)peerFingerprint;
}

void endPairingQuestion()
{
}

void askClassicPeer(const wchar_t *address)
{
    (void)address;
}

void warnKeyChanged(const wchar_t *peerName, const wchar_t *address)
{
    (void)peerName;
    (void)address;
}

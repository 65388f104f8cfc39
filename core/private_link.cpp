// private_link.cpp: the private link's handshake, records and admission.
#include "core/private_link.h"

#include <windows.h>

// Written by the UI thread, taken by the network thread: whole words exchanged, never torn.
static volatile LONG PairingAnswer = static_cast<LONG>(UserAnswer::None);
static volatile LONG ClassicPeerAnswer = static_cast<LONG>(UserAnswer::None);
static volatile LONG ClassicPeerRemember = 0;

void pairingAnswered(bool same)
{
    InterlockedExchange(&PairingAnswer, static_cast<LONG>(same ? UserAnswer::Yes : UserAnswer::No));
}

void classicPeerAnswered(bool allow, bool remember)
{
    // The remembering goes first, so that an answer taken never comes with an older choice.
    InterlockedExchange(&ClassicPeerRemember, remember ? 1 : 0);
    InterlockedExchange(&ClassicPeerAnswer, static_cast<LONG>(allow ? UserAnswer::Yes : UserAnswer::No));
}

UserAnswer takePairingAnswer()
{
    return static_cast<UserAnswer>(InterlockedExchange(&PairingAnswer, static_cast<LONG>(UserAnswer::None)));
}

UserAnswer takeClassicPeerAnswer(bool *remember)
{
    UserAnswer answer =
        static_cast<UserAnswer>(InterlockedExchange(&ClassicPeerAnswer, static_cast<LONG>(UserAnswer::None)));
    bool kept = InterlockedExchange(&ClassicPeerRemember, 0) != 0;
    if (remember != nullptr)
        *remember = answer != UserAnswer::None && kept;
    return answer;
}

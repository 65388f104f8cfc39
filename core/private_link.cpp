// private_link.cpp: the private link's handshake, records and admission.
#include "core/private_link.h"

void pairingAnswered(bool same)
{
    (void)same;
}

void classicPeerAnswered(bool allow, bool remember)
{
    (void)allow;
    (void)remember;
}

// receive_loops.h: the network thread, one receive one message, in Client and in Server mode.
#pragma once

#include <windows.h>
#include <cstdint>

DWORD WINAPI ClientThread(LPVOID parameter);
DWORD WINAPI ServerThread(LPVOID parameter);

// Server mode: the number of occupied client slots; 0 in Client mode.
int32_t countClients();

// The peer of the running exchange has gone: closes the transfer file (a half-received file's temporary file
// is deleted), forgets a pending stop and returns to Waiting. Called on the network thread, or on the UI thread
// once the network thread has ended.
void abandonExchange();

// receive_loops.h: the network thread, one receive one message, in Client and in Server mode.
#pragma once

#include <windows.h>
#include <cstdint>

DWORD WINAPI ClientThread(LPVOID parameter);
DWORD WINAPI ServerThread(LPVOID parameter);

// Server mode: the number of occupied client slots; 0 in Client mode.
int32_t countClients();

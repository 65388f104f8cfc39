// receive_loops.cpp: placeholder until the receive loops land.
#include "net/receive_loops.h"
DWORD WINAPI ClientThread(LPVOID) { return 0; }
DWORD WINAPI ServerThread(LPVOID) { return 0; }
int32_t countClients() { return 0; }

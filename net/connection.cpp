// connection.cpp: placeholder until the link code lands.
#include "net/connection.h"
bool openClient(HWND) { return false; }
bool openServer(HWND) { return false; }
void closeLink(HWND) {}
bool lookupOwnHost() { return false; }

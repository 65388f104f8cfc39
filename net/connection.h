// connection.h: opening and closing the one TCP link, and this machine's own address and name.
#pragma once

#include <windows.h>

bool openClient(HWND window);
bool openServer(HWND window);
void closeLink(HWND window);
bool lookupOwnHost();

// link_errors.h: what the user is told when the link cannot be made, in words and with the socket's number.
#pragma once

#include <windows.h>

// The box of a failed connect: why, in Japanese, what to check, and "Err No.%d" with the number, under the
// caption "connect_Error".
void showConnectFailure(HWND owner, int code, int port);

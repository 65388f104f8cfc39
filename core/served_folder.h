// served_folder.h: what the peer may reach on this machine: every path it names in a request is made
// absolute, normalised and checked here before this side lists, reads, writes or creates anything.
#pragma once

#include <winsock2.h>
#include <windows.h>

// What a request wants to do with the path it names.
enum class PeerAccess : int { List = 0, Read = 1, Write = 2, CreateFolder = 3 };

// The wide form of the A path (bytes long) that the peer named, as this side will use it, into out (at most
// outChars - 1 characters and a NUL). False when the request is to be refused: the path cannot be converted
// or does not fit, or the peer may not reach it for this access.
bool resolvePeerPath(const char *pathA, int bytes, PeerAccess access, wchar_t *out, int outChars);

// False when a connection from this address is to be closed at once, before anything is read from it.
bool peerAddressAllowed(const sockaddr_in &address);

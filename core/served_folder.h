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

// Why a path was refused, for the links that can say it.
enum class PathRefusal : int { None = 0, Malformed = 1, ReadOnly = 2, Outside = 3, Missing = 4 };
// resolvePeerPath, with the reason of a refusal in *why.
bool resolvePeerPathFor(const char *pathA, int bytes, PeerAccess access, wchar_t *out, int outChars,
                        PathRefusal *why);

// The same check on a wide path. A path is only ever a drive letter, ":\" and plain names; any other form
// (another drive's current folder, a share, a device, a stream, a name the platform would change) is refused
// whatever the settings, and so is any path outside AppState.servedFolder when that is set.
bool resolvePeerPathW(const wchar_t *path, PeerAccess access, wchar_t *out, int outChars);

// True when the name (chars long) opens a device, not a file: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and
// LPT0-9 (with the superscript digits), with or without an extension and with spaces before it.
bool isDeviceName(const wchar_t *segment, int chars);

// The normal form of a served-folder setting into out; false when it is not a plain absolute path.
bool normalFolderPath(const wchar_t *folder, wchar_t *out, int outChars);

// True when a peer connecting from address may stay: AppState.allowedPeerAddress is empty or names it.
bool peerAddressAllowed(const sockaddr_in &address);

// True when an allowed-address setting is empty or a dotted IPv4 address.
bool allowedAddressUsable(const wchar_t *text);

// True when this side serves less than everything: a served folder, read-only, or one allowed address.
bool servedLimited();

// The status-bar text that says how this side is limited; " " when it is not.
void servedLimitText(wchar_t *out, int outChars);

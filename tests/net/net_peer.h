// net_peer.h: the test acting as the other side of a link over loopback sockets.
#pragma once

#include "core/app_state.h"
#include "tests/support/test_support.h"
#include "tests/support/test_window.h"

#include <functional>
#include <string>
#include <vector>

// As requester, over s: a listing of folderA (rows without the terminator), a push of bytes to targetA with the
// given last-write time, a pull of sourceA. False (with the reason in *why) when the peer does not follow.
bool peerListing(SOCKET s, const std::string &folderA, std::vector<std::string> *rows, std::string *why);
// "FR999999"/"FB999999" with written as all three times.
std::string trailerBytes(const char *tag, const FILETIME &written);
// glued goes in the same send as the trailer.
bool peerPush(SOCKET s, const std::string &targetA, const std::string &bytes, const FILETIME &written,
              std::string *why, const std::string &glued = "");
bool peerPull(SOCKET s, const std::string &sourceA, std::string *bytes, FILETIME *written, std::string *why);

// Answers the server's own "DD" (sent 500 ms after the first listing it serves) with the terminator alone.
bool answerServerListing(SOCKET s, std::string *why);

// served_folder.cpp: the check every path named by the peer passes before this side acts on it.
#include "core/served_folder.h"

#include "core/app_state.h"
#include "core/text_codec.h"

#include <cstring>

bool resolvePeerPath(const char *pathA, int bytes, PeerAccess, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    if (pathA == nullptr || bytes <= 0)
        return false;
    if (ansiToWide(pathA, bytes, out, outChars) <= 0) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool peerAddressAllowed(const sockaddr_in &)
{
    return true;
}

// search_wire.h: the datagrams by which a client finds the servers of its LAN, and the records of what it found
// and of the servers it reached before.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <cstdint>

// A question is exactly this long: "PWSQ", the version, the round, two zero bytes, the asker's number (LE).
constexpr int SearchQuestionBytes = 12;
// An answer is never longer: a longer datagram is no answer.
constexpr int SearchAnswerMaxBytes = 512;
constexpr int SearchWireVersion = 1;
constexpr int SearchAddressesMax = 8;
constexpr int SearchFoundMax = 32;
constexpr int SearchPortsMax = 4;
constexpr int SearchDirectMax = 16;
constexpr int RecentServersMax = 4;
// The multicast group of the search, 239.255.77.77 (organisation-local scope), in host order.
constexpr uint32_t SearchGroupAddress = 0xEFFF4D4Du;

// What a server says of itself: nothing of its folders but whether it serves one, and whether read-only.
enum : int32_t { SearchServesOneFolder = 1, SearchServesReadOnly = 2 };

struct SearchAnswer {
    uint32_t nonce;                          // the asker's number, sent back
    int32_t port;                            // TCP port of the link
    int32_t flags;                           // SearchServes...
    int32_t addressCount;
    uint32_t addresses[SearchAddressesMax];  // its IPv4 addresses, network order
    wchar_t hostName[64];
    wchar_t fingerprint[32];
    wchar_t version[16];
};

// One row of a search: a server that answered, or one met before that has not answered (yet).
struct FoundServer {
    SearchAnswer answer;                     // valid when answered
    wchar_t address[16];                     // dotted IPv4 it answered from, or where it was reached before
    int32_t port;
    int32_t answered;
};

// A search. The UI thread sets the first group and the rows met before, then starts the search thread; from
// then on the thread owns the rest until it has ended, writing each new row once before it posts its index.
struct ServerSearch {
    int32_t ports[SearchPortsMax];           // UDP ports asked by broadcast and multicast
    int32_t portCount;
    sockaddr_in direct[SearchDirectMax];     // machines met before, asked directly
    int32_t directCount;
    int32_t loopbackOnly;                    // tests: this machine only, never the LAN
    HWND notify;                             // told WM_SEARCH_FOUND (wParam: row) and WM_SEARCH_DONE
    FoundServer found[SearchFoundMax];
    volatile LONG foundCount;
    volatile LONG cancel;
    HANDLE thread;
};

// A server this instance reached as a client, newest first.
struct RecentServer {
    wchar_t address[16];
    int32_t port;
};

int buildSearchQuestion(unsigned char *out, int outBytes, uint32_t nonce, int round);
bool parseSearchQuestion(const unsigned char *in, int bytes, uint32_t *nonce, int *round);
// Returns the bytes written, or 0 when it would not fit.
int buildSearchAnswer(unsigned char *out, int outBytes, const SearchAnswer &answer);
// Exactly one whole answer of this version, its texts valid UTF-8 that fit their fields; else false.
bool parseSearchAnswer(const unsigned char *in, int bytes, SearchAnswer *answer);


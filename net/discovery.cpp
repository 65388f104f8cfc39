// discovery.cpp: the server's answerer of searches and the client's search. Their state lives in AppState.
#include "net/discovery.h"

#include "core/paired_machines.h"
#include "core/wire_message.h"
#include "resources/resource_ids.h"
#include "version.h"

#include <mswsock.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

bool searchLoopbackOnly = false;

namespace {

struct SearchInterface {
    uint32_t address;  // network order
    uint32_t mask;
    bool loopback;
};

constexpr int InterfacesMax = 16;

// The IPv4 interfaces that are up; with loopbackOnly, the loopback interface alone.
int searchInterfaces(SOCKET socket, SearchInterface *out, bool loopbackOnly)
{
    int count = 0;
    if (loopbackOnly) {
        out[count++] = {htonl(INADDR_LOOPBACK), htonl(0xFF000000u), true};
        return count;
    }
    INTERFACE_INFO list[InterfacesMax];
    memset(list, 0, sizeof(list));
    DWORD bytes = 0;
    if (WSAIoctl(socket, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof(list), &bytes, nullptr, nullptr) != 0)
        bytes = 0;
    for (DWORD i = 0; i < bytes / sizeof(INTERFACE_INFO) && count < InterfacesMax; i++) {
        const INTERFACE_INFO &info = list[i];
        uint32_t address = info.iiAddress.AddressIn.sin_addr.s_addr;
        if (!(info.iiFlags & IFF_UP) || address == 0)
            continue;
        out[count++] = {address, info.iiNetmask.AddressIn.sin_addr.s_addr, (info.iiFlags & IFF_LOOPBACK) != 0};
    }
    return count;
}

// Windows reports a datagram's port-unreachable as a failure of the next receive: neither side wants that.
void ignorePortUnreachable(SOCKET socket)
{
    BOOL off = FALSE;
    DWORD bytes = 0;
    WSAIoctl(socket, SIO_UDP_CONNRESET, &off, sizeof(off), nullptr, 0, &bytes, nullptr, nullptr);
}

sockaddr_in socketAddress(uint32_t address, int port)
{
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(static_cast<u_short>(port));
    return to;
}

// What this server says of itself, built once as its link opens: nothing about it changes while it is open.
void buildOwnAnswer(int port)
{
    SearchAnswer answer;
    memset(&answer, 0, sizeof(answer));
    answer.port = port;
    answer.flags = (AppState.servedFolder[0] != 0 ? SearchServesOneFolder : 0) |
                   (AppState.servedReadOnly != 0 ? SearchServesReadOnly : 0);
    SearchInterface interfaces[InterfacesMax];
    int count = searchInterfaces(AppState.answerSocket, interfaces, false);
    for (int i = 0; i < count && answer.addressCount < SearchAddressesMax; i++)
        if (!interfaces[i].loopback)
            answer.addresses[answer.addressCount++] = interfaces[i].address;
    char name[256];
    memset(name, 0, sizeof(name));
    if (gethostname(name, sizeof(name) - 1) == 0 &&
        MultiByteToWideChar(CP_ACP, 0, name, -1, answer.hostName, COUNTOF(answer.hostName) - 1) == 0)
        memset(answer.hostName, 0, sizeof(answer.hostName));
    wcsncpy(answer.fingerprint, AppState.ownFingerprint, COUNTOF(answer.fingerprint) - 1);
    MultiByteToWideChar(CP_UTF8, 0, PW_VERSION_TEXT, -1, answer.version, COUNTOF(answer.version) - 1);
    AppState.answerLength = buildSearchAnswer(AppState.answerBytes, sizeof(AppState.answerBytes), answer);
}

// The last questions answered: the same question reaching the server twice in a round (broadcast and
// multicast) is answered once.
struct AskedQuestion {
    uint32_t address;
    u_short port;
    uint32_t nonce;
    int round;
};
constexpr int AskedRemembered = 16;

struct AnswerBudget {
    DWORD windowStart;
    int answered;
    AskedQuestion asked[AskedRemembered];
    int nextAsked;
};

void answerQuestion(AnswerBudget *budget, const unsigned char *question, int bytes, const sockaddr_in &from)
{
    uint32_t nonce = 0;
    int round = 0;
    if (!parseSearchQuestion(question, bytes, &nonce, &round) || from.sin_port == 0)
        return;
    // Never an answer to a broadcast or multicast source: a forged one would make the answer a flood.
    uint32_t source = ntohl(from.sin_addr.s_addr);
    if (source == 0 || source >= 0xE0000000u)
        return;
    for (const AskedQuestion &asked : budget->asked)
        if (asked.address == from.sin_addr.s_addr && asked.port == from.sin_port && asked.nonce == nonce &&
            asked.round == round)
            return;
    DWORD now = GetTickCount();
    if (now - budget->windowStart >= 1000) {
        budget->windowStart = now;
        budget->answered = 0;
    }
    if (budget->answered >= AnswersPerSecond)
        return;
    budget->answered++;
    budget->asked[budget->nextAsked] = {from.sin_addr.s_addr, from.sin_port, nonce, round};
    budget->nextAsked = (budget->nextAsked + 1) % AskedRemembered;
    unsigned char answer[SearchAnswerMaxBytes];
    memcpy(answer, AppState.answerBytes, static_cast<size_t>(AppState.answerLength));
    putLittleEndian(answer + 6, nonce, 4);
    sendto(AppState.answerSocket, reinterpret_cast<const char *>(answer), AppState.answerLength, 0,
           reinterpret_cast<const sockaddr *>(&from), sizeof(from));
}

// Answers until told to stop. A datagram that is no question is dropped without a word; a wake reads a bounded
// number of them, so a flood never keeps the stop from being seen.
DWORD WINAPI answerThread(LPVOID)
{
    AnswerBudget budget;
    memset(&budget, 0, sizeof(budget));
    budget.windowStart = GetTickCount();
    HANDLE waits[2] = {AppState.answerStop, AppState.answerReadable};
    for (;;) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return 0;
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(AppState.answerSocket, AppState.answerReadable, &events);
        for (int i = 0; i < 64; i++) {
            unsigned char datagram[SearchQuestionBytes + 4];
            sockaddr_in from;
            int fromLength = sizeof(from);
            memset(&from, 0, sizeof(from));
            int got = recvfrom(AppState.answerSocket, reinterpret_cast<char *>(datagram), sizeof(datagram), 0,
                               reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
                break;
            if (got > 0 && fromLength == sizeof(from))
                answerQuestion(&budget, datagram, got, from);
        }
    }
}

void closeAnswerer()
{
    if (AppState.answerSocket != 0 && AppState.answerSocket != INVALID_SOCKET)
        closesocket(AppState.answerSocket);
    if (AppState.answerReadable != nullptr)
        WSACloseEvent(AppState.answerReadable);
    if (AppState.answerStop != nullptr)
        CloseHandle(AppState.answerStop);
    AppState.answerSocket = INVALID_SOCKET;
    AppState.answerReadable = nullptr;
    AppState.answerStop = nullptr;
    WSACleanup();
}

}  // namespace

bool startSearchAnswerer(SOCKET listener)
{
    sockaddr_in bound;
    int boundLength = sizeof(bound);
    memset(&bound, 0, sizeof(bound));
    if (AppState.answerThread != nullptr ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &boundLength) != 0 || bound.sin_port == 0)
        return false;
    int port = ntohs(bound.sin_port);
    WSADATA startup;
    if (WSAStartup(MAKEWORD(2, 2), &startup) != 0)
        return false;
    AppState.answerSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    AppState.answerReadable = WSACreateEvent();
    AppState.answerStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sockaddr_in any = socketAddress(htonl(INADDR_ANY), port);
    if (AppState.answerSocket == INVALID_SOCKET || AppState.answerReadable == WSA_INVALID_EVENT ||
        AppState.answerStop == nullptr ||
        bind(AppState.answerSocket, reinterpret_cast<const sockaddr *>(&any), sizeof(any)) != 0) {
        if (AppState.answerReadable == WSA_INVALID_EVENT)
            AppState.answerReadable = nullptr;
        closeAnswerer();
        return false;
    }
    ignorePortUnreachable(AppState.answerSocket);
    // The group on every interface: one the system refuses is one way fewer, not a failure.
    SearchInterface interfaces[InterfacesMax];
    int count = searchInterfaces(AppState.answerSocket, interfaces, false);
    for (int i = 0; i < count; i++) {
        ip_mreq membership;
        memset(&membership, 0, sizeof(membership));
        membership.imr_multiaddr.s_addr = htonl(SearchGroupAddress);
        membership.imr_interface.s_addr = interfaces[i].address;
        setsockopt(AppState.answerSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char *>(&membership),
                   sizeof(membership));
    }
    buildOwnAnswer(port);
    if (AppState.answerLength <= 0 ||
        WSAEventSelect(AppState.answerSocket, AppState.answerReadable, FD_READ) != 0) {
        closeAnswerer();
        return false;
    }
    AppState.answerThread = CreateThread(nullptr, 0, answerThread, nullptr, 0, nullptr);
    if (AppState.answerThread == nullptr) {
        closeAnswerer();
        return false;
    }
    return true;
}

void stopSearchAnswerer()
{
    if (AppState.answerThread == nullptr)
        return;
    SetEvent(AppState.answerStop);
    WaitForSingleObject(AppState.answerThread, INFINITE);
    CloseHandle(AppState.answerThread);
    AppState.answerThread = nullptr;
    closeAnswerer();
}

namespace {

void addSearchPort(ServerSearch *search, int port)
{
    if (port <= 0 || port > 0xFFFF || search->portCount >= SearchPortsMax)
        return;
    for (int i = 0; i < search->portCount; i++)
        if (search->ports[i] == port)
            return;
    search->ports[search->portCount++] = port;
}

// A machine met before: a row of its own, asked directly. Nothing for an address that is not one.
FoundServer *addMetBefore(ServerSearch *search, const wchar_t *address, int port)
{
    uint32_t binary = 0;
    if (port <= 0 || port > 0xFFFF || InetPtonW(AF_INET, address, &binary) != 1 || binary == 0)
        return nullptr;
    for (LONG i = 0; i < search->foundCount; i++)
        if (search->found[i].port == port && wcscmp(search->found[i].address, address) == 0)
            return nullptr;
    if (search->foundCount >= SearchFoundMax || search->directCount >= SearchDirectMax)
        return nullptr;
    FoundServer *row = &search->found[search->foundCount++];
    wcsncpy(row->address, address, COUNTOF(row->address) - 1);
    row->port = port;
    search->direct[search->directCount++] = socketAddress(binary, port);
    return row;
}

}  // namespace

void prepareServerSearch(ServerSearch *search, int typedPort, HWND notify)
{
    memset(search, 0, sizeof(*search));
    search->notify = notify;
    search->loopbackOnly = searchLoopbackOnly ? 1 : 0;
    addSearchPort(search, typedPort);
    addSearchPort(search, DefaultPort);
    for (const RecentServer &recent : AppState.recentServers) {
        addSearchPort(search, recent.port);
        addMetBefore(search, recent.address, recent.port);
    }
    for (int i = 0; i < pairedMachineCount(); i++) {
        PairedMachine paired;
        memset(&paired, 0, sizeof(paired));
        if (!pairedMachineAt(i, &paired))
            continue;
        paired.address[COUNTOF(paired.address) - 1] = 0;
        FoundServer *row = addMetBefore(search, paired.address, typedPort > 0 ? typedPort : DefaultPort);
        if (row == nullptr)
            continue;
        wcsncpy(row->answer.hostName, paired.hostName, COUNTOF(row->answer.hostName) - 1);
        wcsncpy(row->answer.fingerprint, paired.fingerprint, COUNTOF(row->answer.fingerprint) - 1);
    }
}

namespace {

// One round of questions: each port by every broadcast address and the multicast group, and each machine met
// before directly. Nowhere else.
void askRound(ServerSearch *search, SOCKET socket, const SearchInterface *interfaces, int interfaceCount,
              uint32_t nonce, int round)
{
    unsigned char question[SearchQuestionBytes];
    int bytes = buildSearchQuestion(question, sizeof(question), nonce, round);
    const char *data = reinterpret_cast<const char *>(question);
    for (int p = 0; p < search->portCount; p++) {
        int port = search->ports[p];
        for (int i = 0; i < interfaceCount; i++) {
            sockaddr_in to = socketAddress(interfaces[i].address | ~interfaces[i].mask, port);
            sendto(socket, data, bytes, 0, reinterpret_cast<const sockaddr *>(&to), sizeof(to));
        }
        if (!search->loopbackOnly) {
            sockaddr_in to = socketAddress(htonl(INADDR_BROADCAST), port);
            sendto(socket, data, bytes, 0, reinterpret_cast<const sockaddr *>(&to), sizeof(to));
        }
        for (int i = 0; i < interfaceCount; i++) {
            in_addr out;
            out.s_addr = interfaces[i].address;
            setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char *>(&out), sizeof(out));
            sockaddr_in to = socketAddress(htonl(SearchGroupAddress), port);
            sendto(socket, data, bytes, 0, reinterpret_cast<const sockaddr *>(&to), sizeof(to));
        }
    }
    for (int i = 0; i < search->directCount; i++)
        sendto(socket, data, bytes, 0, reinterpret_cast<const sockaddr *>(&search->direct[i]),
               sizeof(search->direct[i]));
}

// A server already listed under another of its addresses (broadcast and multicast may come back by different
// interfaces) is one row.
bool sameServer(const FoundServer &row, const SearchAnswer &answer, const wchar_t *address)
{
    if (row.port != answer.port)
        return false;
    if (wcscmp(row.address, address) == 0)
        return true;
    return row.answered && wcscmp(row.answer.hostName, answer.hostName) == 0 &&
           wcscmp(row.answer.fingerprint, answer.fingerprint) == 0;
}

void takeAnswer(ServerSearch *search, const unsigned char *datagram, int bytes, const sockaddr_in &from,
                uint32_t nonce)
{
    SearchAnswer answer;
    if (!parseSearchAnswer(datagram, bytes, &answer) || answer.nonce != nonce)
        return;
    wchar_t address[16];
    memset(address, 0, sizeof(address));
    if (InetNtopW(AF_INET, const_cast<in_addr *>(&from.sin_addr), address, COUNTOF(address)) == nullptr)
        return;
    LONG count = search->foundCount;
    LONG index = 0;
    for (; index < count; index++)
        if (sameServer(search->found[index], answer, address))
            break;
    if (index < count && search->found[index].answered)
        return;
    if (index == count && count >= SearchFoundMax)
        return;
    FoundServer *row = &search->found[index];
    // What the server says of itself; a machine met before keeps the name it was paired under until then.
    wchar_t pairedName[64];
    wcsncpy(pairedName, row->answer.hostName, COUNTOF(pairedName));
    row->answer = answer;
    if (row->answer.hostName[0] == 0)
        wcsncpy(row->answer.hostName, pairedName, COUNTOF(row->answer.hostName));
    row->answer.hostName[COUNTOF(row->answer.hostName) - 1] = 0;
    if (index == count) {
        memcpy(row->address, address, sizeof(row->address));
        row->port = answer.port;
    }
    row->answered = 1;
    if (index == count)
        InterlockedIncrement(&search->foundCount);
    if (search->notify != nullptr)
        PostMessageW(search->notify, WM_SEARCH_FOUND, static_cast<WPARAM>(index), 0);
}

DWORD WINAPI searchThread(LPVOID parameter)
{
    runServerSearch(static_cast<ServerSearch *>(parameter));
    return 0;
}

}  // namespace

void runServerSearch(ServerSearch *search)
{
    WSADATA startup;
    SOCKET socket = INVALID_SOCKET;
    // Winsock is counted: a cleanup without its start would end the link's Winsock.
    bool started = WSAStartup(MAKEWORD(2, 2), &startup) == 0;
    if (started) {
        socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in any = socketAddress(htonl(INADDR_ANY), 0);
        if (socket != INVALID_SOCKET &&
            bind(socket, reinterpret_cast<const sockaddr *>(&any), sizeof(any)) != 0) {
            closesocket(socket);
            socket = INVALID_SOCKET;
        }
    }
    if (socket != INVALID_SOCKET) {
        BOOL on = TRUE;
        DWORD hops = 1;
        setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on), sizeof(on));
        setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char *>(&hops), sizeof(hops));
        setsockopt(socket, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char *>(&on), sizeof(on));
        ignorePortUnreachable(socket);
        SearchInterface interfaces[InterfacesMax];
        int interfaceCount = searchInterfaces(socket, interfaces, search->loopbackOnly != 0);
        // Only tells this search's answers from a late one of the last search; no secret.
        uint32_t nonce = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ static_cast<uint32_t>(
                                                                              reinterpret_cast<UINT_PTR>(&nonce));
        const int rounds = static_cast<int>(SearchMs / SearchRoundMs);
        int round = 0;
        DWORD start = GetTickCount();
        while (search->cancel == 0) {
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= SearchMs)
                break;
            if (round < rounds && elapsed >= static_cast<DWORD>(round) * SearchRoundMs) {
                askRound(search, socket, interfaces, interfaceCount, nonce, round++);
                continue;
            }
            DWORD due = round < rounds ? static_cast<DWORD>(round) * SearchRoundMs : SearchMs;
            DWORD wait = due - elapsed < 100 ? due - elapsed : 100;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(socket, &readable);
            timeval timeout = {0, static_cast<long>(wait) * 1000};
            if (select(0, &readable, nullptr, nullptr, &timeout) <= 0)
                continue;
            unsigned char datagram[SearchAnswerMaxBytes];
            sockaddr_in from;
            int fromLength = sizeof(from);
            memset(&from, 0, sizeof(from));
            int got = recvfrom(socket, reinterpret_cast<char *>(datagram), sizeof(datagram), 0,
                               reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (got > 0 && fromLength == sizeof(from))
                takeAnswer(search, datagram, got, from, nonce);
        }
        closesocket(socket);
    }
    if (started)
        WSACleanup();
    if (search->notify != nullptr)
        PostMessageW(search->notify, WM_SEARCH_DONE, 0, 0);
}

bool startServerSearch(ServerSearch *search)
{
    if (search->thread != nullptr)
        return false;
    search->cancel = 0;
    search->thread = CreateThread(nullptr, 0, searchThread, search, 0, nullptr);
    return search->thread != nullptr;
}

void endServerSearch(ServerSearch *search)
{
    if (search->thread == nullptr)
        return;
    InterlockedExchange(&search->cancel, 1);
    WaitForSingleObject(search->thread, INFINITE);
    CloseHandle(search->thread);
    search->thread = nullptr;
}

void rememberServer(const sockaddr_in &address)
{
    RecentServer reached;
    memset(&reached, 0, sizeof(reached));
    if (InetNtopW(AF_INET, const_cast<in_addr *>(&address.sin_addr), reached.address, COUNTOF(reached.address)) ==
        nullptr)
        return;
    reached.port = ntohs(address.sin_port);
    RecentServer *list = AppState.recentServers;
    int at = RecentServersMax - 1;
    for (int i = 0; i < RecentServersMax; i++)
        if (list[i].port == reached.port && wcscmp(list[i].address, reached.address) == 0) {
            at = i;
            break;
        }
    memmove(list + 1, list, static_cast<size_t>(at) * sizeof(RecentServer));
    list[0] = reached;
}

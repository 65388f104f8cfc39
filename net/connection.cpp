// connection.cpp: opening and closing the one TCP link, and looking up this machine's own name and address.
// Its state lives in AppState.
#include "net/connection.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/message_box.h"
#include "core/text_codec.h"
#include "net/discovery.h"
#include "net/link_errors.h"
#include "net/receive_loops.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

static const wchar_t UnknownText[] = L"不明";


bool linkIsClosing()
{
    return AppState.linkClosing != 0;
}

static void showNumberBox(HWND owner, const wchar_t *format, int number, const wchar_t *caption)
{
    wchar_t text[64];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, format, number);
    showMessageBox(owner, text, caption, MB_OK);
}

void fillLinkAddress(ConnectionMode mode)
{
    memset(&AppState.linkAddress, 0, sizeof(AppState.linkAddress));
    AppState.linkAddress.sin_family = AF_INET;
    AppState.linkAddress.sin_port = htons(static_cast<u_short>(AppState.port & 0xFFFF));
    if (mode == ConnectionMode::Client) {
        // Each number is OR-ed in at its byte; bits above the low eight spill into the bytes that follow.
        uint32_t address = static_cast<uint32_t>(AppState.ip[0]) | static_cast<uint32_t>(AppState.ip[1]) << 8 |
                           static_cast<uint32_t>(AppState.ip[2]) << 16 | static_cast<uint32_t>(AppState.ip[3]) << 24;
        unsigned char *bytes = reinterpret_cast<unsigned char *>(&AppState.linkAddress.sin_addr);
        bytes[0] = static_cast<unsigned char>(address & 0xFF);
        bytes[1] = static_cast<unsigned char>((address >> 8) & 0xFF);
        bytes[2] = static_cast<unsigned char>((address >> 16) & 0xFF);
        bytes[3] = static_cast<unsigned char>((address >> 24) & 0xFF);
    } else {
        AppState.linkAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    }
}

// Starts Windows Sockets and creates the link socket. False after showing the box and undoing the start-up.
// One start-up serves an open and the close that ends it.
static bool startLinkSocket(HWND window)
{
    WSADATA startup;
    int started = WSAStartup(MAKEWORD(2, 0), &startup);
    if (started != 0) {
        showNumberBox(window, L"%d", started, L"WSAStartup_Error");
        return false;
    }
    AppState.mainSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (AppState.mainSocket == INVALID_SOCKET) {
        showNumberBox(window, L"Err No.%d", WSAGetLastError(), L"sockRecv_Error");
        WSACleanup();
        return false;
    }
    return true;
}

// Closes the link socket after a failed step and gives back the start-up.
static void abandonLinkSocket(HWND window, const wchar_t *caption)
{
    showNumberBox(window, L"Err No.%d", WSAGetLastError(), caption);
    closesocket(AppState.mainSocket);
    WSACleanup();
}

// The flag goes up before the thread can test it, and down again when the thread cannot be made.
static bool startNetThread(HWND window, LPTHREAD_START_ROUTINE entry, LPVOID parameter)
{
    AppState.linkOpen = 1;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, entry, parameter, 0, &id);
    if (thread == nullptr) {
        AppState.linkOpen = 0;
        showNumberBox(window, L"Thread Error No.%d", static_cast<int>(GetLastError()), L"CreateThread");
        shutdown(AppState.mainSocket, SD_BOTH);
        closesocket(AppState.mainSocket);
        WSACleanup();
        return false;
    }
    AppState.netThread = thread;
    AppState.netThreadExitCode = STILL_ACTIVE;
    return true;
}

// A network thread that closeLink had to give up on may still run; a second one beside it would share every
// field of the link with it. Its end is awaited here, never by a new open.
static bool oldThreadGone(HWND window)
{
    if (AppState.netThread == nullptr)
        return true;
    DWORD code = 0;
    if (GetExitCodeThread(AppState.netThread, &code) && code == STILL_ACTIVE) {
        showMessageBox(window, L"前の接続の処理がまだ終わっていません\r\nしばらくしてからもう一度開いてください",
                       L"接続", MB_OK | MB_ICONWARNING);
        return false;
    }
    CloseHandle(AppState.netThread);
    AppState.netThread = nullptr;
    return true;
}

bool openClient(HWND window)
{
    if (!oldThreadGone(window))
        return false;
    AppState.timerWindow = window;
    AppState.linkClosing = 0;
    if (!startLinkSocket(window))
        return false;
    fillLinkAddress(ConnectionMode::Client);
    if (connect(AppState.mainSocket, reinterpret_cast<const sockaddr *>(&AppState.linkAddress),
                sizeof(AppState.linkAddress)) != 0) {
        showConnectFailure(window, WSAGetLastError(), AppState.port & 0xFFFF);
        closesocket(AppState.mainSocket);
        WSACleanup();
        return false;
    }

    // Without a reverse entry the name stays as it was.
    char name[sizeof(AppState.peerHostNameA)];
    memset(name, 0, sizeof(name));
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&AppState.linkAddress), sizeof(AppState.linkAddress), name,
                    sizeof(name), nullptr, 0, NI_NAMEREQD) == 0) {
        memset(AppState.peerHostNameA, 0, sizeof(AppState.peerHostNameA));
        memcpy(AppState.peerHostNameA, name, sizeof(AppState.peerHostNameA) - 1);
    }
    wireToWide(AppState.peerHostNameA, -1, AppState.peerHostName, COUNTOF(AppState.peerHostName));
    AppState.clientSocketNumber = static_cast<int32_t>(AppState.mainSocket);

    if (AppState.linkOpen)
        return true;
    return startNetThread(window, ClientThread, nullptr);
}

bool openServer(HWND window)
{
    if (!oldThreadGone(window))
        return false;
    AppState.timerWindow = window;
    AppState.linkClosing = 0;
    if (!startLinkSocket(window))
        return false;
    fillLinkAddress(ConnectionMode::Server);
    if (bind(AppState.mainSocket, reinterpret_cast<const sockaddr *>(&AppState.linkAddress),
             sizeof(AppState.linkAddress)) != 0) {
        abandonLinkSocket(window, L"bind_Error");
        return false;
    }
    if (listen(AppState.mainSocket, 3) != 0) {
        abandonLinkSocket(window, L"listen_Error");
        return false;
    }
    if (AppState.linkOpen)
        return true;
    if (!startNetThread(window, ServerThread, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(AppState.mainSocket))))
        return false;
    if (AppState.answerSearches)
        startSearchAnswerer(AppState.mainSocket);
    return true;
}

// A network thread still running this long after the close is blocked somewhere a closed socket does not
// reach (file I/O, a send to a client that reads nothing): it is released. After the second bound the window
// goes on without it.
static const DWORD NetThreadReleaseMs = 1000;
static const DWORD NetThreadGiveUpMs = 5000;

// Cancels the thread's blocking file I/O and closes the client connections it may be blocked on.
static void releaseNetThread()
{
    CancelSynchronousIo(AppState.netThread);
    for (int slot = 0; AppState.mode == ConnectionMode::Server && slot < ClientSlotCount; slot++) {
        SOCKET client = AppState.clientSlots[slot];
        if (client != INVALID_SOCKET && client != 0) {
            AppState.clientSlots[slot] = INVALID_SOCKET;
            closesocket(client);
        }
    }
}

// Waits for the network thread to end while serving the window messages it sends to this thread: its pane,
// label and status updates wait for this thread, so a wait that served nothing would hold both threads. The
// wait is bounded, so the window can always close. False when the thread did not end.
static bool waitForNetThread()
{
    if (AppState.netThread == nullptr)
        return true;
    DWORD start = GetTickCount();
    bool released = false;
    for (;;) {
        DWORD code = 0;
        if (!GetExitCodeThread(AppState.netThread, &code))
            return true;
        AppState.netThreadExitCode = code;
        if (code != STILL_ACTIVE)
            return true;
        DWORD waited = GetTickCount() - start;
        if (waited >= NetThreadGiveUpMs)
            return false;
        if (!released && waited >= NetThreadReleaseMs) {
            released = true;
            releaseNetThread();
        }
        DWORD woke = MsgWaitForMultipleObjects(1, &AppState.netThread, FALSE, 100, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

// A server that closes takes its clients with it, so none of them stays connected to nothing.
static void closeClientSlots()
{
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        SOCKET client = AppState.clientSlots[slot];
        if (client == INVALID_SOCKET || client == 0)
            continue;
        shutdown(client, SD_BOTH);
        closesocket(client);
        AppState.clientSlots[slot] = INVALID_SOCKET;
    }
    // Also when a network thread that had to be released closed them first.
    AppState.peerPresent = 0;
    AppState.serverAskedPeerDir = 0;
    AppState.ownListingPending = 0;
}

void closeLink(HWND window)
{
    InterlockedExchange(&AppState.linkClosing, 1);
    shutdown(AppState.mainSocket, SD_BOTH);
    int closed = closesocket(AppState.mainSocket);
    if (closed != 0) {
        InterlockedExchange(&AppState.linkClosing, 0);
        showNumberBox(window, L"%d", closed, L"closesocket_Error");
        return;
    }
    AppState.linkOpen = 0;
    stopSearchAnswerer();
    bool ended = waitForNetThread();
    if (!ended)
        AppState.netThreadExitCode = 0;
    // A thread that did not end keeps its handle: the next open waits for it (oldThreadGone).
    if (ended && AppState.netThread != nullptr) {
        CloseHandle(AppState.netThread);
        AppState.netThread = nullptr;
    }
    if (AppState.mode == ConnectionMode::Server)
        closeClientSlots();
    // The peer is gone: a transfer it was part of cannot finish. A thread that never ended may still hold it.
    if (ended && (AppState.transferState != TransferState::Waiting || AppState.fileState == FileIoState::Open))
        abandonExchange();
    int cleaned = WSACleanup();
    if (cleaned != 0)
        showNumberBox(window, L"%d", cleaned, L"WSACleanup");
}

// Wide form of a name that the resolver gave in the system code page, cut to what the field holds.
static void storeHostText(const char *text, wchar_t *field, int fieldChars)
{
    wchar_t wide[1026];
    memset(wide, 0, sizeof(wide));
    int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0 || needed > static_cast<int>(COUNTOF(wide)))
        return;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, COUNTOF(wide)) <= 0)
        return;
    memset(field, 0, static_cast<size_t>(fieldChars) * sizeof(wchar_t));
    wcsncpy(field, wide, static_cast<size_t>(fieldChars - 1));
}

bool lookupOwnHost()
{
    wcsncpy(AppState.ownAddressText, UnknownText, COUNTOF(AppState.ownAddressText) - 1);
    wcsncpy(AppState.ownHostText, UnknownText, COUNTOF(AppState.ownHostText) - 1);
    AppState.ownAddressText[COUNTOF(AppState.ownAddressText) - 1] = 0;
    AppState.ownHostText[COUNTOF(AppState.ownHostText) - 1] = 0;

    WSADATA startup;
    if (WSAStartup(MAKEWORD(2, 0), &startup) != 0)
        return false;
    char buffer[1026];
    memset(buffer, 0, sizeof(buffer));
    if (gethostname(buffer, sizeof(buffer) - 1) != 0) {
        WSACleanup();
        return false;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    if (getaddrinfo(buffer, nullptr, &hints, &found) != 0 || found == nullptr) {
        WSACleanup();
        return false;
    }
    memset(buffer, 0, sizeof(buffer));
    if (getnameinfo(found->ai_addr, static_cast<socklen_t>(found->ai_addrlen), buffer, sizeof(buffer) - 1, nullptr, 0,
                    NI_NUMERICHOST) == 0)
        storeHostText(buffer, AppState.ownAddressText, COUNTOF(AppState.ownAddressText));
    memset(buffer, 0, sizeof(buffer));
    if (getnameinfo(found->ai_addr, static_cast<socklen_t>(found->ai_addrlen), buffer, sizeof(buffer) - 1, nullptr, 0,
                    NI_NAMEREQD) == 0)
        storeHostText(buffer, AppState.ownHostText, COUNTOF(AppState.ownHostText));
    freeaddrinfo(found);
    WSACleanup();
    return true;
}

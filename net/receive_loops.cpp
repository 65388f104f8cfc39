// receive_loops.cpp: ClientThread and ServerThread: receive, hand each receive to the engine, accept and drop
// clients.
#include "net/receive_loops.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/message_box.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "net/connection.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstring>

static const UINT DisconnectDelayMs = 100;

// Each slot's client address as accepted: a connection that was reset no longer answers getpeername.
static sockaddr_in slotAddresses[ClientSlotCount];

void abandonExchange()
{
    abandonTransferFile();
    AppState.stopRequest = StopRequest::None;
    AppState.transferState = TransferState::Waiting;
}

int32_t countClients()
{
    if (AppState.mode != ConnectionMode::Server)
        return 0;
    int32_t count = 0;
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        if (AppState.clientSlots[slot] != INVALID_SOCKET && AppState.clientSlots[slot] != 0)
            count++;
    }
    return count;
}

DWORD WINAPI ClientThread(LPVOID)
{
    requestPeerDir();
    AppState.transferState = TransferState::CallDIR;
    refreshStatus();
    while (AppState.linkOpen) {
        memset(AppState.receiveBuffer, 0, sizeof(AppState.receiveBuffer));
        if (AppState.mode != ConnectionMode::Client) {
            showMessageBox(nullptr, L"ClientThreadでSreverModeで実行された", L"Read1Thread", MB_OK);
            continue;
        }
        int count = recv(AppState.mainSocket, AppState.receiveBuffer, ReceiveMaxBytes, 0);
        if (count > 0) {
            AppState.receivedLength = count;
            handleMessage();
            continue;
        }
        // Closed by the server, or reset: either way the connection is over and receiving again would only
        // fail again. A failure that closeLink caused needs nothing more. Otherwise the main window's timer
        // closes the link, as after a "CUT".
        if (AppState.linkOpen && !linkIsClosing()) {
            abandonExchange();
            SetTimer(AppState.timerWindow, IDT_CLOSE_LINK, DisconnectDelayMs, nullptr);
        }
        break;
    }
    return 0;
}

// "[a,b,c,d]" of the slot's client into peerHostNameA, and its wide form.
static void peerAddressText(int slot, wchar_t *wide, int wideChars)
{
    AppState.peerAddressLength = sizeof(sockaddr_in);
    if (getpeername(AppState.clientSlots[slot], reinterpret_cast<sockaddr *>(&AppState.peerAddress),
                    &AppState.peerAddressLength) != 0)
        AppState.peerAddress = slotAddresses[slot];
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&AppState.peerAddress.sin_addr);
    memset(AppState.peerHostNameA, 0, sizeof(AppState.peerHostNameA));
    snprintf(AppState.peerHostNameA, sizeof(AppState.peerHostNameA) - 1, "[%d,%d,%d,%d]", bytes[0], bytes[1],
             bytes[2], bytes[3]);
    ansiToWide(AppState.peerHostNameA, -1, wide, wideChars);
}

static void showPeerLabel(const wchar_t *format, const wchar_t *address)
{
    wchar_t label[80];
    memset(label, 0, sizeof(label));
    _snwprintf(label, COUNTOF(label) - 1, format, address);
    setLinkLabel(label);
}

static void acceptClient(SOCKET listener)
{
    int slot = -1;
    for (int i = 0; i < ClientSlotCount; i++) {
        if (AppState.clientSlots[i] == INVALID_SOCKET) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        SOCKET extra = accept(listener, nullptr, nullptr);
        if (extra != INVALID_SOCKET)
            closesocket(extra);
        return;
    }
    AppState.currentSlot = slot;
    AppState.peerAddressLength = sizeof(sockaddr_in);
    SOCKET client = accept(listener, reinterpret_cast<sockaddr *>(&AppState.peerAddress), &AppState.peerAddressLength);
    AppState.clientSlots[slot] = client;
    if (client == INVALID_SOCKET)
        return;
    slotAddresses[slot] = AppState.peerAddress;
    if (countClients() != 0) {
        wchar_t address[32];
        memset(address, 0, sizeof(address));
        peerAddressText(slot, address, COUNTOF(address));
        showPeerLabel(L"Server:Conection:%ls", address);
        AppState.peerPresent = 1;
        refreshStatus();
    }
}

// The slot's client has closed or reset its connection.
static void dropClient(int slot)
{
    wchar_t address[32];
    memset(address, 0, sizeof(address));
    peerAddressText(slot, address, COUNTOF(address));
    clearPeerPane();
    AppState.serverAskedPeerDir = 0;
    showPeerLabel(L"Server:CutOFF:%ls", address);
    AppState.peerPresent = 0;

    SOCKET client = AppState.clientSlots[slot];
    shutdown(client, SD_BOTH);
    closesocket(client);
    AppState.clientSlots[slot] = INVALID_SOCKET;

    // Answers go to slot 0: with that client gone, or no client left, nobody can finish the exchange.
    if (slot == 0 || countClients() == 0)
        abandonExchange();
    refreshStatus();
}

static void receiveFromSlot(int slot)
{
    AppState.currentSlot = slot;
    AppState.serverSlotNumber = slot + 1;
    memset(AppState.receiveBuffer, 0, sizeof(AppState.receiveBuffer));
    int count = recv(AppState.clientSlots[slot], AppState.receiveBuffer, ReceiveMaxBytes, 0);
    AppState.receivedLength = count;
    if (count > 0) {
        handleMessage();
        return;
    }
    // A reset or aborted connection is as gone as a closed one; left in its slot it would be readable, and
    // fail, at every pass.
    dropClient(slot);
}

DWORD WINAPI ServerThread(LPVOID parameter)
{
    SOCKET listener = static_cast<SOCKET>(reinterpret_cast<UINT_PTR>(parameter));
    for (int slot = 0; slot < ClientSlotCount; slot++)
        AppState.clientSlots[slot] = INVALID_SOCKET;

    while (AppState.linkOpen) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        for (int slot = 0; slot < ClientSlotCount; slot++) {
            if (AppState.clientSlots[slot] != INVALID_SOCKET)
                FD_SET(AppState.clientSlots[slot], &readable);
        }
        timeval wait = {0, 500000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            // Closing the listening socket makes select fail; that is the link closing, not a fault.
            if (AppState.linkOpen && !linkIsClosing())
                showMessageBox(nullptr, L"Failed in execution of select.", L"select_Error", MB_OK);
            break;
        }
        if (ready == 0)
            continue;
        if (FD_ISSET(listener, &readable)) {
            if (!AppState.linkOpen || linkIsClosing())
                break;
            acceptClient(listener);
            continue;
        }
        for (int slot = 0; slot < ClientSlotCount; slot++) {
            SOCKET client = AppState.clientSlots[slot];
            if (client != INVALID_SOCKET && FD_ISSET(client, &readable)) {
                receiveFromSlot(slot);
                break;
            }
        }
    }
    return 0;
}

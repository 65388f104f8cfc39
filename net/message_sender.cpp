// message_sender.cpp: the one send path for protocol messages other than file blocks, its error and NAK
// reports, and the two traffic-monitor rings.
#include "net/message_sender.h"

#include "core/message_box.h"
#include "core/text_codec.h"

#include <cstdio>
#include <cstring>

const char SentRingMarker[] = "***** WRITE-END *****";
const char ReceivedRingMarker[] = "***** READ-END *****";

// Box texts are built in buffers of this many wide characters.
static const int BoxTextChars = 512;
// At most this many bytes of a failed message are shown, so the box keeps its header and stays readable.
static const int ShownMessageBytes = 400;

SOCKET linkSocket()
{
    if (AppState.mode != ConnectionMode::Server)
        return AppState.mainSocket;
    int slot = AppState.exchangeSlot;
    return slot >= 0 && slot < ClientSlotCount ? AppState.clientSlots[slot] : INVALID_SOCKET;
}

bool sendWhole(SOCKET s, const char *data, int length)
{
    int done = 0;
    while (done < length) {
        int sent = send(s, data + done, length - done, 0);
        if (sent == SOCKET_ERROR)
            return false;
        // A blocking send never reports 0 for a non-empty buffer; stop rather than spin if it ever does.
        if (sent <= 0) {
            WSASetLastError(WSAECONNABORTED);
            return false;
        }
        done += sent;
    }
    return true;
}

void ringAppend(MonitorRing ring, int32_t *position, const char *data, int length, const char *marker)
{
    int line = *position;
    if (line < 0 || line >= RingLines)
        line = 0;
    int copied = length < 0 ? 0 : (length > RingLineBytes ? RingLineBytes : length);
    memset(ring[line], 0, RingLineBytes);
    if (copied > 0)
        memcpy(ring[line], data, copied);
    line = (line + 1) % RingLines;
    memset(ring[line], 0, RingLineBytes);
    size_t markerBytes = strlen(marker);
    if (markerBytes > static_cast<size_t>(RingLineBytes))
        markerBytes = RingLineBytes;
    memcpy(ring[line], marker, markerBytes);
    *position = line;
}

void logReceived()
{
    if (AppState.monitorOn)
        ringAppend(AppState.receivedRing, &AppState.receivedRingPos, AppState.receiveBuffer, RingLineBytes,
                   ReceivedRingMarker);
}

void showSendError(int errorCode, const char *data, int length)
{
    char shownA[ShownMessageBytes + 1];
    wchar_t shown[BoxTextChars];
    wchar_t box[BoxTextChars];
    memset(shownA, 0, sizeof(shownA));
    memset(shown, 0, sizeof(shown));
    int bytes = 0;
    while (bytes < length && bytes < ShownMessageBytes && data[bytes] != 0)
        bytes++;
    memcpy(shownA, data, bytes);
    if (ansiToWide(shownA, bytes, shown, COUNTOF(shown)) < 0)
        shown[0] = 0;
    // The text is cut at the end of the box buffer rather than overrun it.
    memset(box, 0, sizeof(box));
    _snwprintf(box, COUNTOF(box) - 1, L"ERR=%d:C0/S1=%d:Sel=%d\r\n%s", errorCode, static_cast<int>(AppState.mode), 0,
               shown);
    box[COUNTOF(box) - 1] = 0;
    showMessageBox(nullptr, box, L"WSAGetLastError", MB_OK);
}

// The report shown for every NAK this side sends: where the listing being served stood.
static void showSentNak()
{
    wchar_t row[BoxTextChars];
    wchar_t box[BoxTextChars];
    memset(row, 0, sizeof(row));
    int cursor = AppState.dirCursor;
    if (cursor >= 0 && cursor < DirRows) {
        const char *text = AppState.dirTable[cursor];
        int bytes = 0;
        while (bytes < DirRowBytes && text[bytes] != 0)
            bytes++;
        if (ansiToWide(text, bytes, row, COUNTOF(row)) < 0)
            row[0] = 0;
    }
    memset(box, 0, sizeof(box));
    _snwprintf(box, COUNTOF(box) - 1, L"CONT=%d/%d\r\n%s", AppState.dirCursor, AppState.dirCount, row);
    box[COUNTOF(box) - 1] = 0;
    showMessageBox(nullptr, box, L"SEND-NAK", MB_OK);
}

int sendMessage(const char *data, int length)
{
    memset(AppState.receiveBuffer, 0, sizeof(AppState.receiveBuffer));
    int errorCode = 0;
    if (!sendWhole(linkSocket(), data, length)) {
        errorCode = WSAGetLastError();
        if (errorCode == 0)
            errorCode = SOCKET_ERROR;
    }
    if (AppState.monitorOn)
        ringAppend(AppState.sentRing, &AppState.sentRingPos, data, length, SentRingMarker);
    if (length >= 3 && memcmp(data, "NAK", 3) == 0)
        showSentNak();
    if (errorCode != 0) {
        showSendError(errorCode, data, length);
        return errorCode;
    }
    return 0;
}

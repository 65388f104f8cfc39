// fast_link.cpp: the fast link: its agreement over the classic listing, and its exchanges. A file flows as
// "DA" pieces that are not answered one by one: the receiver acknowledges every FastAckEveryBytes, and the
// sender keeps at most FastWindowBytes unacknowledged, so a stop, a refusal or the peer's silence still ends
// the exchange at once. The receiver writes under the temporary name and checks the digest before the target
// is replaced; a transfer that the link lost keeps its part for the next copy of the same source.
#include "core/fast_link.h"

#include "core/app_state.h"
#include "core/crc32c.h"
#include "core/dir_table.h"
#include "core/fast_wire.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/reports.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/tree_listing.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "core/send_ops.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

static const int TimesBytes = 3 * FileTimeBytes;
static const int FileHeadBytes = 8 + TimesBytes;  // size, then the three times
static const char ResumeMagic[4] = {'P', 'W', 'R', '1'};
static const int ResumeInfoBytes = 4 + 8 + 8;     // magic, size, last write
static const int64_t ResumeMinBytes = 1 << 20;    // smaller files start again
static const int PiecesPerPump = 8;

bool fastLinkOn()
{
    if (AppState.mode == ConnectionMode::Server) {
        int slot = AppState.exchangeSlot;
        return slot >= 0 && slot < ClientSlotCount && AppState.slotFramers[slot].fast != 0;
    }
    return AppState.clientFramer.fast != 0;
}

// ---- Sending ------------------------------------------------------------------------------------------------

static void logSent(const char *message, int length)
{
    if (!AppState.monitorOn)
        return;
    char line[RingLineBytes];
    int bytes = describeFastMessage(message, length, line, COUNTOF(line));
    ringAppend(AppState.sentRing, &AppState.sentRingPos, line, bytes, SentRingMarker);
}

// Sends the message whose payload (payloadBytes) already lies at fastPiece + FastHeaderBytes.
static int sendPiece(const char *tag, int payloadBytes)
{
    putFastHeader(AppState.fastPiece, tag, payloadBytes);
    int length = FastHeaderBytes + payloadBytes;
    logSent(AppState.fastPiece, length);
    if (!sendWhole(linkSocket(), AppState.fastPiece, length)) {
        int error = WSAGetLastError();
        return error != 0 ? error : SOCKET_ERROR;
    }
    return 0;
}

// A small message, built apart from fastPiece so that a piece in the making is never overwritten.
static int sendSmall(SOCKET s, const char *tag, const void *payload, int payloadBytes)
{
    char message[FastHeaderBytes + PathChars + 64];
    if (payloadBytes < 0 || payloadBytes > static_cast<int>(sizeof(message)) - FastHeaderBytes)
        return SOCKET_ERROR;
    putFastHeader(message, tag, payloadBytes);
    if (payloadBytes > 0)
        memcpy(message + FastHeaderBytes, payload, static_cast<size_t>(payloadBytes));
    logSent(message, FastHeaderBytes + payloadBytes);
    if (!sendWhole(s, message, FastHeaderBytes + payloadBytes)) {
        int error = WSAGetLastError();
        return error != 0 ? error : SOCKET_ERROR;
    }
    return 0;
}

static int sendFast(const char *tag, const void *payload, int payloadBytes)
{
    return sendSmall(linkSocket(), tag, payload, payloadBytes);
}

static void sendNumber(const char *tag, uint64_t value, int bytes)
{
    unsigned char payload[8];
    putLittleEndian(payload, value, bytes);
    sendFast(tag, payload, bytes);
}

void refuseOtherConnection(SOCKET s, int fast)
{
    if (!fast) {
        sendWhole(s, NakMessage, 3);
        if (AppState.monitorOn)
            ringAppend(AppState.sentRing, &AppState.sentRingPos, NakMessage, 3, SentRingMarker);
        return;
    }
    unsigned char reason = static_cast<unsigned char>(FastReason::Busy);
    sendSmall(s, FastRefuse, &reason, 1);
}

// Ends the running exchange with a reason the summary can show.
static void endWith(TransferOutcome outcome, FastReason reason)
{
    AppState.endReason = reason;
    endExchange(outcome);
}

// Tells the peer why, and ends this side's exchange.
static void refuseWith(FastReason reason)
{
    unsigned char byte = static_cast<unsigned char>(reason);
    sendFast(FastRefuse, &byte, 1);
    endWith(TransferOutcome::Refused, reason);
}

// ---- Requests -----------------------------------------------------------------------------------------------

// Opens sendSourcePath for a fast send: size and times into the transfer's fields. False when it cannot be read.
static bool openFastSource()
{
    abandonTransferFile();
    HANDLE file = CreateFileW(AppState.sendSourcePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return false;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) ||
        !GetFileTime(file, &AppState.fastTimes[0], &AppState.fastTimes[1], &AppState.fastTimes[2])) {
        CloseHandle(file);
        return false;
    }
    AppState.fileHandle = file;
    AppState.fileState = FileIoState::Open;
    AppState.transferSize = size.QuadPart;
    AppState.fastOffset = 0;
    AppState.fastAcked = 0;
    AppState.fastDigest = 0;
    AppState.fastSending = 0;
    AppState.fastSentAtOnce = 0;
    AppState.resumedFrom = -1;
    AppState.bytesDone = 0;
    return true;
}

static bool sendNextPiece();

// A file that fits one piece goes straight after its request or its head, without waiting for the receiver's
// "RS": it has no resume record to continue from (it is under ResumeMinBytes), and that round trip was a good
// part of a small file's time. A receiver that did hold a part starts again at the piece of offset 0. Runs on
// the thread that sent the request; fastSending stays 0, so the network thread sends nothing of its own.
static bool fitsOnePiece()
{
    return AppState.transferSize <= FastPieceBytes;
}
static_assert(FastPieceBytes < ResumeMinBytes, "a file of one piece has no resume record");

// The one piece, then "EN"; an empty file is "EN" alone.
static void sendWholeFileNow()
{
    if (sendNextPiece())
        sendNextPiece();
}

// Size and times of the open source into out (FileHeadBytes).
static void putFileHead(unsigned char *out)
{
    putLittleEndian(out, static_cast<uint64_t>(AppState.transferSize), 8);
    for (int i = 0; i < 3; i++)
        putFileTime(out + 8 + i * FileTimeBytes, AppState.fastTimes[i]);
}

int sendRequest(const char *message, int length)
{
    if (!fastLinkOn())
        return sendMessage(message, length);
    if (length == 3 && memcmp(message, CutMessage, 3) == 0)
        return sendFast(FastCut, nullptr, 0);
    if (length < 2)
        return SOCKET_ERROR;
    int text = textLength(message, length);
    const char *path = message + 2;
    int pathBytes = text > 2 ? text - 2 : 0;
    if (pathBytes > PathChars - 1)
        return SOCKET_ERROR;
    AppState.endReason = FastReason::None;
    AppState.transferSize = -1;
    AppState.resumedFrom = -1;
    if (memcmp(message, DirRequestTag, 2) == 0)
        return sendFast(FastList, path, pathBytes);
    if (memcmp(message, FolderRequestTag, 2) == 0)
        return sendFast(FastMakeFolder, path, pathBytes);
    if (memcmp(message, PullRequestTag, 2) == 0)
        return sendFast(FastPull, path, pathBytes);
    if (memcmp(message, PushRequestTag, 2) != 0)
        return SOCKET_ERROR;
    if (!openFastSource()) {
        // Nothing went out; the copy learns why as from any ended exchange.
        endWith(TransferOutcome::Failed, FastReason::CannotRead);
        return 0;
    }
    unsigned char payload[FileHeadBytes + PathChars];
    putFileHead(payload);
    memcpy(payload + FileHeadBytes, path, static_cast<size_t>(pathBytes));
    // Set before the request goes out: the receiver's "RS" may come back before this thread goes on.
    AppState.fastSentAtOnce = fitsOnePiece() ? 1 : 0;
    int sent = sendFast(FastPush, payload, FileHeadBytes + pathBytes);
    if (sent == 0 && AppState.fastSentAtOnce)
        sendWholeFileNow();
    return sent;
}

// ---- The agreement ------------------------------------------------------------------------------------------

void scheduleFastProbe(DWORD delayMs)
{
    // Once per link: a classic peer is asked only once.
    if (AppState.mode == ConnectionMode::Client && AppState.fastLinkAllowed && !fastLinkOn() &&
        !AppState.fastProbeTried) {
        AppState.fastProbeTried = 1;
        AppState.fastProbePending = 1;
        AppState.fastProbeDue = GetTickCount() + delayMs;
    }
}

DWORD startDueFastProbe()
{
    if (!AppState.fastProbePending)
        return INFINITE;
    DWORD left = AppState.fastProbeDue - GetTickCount();
    if (left != 0 && left < 0x80000000u)
        return left;
    if (!claimExchange(TransferState::CallDIR))
        return 50;
    AppState.fastProbePending = 0;
    AppState.fastProbing = 1;
    AppState.fastPeerOffered = 0;
    AppState.fastPeerVersion = 0;
    refreshStatus();
    char message[64];
    memset(message, 0, sizeof(message));
    int length = buildPathRequest(message, COUNTOF(message), DirRequestTag, FastProbeFolderA);
    if (sendMessage(message, length) != 0)
        endExchange(TransferOutcome::Failed);
    return INFINITE;
}

static bool isProbeRequest(const char *message, int count)
{
    int text = textLength(message, count);
    int probe = static_cast<int>(strlen(FastProbeFolderA));
    return text == probe + 2 && memcmp(message + 2, FastProbeFolderA, static_cast<size_t>(probe)) == 0;
}

// The served folder, as the agreement tells it, in A form; empty for the whole machine or one that does not fit.
static void servedFolderA(char *out, int outBytes)
{
    memset(out, 0, static_cast<size_t>(outBytes));
    if (AppState.servedFolder[0] != 0 && wideToAnsi(AppState.servedFolder, -1, out, outBytes) < 0)
        memset(out, 0, static_cast<size_t>(outBytes));
}

bool answerFastProbe(const char *message, int count)
{
    if (!isProbeRequest(message, count))
        return false;
    if (!claimExchange(TransferState::RequestDIR)) {
        sendMessage(NakMessage, 3);
        return true;
    }
    // Switched off, this side answers as a classic peer does for a folder that is not there.
    AppState.dirCount = 0;
    if (AppState.fastLinkAllowed) {
        char served[200];
        servedFolderA(served, COUNTOF(served));
        char *row = AppState.dirTable[0];
        memset(row, 0, DirRowBytes);
        // A record the classic framer cuts like any other: the name carries the offer, date and size are empty.
        int bytes = snprintf(row, DirRowBytes - 1, "DR000000%s%d|%c|%s,,,8", FastProbeRecordPrefix,
                             FastLinkVersion, AppState.servedReadOnly ? 'R' : 'W', served);
        if (bytes > 0 && bytes < DirRowBytes - 1) {
            AppState.dirCount = 1;
            AppState.fastProbeAnswering = 1;
        }
    }
    char *end = AppState.dirTable[AppState.dirCount];
    memset(end, 0, DirRowBytes);
    memcpy(end, DirEndMessage, 8);
    AppState.dirCount++;
    refreshStatus();
    AppState.dirCursor = 1;
    sendMessage(AppState.dirTable[0], textLength(AppState.dirTable[0], DirRowBytes));
    if (AppState.dirCount == 1)
        endExchange(TransferOutcome::Done);
    return true;
}

// Once agreed, every message goes in one send, so nothing is gained by holding a small one back: without this,
// an "EN" after the last "DA" waits for the peer's delayed ACK.
static void sendAtOnce(SOCKET s)
{
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
}

void awaitFastHello()
{
    // Everything after the terminator is the fast link; this side waits in RequestDIR, where nothing of its own
    // can start, until the client's "HI" says it has switched too.
    int slot = AppState.exchangeSlot;
    if (slot >= 0 && slot < ClientSlotCount) {
        AppState.slotFramers[slot].fast = 1;
        sendAtOnce(AppState.clientSlots[slot]);
    }
}

bool takeFastProbeRecord(const char *message, int count)
{
    int text = textLength(message, count);
    if (!isDirRecord(message, count))
        return false;
    DirRecordFields fields;
    int version = 0;
    int readOnly = 0;
    char served[PathChars];
    if (splitDirRecord(message + BlockHeaderBytes, text - BlockHeaderBytes, &fields) &&
        parseProbeRecord(fields.name, static_cast<int>(strnlen(fields.name, sizeof(fields.name))), &version,
                         &readOnly, served, COUNTOF(served)) &&
        version >= 1) {
        AppState.fastPeerOffered = 1;
        AppState.fastPeerVersion = version;
        AppState.peerServedReadOnly = readOnly;
        memcpy(AppState.peerServedFolderA, served, sizeof(AppState.peerServedFolderA));
    }
    sendMessage(AckMessage, 3);
    return true;
}

// The peer serves one folder: the user interface opens it in place of the folder it asked for.
static void tellPeerServes(const char *folderA)
{
    memset(AppState.peerServedFolder, 0, sizeof(AppState.peerServedFolder));
    if (folderA[0] == 0 ||
        ansiToWide(folderA, -1, AppState.peerServedFolder, COUNTOF(AppState.peerServedFolder)) <= 0) {
        memset(AppState.peerServedFolder, 0, sizeof(AppState.peerServedFolder));
        return;
    }
    peerServesFolder();
}

void finishFastProbe()
{
    bool offered = AppState.fastPeerOffered != 0;
    endExchange(TransferOutcome::Done);
    if (!offered)
        return;
    AppState.clientFramer.fast = 1;
    sendAtOnce(AppState.mainSocket);
    char served[PathChars];
    servedFolderA(served, COUNTOF(served));
    unsigned char payload[8 + PathChars];
    int servedBytes = static_cast<int>(strnlen(served, sizeof(served)));
    putLittleEndian(payload, FastLinkVersion, 4);
    payload[4] = AppState.servedReadOnly ? 1 : 0;
    memcpy(payload + 5, served, static_cast<size_t>(servedBytes));
    sendFast(FastHello, payload, 5 + servedBytes);
    tellPeerServes(AppState.peerServedFolderA);
    // Both folders above went in the code page; every name after the hello goes in UTF-8 when both speak it.
    AppState.clientFramer.utf8 = AppState.fastPeerVersion >= FastUtf8Version ? 1 : 0;
}

static void takeHello(const unsigned char *payload, int bytes)
{
    AppState.fastProbeAnswering = 0;
    endExchange(TransferOutcome::Done);
    if (bytes < 5 || bytes - 5 > PathChars - 1)
        return;
    AppState.peerServedReadOnly = payload[4] != 0;
    memset(AppState.peerServedFolderA, 0, sizeof(AppState.peerServedFolderA));
    memcpy(AppState.peerServedFolderA, payload + 5, static_cast<size_t>(bytes - 5));
    tellPeerServes(AppState.peerServedFolderA);
    int slot = AppState.exchangeSlot;
    if (slot >= 0 && slot < ClientSlotCount)
        AppState.slotFramers[slot].utf8 = getLittleEndian(payload, 4) >= FastUtf8Version ? 1 : 0;
}

// ---- Paths the peer names -----------------------------------------------------------------------------------

// The path of a fast request as this side serves it. FastReason::None when it may be used.
static FastReason resolveFastPath(const unsigned char *path, int bytes, PeerAccess access, wchar_t *out,
                                  int outChars)
{
    memset(out, 0, static_cast<size_t>(outChars) * sizeof(wchar_t));
    if (bytes <= 0 || bytes > PathChars - 1)
        return FastReason::Malformed;
    if (memchr(path, 0, static_cast<size_t>(bytes)) != nullptr)
        return FastReason::Malformed;
    if (resolvePeerPath(reinterpret_cast<const char *>(path), bytes, access, out, outChars))
        return FastReason::None;
    memset(out, 0, static_cast<size_t>(outChars) * sizeof(wchar_t));
    // A read-only side refuses every write, wherever it would go.
    if ((access == PeerAccess::Write || access == PeerAccess::CreateFolder) && AppState.servedReadOnly)
        return FastReason::ReadOnly;
    return FastReason::Outside;
}

static bool claimFast(TransferState serving)
{
    if (claimExchange(serving))
        return true;
    unsigned char reason = static_cast<unsigned char>(FastReason::Busy);
    sendFast(FastRefuse, &reason, 1);
    return false;
}

// ---- Listings -----------------------------------------------------------------------------------------------

struct RowBatch {
    int used;     // payload bytes in fastPiece
    bool failed;  // a send failed: the link is gone
};

static bool flushRows(RowBatch *batch)
{
    if (batch->used > 0 && sendPiece(FastRows, batch->used) != 0)
        batch->failed = true;
    batch->used = 0;
    return !batch->failed;
}

static bool addRowToBatch(const char *record, int bytes, void *context)
{
    RowBatch *batch = static_cast<RowBatch *>(context);
    if (batch->used + 2 + bytes > FastPieceBytes && !flushRows(batch))
        return false;
    unsigned char *at = reinterpret_cast<unsigned char *>(AppState.fastPiece + FastHeaderBytes + batch->used);
    putLittleEndian(at, static_cast<uint64_t>(bytes), 2);
    memcpy(at + 2, record, static_cast<size_t>(bytes));
    batch->used += 2 + bytes;
    return true;
}

static void serveFastListing(const unsigned char *path, int bytes)
{
    wchar_t folder[PathChars];
    FastReason reason = resolveFastPath(path, bytes, PeerAccess::List, folder, COUNTOF(folder));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    RowBatch batch = {0, false};
    int rows = listFolderRecords(folder, static_cast<int>(wcsnlen(folder, COUNTOF(folder))), addRowToBatch, &batch);
    if (!flushRows(&batch)) {
        endExchange(TransferOutcome::Failed);
        return;
    }
    sendNumber(FastListEnd, static_cast<uint64_t>(rows), 4);
    endExchange(TransferOutcome::Done);
}

// Rows of a listing this side asked for, into the pane or the folder copy's table.
static void takeRows(const unsigned char *payload, int bytes)
{
    int at = 0;
    while (at + 2 <= bytes) {
        int length = static_cast<int>(getLittleEndian(payload + at, 2));
        at += 2;
        if (length > bytes - at || length < BlockHeaderBytes || length > DirRowBytes - 1)
            break;
        const char *record = reinterpret_cast<const char *>(payload + at);
        at += length;
        if (!isDirRecord(record, length))
            continue;
        AppState.lastDirIndex = sixDigitNumber(record);
        // A row that is refused is left out, as the pane counts it; the rest of the listing goes on.
        if (AppState.treeListing)
            addTreeRecord(record + BlockHeaderBytes, length - BlockHeaderBytes);
        else
            addPeerRecord(record + BlockHeaderBytes, length - BlockHeaderBytes);
    }
}

// ---- Folders ------------------------------------------------------------------------------------------------

static void makeFastFolder(const unsigned char *path, int bytes)
{
    wchar_t folder[PathChars];
    FastReason reason = resolveFastPath(path, bytes, PeerAccess::CreateFolder, folder, COUNTOF(folder));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    if (!CreateDirectoryW(folder, nullptr) && !isFolderOnDisk(folder)) {
        refuseWith(FastReason::CannotWrite);
        return;
    }
    sendFast(FastDone, nullptr, 0);
    endExchange(TransferOutcome::Done);
}

// ---- Receiving a file ---------------------------------------------------------------------------------------

static bool resumeInfoNameFor(const wchar_t *temporary, wchar_t *out, int outChars)
{
    size_t chars = wcsnlen(temporary, PathChars);
    const size_t suffixChars = wcslen(ResumeSuffix);
    // The temporary name ends in ".$TEMP"; the resume record takes its place beside it.
    if (chars < 6 || chars - 6 + suffixChars > static_cast<size_t>(outChars - 1))
        return false;
    memset(out, 0, static_cast<size_t>(outChars) * sizeof(wchar_t));
    wmemcpy(out, temporary, chars - 6);
    wmemcpy(out + chars - 6, ResumeSuffix, suffixChars);
    return true;
}

static void deleteResumeInfo()
{
    if (AppState.resumeInfoName[0] != 0)
        DeleteFileW(AppState.resumeInfoName);
    memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
}

// What a later copy must match to continue this one: the source's size and last-write time.
static void writeResumeInfo()
{
    unsigned char info[ResumeInfoBytes];
    memcpy(info, ResumeMagic, 4);
    putLittleEndian(info + 4, static_cast<uint64_t>(AppState.transferSize), 8);
    putFileTime(info + 12, AppState.fastTimes[2]);
    HANDLE file = CreateFileW(AppState.resumeInfoName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;  // the copy goes on; it only cannot be resumed
    DWORD written = 0;
    BOOL ok = WriteFile(file, info, sizeof(info), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != sizeof(info))
        DeleteFileW(AppState.resumeInfoName);
}

static bool resumeInfoMatches()
{
    HANDLE file = CreateFileW(AppState.resumeInfoName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    unsigned char info[ResumeInfoBytes];
    DWORD got = 0;
    BOOL ok = ReadFile(file, info, sizeof(info), &got, nullptr);
    CloseHandle(file);
    if (!ok || got != sizeof(info) || memcmp(info, ResumeMagic, 4) != 0)
        return false;
    FILETIME written = getFileTime(info + 12);
    return getLittleEndian(info + 4, 8) == static_cast<uint64_t>(AppState.transferSize) &&
           written.dwLowDateTime == AppState.fastTimes[2].dwLowDateTime &&
           written.dwHighDateTime == AppState.fastTimes[2].dwHighDateTime;
}

// Digest of the first bytes of an open file, read through the piece buffer. False when reading failed.
static bool digestPrefix(HANDLE file, int64_t bytes, uint32_t *digest)
{
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    uint32_t crc = 0;
    int64_t left = bytes;
    char *buffer = AppState.fastPiece + FastHeaderBytes + 8;
    while (left > 0) {
        DWORD wanted = left < FastPieceBytes ? static_cast<DWORD>(left) : static_cast<DWORD>(FastPieceBytes);
        DWORD got = 0;
        if (!ReadFile(file, buffer, wanted, &got, nullptr) || got != wanted)
            return false;
        crc = crc32cUpdate(crc, buffer, got);
        left -= got;
    }
    *digest = crc;
    return true;
}

static bool seekTo(HANDLE file, int64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

// Opens the temporary file of target: the part an interrupted copy of the same source left is kept and its
// digest taken; anything else starts empty. Sends "RS". False (nothing sent) when it cannot be written.
static bool startReceiving(const wchar_t *target)
{
    abandonTransferFile();
    memset(AppState.targetFileName, 0, sizeof(AppState.targetFileName));
    memset(AppState.tempFileName, 0, sizeof(AppState.tempFileName));
    memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
    if (!canReceiveInto(target) || wcsnlen(target, PathChars) >= COUNTOF(AppState.targetFileName) ||
        !temporaryNameFor(target, AppState.tempFileName, COUNTOF(AppState.tempFileName)) ||
        !resumeInfoNameFor(AppState.tempFileName, AppState.resumeInfoName, COUNTOF(AppState.resumeInfoName)))
        return false;
    wcsncpy(AppState.targetFileName, target, COUNTOF(AppState.targetFileName) - 1);
    int64_t offset = 0;
    uint32_t digest = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    // A small file comes again faster than its resume record is written, read and deleted: it has none.
    bool resumable = AppState.transferSize >= ResumeMinBytes;
    if (!resumable)
        memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
    if (resumable && resumeInfoMatches()) {
        file = CreateFileW(AppState.tempFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER held;
        if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &held)) {
            offset = held.QuadPart < AppState.transferSize ? held.QuadPart : AppState.transferSize;
            if (!digestPrefix(file, offset, &digest) || !seekTo(file, offset) || !SetEndOfFile(file)) {
                CloseHandle(file);
                file = INVALID_HANDLE_VALUE;
            }
        } else if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        offset = 0;
        digest = 0;
        file = CreateFileW(AppState.tempFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
            return false;
        }
        if (resumable)
            writeResumeInfo();
    }
    AppState.fileHandle = file;
    AppState.fileState = FileIoState::Open;
    AppState.tempFilePending = 1;
    AppState.fastOffset = offset;
    AppState.fastAcked = offset;
    AppState.fastDigest = digest;
    AppState.bytesDone = offset;
    AppState.resumedFrom = offset > 0 ? offset : -1;
    unsigned char payload[12];
    putLittleEndian(payload, static_cast<uint64_t>(offset), 8);
    putLittleEndian(payload + 8, digest, 4);
    sendFast(FastResume, payload, sizeof(payload));
    return true;
}

static bool takeFileHead(const unsigned char *payload, int bytes)
{
    if (bytes < FileHeadBytes)
        return false;
    uint64_t size = getLittleEndian(payload, 8);
    if (size > static_cast<uint64_t>(INT64_MAX))
        return false;
    AppState.transferSize = static_cast<int64_t>(size);
    for (int i = 0; i < 3; i++)
        AppState.fastTimes[i] = getFileTime(payload + 8 + i * FileTimeBytes);
    return true;
}

static FastReason writeFailureReason()
{
    DWORD error = GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? FastReason::DiskFull
                                                                        : FastReason::CannotWrite;
}

// The receiving side failed: the peer is told, the temporary file and its resume record go.
static void failReceiving(FastReason reason)
{
    deleteResumeInfo();
    refuseWith(reason);
}

static bool allZero(const unsigned char *data, int bytes)
{
    for (int i = 0; i < bytes; i++) {
        if (data[i] != 0)
            return false;
    }
    return true;
}

static void receivePiece(const unsigned char *payload, int bytes)
{
    if (AppState.fileState != FileIoState::Open || bytes < 8) {
        failReceiving(FastReason::Malformed);
        return;
    }
    int64_t offset = static_cast<int64_t>(getLittleEndian(payload, 8));
    const unsigned char *data = payload + 8;
    int length = bytes - 8;
    if (offset == 0 && AppState.fastOffset > 0) {
        // The sender's part did not match ours: it starts again from the beginning.
        if (!seekTo(AppState.fileHandle, 0) || !SetEndOfFile(AppState.fileHandle)) {
            failReceiving(writeFailureReason());
            return;
        }
        AppState.fastOffset = 0;
        AppState.fastAcked = 0;
        AppState.fastDigest = 0;
        AppState.resumedFrom = -1;
    }
    if (offset != AppState.fastOffset || length > AppState.transferSize - offset) {
        failReceiving(FastReason::Malformed);
        return;
    }
    // Runs of zeros are skipped, not written: a sparse source stays sparse, and costs no disk.
    if (allZero(data, length)) {
        LARGE_INTEGER step;
        step.QuadPart = length;
        if (!SetFilePointerEx(AppState.fileHandle, step, nullptr, FILE_CURRENT)) {
            failReceiving(writeFailureReason());
            return;
        }
    } else {
        DWORD written = 0;
        if (!WriteFile(AppState.fileHandle, data, static_cast<DWORD>(length), &written, nullptr) ||
            written != static_cast<DWORD>(length)) {
            failReceiving(writeFailureReason());
            return;
        }
    }
    AppState.fastDigest = crc32cUpdate(AppState.fastDigest, data, static_cast<size_t>(length));
    AppState.fastOffset += length;
    AppState.bytesDone = AppState.fastOffset;
    if (AppState.fastOffset - AppState.fastAcked >= FastAckEveryBytes) {
        AppState.fastAcked = AppState.fastOffset;
        sendNumber(FastAck, static_cast<uint64_t>(AppState.fastOffset), 8);
    }
}

// "EN": the digest decides; only a whole, matching file replaces the target, with the source's times.
static void finishReceiving(const unsigned char *payload, int bytes)
{
    if (bytes < 4 || AppState.fileState != FileIoState::Open || AppState.fastOffset != AppState.transferSize) {
        failReceiving(FastReason::Malformed);
        return;
    }
    if (static_cast<uint32_t>(getLittleEndian(payload, 4)) != AppState.fastDigest) {
        failReceiving(FastReason::Digest);
        return;
    }
    HANDLE file = AppState.fileHandle;
    const FILETIME *t = AppState.fastTimes;
    bool timed = seekTo(file, AppState.transferSize) && SetEndOfFile(file) &&
                 SetFileTime(file, (t[0].dwLowDateTime | t[0].dwHighDateTime) ? &t[0] : nullptr,
                             (t[1].dwLowDateTime | t[1].dwHighDateTime) ? &t[1] : nullptr,
                             (t[2].dwLowDateTime | t[2].dwHighDateTime) ? &t[2] : nullptr);
    CloseHandle(file);
    AppState.fileHandle = nullptr;
    AppState.fileState = FileIoState::Done;
    DWORD attributes = GetFileAttributesW(AppState.targetFileName);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    bool replaced = timed && !readOnly &&
                    MoveFileExW(AppState.tempFileName, AppState.targetFileName, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!replaced) {
        failReceiving(timed ? FastReason::CannotWrite : writeFailureReason());
        return;
    }
    AppState.tempFilePending = 0;
    deleteResumeInfo();
    fileArrived(AppState.targetFileName);
    sendFast(FastDone, nullptr, 0);
    endExchange(TransferOutcome::Done);
}

// "PU" in Waiting: the peer pushes a file.
static void startServedFastPush(const unsigned char *payload, int bytes)
{
    if (!takeFileHead(payload, bytes)) {
        refuseWith(FastReason::Malformed);
        return;
    }
    wchar_t target[PathChars];
    FastReason reason =
        resolveFastPath(payload + FileHeadBytes, bytes - FileHeadBytes, PeerAccess::Write, target, COUNTOF(target));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    if (!startReceiving(target))
        refuseWith(FastReason::CannotWrite);
}

// "FH" in CallCopyFrom: the file this side asked for is coming.
static void startPulledFile(const unsigned char *payload, int bytes)
{
    wchar_t target[PathChars];
    memset(target, 0, sizeof(target));
    if (!takeFileHead(payload, bytes)) {
        refuseWith(FastReason::Malformed);
        return;
    }
    int targetBytes = static_cast<int>(strnlen(AppState.pullTargetA, COUNTOF(AppState.pullTargetA)));
    if (ansiToWide(AppState.pullTargetA, targetBytes, target, COUNTOF(target)) <= 0 || !startReceiving(target)) {
        unsigned char reason = static_cast<unsigned char>(FastReason::CannotWrite);
        sendFast(FastRefuse, &reason, 1);
        endWith(TransferOutcome::Failed, FastReason::CannotWrite);
    }
}

// ---- Sending a file -----------------------------------------------------------------------------------------

// "GE" in Waiting: the peer pulls a file.
static void startServedFastPull(const unsigned char *payload, int bytes)
{
    FastReason reason = resolveFastPath(payload, bytes, PeerAccess::Read, AppState.sendSourcePath,
                                        COUNTOF(AppState.sendSourcePath));
    if (reason != FastReason::None) {
        refuseWith(reason);
        return;
    }
    refreshStatus();
    if (!openFastSource()) {
        refuseWith(FastReason::CannotRead);
        return;
    }
    unsigned char head[FileHeadBytes];
    putFileHead(head);
    AppState.fastSentAtOnce = fitsOnePiece() ? 1 : 0;
    if (sendFast(FastFileHead, head, sizeof(head)) == 0 && AppState.fastSentAtOnce)
        sendWholeFileNow();
}

// "RS": the receiver's part is checked against ours; the data flows from where both agree.
static void startSending(const unsigned char *payload, int bytes)
{
    // The whole file has gone already; what the receiver held it drops at the piece of offset 0.
    if (AppState.fastSentAtOnce)
        return;
    if (bytes < 12 || AppState.fileState != FileIoState::Open) {
        refuseWith(FastReason::Malformed);
        return;
    }
    int64_t offset = static_cast<int64_t>(getLittleEndian(payload, 8));
    uint32_t theirs = static_cast<uint32_t>(getLittleEndian(payload + 8, 4));
    uint32_t ours = 0;
    if (offset < 0 || offset > AppState.transferSize || !digestPrefix(AppState.fileHandle, offset, &ours) ||
        ours != theirs) {
        offset = 0;
        ours = 0;
    }
    if (!seekTo(AppState.fileHandle, offset)) {
        refuseWith(FastReason::CannotRead);
        return;
    }
    AppState.fastOffset = offset;
    AppState.fastAcked = offset;
    AppState.fastDigest = ours;
    AppState.bytesDone = offset;
    AppState.resumedFrom = offset > 0 ? offset : -1;
    AppState.fastSending = 1;
}

static bool sourceUnchanged()
{
    FILETIME created, accessed, written;
    LARGE_INTEGER size;
    return GetFileTime(AppState.fileHandle, &created, &accessed, &written) &&
           GetFileSizeEx(AppState.fileHandle, &size) && size.QuadPart == AppState.transferSize &&
           written.dwLowDateTime == AppState.fastTimes[2].dwLowDateTime &&
           written.dwHighDateTime == AppState.fastTimes[2].dwHighDateTime;
}

// One piece, or "EN" when the whole file has gone. False when nothing more can go now.
static bool sendNextPiece()
{
    int64_t left = AppState.transferSize - AppState.fastOffset;
    if (left <= 0) {
        AppState.fastSending = 0;
        // A source rewritten meanwhile would pass a mixture off as the file.
        if (!sourceUnchanged()) {
            refuseWith(FastReason::SourceChanged);
            return false;
        }
        sendNumber(FastEnd, AppState.fastDigest, 4);
        return false;
    }
    int length = left < FastPieceBytes ? static_cast<int>(left) : FastPieceBytes;
    unsigned char *payload = reinterpret_cast<unsigned char *>(AppState.fastPiece + FastHeaderBytes);
    DWORD got = 0;
    if (!ReadFile(AppState.fileHandle, payload + 8, static_cast<DWORD>(length), &got, nullptr) ||
        got != static_cast<DWORD>(length)) {
        AppState.fastSending = 0;
        refuseWith(FastReason::SourceChanged);
        return false;
    }
    putLittleEndian(payload, static_cast<uint64_t>(AppState.fastOffset), 8);
    AppState.fastDigest = crc32cUpdate(AppState.fastDigest, payload + 8, static_cast<size_t>(length));
    if (sendPiece(FastData, 8 + length) != 0) {
        // The link is gone; the receive loop ends the exchange and tells the user once.
        AppState.fastSending = 0;
        return false;
    }
    AppState.fastOffset += length;
    AppState.bytesDone = AppState.fastOffset;
    return true;
}

static bool fastTransferState(TransferState state)
{
    return state == TransferState::CallCopyTO || state == TransferState::CallCopyFrom;
}

bool fastPump()
{
    if (!fastLinkOn())
        return false;
    TransferState state = AppState.transferState;
    if (AppState.stopRequest == StopRequest::Requested && fastTransferState(state)) {
        // Either direction: the peer drops its part of the transfer, and so does this side.
        sendFast(FastStop, nullptr, 0);
        deleteResumeInfo();
        endExchange(TransferOutcome::Stopped);
        return false;
    }
    if (!AppState.fastSending)
        return false;
    for (int i = 0; i < PiecesPerPump; i++) {
        if (AppState.fastOffset - AppState.fastAcked >= FastWindowBytes)
            return false;
        if (!sendNextPiece())
            return false;
    }
    return true;
}

void keepPartialForResume()
{
    // Only a fast receive that wrote its resume record can be continued; any other is abandoned as before.
    if (!AppState.tempFilePending || AppState.resumeInfoName[0] == 0 || AppState.fileState != FileIoState::Open)
        return;
    CloseHandle(AppState.fileHandle);
    AppState.fileHandle = nullptr;
    AppState.fileState = FileIoState::Done;
    AppState.tempFilePending = 0;
    memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
}

// ---- Dispatch -----------------------------------------------------------------------------------------------

static void logFastReceived(const char *message, int count)
{
    if (!AppState.monitorOn)
        return;
    char line[RingLineBytes];
    int bytes = describeFastMessage(message, count, line, COUNTOF(line));
    ringAppend(AppState.receivedRing, &AppState.receivedRingPos, line, bytes, ReceivedRingMarker);
}


static void handleFastWaiting(const char *message, int count, const unsigned char *payload, int bytes)
{
    if (isFast(message, count, FastList)) {
        if (claimFast(TransferState::RequestDIR))
            serveFastListing(payload, bytes);
    } else if (isFast(message, count, FastMakeFolder)) {
        if (claimFast(TransferState::FolderFrom))
            makeFastFolder(payload, bytes);
    } else if (isFast(message, count, FastPush)) {
        if (claimFast(TransferState::RequestCopyTO))
            startServedFastPush(payload, bytes);
    } else if (isFast(message, count, FastPull)) {
        if (claimFast(TransferState::RequestCopyFrom))
            startServedFastPull(payload, bytes);
    } else if (isFast(message, count, FastCut)) {
        closeOnCut();
    } else if (!isFast(message, count, FastData) && !isFast(message, count, FastAck) &&
               !isFast(message, count, FastEnd) && !isFast(message, count, FastDone) &&
               !isFast(message, count, FastRefuse) && !isFast(message, count, FastStop)) {
        // What is left of a transfer that has ended is dropped; anything else is no request of this link.
        unsigned char reason = static_cast<unsigned char>(FastReason::Malformed);
        sendFast(FastRefuse, &reason, 1);
    }
}

void handleFastMessage(const char *message, int count)
{
    logFastReceived(message, count);
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, count, &bytes);
    TransferState state = AppState.transferState;
    if (state == TransferState::Waiting) {
        handleFastWaiting(message, count, payload, bytes);
        return;
    }
    if (isFastRequest(message, count)) {
        // A request that crosses ours: refused, and ours goes on.
        unsigned char reason = static_cast<unsigned char>(FastReason::Busy);
        sendFast(FastRefuse, &reason, 1);
        return;
    }
    if (isFast(message, count, FastRefuse)) {
        FastReason reason = bytes >= 1 ? static_cast<FastReason>(payload[0]) : FastReason::None;
        deleteResumeInfo();
        endWith(AppState.stopRequest == StopRequest::Sent ? TransferOutcome::Stopped : TransferOutcome::Refused,
                reason);
        return;
    }
    if (isFast(message, count, FastStop)) {
        deleteResumeInfo();
        endExchange(TransferOutcome::Stopped);
        return;
    }
    switch (state) {
    case TransferState::RequestDIR:
        if (AppState.fastProbeAnswering && isFast(message, count, FastHello))
            takeHello(payload, bytes);
        break;
    case TransferState::CallDIR:
        if (isFast(message, count, FastRows))
            takeRows(payload, bytes);
        else if (isFast(message, count, FastListEnd))
            endExchange(TransferOutcome::Done);
        break;
    case TransferState::FolderTO:
        if (isFast(message, count, FastDone)) {
            endExchange(TransferOutcome::Done);
            relistAfterNewFolder();
        }
        break;
    case TransferState::CallCopyTO:
    case TransferState::RequestCopyFrom:
        if (isFast(message, count, FastResume))
            startSending(payload, bytes);
        else if (isFast(message, count, FastAck) && bytes >= 8)
            AppState.fastAcked = static_cast<int64_t>(getLittleEndian(payload, 8));
        else if (isFast(message, count, FastDone))
            endExchange(TransferOutcome::Done);
        break;
    case TransferState::CallCopyFrom:
    case TransferState::RequestCopyTO:
        if (state == TransferState::CallCopyFrom && isFast(message, count, FastFileHead))
            startPulledFile(payload, bytes);
        // Before the file's head, data can only be that of a push of the peer's that crossed this pull and was
        // refused: it is dropped.
        else if (state == TransferState::CallCopyFrom && AppState.fileState != FileIoState::Open)
            break;
        else if (isFast(message, count, FastData))
            receivePiece(payload, bytes);
        else if (isFast(message, count, FastEnd))
            finishReceiving(payload, bytes);
        break;
    default:
        break;
    }
}

// fast_receive.cpp: receiving a file on the fast link. The receiver writes under the temporary name,
// acknowledges every FastAckEveryBytes, and checks the digest before the target is replaced; a transfer that the
// link lost keeps its part, with a resume record, for the next copy of the same source.
#include "core/fast_link.h"
#include "core/fast_link_internal.h"

#include "core/app_state.h"
#include "core/crc32c.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

static const char ResumeMagic[4] = {'P', 'W', 'R', '1'};
static const int ResumeInfoBytes = 4 + 8 + 8;     // magic, size, last write

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

void deleteResumeInfo()
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

static bool resumeInfoMatches(const wchar_t *recordName, int64_t size, const FILETIME &lastWrite)
{
    HANDLE file = CreateFileW(recordName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
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
    return getLittleEndian(info + 4, 8) == static_cast<uint64_t>(size) &&
           written.dwLowDateTime == lastWrite.dwLowDateTime && written.dwHighDateTime == lastWrite.dwHighDateTime;
}

// Reads on from where the file stands, through the piece buffer.
bool digestOnward(HANDLE file, int64_t bytes, uint32_t *digest)
{
    char *buffer = AppState.fastPiece + FastHeaderBytes + 8;
    for (int64_t left = bytes; left > 0;) {
        DWORD wanted = left < FastPieceBytes ? static_cast<DWORD>(left) : static_cast<DWORD>(FastPieceBytes);
        DWORD got = 0;
        if (!ReadFile(file, buffer, wanted, &got, nullptr) || got != wanted)
            return false;
        *digest = crc32cUpdate(*digest, buffer, got);
        left -= got;
    }
    return true;
}

bool seekTo(HANDLE file, int64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

// Opens target's temporary file. A part that an interrupted copy of the same source left (transferSize and
// fastTimes name the source) is kept, cut to the source's size, and its length is *held; otherwise the part is new,
// with its resume record. The transfer's offset is the part's length, so a link lost before the part is checked
// keeps it whole. Sends nothing.
static bool openPart(const wchar_t *target, int64_t *held)
{
    *held = 0;
    abandonTransferFile();
    memset(AppState.targetFileName, 0, sizeof(AppState.targetFileName));
    memset(AppState.tempFileName, 0, sizeof(AppState.tempFileName));
    memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
    if (!canReceivePartInto(target) || wcsnlen(target, PathChars) >= COUNTOF(AppState.targetFileName) ||
        !partNameFor(target, AppState.tempFileName, COUNTOF(AppState.tempFileName)) ||
        !resumeInfoNameFor(AppState.tempFileName, AppState.resumeInfoName, COUNTOF(AppState.resumeInfoName)))
        return false;
    wcsncpy(AppState.targetFileName, target, COUNTOF(AppState.targetFileName) - 1);
    HANDLE file = INVALID_HANDLE_VALUE;
    // A small file comes again faster than its resume record is written, read and deleted: it has none.
    bool resumable = AppState.transferSize >= ResumeMinBytes;
    if (!resumable)
        memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
    if (resumable && resumeInfoMatches(AppState.resumeInfoName, AppState.transferSize, AppState.fastTimes[2])) {
        file = CreateFileW(AppState.tempFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size;
        if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size)) {
            *held = size.QuadPart < AppState.transferSize ? size.QuadPart : AppState.transferSize;
            if (!seekTo(file, *held) || !SetEndOfFile(file)) {
                CloseHandle(file);
                file = INVALID_HANDLE_VALUE;
            }
        } else if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        *held = 0;
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
    AppState.fastOffset = *held;
    AppState.fastAcked = *held;
    AppState.fastDigest = 0;
    AppState.bytesDone = 0;
    AppState.resumedFrom = -1;
    return true;
}

// The part is written on from offset, whose digest is given; from 0 it is emptied first. False when it cannot be.
static bool continuePartAt(int64_t offset, uint32_t digest)
{
    if (!seekTo(AppState.fileHandle, offset) || (offset == 0 && !SetEndOfFile(AppState.fileHandle)))
        return false;
    AppState.fastOffset = offset;
    AppState.fastAcked = offset;
    AppState.fastDigest = digest;
    AppState.bytesDone = offset;
    AppState.resumedFrom = offset > 0 ? offset : -1;
    return true;
}

bool openReceivePart(const wchar_t *target, int64_t held, uint32_t digest)
{
    int64_t kept = 0;
    if (!openPart(target, &kept))
        return false;
    // A part that is no longer the one checked starts again.
    return kept == held && held > 0 ? continuePartAt(held, digest) : continuePartAt(0, 0);
}

HANDLE openHeldPart(const wchar_t *target, int64_t size, const FILETIME &lastWrite, int64_t *bytes)
{
    *bytes = 0;
    wchar_t temporary[PathChars];
    wchar_t record[PathChars];
    if (size < ResumeMinBytes || !partNameFor(target, temporary, COUNTOF(temporary)) ||
        !resumeInfoNameFor(temporary, record, COUNTOF(record)) || !resumeInfoMatches(record, size, lastWrite))
        return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(temporary, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    LARGE_INTEGER held;
    if (!GetFileSizeEx(file, &held) || held.QuadPart <= 0) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    *bytes = held.QuadPart < size ? held.QuadPart : size;
    return file;
}

// Opens the temporary file of target; "RS" goes once a part held is checked (receivingPartChecked). False
// (nothing sent) when it cannot be written.
static bool startReceiving(const wchar_t *target)
{
    int64_t held = 0;
    if (!openPart(target, &held))
        return false;
    startPartCheck(PartCheckSide::Receiver, AppState.fileHandle, held, 0);
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

// Data before this side's "RS" is no data the peer may send.
static bool receivingData()
{
    return AppState.fileState == FileIoState::Open && !partCheckRunning();
}

FastReason writeReceivedPiece(const unsigned char *payload, int bytes)
{
    if (!receivingData() || bytes < 8)
        return FastReason::Malformed;
    int64_t offset = static_cast<int64_t>(getLittleEndian(payload, 8));
    const unsigned char *data = payload + 8;
    int length = bytes - 8;
    if (offset == 0 && AppState.fastOffset > 0) {
        // The sender's part did not match ours: it starts again from the beginning.
        if (!seekTo(AppState.fileHandle, 0) || !SetEndOfFile(AppState.fileHandle))
            return writeFailureReason();
        AppState.fastOffset = 0;
        AppState.fastAcked = 0;
        AppState.fastDigest = 0;
        AppState.resumedFrom = -1;
    }
    if (offset != AppState.fastOffset || length > AppState.transferSize - offset)
        return FastReason::Malformed;
    // Runs of zeros are skipped, not written: a sparse source stays sparse, and costs no disk.
    if (allZero(data, length)) {
        LARGE_INTEGER step;
        step.QuadPart = length;
        if (!SetFilePointerEx(AppState.fileHandle, step, nullptr, FILE_CURRENT))
            return writeFailureReason();
    } else {
        DWORD written = 0;
        if (!WriteFile(AppState.fileHandle, data, static_cast<DWORD>(length), &written, nullptr) ||
            written != static_cast<DWORD>(length))
            return writeFailureReason();
    }
    AppState.fastDigest = crc32cUpdate(AppState.fastDigest, data, static_cast<size_t>(length));
    AppState.fastOffset += length;
    AppState.bytesDone = AppState.fastOffset;
    return FastReason::None;
}

void receivePiece(const unsigned char *payload, int bytes)
{
    FastReason reason = writeReceivedPiece(payload, bytes);
    if (reason != FastReason::None) {
        failReceiving(reason);
        return;
    }
    if (AppState.fastOffset - AppState.fastAcked >= FastAckEveryBytes) {
        AppState.fastAcked = AppState.fastOffset;
        sendNumber(FastAck, static_cast<uint64_t>(AppState.fastOffset), 8);
    }
}

// "EN": the digest decides; only a whole, matching file replaces the target, with the source's times.
FastReason putReceivedInPlace(const unsigned char *payload, int bytes)
{
    if (bytes < 4 || !receivingData() || AppState.fastOffset != AppState.transferSize)
        return FastReason::Malformed;
    if (static_cast<uint32_t>(getLittleEndian(payload, 4)) != AppState.fastDigest)
        return FastReason::Digest;
    HANDLE file = AppState.fileHandle;
    const FILETIME *t = AppState.fastTimes;
    // Zeros at the end were skipped, not written: the length makes them. A file whose times cannot be set is
    // kept all the same, as the classic link keeps it.
    bool timed = seekTo(file, AppState.transferSize) && SetEndOfFile(file);
    if (timed)
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
    if (!replaced)
        return timed ? FastReason::CannotWrite : writeFailureReason();
    AppState.tempFilePending = 0;
    deleteResumeInfo();
    if (!AppState.treeStream)  // a folder stream tells each folder once, as it closes
        fileArrived(AppState.targetFileName);
    return FastReason::None;
}

void receivingPartChecked(bool read, int64_t bytes, uint32_t digest)
{
    // A part that cannot be read is not trusted: it starts again.
    if (!continuePartAt(read ? bytes : 0, read ? digest : 0)) {
        failReceiving(FastReason::CannotWrite);
        return;
    }
    unsigned char payload[12];
    putLittleEndian(payload, static_cast<uint64_t>(AppState.fastOffset), 8);
    putLittleEndian(payload + 8, AppState.fastDigest, 4);
    sendFast(FastResume, payload, sizeof(payload));
}

void finishReceiving(const unsigned char *payload, int bytes)
{
    FastReason reason = putReceivedInPlace(payload, bytes);
    if (reason != FastReason::None) {
        failReceiving(reason);
        return;
    }
    sendFast(FastDone, nullptr, 0);
    endExchange(TransferOutcome::Done);
}

// "PU" in Waiting: the peer pushes a file.
void startServedFastPush(const unsigned char *payload, int bytes)
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
void startPulledFile(const unsigned char *payload, int bytes)
{
    wchar_t target[PathChars];
    memset(target, 0, sizeof(target));
    if (!takeFileHead(payload, bytes)) {
        refuseWith(FastReason::Malformed);
        return;
    }
    int targetBytes = static_cast<int>(strnlen(AppState.pullTargetA, COUNTOF(AppState.pullTargetA)));
    if (wireToWide(AppState.pullTargetA, targetBytes, target, COUNTOF(target)) <= 0 || !startReceiving(target)) {
        unsigned char reason = static_cast<unsigned char>(FastReason::CannotWrite);
        sendFast(FastRefuse, &reason, 1);
        endWith(TransferOutcome::Failed, FastReason::CannotWrite);
    }
}

void keepPartialForResume()
{
    // Only a fast receive that wrote its resume record can be continued; any other is abandoned as before.
    if (!AppState.tempFilePending || AppState.resumeInfoName[0] == 0 || AppState.fileState != FileIoState::Open)
        return;
    // Runs of zeros were skipped, not written: the part is made as long as what arrived, or the next copy would
    // resume from less, or from nothing. A part that holds nothing resumes nothing: it goes, with its record.
    if (AppState.fastOffset <= 0 || !seekTo(AppState.fileHandle, AppState.fastOffset) ||
        !SetEndOfFile(AppState.fileHandle)) {
        deleteResumeInfo();
        return;
    }
    CloseHandle(AppState.fileHandle);
    AppState.fileHandle = nullptr;
    AppState.fileState = FileIoState::Done;
    AppState.tempFilePending = 0;
    memset(AppState.resumeInfoName, 0, sizeof(AppState.resumeInfoName));
}

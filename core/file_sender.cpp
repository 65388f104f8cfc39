// file_sender.cpp: reads the source file of a transfer ahead in large pieces and sends it block by block, then
// its trailer.
#include "core/file_sender.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/reports.h"
#include "core/send_ops.h"

#include <cstring>

static const int MessageBufferBytes = 1032;

bool sendStepReadFailed()
{
    return AppState.sendReadFailed != 0;
}

static void closeSource(FileIoState next)
{
    CloseHandle(AppState.fileHandle);
    AppState.fileHandle = nullptr;
    AppState.fileState = next;
}

static void failRead()
{
    // Sending the trailer now would pass a shortened file off as the whole one.
    closeSource(FileIoState::Failed);
    AppState.sendReadFailed = 1;
}

// Opens sendSourcePath and checks that it is a regular file of an allowed size. Returns false when nothing is
// to be sent; the file is then closed. A missing source is refused, never created.
static bool openSource()
{
    // Others may go on reading and writing the file: a log held open by its program can still be copied. A
    // source cut short meanwhile fails the transfer (see fillBuffer).
    HANDLE file = CreateFileW(AppState.sendSourcePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        AppState.fileState = FileIoState::Closed;
        return false;
    }
    AppState.fileHandle = file;
    AppState.fileState = FileIoState::Open;
    // A device (COM1 would block the reader for good), a pipe or anything else that is not a disk file.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        closeSource(FileIoState::Failed);
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        closeSource(FileIoState::Failed);
        return false;
    }
    if (size.QuadPart > MaxFileBytes) {
        if (AppState.transferState == TransferState::CallCopyTO)
            postReport(L"953Mbyteは出来ません", L"SizeOver");
        closeSource(FileIoState::Done);
        return false;
    }
    AppState.fileSizeAtOpen = size.QuadPart;
    FILETIME created, accessed;
    if (!GetFileTime(file, &created, &accessed, &AppState.sourceWrittenAtOpen))
        memset(&AppState.sourceWrittenAtOpen, 0, sizeof(AppState.sourceWrittenAtOpen));
    AppState.fileBytesRead = 0;
    AppState.fileBufferUsed = 0;
    AppState.fileBufferPos = 0;
    AppState.bytesDone = 0;
    return true;
}

// Refills the read-ahead buffer when it is empty. False when reading failed or the source ended before the size
// it had when it was opened.
static bool fillBuffer()
{
    if (AppState.fileBufferPos < AppState.fileBufferUsed)
        return true;
    AppState.fileBufferPos = 0;
    AppState.fileBufferUsed = 0;
    int64_t left = AppState.fileSizeAtOpen - AppState.fileBytesRead;
    if (left <= 0)
        return true;
    DWORD wanted = left < FileBufferBytes ? static_cast<DWORD>(left) : static_cast<DWORD>(FileBufferBytes);
    DWORD got = 0;
    if (!ReadFile(AppState.fileHandle, AppState.fileBuffer, wanted, &got, nullptr) || got == 0)
        return false;
    AppState.fileBufferUsed = static_cast<int32_t>(got);
    AppState.fileBytesRead += got;
    return true;
}

// The next up to 1000 data bytes of the source into out. Returns their count (0 at the end), or -1 on failure.
static int nextBlockData(char *out)
{
    int taken = 0;
    while (taken < BlockDataBytes) {
        if (!fillBuffer())
            return -1;
        int available = AppState.fileBufferUsed - AppState.fileBufferPos;
        if (available <= 0)
            break;
        int piece = BlockDataBytes - taken < available ? BlockDataBytes - taken : available;
        memcpy(out + taken, AppState.fileBuffer + AppState.fileBufferPos, static_cast<size_t>(piece));
        AppState.fileBufferPos += piece;
        taken += piece;
    }
    return taken;
}

int sendStep(BlockKind kind, int blockNumber)
{
    AppState.sendReadFailed = 0;
    if (blockNumber == 0) {
        // A file left open by a transfer that ended unannounced is released before the new one starts.
        abandonTransferFile();
        if (!openSource())
            return SendStepStopped;
    }
    if (blockNumber == -1) {
        if (AppState.fileState == FileIoState::Open)
            closeSource(FileIoState::Done);
        return SendStepStopped;
    }
    if (AppState.fileState != FileIoState::Open)
        return AppState.fileState == FileIoState::Done ? SendStepFinished : SendStepStopped;

    char message[MessageBufferBytes];
    memset(message, 0, sizeof(message));
    int got = nextBlockData(message + BlockHeaderBytes);
    if (got < 0) {
        failRead();
        return SendStepStopped;
    }
    bool finished = got == 0;

    int length = 0;
    if (!finished) {
        buildBlockHeader(message, kind, blockNumber);
        length = BlockHeaderBytes + got;
    } else {
        // Times that cannot be read travel as zeros, which the receiver takes as "leave this time alone".
        FILETIME created = {0, 0};
        FILETIME accessed = {0, 0};
        FILETIME written = {0, 0};
        if (!GetFileTime(AppState.fileHandle, &created, &accessed, &written)) {
            memset(&created, 0, sizeof(created));
            memset(&accessed, 0, sizeof(accessed));
            memset(&written, 0, sizeof(written));
        }
        // Another program wrote the source while it went out (writers are let in, as a log file is copied
        // while it grows): what went is a mixture, and the peer is refused rather than given it as the file.
        LARGE_INTEGER size;
        if (!GetFileSizeEx(AppState.fileHandle, &size) || size.QuadPart != AppState.fileSizeAtOpen ||
            CompareFileTime(&written, &AppState.sourceWrittenAtOpen) != 0) {
            AppState.endReason = FastReason::SourceChanged;  // told when this side pushes
            failRead();
            return SendStepStopped;
        }
        length = buildTrailer(message, kind, created, accessed, written);
    }

    // A failed send means the link is gone: the receive loop sees that and tells the user once.
    if (!sendWhole(linkSocket(), message, length)) {
        closeSource(FileIoState::Failed);
        return SendStepStopped;
    }
    if (finished) {
        closeSource(FileIoState::Done);
        return SendStepFinished;
    }
    AppState.bytesDone += got;
    return SendStepBlockSent;
}

// file_sender.cpp: reads the source file of a transfer and sends it block by block, then its trailer.
#include "core/file_sender.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/message_box.h"
#include "net/message_sender.h"

#include <cstring>

static const int ReadBufferBytes = 1024;
static const int MessageBufferBytes = 1032;

// Set when the last sendStep stopped because the source could not be read.
static bool lastReadFailed = false;

bool sendStepReadFailed()
{
    return lastReadFailed;
}

static void closeSource(FileIoState next)
{
    CloseHandle(AppState.fileHandle);
    AppState.fileHandle = nullptr;
    AppState.fileState = next;
}

// Opens sendSourcePath (created empty when missing) and checks its size. Returns false when nothing is to be
// sent; the file is then closed.
static bool openSource()
{
    HANDLE file = CreateFileW(AppState.sendSourcePath, GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        AppState.fileState = FileIoState::Closed;
        return false;
    }
    AppState.fileHandle = file;
    AppState.fileState = FileIoState::Open;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        closeSource(FileIoState::Failed);
        return false;
    }
    unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
    if (size > static_cast<unsigned long long>(MaxFileBytes)) {
        if (AppState.transferState == TransferState::CallCopyTO)
            showMessageBox(nullptr, L"953Mbyteは出来ません", L"SizeOver", MB_OK);
        closeSource(FileIoState::Done);
        return false;
    }
    return true;
}

int sendStep(BlockKind kind, int blockNumber)
{
    lastReadFailed = false;
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

    char readBuffer[ReadBufferBytes];
    char message[MessageBufferBytes];
    memset(readBuffer, 0, sizeof(readBuffer));
    memset(message, 0, sizeof(message));
    DWORD got = 0;
    if (!ReadFile(AppState.fileHandle, readBuffer, BlockDataBytes, &got, nullptr)) {
        // Sending the trailer now would pass a shortened file off as the whole one.
        closeSource(FileIoState::Failed);
        lastReadFailed = true;
        return SendStepStopped;
    }
    bool finished = got == 0;

    memset(AppState.receiveBuffer, 0, sizeof(AppState.receiveBuffer));
    int length = 0;
    if (!finished) {
        buildBlockHeader(message, kind, blockNumber);
        memcpy(message + BlockHeaderBytes, readBuffer, got);
        length = BlockHeaderBytes + static_cast<int>(got);
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
        length = buildTrailer(message, kind, created, accessed, written);
    }

    if (!sendWhole(linkSocket(), message, length)) {
        int errorCode = WSAGetLastError();
        showSendError(errorCode, message, length);
        closeSource(FileIoState::Failed);
        return SendStepStopped;
    }
    if (finished) {
        closeSource(FileIoState::Done);
        return SendStepFinished;
    }
    return SendStepBlockSent;
}

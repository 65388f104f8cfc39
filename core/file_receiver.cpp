// file_receiver.cpp: writes a received file under its temporary name and moves it onto the target, with the
// sender's times, when the trailer arrives; discards it when the transfer ends any other way.
#include "core/file_receiver.h"

#include "core/app_state.h"
#include "core/text_codec.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

static const wchar_t TempSuffix[] = L".$TEMP";

// True from the moment a temporary file is created until it has been moved onto its target or deleted. The
// open transfer file may be the sender's source, which must never be deleted; this tells the two apart.
static bool temporaryFilePending = false;

bool temporaryNameFor(const wchar_t *target, wchar_t *out, int outChars)
{
    if (outChars <= 0)
        return false;
    out[0] = 0;
    int length = 0;
    while (length < PathChars && target[length] != 0)
        length++;
    if (length == 0 || length >= PathChars)
        return false;
    int cut = length;
    for (int i = length - 1; i >= 0; i--) {
        if (target[i] == L'.') {
            cut = i;
            break;
        }
    }
    const int suffixChars = static_cast<int>(COUNTOF(TempSuffix)) - 1;
    // A target that already is its own temporary name ("x.$TEMP") would be deleted at the end in place of the
    // old target: give it the whole path plus the suffix instead.
    if (cut < length && _wcsicmp(target + cut, TempSuffix) == 0)
        cut = length;
    if (cut + suffixChars > outChars - 1)
        return false;
    wmemcpy(out, target, cut);
    wmemcpy(out + cut, TempSuffix, suffixChars);
    out[cut + suffixChars] = 0;
    return true;
}

void abandonTransferFile()
{
    if (AppState.fileState == FileIoState::Open) {
        CloseHandle(AppState.fileHandle);
        AppState.fileHandle = nullptr;
        AppState.fileState = FileIoState::Done;
    }
    if (temporaryFilePending) {
        DeleteFileW(AppState.tempFileName);
        temporaryFilePending = false;
    }
}

// Fills targetFileName and tempFileName from the A target and creates the temporary file, emptied. Returns
// the handle, or INVALID_HANDLE_VALUE when the names do not fit or the file cannot be created.
static HANDLE createTemporaryFile(const char *targetPathA)
{
    memset(AppState.targetFileName, 0, sizeof(AppState.targetFileName));
    memset(AppState.tempFileName, 0, sizeof(AppState.tempFileName));
    if (targetPathA == nullptr)
        return INVALID_HANDLE_VALUE;
    int bytes = 0;
    while (bytes < PathChars && targetPathA[bytes] != 0)
        bytes++;
    if (bytes == 0 || bytes >= PathChars)
        return INVALID_HANDLE_VALUE;
    if (ansiToWide(targetPathA, bytes, AppState.targetFileName, COUNTOF(AppState.targetFileName)) <= 0)
        return INVALID_HANDLE_VALUE;
    if (!temporaryNameFor(AppState.targetFileName, AppState.tempFileName, COUNTOF(AppState.tempFileName)))
        return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(AppState.tempFileName, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return INVALID_HANDLE_VALUE;
    temporaryFilePending = true;
    // A leftover temporary file of an earlier attempt must not lend its tail to this one.
    SetEndOfFile(file);
    return file;
}

// Gives the file the trailer's three times, closes it and moves it onto the target. A zero time (the sender
// could not read it) leaves that time as the file has it.
static void finishFile(HANDLE file, const char *times)
{
    FILETIME created = getFileTime(reinterpret_cast<const unsigned char *>(times));
    FILETIME accessed = getFileTime(reinterpret_cast<const unsigned char *>(times + 8));
    FILETIME written = getFileTime(reinterpret_cast<const unsigned char *>(times + 16));
    SetFileTime(file, (created.dwLowDateTime | created.dwHighDateTime) ? &created : nullptr,
                (accessed.dwLowDateTime | accessed.dwHighDateTime) ? &accessed : nullptr,
                (written.dwLowDateTime | written.dwHighDateTime) ? &written : nullptr);
    CloseHandle(file);
    DeleteFileW(AppState.targetFileName);
    MoveFileW(AppState.tempFileName, AppState.targetFileName);
    temporaryFilePending = false;
}

static void writeBlock(const char *data, int length)
{
    DWORD written = 0;
    if (length <= 0)
        return;
    if (!WriteFile(AppState.fileHandle, data, static_cast<DWORD>(length), &written, nullptr) ||
        written != static_cast<DWORD>(length)) {
        CloseHandle(AppState.fileHandle);
        AppState.fileHandle = nullptr;
        AppState.fileState = FileIoState::Failed;
    }
}

int writeStep(const char *targetPathA, const char *data, int length, int blockNumber)
{
    if (blockNumber == TrailerNumber) {
        HANDLE file = AppState.fileHandle;
        if (AppState.fileState != FileIoState::Open) {
            // No block 0 in this transfer: the source was empty, so the target becomes an empty file.
            abandonTransferFile();
            file = createTemporaryFile(targetPathA);
            if (file == INVALID_HANDLE_VALUE)
                return 0;
        }
        finishFile(file, data);
        AppState.fileHandle = nullptr;
        AppState.fileState = FileIoState::Done;
        return 0;
    }
    if (blockNumber == -1) {
        abandonTransferFile();
        return 0;
    }
    if (blockNumber == 0) {
        // Whatever an earlier transfer left open is closed (and its temporary file removed) first.
        abandonTransferFile();
        HANDLE file = createTemporaryFile(targetPathA);
        if (file == INVALID_HANDLE_VALUE) {
            AppState.fileState = FileIoState::Closed;
            return 0;
        }
        AppState.fileHandle = file;
        AppState.fileState = FileIoState::Open;
        writeBlock(data, length);
    } else if (blockNumber > 0 && blockNumber < TrailerNumber && AppState.fileState == FileIoState::Open) {
        writeBlock(data, length);
    }
    return AppState.fileState == FileIoState::Open ? 1 : 0;
}

// file_receiver.cpp: writes a received file under its temporary name and moves it onto the target, with the
// sender's times, when the trailer arrives; discards it when the transfer ends any other way.
#include "core/file_receiver.h"

#include "core/app_state.h"
#include "core/served_folder.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstring>
#include <cwchar>

static const wchar_t TempSuffix[] = L".$TEMP";
const wchar_t ResumeSuffix[] = L".$RESUME";

static bool endsWith(const wchar_t *name, const wchar_t *suffix, size_t suffixChars)
{
    size_t chars = wcsnlen(name, PathChars);
    return chars > suffixChars && _wcsicmp(name + chars - suffixChars, suffix) == 0;
}

bool isTemporaryName(const wchar_t *name)
{
    return endsWith(name, TempSuffix, COUNTOF(TempSuffix) - 1);
}

bool isResumeRecordName(const wchar_t *name)
{
    return endsWith(name, ResumeSuffix, COUNTOF(ResumeSuffix) - 1);
}

// Where the file's own name starts in a path of length characters.
static int fileNameStart(const wchar_t *path, int length)
{
    int start = 0;
    for (int i = 0; i < length; i++) {
        if (path[i] == L'\\' || path[i] == L'/')
            start = i + 1;
    }
    return start;
}

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
    // The '.' that gives way to the suffix must lie in the file's own name: a dot in a folder's name would
    // put the temporary file outside its folder, onto an unrelated file.
    int nameStart = fileNameStart(target, length);
    int cut = length;
    for (int i = length - 1; i >= nameStart; i--) {
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

// The longest name, in UTF-16 units on Windows and in UTF-8 bytes where Wine keeps names on a Linux disk.
static const int NameMax = 255;

static int utf8Bytes(const wchar_t *text, int chars)
{
    return chars > 0 ? WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr) : 0;
}

// True when the first chars of name and a suffix of suffixChars ASCII characters make a name every disk holds.
static bool nameFits(const wchar_t *name, int chars, int suffixChars)
{
    return chars + suffixChars <= NameMax && utf8Bytes(name, chars) + suffixChars <= NameMax;
}

// FNV-1a over the target's path: tells apart the parts of two targets whose cut names are the same.
static uint32_t pathHash(const wchar_t *path, int chars)
{
    uint32_t hash = 2166136261u;
    for (int i = 0; i < chars; i++) {
        hash = (hash ^ (path[i] & 0xFF)) * 16777619u;
        hash = (hash ^ (path[i] >> 8)) * 16777619u;
    }
    return hash;
}

bool partNameFor(const wchar_t *target, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    int length = target != nullptr ? static_cast<int>(wcsnlen(target, PathChars)) : 0;
    if (length == 0 || length >= PathChars)
        return false;
    int nameStart = fileNameStart(target, length);
    const wchar_t *name = target + nameStart;
    int nameChars = length - nameStart;
    // The resume record's suffix is the longer one: what holds it holds the part.
    const int recordSuffix = static_cast<int>(COUNTOF(ResumeSuffix)) - 1;
    const int tempSuffix = static_cast<int>(COUNTOF(TempSuffix)) - 1;
    int room = (outChars < PathChars ? outChars : PathChars) - 1;
    wchar_t mark[10] = {};
    int keep = nameChars;
    if (nameChars == 0)
        return false;
    if (length + recordSuffix > room || !nameFits(name, nameChars, recordSuffix)) {
        _snwprintf(mark, COUNTOF(mark) - 1, L"~%08x", pathHash(target, length));
        int markChars = static_cast<int>(wcslen(mark));
        keep = room - nameStart - markChars - recordSuffix;
        if (keep < 0)
            return false;
        if (keep > nameChars)
            keep = nameChars;
        while (keep > 0 && !nameFits(name, keep, markChars + recordSuffix))
            keep--;
        // Never half a surrogate pair.
        if (keep > 0 && IS_HIGH_SURROGATE(name[keep - 1]))
            keep--;
    }
    int markChars = static_cast<int>(wcslen(mark));
    wmemcpy(out, target, static_cast<size_t>(nameStart + keep));
    wmemcpy(out + nameStart + keep, mark, static_cast<size_t>(markChars));
    wmemcpy(out + nameStart + keep + markChars, TempSuffix, static_cast<size_t>(tempSuffix));
    return true;
}

// True when path names something that is there and is not a plain disk file: a folder, or a device such as
// NUL or COM1 (which answer to any folder and any extension).
static bool namesNonFile(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    // Nothing of that name is there and it names no device: the probe below would find nothing either, and each
    // look for a missing name is a search of its whole folder under Wine.
    const wchar_t *slash = wcsrchr(path, L'\\');
    const wchar_t *name = slash != nullptr ? slash + 1 : path;
    if (attributes == INVALID_FILE_ATTRIBUTES && !isDeviceName(name, static_cast<int>(wcslen(name))))
        return false;
    HANDLE probe = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    bool disk = GetFileType(probe) == FILE_TYPE_DISK;
    CloseHandle(probe);
    return !disk;
}

static bool canReceiveBeside(const wchar_t *target, bool (*partName)(const wchar_t *, wchar_t *, int))
{
    wchar_t temporary[PathChars];
    memset(temporary, 0, sizeof(temporary));
    if (target == nullptr || target[0] == 0 || !partName(target, temporary, COUNTOF(temporary)))
        return false;
    return !namesNonFile(target) && !namesNonFile(temporary);
}

bool canReceiveInto(const wchar_t *target)
{
    return canReceiveBeside(target, temporaryNameFor);
}

bool canReceivePartInto(const wchar_t *target)
{
    return canReceiveBeside(target, partNameFor);
}

void abandonTransferFile()
{
    if (AppState.fileState == FileIoState::Open) {
        CloseHandle(AppState.fileHandle);
        AppState.fileHandle = nullptr;
        AppState.fileState = FileIoState::Done;
    }
    if (AppState.tempFilePending) {
        // One that cannot be deleted stays, and the own pane shows it as unfinished.
        DeleteFileW(AppState.tempFileName);
        AppState.tempFilePending = 0;
    }
    AppState.fileBufferUsed = 0;
    AppState.fileBufferPos = 0;
    AppState.expectedBlock = 0;
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
    while (bytes < FastPathBytes && targetPathA[bytes] != 0)
        bytes++;
    if (bytes == 0 || bytes >= FastPathBytes)
        return INVALID_HANDLE_VALUE;
    if (wireToWide(targetPathA, bytes, AppState.targetFileName, COUNTOF(AppState.targetFileName)) <= 0)
        return INVALID_HANDLE_VALUE;
    if (!canReceiveInto(AppState.targetFileName) ||
        !temporaryNameFor(AppState.targetFileName, AppState.tempFileName, COUNTOF(AppState.tempFileName)))
        return INVALID_HANDLE_VALUE;
    // CREATE_ALWAYS: a leftover temporary file of an earlier attempt must not lend its tail to this one.
    HANDLE file = CreateFileW(AppState.tempFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return INVALID_HANDLE_VALUE;
    AppState.tempFilePending = 1;
    AppState.fileBufferUsed = 0;
    AppState.bytesDone = 0;
    return file;
}

// Writes what the buffer holds. False when the write failed; the file is then closed and marked failed.
static bool flushBuffer()
{
    if (AppState.fileBufferUsed <= 0)
        return true;
    DWORD written = 0;
    DWORD length = static_cast<DWORD>(AppState.fileBufferUsed);
    AppState.fileBufferUsed = 0;
    if (!WriteFile(AppState.fileHandle, AppState.fileBuffer, length, &written, nullptr) || written != length) {
        CloseHandle(AppState.fileHandle);
        AppState.fileHandle = nullptr;
        AppState.fileState = FileIoState::Failed;
        return false;
    }
    return true;
}

static void bufferBlock(const char *data, int length)
{
    if (length <= 0)
        return;
    if (AppState.fileBufferUsed + length > FileBufferBytes && !flushBuffer())
        return;
    memcpy(AppState.fileBuffer + AppState.fileBufferUsed, data, static_cast<size_t>(length));
    AppState.fileBufferUsed += length;
    AppState.bytesDone += length;
}

// Gives the file the trailer's three times, closes it and puts it in the target's place. A zero time (the
// sender could not read it) leaves that time as the file has it. False when the target could not be replaced:
// the old target then stays as it was and the temporary file is removed.
static bool finishFile(HANDLE file, const char *times)
{
    if (!flushBuffer()) {
        abandonTransferFile();
        return false;
    }
    FILETIME created = getFileTime(reinterpret_cast<const unsigned char *>(times));
    FILETIME accessed = getFileTime(reinterpret_cast<const unsigned char *>(times + FileTimeBytes));
    FILETIME written = getFileTime(reinterpret_cast<const unsigned char *>(times + 2 * FileTimeBytes));
    // Times that cannot be set leave the file's bytes right; the file is kept with the times it has.
    SetFileTime(file, (created.dwLowDateTime | created.dwHighDateTime) ? &created : nullptr,
                (accessed.dwLowDateTime | accessed.dwHighDateTime) ? &accessed : nullptr,
                (written.dwLowDateTime | written.dwHighDateTime) ? &written : nullptr);
    CloseHandle(file);
    AppState.fileHandle = nullptr;
    AppState.fileState = FileIoState::Done;
    // A read-only target is the user's "do not change": it is kept, as Windows itself would refuse to replace it.
    DWORD attributes = GetFileAttributesW(AppState.targetFileName);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    bool replaced = !readOnly &&
                    MoveFileExW(AppState.tempFileName, AppState.targetFileName, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!replaced)
        DeleteFileW(AppState.tempFileName);  // one left behind is shown as unfinished in the own pane
    AppState.tempFilePending = 0;
    if (replaced)
        fileArrived(AppState.targetFileName);
    return replaced;
}

int writeStep(const char *targetPathA, const char *data, int length, int blockNumber)
{
    if (blockNumber == TrailerNumber) {
        HANDLE file = AppState.fileHandle;
        if (AppState.fileState != FileIoState::Open) {
            // No block 0 in this transfer: the source was empty, so the target becomes an empty file. A trailer
            // after blocks whose file failed is no empty source, though.
            if (AppState.expectedBlock != 0)
                return WriteStepFailed;
            abandonTransferFile();
            file = createTemporaryFile(targetPathA);
            if (file == INVALID_HANDLE_VALUE)
                return WriteStepFailed;
        }
        AppState.expectedBlock = 0;
        return finishFile(file, data) ? WriteStepFinished : WriteStepFailed;
    }
    if (blockNumber == -1) {
        abandonTransferFile();
        AppState.expectedBlock = 0;
        return WriteStepFailed;
    }
    // Blocks come in order, one more each time; any other number is a broken transfer, not data to place.
    if (blockNumber != AppState.expectedBlock) {
        abandonTransferFile();
        AppState.expectedBlock = 0;
        return WriteStepFailed;
    }
    if (blockNumber == 0) {
        // Whatever an earlier transfer left open is closed (and its temporary file removed) first.
        abandonTransferFile();
        HANDLE file = createTemporaryFile(targetPathA);
        if (file == INVALID_HANDLE_VALUE) {
            AppState.fileState = FileIoState::Closed;
            return WriteStepFailed;
        }
        AppState.fileHandle = file;
        AppState.fileState = FileIoState::Open;
    }
    if (AppState.fileState != FileIoState::Open)
        return WriteStepFailed;
    bufferBlock(data, length);
    if (AppState.fileState != FileIoState::Open) {
        abandonTransferFile();
        return WriteStepFailed;
    }
    AppState.expectedBlock++;
    return WriteStepBlockWritten;
}

// paired_machines.cpp: the paired machines and the kept classic answers, held in memory and written whole to
// their UTF-8 file beside the INI on every change.
#include "core/paired_machines.h"

#include "core/app_state.h"
#include "core/identity.h"
#include "core/paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

const wchar_t PairedFileName[] = L"Parcelwight.paired";

struct PairedEntry {
    PairedMachine shown;
    uint8_t publicKey[EcdsaPublicBytes];
};

struct ClassicEntry {
    wchar_t address[16];
    int32_t allow;
};

static CRITICAL_SECTION StoreLock;
static INIT_ONCE StoreLockOnce = INIT_ONCE_STATIC_INIT;
static PairedEntry Paired[PairedMachinesMax];
static int PairedCount;
static ClassicEntry Classic[ClassicAnswersMax];
static int ClassicCount;
static bool StoreLoaded;

static BOOL CALLBACK initStoreLock(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&StoreLock);
    return TRUE;
}

static bool storePath(wchar_t *path, int chars)
{
    return AppState.startFolder[0] != 0 && joinFolderName(AppState.startFolder, PairedFileName, path, chars);
}

static void hexInto(const uint8_t *data, int bytes, char *out)
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < bytes; i++) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    out[2 * bytes] = 0;
}

static bool hexFrom(const char *text, int textChars, uint8_t *out, int bytes)
{
    if (textChars != 2 * bytes)
        return false;
    for (int i = 0; i < 2 * bytes; i++) {
        char c = text[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0)
            return false;
        out[i / 2] = static_cast<uint8_t>(i % 2 == 0 ? v << 4 : out[i / 2] | v);
    }
    return true;
}

// A UTF-8 field into a wide buffer; false when it does not fit.
static bool fieldToWide(const char *text, int bytes, wchar_t *out, int outChars)
{
    memset(out, 0, sizeof(wchar_t) * outChars);
    if (bytes == 0)
        return true;
    int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, bytes, out, outChars - 1);
    return chars > 0;
}

// One line: "P<TAB>key hex<TAB>host<TAB>address<TAB>paired-at hex" or "C<TAB>address<TAB>0|1". Others are skipped.
static void parseLine(char *line)
{
    char *fields[6];
    int count = 0;
    fields[count++] = line;
    for (char *p = line; *p != 0 && count < 6; p++) {
        if (*p == '\t') {
            *p = 0;
            fields[count++] = p + 1;
        }
    }
    if (strcmp(fields[0], "P") == 0 && count == 5 && PairedCount < PairedMachinesMax) {
        PairedEntry entry;
        memset(&entry, 0, sizeof(entry));
        unsigned long long at = 0;
        if (!hexFrom(fields[1], static_cast<int>(strlen(fields[1])), entry.publicKey, EcdsaPublicBytes) ||
            !fieldToWide(fields[2], static_cast<int>(strlen(fields[2])), entry.shown.hostName,
                         COUNTOF(entry.shown.hostName)) ||
            !fieldToWide(fields[3], static_cast<int>(strlen(fields[3])), entry.shown.address,
                         COUNTOF(entry.shown.address)) ||
            sscanf(fields[4], "%llx", &at) != 1)
            return;
        entry.shown.pairedAt.dwLowDateTime = static_cast<DWORD>(at);
        entry.shown.pairedAt.dwHighDateTime = static_cast<DWORD>(at >> 32);
        fingerprintOf(entry.publicKey, entry.shown.fingerprint, COUNTOF(entry.shown.fingerprint));
        Paired[PairedCount++] = entry;
    } else if (strcmp(fields[0], "C") == 0 && count == 3 && ClassicCount < ClassicAnswersMax) {
        ClassicEntry entry;
        memset(&entry, 0, sizeof(entry));
        if (!fieldToWide(fields[1], static_cast<int>(strlen(fields[1])), entry.address, COUNTOF(entry.address)))
            return;
        entry.allow = strcmp(fields[2], "1") == 0;
        Classic[ClassicCount++] = entry;
    }
}

static void loadLocked()
{
    PairedCount = 0;
    ClassicCount = 0;
    StoreLoaded = true;
    wchar_t path[PathChars];
    if (!storePath(path, COUNTOF(path)))
        return;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static char text[64 * 1024];
    DWORD got = 0;
    BOOL read = ReadFile(file, text, sizeof(text) - 1, &got, nullptr);
    CloseHandle(file);
    if (!read)
        return;
    text[got] = 0;
    char *line = text;
    while (*line != 0) {
        char *end = strchr(line, '\n');
        if (end != nullptr)
            *end = 0;
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\r')
            line[length - 1] = 0;
        parseLine(line);
        if (end == nullptr)
            break;
        line = end + 1;
    }
}

static void lockStore()
{
    InitOnceExecuteOnce(&StoreLockOnce, initStoreLock, nullptr, nullptr);
    EnterCriticalSection(&StoreLock);
    if (!StoreLoaded)
        loadLocked();
}

static void unlockStore()
{
    LeaveCriticalSection(&StoreLock);
}

// Formatted text at out + at; the new end, or -1 when it does not fit.
static int appendFormat(char *out, int at, int room, const char *format, ...)
{
    if (at < 0 || at >= room)
        return -1;
    va_list args;
    va_start(args, format);
    int bytes = vsnprintf(out + at, room - at, format, args);
    va_end(args);
    return bytes < 0 || bytes >= room - at ? -1 : at + bytes;
}

static int appendUtf8(char *out, int at, int room, const wchar_t *text)
{
    if (at < 0 || at >= room)
        return -1;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, out + at, room - at, nullptr, nullptr);
    return bytes > 0 ? at + bytes - 1 : -1;
}

// The whole table into a temporary file that then replaces the file.
static bool saveLocked()
{
    wchar_t path[PathChars];
    wchar_t temporary[PathChars];
    if (!storePath(path, COUNTOF(path)) || _snwprintf(temporary, COUNTOF(temporary), L"%ls.new", path) < 0)
        return false;
    temporary[COUNTOF(temporary) - 1] = 0;
    static char text[64 * 1024];
    int at = 0;
    const int room = sizeof(text);
    for (int i = 0; i < PairedCount && at >= 0; i++) {
        const PairedEntry &entry = Paired[i];
        char key[2 * EcdsaPublicBytes + 1];
        hexInto(entry.publicKey, EcdsaPublicBytes, key);
        at = appendFormat(text, at, room, "P\t%s\t", key);
        at = appendUtf8(text, at, room, entry.shown.hostName);
        at = appendFormat(text, at, room, "\t");
        at = appendUtf8(text, at, room, entry.shown.address);
        unsigned long long when = (static_cast<unsigned long long>(entry.shown.pairedAt.dwHighDateTime) << 32) |
                                  entry.shown.pairedAt.dwLowDateTime;
        at = appendFormat(text, at, room, "\t%llx\r\n", when);
    }
    for (int i = 0; i < ClassicCount && at >= 0; i++) {
        at = appendFormat(text, at, room, "C\t");
        at = appendUtf8(text, at, room, Classic[i].address);
        at = appendFormat(text, at, room, "\t%d\r\n", Classic[i].allow ? 1 : 0);
    }
    if (at < 0 || at >= room)
        return false;
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text, static_cast<DWORD>(at), &written, nullptr) && written == static_cast<DWORD>(at);
    CloseHandle(file);
    if (!ok || !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary);
        return false;
    }
    return true;
}

void reloadPairedMachines()
{
    lockStore();
    loadLocked();
    unlockStore();
}

bool pairedMachineKnown(const wchar_t *fingerprint)
{
    lockStore();
    bool known = false;
    for (int i = 0; i < PairedCount && !known; i++)
        known = wcscmp(Paired[i].shown.fingerprint, fingerprint) == 0;
    unlockStore();
    return known;
}

int pairedMachineCount()
{
    lockStore();
    int count = PairedCount;
    unlockStore();
    return count;
}

bool pairedMachineAt(int index, PairedMachine *out)
{
    lockStore();
    bool ok = index >= 0 && index < PairedCount;
    if (ok)
        *out = Paired[index].shown;
    unlockStore();
    return ok;
}

static void removePaired(int index)
{
    for (int i = index; i + 1 < PairedCount; i++)
        Paired[i] = Paired[i + 1];
    PairedCount--;
}

bool forgetPairedMachine(const wchar_t *fingerprint)
{
    lockStore();
    bool found = false;
    for (int i = 0; i < PairedCount; i++) {
        if (wcscmp(Paired[i].shown.fingerprint, fingerprint) == 0) {
            removePaired(i);
            found = true;
            break;
        }
    }
    bool ok = found && saveLocked();
    unlockStore();
    return ok;
}

PeerStanding peerStanding(const uint8_t publicKey[EcdsaPublicBytes], const wchar_t *hostName)
{
    lockStore();
    PeerStanding standing = PeerStanding::Unknown;
    for (int i = 0; i < PairedCount; i++) {
        if (memcmp(Paired[i].publicKey, publicKey, EcdsaPublicBytes) == 0) {
            standing = PeerStanding::Paired;
            break;
        }
        if (_wcsicmp(Paired[i].shown.hostName, hostName) == 0)
            standing = PeerStanding::KeyChanged;
    }
    unlockStore();
    return standing;
}

bool rememberPairedMachine(const uint8_t publicKey[EcdsaPublicBytes], const wchar_t *hostName,
                           const wchar_t *address)
{
    lockStore();
    for (int i = 0; i < PairedCount; i++) {
        if (memcmp(Paired[i].publicKey, publicKey, EcdsaPublicBytes) == 0) {
            removePaired(i);
            break;
        }
    }
    if (PairedCount == PairedMachinesMax)
        removePaired(0);  // the oldest pairing goes first
    PairedEntry &entry = Paired[PairedCount++];
    memset(&entry, 0, sizeof(entry));
    memcpy(entry.publicKey, publicKey, EcdsaPublicBytes);
    wcsncpy(entry.shown.hostName, hostName, COUNTOF(entry.shown.hostName) - 1);
    wcsncpy(entry.shown.address, address, COUNTOF(entry.shown.address) - 1);
    // The peer chose its name: a tab or a line break in it must not make a field or a line of the file.
    for (wchar_t *c = entry.shown.hostName; *c != 0; c++) {
        if (*c < 0x20)
            *c = L'?';
    }
    GetSystemTimeAsFileTime(&entry.shown.pairedAt);
    fingerprintOf(publicKey, entry.shown.fingerprint, COUNTOF(entry.shown.fingerprint));
    bool ok = saveLocked();
    unlockStore();
    return ok;
}

int classicAnswerFor(const wchar_t *address)
{
    lockStore();
    int answer = -1;
    for (int i = 0; i < ClassicCount; i++) {
        if (wcscmp(Classic[i].address, address) == 0)
            answer = Classic[i].allow;
    }
    unlockStore();
    return answer;
}

static void removeClassic(const wchar_t *address)
{
    for (int i = 0; i < ClassicCount; i++) {
        if (wcscmp(Classic[i].address, address) == 0) {
            for (int j = i; j + 1 < ClassicCount; j++)
                Classic[j] = Classic[j + 1];
            ClassicCount--;
            return;
        }
    }
}

bool rememberClassicAnswer(const wchar_t *address, bool allow)
{
    lockStore();
    removeClassic(address);
    if (ClassicCount == ClassicAnswersMax) {
        for (int j = 0; j + 1 < ClassicCount; j++)
            Classic[j] = Classic[j + 1];
        ClassicCount--;
    }
    ClassicEntry &entry = Classic[ClassicCount++];
    memset(&entry, 0, sizeof(entry));
    wcsncpy(entry.address, address, COUNTOF(entry.address) - 1);
    entry.allow = allow;
    bool ok = saveLocked();
    unlockStore();
    return ok;
}

bool forgetClassicAnswer(const wchar_t *address)
{
    lockStore();
    int before = ClassicCount;
    removeClassic(address);
    bool ok = ClassicCount != before && saveLocked();
    unlockStore();
    return ok;
}

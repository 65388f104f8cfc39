// served_folder.cpp: the check every path named by the peer passes before this side acts on it, and the
// check of a peer's address.
#include "core/served_folder.h"

#include "core/app_state.h"
#include "core/text_codec.h"

#include <ws2tcpip.h>

#include <cstring>
#include <cwchar>

// Long enough for any request path the engine takes, with room for a short name's long form.
static const int WorkChars = 1024;
static const int MaxSegments = 256;

static bool isAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Characters no file name may hold: the platform would read them as wildcards, redirections or a stream.
static bool isForbiddenChar(wchar_t c)
{
    return c < 0x20 || wcschr(L"<>\"|?*:", c) != nullptr;
}

static bool sameTextNoCase(const wchar_t *a, int aChars, const wchar_t *b, int bChars)
{
    return CompareStringOrdinal(a, aChars, b, bChars, TRUE) == CSTR_EQUAL;
}

bool isDeviceName(const wchar_t *segment, int chars)
{
    int stem = 0;
    while (stem < chars && segment[stem] != L'.')
        stem++;
    while (stem > 0 && segment[stem - 1] == L' ')
        stem--;
    static const wchar_t *const plain[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t *name : plain) {
        if (sameTextNoCase(segment, stem, name, -1))
            return true;
    }
    if (stem != 4)
        return false;
    wchar_t last = segment[3];
    bool digit = (last >= L'0' && last <= L'9') || last == 0x00B9 || last == 0x00B2 || last == 0x00B3;
    return digit && (sameTextNoCase(segment, 3, L"COM", 3) || sameTextNoCase(segment, 3, L"LPT", 3));
}

// A name the platform would take for itself or quietly change: refused, never guessed at.
static bool isPlainName(const wchar_t *segment, int chars)
{
    if (chars <= 0)
        return false;
    wchar_t last = segment[chars - 1];
    if (last == L'.' || last == L' ')
        return false;
    return !isDeviceName(segment, chars);
}

struct Segment {
    int start;
    int chars;
};

// "X:\" and the plain names of path, "." dropped and ".." taken back, joined by single backslashes into out.
static bool joinPlainPath(const wchar_t *path, int length, wchar_t *out, int outChars)
{
    Segment kept[MaxSegments];
    int count = 0;
    int at = 3;
    while (at < length) {
        int end = at;
        while (end < length && path[end] != L'\\')
            end++;
        int chars = end - at;
        const wchar_t *segment = path + at;
        at = end + 1;
        if (chars == 0 || (chars == 1 && segment[0] == L'.'))
            continue;
        if (chars == 2 && segment[0] == L'.' && segment[1] == L'.') {
            // Above the drive root is no folder at all.
            if (count == 0)
                return false;
            count--;
            continue;
        }
        if (!isPlainName(segment, chars) || count >= MaxSegments)
            return false;
        kept[count].start = static_cast<int>(segment - path);
        kept[count].chars = chars;
        count++;
    }
    int used = 3;
    if (used >= outChars)
        return false;
    wmemcpy(out, path, 3);
    for (int i = 0; i < count; i++) {
        int separator = i > 0 ? 1 : 0;
        if (used + separator + kept[i].chars >= outChars)
            return false;
        if (separator)
            out[used++] = L'\\';
        wmemcpy(out + used, path + kept[i].start, static_cast<size_t>(kept[i].chars));
        used += kept[i].chars;
    }
    out[used] = 0;
    return true;
}

// A short name (with its "~") is replaced by its long form wherever the path exists, for the part that exists
// when the rest does not, so that the served-folder check sees the names the platform will use.
static bool expandShortNames(wchar_t *path, int pathChars)
{
    if (wcschr(path, L'~') == nullptr)
        return true;
    int length = static_cast<int>(wcslen(path));
    int cut = length;
    while (cut > 3) {
        wchar_t existing[WorkChars];
        wchar_t longForm[WorkChars];
        memset(existing, 0, sizeof(existing));
        memset(longForm, 0, sizeof(longForm));
        wmemcpy(existing, path, static_cast<size_t>(cut));
        DWORD got = GetLongPathNameW(existing, longForm, COUNTOF(longForm));
        if (got > 0 && got < COUNTOF(longForm)) {
            int rest = length - cut;
            if (static_cast<int>(got) + rest >= pathChars)
                return false;
            wmemmove(path + got, path + cut, static_cast<size_t>(rest));
            wmemcpy(path, longForm, got);
            path[got + rest] = 0;
            return true;
        }
        do {
            cut--;
        } while (cut > 3 && path[cut] != L'\\');
    }
    return true;
}

// path made absolute and normal into out; false for every form that is refused.
static bool normalisePath(const wchar_t *path, wchar_t *out, int outChars)
{
    wchar_t work[WorkChars];
    memset(work, 0, sizeof(work));
    int length = static_cast<int>(wcsnlen(path, WorkChars));
    if (length >= WorkChars || length < 3)
        return false;
    for (int i = 0; i < length; i++)
        work[i] = path[i] == L'/' ? L'\\' : path[i];
    // Only "X:\..." is absolute. Shares, "\\?\" and "\\.\" start with a separator; "C:foo" is relative to a
    // current folder the peer cannot see.
    if (!isAsciiLetter(work[0]) || work[1] != L':' || work[2] != L'\\')
        return false;
    for (int i = 3; i < length; i++) {
        if (isForbiddenChar(work[i]))
            return false;
    }
    wchar_t joined[WorkChars];
    memset(joined, 0, sizeof(joined));
    if (!joinPlainPath(work, length, joined, COUNTOF(joined)) || !expandShortNames(joined, COUNTOF(joined)))
        return false;
    // The long names come from the file system: they pass the same test as the peer's own.
    int chars = static_cast<int>(wcsnlen(joined, COUNTOF(joined)));
    for (int i = 3; i < chars; i++) {
        if (isForbiddenChar(joined[i]))
            return false;
    }
    return joinPlainPath(joined, chars, out, outChars);
}

// True when path lies in folder or is folder itself, compared by whole names; exactCase compares the real
// on-disk names, where a folder and its case-only sibling are two folders.
static bool insideFolder(const wchar_t *path, const wchar_t *folder, bool exactCase)
{
    int folderChars = static_cast<int>(wcslen(folder));
    int pathChars = static_cast<int>(wcslen(path));
    if (folderChars == 0 || pathChars < folderChars)
        return false;
    bool same = exactCase ? wmemcmp(path, folder, static_cast<size_t>(folderChars)) == 0
                          : sameTextNoCase(path, folderChars, folder, folderChars);
    if (!same)
        return false;
    return path[folderChars] == 0 || path[folderChars] == L'\\' || folder[folderChars - 1] == L'\\';
}

enum class OnDisk { Found, Missing, Refused };

// The final path of what path names into out, as GetFinalPathNameByHandleW gives it: every link, junction and
// mount point followed and every name in its on-disk case ("\\?\Z:\tmp\x" under Wine, drive letter upper
// case). Missing only when nothing at all is there: a link whose target is gone is Refused, because creating a
// file through it creates its target, wherever that is. Such a link fails to open as "file not found"; a search
// for its name finds the link on Windows and fails with "no more files" under Wine, where a missing name gives
// "file not found".
static OnDisk finalPathOf(const wchar_t *path, wchar_t *out, int outChars)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // No access asked: the handle only names the file, so no other program's sharing mode stands in the way.
    HANDLE file = CreateFileW(path, 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return OnDisk::Refused;
        // The name holds no wildcard (normalisePath refuses them): the search looks for it alone.
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(path, &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            return OnDisk::Refused;
        }
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OnDisk::Missing : OnDisk::Refused;
    }
    DWORD chars = GetFinalPathNameByHandleW(file, out, static_cast<DWORD>(outChars), FILE_NAME_NORMALIZED);
    CloseHandle(file);
    // Too small a buffer gives the size wanted, NUL included.
    return chars > 0 && chars < static_cast<DWORD>(outChars) ? OnDisk::Found : OnDisk::Refused;
}

// Where normal (absolute, plain names) really lies, into out: the final path of its nearest part that exists,
// and below it the names that do not exist yet (a push target, a new folder) as named. These are plain names,
// none "." or "..": normalisePath took those out, so nothing left can climb. False when no part of the path
// exists or a part cannot be resolved.
static bool realPathOf(const wchar_t *normal, wchar_t *out, int outChars)
{
    int length = static_cast<int>(wcslen(normal));
    int cut = length;
    for (;;) {
        wchar_t part[WorkChars];
        memset(part, 0, sizeof(part));
        wmemcpy(part, normal, static_cast<size_t>(cut));
        OnDisk found = finalPathOf(part, out, outChars);
        if (found == OnDisk::Refused)
            return false;
        if (found == OnDisk::Found)
            break;
        if (cut <= 3)
            return false;
        do {
            cut--;
        } while (cut > 3 && normal[cut] != L'\\');
    }
    const wchar_t *rest = normal + cut;
    if (rest[0] == L'\\')
        rest++;
    if (rest[0] == 0)
        return true;
    int used = static_cast<int>(wcslen(out));
    int restChars = static_cast<int>(wcslen(rest));
    bool separator = used > 0 && out[used - 1] != L'\\';
    if (used + (separator ? 1 : 0) + restChars >= outChars)
        return false;
    if (separator)
        out[used++] = L'\\';
    wmemcpy(out + used, rest, static_cast<size_t>(restChars));
    out[used + restChars] = 0;
    return true;
}

// True when normal lies in the served folder (normal form servedNormal) by its text and by where it really is,
// links followed: a link that leads out is refused, one that stays inside is served.
static bool reallyInsideFolder(const wchar_t *normal, const wchar_t *servedNormal)
{
    if (!insideFolder(normal, servedNormal, false))
        return false;
    wchar_t realPath[WorkChars];
    wchar_t realServed[WorkChars];
    memset(realPath, 0, sizeof(realPath));
    memset(realServed, 0, sizeof(realServed));
    // A served folder that is not there serves nothing: where it would lie cannot be known.
    if (finalPathOf(servedNormal, realServed, COUNTOF(realServed)) != OnDisk::Found)
        return false;
    return realPathOf(normal, realPath, COUNTOF(realPath)) && insideFolder(realPath, realServed, true);
}

bool normalFolderPath(const wchar_t *folder, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    return folder != nullptr && normalisePath(folder, out, outChars);
}

// resolvePeerPathW, with the reason of a refusal.
static bool resolveWide(const wchar_t *path, PeerAccess access, wchar_t *out, int outChars, PathRefusal *why)
{
    *why = PathRefusal::Malformed;
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    if (path == nullptr)
        return false;
    if (AppState.servedReadOnly && (access == PeerAccess::Write || access == PeerAccess::CreateFolder)) {
        *why = PathRefusal::ReadOnly;
        return false;
    }
    wchar_t normal[WorkChars];
    memset(normal, 0, sizeof(normal));
    if (!normalisePath(path, normal, COUNTOF(normal)))
        return false;
    if (AppState.servedFolder[0] != 0) {
        // A setting that cannot be read as a folder serves nothing.
        wchar_t served[WorkChars];
        memset(served, 0, sizeof(served));
        if (!normalisePath(AppState.servedFolder, served, COUNTOF(served)) || !reallyInsideFolder(normal, served)) {
            *why = PathRefusal::Outside;
            return false;
        }
    }
    // A pull of a missing file creates it empty, which read-only does not allow.
    if (AppState.servedReadOnly && access == PeerAccess::Read && GetFileAttributesW(normal) == INVALID_FILE_ATTRIBUTES) {
        *why = PathRefusal::Missing;
        return false;
    }
    int chars = static_cast<int>(wcslen(normal));
    if (chars >= outChars)
        return false;
    wmemcpy(out, normal, static_cast<size_t>(chars));
    *why = PathRefusal::None;
    return true;
}

bool resolvePeerPathW(const wchar_t *path, PeerAccess access, wchar_t *out, int outChars)
{
    PathRefusal why = PathRefusal::None;
    return resolveWide(path, access, out, outChars, &why);
}

bool resolvePeerPathFor(const char *pathA, int bytes, PeerAccess access, wchar_t *out, int outChars,
                        PathRefusal *why)
{
    *why = PathRefusal::Malformed;
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    if (pathA == nullptr || bytes <= 0 || bytes >= WorkChars)
        return false;
    wchar_t wide[WorkChars];
    memset(wide, 0, sizeof(wide));
    int chars = wireToWide(pathA, bytes, wide, COUNTOF(wide));
    // A NUL inside the named bytes would cut the path short of what the peer named.
    if (chars <= 0 || static_cast<int>(wcsnlen(wide, COUNTOF(wide))) != chars)
        return false;
    return resolveWide(wide, access, out, outChars, why);
}

bool resolvePeerPath(const char *pathA, int bytes, PeerAccess access, wchar_t *out, int outChars)
{
    PathRefusal why = PathRefusal::None;
    return resolvePeerPathFor(pathA, bytes, access, out, outChars, &why);
}

static bool allowedAddress(const wchar_t *text, IN_ADDR *address)
{
    if (text == nullptr || text[0] == 0)
        return false;
    memset(address, 0, sizeof(*address));
    return InetPtonW(AF_INET, text, address) == 1;
}

bool allowedAddressUsable(const wchar_t *text)
{
    IN_ADDR address;
    return text == nullptr || text[0] == 0 || allowedAddress(text, &address);
}

bool servedLimited()
{
    return AppState.servedFolder[0] != 0 || AppState.servedReadOnly != 0 || AppState.allowedPeerAddress[0] != 0;
}

void servedLimitText(wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    if (!servedLimited()) {
        _snwprintf(out, outChars - 1, L"%s", L" ");
        return;
    }
    _snwprintf(out, outChars - 1, L"公開:%.259s%s%s%.15s",
               AppState.servedFolder[0] != 0 ? AppState.servedFolder : L"全体",
               AppState.servedReadOnly ? L" 読取のみ" : L"", AppState.allowedPeerAddress[0] != 0 ? L" 接続許可:" : L"",
               AppState.allowedPeerAddress);
    out[outChars - 1] = 0;
}

bool peerAddressAllowed(const sockaddr_in &address)
{
    if (AppState.allowedPeerAddress[0] == 0)
        return true;
    IN_ADDR allowed;
    // A setting that is no address lets nobody in rather than everybody.
    if (!allowedAddress(AppState.allowedPeerAddress, &allowed))
        return false;
    return address.sin_family == AF_INET && address.sin_addr.s_addr == allowed.s_addr;
}

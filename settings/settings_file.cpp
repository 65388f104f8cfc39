// settings_file.cpp: the keys and defaults of Parcelwight.ini and how they are read and written. Its statics
// are reset by resetAppState through resetUiModules().
#include "settings/settings_file.h"

#include "core/paths.h"
#include "core/app_state.h"
#include "core/message_box.h"

#include <cstring>
#include <cwchar>

static const wchar_t SettingsFileName[] = L"Parcelwight.ini";
static const wchar_t SettingsSection[] = L"Parcelwight_setting";

static const wchar_t ModeKey[] = L"ip_mode";

// A start without a settings file, until settings are first written: the link has never been set up here.
static bool SettingsMissing = false;

// The integer keys after ip_mode, in the order they are written, with their defaults.
struct IntegerKey {
    const wchar_t *name;
    int32_t *field;
    int32_t defaultValue;
};

static const IntegerKey IntegerKeys[] = {
    {L"port_no", &AppState.port, DefaultPort},
    {L"ip_no1", &AppState.ip[0], 192},
    {L"ip_no2", &AppState.ip[1], 138},
    {L"ip_no3", &AppState.ip[2], 1},
    {L"ip_no4", &AppState.ip[3], 31},
    {L"sendreadmonitor_on", &AppState.monitorOn, 0},
};

// The main window's place, written after every other key; a file without them still loads.
static const wchar_t *const PlacementKeys[4] = {L"window_left", L"window_top", L"window_width", L"window_height"};

// Each write below counts its failures here, zeroed by every save, so that a file that cannot be written is told once.
static int FailedWrites = 0;

static void writeText(const wchar_t *name, const wchar_t *value, const wchar_t *path)
{
    if (!WritePrivateProfileStringW(SettingsSection, name, value, path))
        FailedWrites++;
}

static void writeInteger(const wchar_t *name, int value, const wchar_t *path)
{
    wchar_t number[32];
    memset(number, 0, sizeof(number));
    _snwprintf(number, COUNTOF(number) - 1, L"%d", value);
    writeText(name, number, path);
}

bool settingsFilePath(wchar_t *path, int pathChars)
{
    memset(path, 0, pathChars * sizeof(wchar_t));
    size_t folderChars = wcslen(AppState.startFolder);
    // No start folder would put the file at the root of the current drive: better no settings at all.
    if (folderChars == 0)
        return false;
    size_t needed = folderChars + 1 + wcslen(SettingsFileName);
    if (needed >= static_cast<size_t>(pathChars))
        return false;
    // The backslash is appended even after a drive root; C:\\Parcelwight.ini opens like C:\Parcelwight.ini.
    _snwprintf(path, pathChars - 1, L"%s\\%s", AppState.startFolder, SettingsFileName);
    path[pathChars - 1] = 0;
    return true;
}

// What the peer may reach: three keys after all the others. Missing keys serve the whole machine, writable, to
// any address, as a file from before they existed expects.
static const wchar_t ServedFolderKey[] = L"serve_directory";
static const wchar_t ServedReadOnlyKey[] = L"serve_readonly_on";
static const wchar_t AllowedAddressKey[] = L"serve_allow_ip";
// After those: the fast link with another instance of this program; on unless the file says 0.
static const wchar_t FastLinkKey[] = L"fastlink_on";
// Then who is served (AdmissionMode as a number). A new file asks about each new machine; a file from before
// the key existed serves everyone, as its user's setup was made for.
static const wchar_t AdmissionKey[] = L"serve_admission";

static const wchar_t *const MonitorPlaceKeys[MonitorPlaceCount][2] = {
    {L"monitor_received_left", L"monitor_received_top"},
    {L"monitor_sent_left", L"monitor_sent_top"},
    {L"monitor_dir_left", L"monitor_dir_top"},
};
static POINT MonitorPlaces[MonitorPlaceCount];
static bool MonitorPlaceKnown[MonitorPlaceCount];

void forgetLoadedSettings()
{
    SettingsMissing = false;
    memset(MonitorPlaces, 0, sizeof(MonitorPlaces));
    memset(MonitorPlaceKnown, 0, sizeof(MonitorPlaceKnown));
}

bool monitorPlace(int view, POINT *place)
{
    if (view < 0 || view >= MonitorPlaceCount || !MonitorPlaceKnown[view])
        return false;
    *place = MonitorPlaces[view];
    return true;
}

void setMonitorPlace(int view, const POINT *place)
{
    if (view < 0 || view >= MonitorPlaceCount)
        return;
    MonitorPlaceKnown[view] = place != nullptr;
    if (place != nullptr)
        MonitorPlaces[view] = *place;
}

// A place is two whole numbers; a key that is missing or not a number leaves the window's place unknown.
static void loadMonitorPlaces(bool known, const wchar_t *path)
{
    for (int view = 0; view < MonitorPlaceCount; ++view) {
        MonitorPlaceKnown[view] = false;
        long values[2] = {};
        bool whole = known;
        for (int i = 0; i < 2 && whole; ++i) {
            wchar_t text[32] = {};
            GetPrivateProfileStringW(SettingsSection, MonitorPlaceKeys[view][i], L"", text, COUNTOF(text), path);
            wchar_t *end = nullptr;
            values[i] = wcstol(text, &end, 10);
            whole = text[0] != 0 && end != nullptr && *end == 0;
        }
        if (whole) {
            POINT place = {values[0], values[1]};
            setMonitorPlace(view, &place);
        }
    }
}

static void saveMonitorPlaces(const wchar_t *path)
{
    for (int view = 0; view < MonitorPlaceCount; ++view) {
        if (!MonitorPlaceKnown[view])
            continue;
        writeInteger(MonitorPlaceKeys[view][0], MonitorPlaces[view].x, path);
        writeInteger(MonitorPlaceKeys[view][1], MonitorPlaces[view].y, path);
    }
}

static void loadServedSettings(bool known, const wchar_t *path)
{
    memset(AppState.servedFolder, 0, sizeof(AppState.servedFolder));
    memset(AppState.allowedPeerAddress, 0, sizeof(AppState.allowedPeerAddress));
    AppState.servedReadOnly = 0;
    AppState.fastLinkAllowed = 1;
    AppState.admission = AdmissionMode::Ask;
    if (!known || SettingsMissing)
        return;
    GetPrivateProfileStringW(SettingsSection, ServedFolderKey, L"", AppState.servedFolder,
                             COUNTOF(AppState.servedFolder), path);
    AppState.servedReadOnly = GetPrivateProfileIntW(SettingsSection, ServedReadOnlyKey, 0, path) != 0 ? 1 : 0;
    GetPrivateProfileStringW(SettingsSection, AllowedAddressKey, L"", AppState.allowedPeerAddress,
                             COUNTOF(AppState.allowedPeerAddress), path);
    AppState.fastLinkAllowed = GetPrivateProfileIntW(SettingsSection, FastLinkKey, 1, path) != 0 ? 1 : 0;
    // A value no mode has asks, rather than serving everyone or nobody.
    UINT admission = GetPrivateProfileIntW(SettingsSection, AdmissionKey,
                                           static_cast<int>(AdmissionMode::Everyone), path);
    AppState.admission = admission <= static_cast<UINT>(AdmissionMode::Everyone)
                             ? static_cast<AdmissionMode>(static_cast<int32_t>(admission))
                             : AdmissionMode::Ask;
}

static void saveServedSettings(const wchar_t *path)
{
    writeText(ServedFolderKey, AppState.servedFolder, path);
    writeInteger(ServedReadOnlyKey, AppState.servedReadOnly != 0 ? 1 : 0, path);
    writeText(AllowedAddressKey, AppState.allowedPeerAddress, path);
    writeInteger(FastLinkKey, AppState.fastLinkAllowed != 0 ? 1 : 0, path);
    writeInteger(AdmissionKey, static_cast<int>(AppState.admission), path);
}

// After all of those: whether a server answers the searches of clients (on unless the file says 0), and the
// servers last reached as a client, "a.b.c.d:port", newest first.
static const wchar_t AnswerSearchesKey[] = L"search_answer_on";
static const wchar_t *const RecentServerKeys[RecentServersMax] = {L"recent_server_1", L"recent_server_2",
                                                                  L"recent_server_3", L"recent_server_4"};

// A recent server as written; false for anything else, which is then left out.
static bool parseRecentServer(const wchar_t *text, RecentServer *server)
{
    memset(server, 0, sizeof(*server));
    const wchar_t *colon = wcschr(text, L':');
    if (colon == nullptr || colon - text >= static_cast<ptrdiff_t>(COUNTOF(server->address)))
        return false;
    wcsncpy(server->address, text, static_cast<size_t>(colon - text));
    uint32_t address = 0;
    wchar_t *end = nullptr;
    long port = wcstol(colon + 1, &end, 10);
    if (InetPtonW(AF_INET, server->address, &address) != 1 || end == colon + 1 || *end != 0 || port <= 0 ||
        port > 0xFFFF) {
        memset(server, 0, sizeof(*server));
        return false;
    }
    server->port = static_cast<int32_t>(port);
    return true;
}

static void loadSearchSettings(bool known, const wchar_t *path)
{
    memset(AppState.recentServers, 0, sizeof(AppState.recentServers));
    AppState.answerSearches = known ? (GetPrivateProfileIntW(SettingsSection, AnswerSearchesKey, 1, path) != 0 ? 1 : 0)
                                    : 1;
    int kept = 0;
    for (int i = 0; known && i < RecentServersMax; i++) {
        wchar_t text[40] = {};
        GetPrivateProfileStringW(SettingsSection, RecentServerKeys[i], L"", text, COUNTOF(text), path);
        if (parseRecentServer(text, &AppState.recentServers[kept]))
            kept++;
    }
}

static void saveSearchSettings(const wchar_t *path)
{
    writeInteger(AnswerSearchesKey, AppState.answerSearches != 0 ? 1 : 0, path);
    for (int i = 0; i < RecentServersMax; i++) {
        const RecentServer &server = AppState.recentServers[i];
        if (server.address[0] == 0) {
            WritePrivateProfileStringW(SettingsSection, RecentServerKeys[i], nullptr, path);
            continue;
        }
        wchar_t text[40] = {};
        _snwprintf(text, COUNTOF(text) - 1, L"%ls:%d", server.address, server.port);
        writeText(RecentServerKeys[i], text, path);
    }
}

void loadSettings()
{
    wchar_t path[PathChars];
    bool known = settingsFilePath(path, COUNTOF(path));
    SettingsMissing = !known || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;

    memset(AppState.ownFolder, 0, sizeof(AppState.ownFolder));
    if (known)
        GetPrivateProfileStringW(SettingsSection, L"currentdirectory_r", RootFolder, AppState.ownFolder,
                                 COUNTOF(AppState.ownFolder), path);
    else
        wcscpy(AppState.ownFolder, RootFolder);

    memset(AppState.peerFolder, 0, sizeof(AppState.peerFolder));
    wcscpy(AppState.peerFolder, RootFolder);

    UINT mode = known ? GetPrivateProfileIntW(SettingsSection, ModeKey, 0, path) : 0;
    AppState.mode = static_cast<ConnectionMode>(static_cast<int32_t>(mode));
    for (const IntegerKey &key : IntegerKeys)
        *key.field = known ? static_cast<int32_t>(GetPrivateProfileIntW(SettingsSection, key.name, key.defaultValue,
                                                                        path))
                           : key.defaultValue;

    loadServedSettings(known, path);
    loadMonitorPlaces(known, path);
    loadSearchSettings(known, path);
}

// The profile functions create a missing file in the ANSI code page, where a folder name outside it turns
// into '?'. A file that starts with a UTF-16LE byte order mark is kept in UTF-16 by them.
static void createUnicodeFile(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static const unsigned char byteOrderMark[2] = {0xFF, 0xFE};
    DWORD written = 0;
    BOOL ok = WriteFile(file, byteOrderMark, sizeof(byteOrderMark), &written, nullptr);
    CloseHandle(file);
    // An empty file would be taken for ANSI: better none, which the profile functions then create.
    if (!ok || written != sizeof(byteOrderMark))
        DeleteFileW(path);
}

bool settingsFileMissing()
{
    return SettingsMissing;
}

bool saveSettings()
{
    SettingsMissing = false;
    wchar_t path[PathChars];
    if (!settingsFilePath(path, COUNTOF(path)))
        return true;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        createUnicodeFile(path);

    FailedWrites = 0;
    writeText(L"currentdirectory_r", AppState.ownFolder, path);
    writeText(L"currentdirectory_w", AppState.peerFolder, path);

    writeInteger(ModeKey, static_cast<int>(AppState.mode), path);
    for (const IntegerKey &key : IntegerKeys)
        writeInteger(key.name, *key.field, path);

    RECT place;
    if (savedWindowRect(&place)) {
        const int values[4] = {place.left, place.top, place.right - place.left, place.bottom - place.top};
        for (int i = 0; i < 4; i++)
            writeInteger(PlacementKeys[i], values[i], path);
    }
    saveServedSettings(path);
    saveMonitorPlaces(path);
    saveSearchSettings(path);
    return FailedWrites == 0;
}

void saveSettingsTold(HWND owner)
{
    if (saveSettings())
        return;
    wchar_t path[PathChars];
    settingsFilePath(path, COUNTOF(path));
    wchar_t text[PathChars + 80];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"設定を保存できませんでした\r\n%ls\r\nフォルダに書き込めるか確かめて下さい", path);
    showMessageBox(owner, text, L"設定", MB_OK);
}

bool savedWindowRect(RECT *place)
{
    memset(place, 0, sizeof(*place));
    HWND window = AppState.mainWindow;
    if (window == nullptr || !IsWindow(window))
        return false;
    // A minimised or maximised window keeps the place it goes back to.
    WINDOWPLACEMENT placement;
    memset(&placement, 0, sizeof(placement));
    placement.length = sizeof(placement);
    if (IsIconic(window) || IsZoomed(window)) {
        if (!GetWindowPlacement(window, &placement))
            return false;
        *place = placement.rcNormalPosition;
        return true;
    }
    return GetWindowRect(window, place) != FALSE;
}

bool loadWindowRect(RECT *place)
{
    memset(place, 0, sizeof(*place));
    wchar_t path[PathChars];
    if (!settingsFilePath(path, COUNTOF(path)))
        return false;
    long values[4] = {};
    for (int i = 0; i < 4; i++) {
        wchar_t text[32];
        memset(text, 0, sizeof(text));
        GetPrivateProfileStringW(SettingsSection, PlacementKeys[i], L"", text, COUNTOF(text), path);
        wchar_t *end = nullptr;
        values[i] = wcstol(text, &end, 10);
        if (text[0] == 0 || end == text || *end != 0)
            return false;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return false;
    place->left = values[0];
    place->top = values[1];
    place->right = values[0] + values[2];
    place->bottom = values[1] + values[3];
    return true;
}

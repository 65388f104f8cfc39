// release_probe.cpp FOLDER VERSION: starts FOLDER\parcelwight.exe from FOLDER as a user who unpacked the zip
// would, closes it, and checks that it wrote its settings there and that Windows reads its version record.
#include <windows.h>

#include <cstdio>
#include <cwchar>

struct Search {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    Search *search = reinterpret_cast<Search *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 63);
    if (owner == search->processId && wcscmp(title, L"Parcelwight Ver1.01") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static int fail(const char *what)
{
    printf("release probe: %s (error %lu)\n", what, GetLastError());
    return 1;
}

static bool versionMatches(const wchar_t *exe, const wchar_t *version)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
    static char record[65536];
    if (size == 0 || size > sizeof(record) || !GetFileVersionInfoW(exe, 0, size, record))
        return false;
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedBytes = 0;
    if (!VerQueryValueW(record, L"\\", reinterpret_cast<void **>(&fixed), &fixedBytes) || fixed == nullptr)
        return false;
    wchar_t fixedText[64] = {};
    _snwprintf(fixedText, 63, L"%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS));
    // The text record, in the first language the record lists.
    struct Language {
        WORD language, codePage;
    } *languages = nullptr;
    UINT languageBytes = 0;
    if (!VerQueryValueW(record, L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&languages),
                        &languageBytes) ||
        languageBytes < sizeof(Language))
        return false;
    wchar_t key[64] = {};
    _snwprintf(key, 63, L"\\StringFileInfo\\%04x%04x\\FileVersion", languages[0].language, languages[0].codePage);
    wchar_t *text = nullptr;
    UINT textChars = 0;
    if (!VerQueryValueW(record, key, reinterpret_cast<void **>(&text), &textChars) || text == nullptr)
        return false;
    printf("version record %ls, text %ls\n", fixedText, text);
    return wcscmp(fixedText, version) == 0 && wcscmp(text, version) == 0;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return fail("usage: release_probe FOLDER VERSION");
    wchar_t exe[MAX_PATH] = {}, ini[MAX_PATH] = {};
    _snwprintf(exe, MAX_PATH - 1, L"%ls\\parcelwight.exe", argv[1]);
    _snwprintf(ini, MAX_PATH - 1, L"%ls\\Parcelwight.ini", argv[1]);
    if (GetFileAttributesW(ini) != INVALID_FILE_ATTRIBUTES)
        return fail("the fresh folder already holds settings");
    if (!versionMatches(exe, argv[2]))
        return fail("the version record does not carry the project's version");

    wchar_t commandLine[MAX_PATH + 2] = {};
    _snwprintf(commandLine, MAX_PATH + 1, L"\"%ls\"", exe);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe, commandLine, nullptr, nullptr, FALSE, 0, nullptr, argv[1], &startup, &process))
        return fail("the program does not start");
    Search search = {process.dwProcessId, nullptr};
    for (int tries = 0; tries < 400 && search.found == nullptr; tries++) {
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr && WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            break;
    }
    if (search.found == nullptr) {
        TerminateProcess(process.hProcess, 1);
        return fail("its main window did not come up");
    }
    PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return fail("it did not end after WM_CLOSE");
    }
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (exitCode != 0)
        return fail("it ended with an exit code");
    if (GetFileAttributesW(ini) == INVALID_FILE_ATTRIBUTES)
        return fail("it wrote no Parcelwight.ini beside itself");
    printf("release probe ok\n");
    return 0;
}

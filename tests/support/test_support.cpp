// test_support.cpp: helpers shared by the suites.
#include "tests/support/test_support.h"

#include "core/message_box.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <random>

static std::mutex boxLock;
static std::vector<RecordedBox> boxes;
static int boxAnswer = IDOK;

static int recordingMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    std::lock_guard<std::mutex> hold(boxLock);
    boxes.push_back(RecordedBox{owner, text ? text : L"", caption ? caption : L"", flags, GetCurrentThreadId()});
    return boxAnswer;
}

void recordBoxes(int answer)
{
    std::lock_guard<std::mutex> hold(boxLock);
    boxes.clear();
    boxAnswer = answer;
    messageBoxFunction = recordingMessageBox;
}

std::vector<RecordedBox> recordedBoxes()
{
    std::lock_guard<std::mutex> hold(boxLock);
    return boxes;
}

void clearRecordedBoxes()
{
    std::lock_guard<std::mutex> hold(boxLock);
    boxes.clear();
}

int boxesCaptioned(const std::wstring &caption)
{
    int count = 0;
    for (const RecordedBox &box : recordedBoxes())
        count += box.caption == caption ? 1 : 0;
    return count;
}

void expectOnlyBoxAt(Caller at, HWND owner, const std::wstring &text, const std::wstring &caption, UINT flags)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(narrow(text));
    std::vector<RecordedBox> all = recordedBoxes();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].owner, owner);
    EXPECT_EQ(narrow(all[0].text), narrow(text));
    EXPECT_EQ(narrow(all[0].caption), narrow(caption));
    EXPECT_EQ(all[0].flags, flags);
}

void serveMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void pumpFor(int ms)
{
    DWORD start = GetTickCount();
    while (static_cast<int>(GetTickCount() - start) < ms) {
        serveMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    serveMessages();
}

bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        serveMessages();
        if (done())
            return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void startWinsock()
{
    static bool started = false;
    if (!started) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        started = true;
    }
}

// A TCP socket bound to 127.0.0.1 on a port the system picks, written to *address; INVALID_SOCKET on failure.
static SOCKET boundLoopbackSocket(sockaddr_in *address)
{
    startWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    *address = sockaddr_in{};
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(*address);
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr *>(address), sizeof(*address)) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(address), &length) != 0) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool loopbackPair(SOCKET *ours, SOCKET *theirs)
{
    sockaddr_in address;
    SOCKET listener = boundLoopbackSocket(&address);
    if (listener == INVALID_SOCKET)
        return false;
    if (listen(listener, 1) != 0) {
        closesocket(listener);
        return false;
    }
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(client, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        closesocket(client);
        closesocket(listener);
        return false;
    }
    SOCKET accepted = accept(listener, nullptr, nullptr);
    closesocket(listener);
    if (accepted == INVALID_SOCKET) {
        closesocket(client);
        return false;
    }
    *ours = client;
    *theirs = accepted;
    return true;
}

// A socket of this type bound to 127.0.0.1 at *port, or a port the system picks (written back).
static SOCKET bindLoopback(int type, int *port, bool listens)
{
    startWinsock();
    SOCKET bound = socket(AF_INET, type, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(*port));
    int length = sizeof(address);
    if (bound == INVALID_SOCKET || bind(bound, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        getsockname(bound, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        (listens && listen(bound, 3) != 0)) {
        if (bound != INVALID_SOCKET)
            closesocket(bound);
        return INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return bound;
}

SOCKET listenLoopback(int *port)
{
    return bindLoopback(SOCK_STREAM, port, true);
}

SOCKET datagramLoopback(int *port)
{
    return bindLoopback(SOCK_DGRAM, port, false);
}

// select's answer for s becoming readable within ms: 1 readable, 0 not, -1 error.
static int readableWithin(SOCKET s, int ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait);
}

int receiveWithin(SOCKET s, char *buffer, int size, int timeoutMs, sockaddr_in *from)
{
    if (readableWithin(s, timeoutMs) != 1)
        return -1;
    int fromLength = sizeof(*from);
    return from != nullptr ? recvfrom(s, buffer, size, 0, reinterpret_cast<sockaddr *>(from), &fromLength)
                           : recv(s, buffer, size, 0);
}

std::string receiveMessage(SOCKET s, int timeoutMs)
{
    char buffer[2048];
    int count = receiveWithin(s, buffer, sizeof(buffer), timeoutMs);
    if (count <= 0)
        return std::string();
    return std::string(buffer, count);
}

bool silentFor(SOCKET s, int ms)
{
    return readableWithin(s, ms) == 0;
}

SOCKET connectTo(int port)
{
    startWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void resetSocket(SOCKET s)
{
    linger hard = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof(hard));
    closesocket(s);
}

bool seesClosed(SOCKET s, int ms)
{
    char buffer[2048];
    DWORD start = GetTickCount();
    while (static_cast<int>(GetTickCount() - start) < ms) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {0, 100000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0)
            return true;
        if (ready == 1 && recv(s, buffer, sizeof(buffer), 0) <= 0)
            return true;
    }
    return false;
}

bool sendText(SOCKET s, const std::string &message)
{
    return send(s, message.data(), static_cast<int>(message.size()), 0) == static_cast<int>(message.size());
}

std::wstring makeTempFolder(const wchar_t *prefix)
{
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        wchar_t folder[MAX_PATH] = {};
        _snwprintf(folder, MAX_PATH - 1, L"%s%s%lu_%ld", base, prefix, GetCurrentProcessId(),
                   InterlockedIncrement(&counter));
        if (CreateDirectoryW(folder, nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

bool runHostShell(const std::string &script, const std::function<bool()> &done)
{
    std::wstring line = L"/bin/sh -c \"" + widen(script) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Wine does not wait for a host process through its handle: the caller's condition says it is done.
    return pumpUntil(done, 10000);
}

bool setHostReadOnly(const std::wstring &folder, bool readOnly)
{
    typedef char *(CDECL * UnixNameOf)(const wchar_t *);
    UnixNameOf unixNameOf =
        reinterpret_cast<UnixNameOf>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32"),
                                                                             "wine_get_unix_file_name")));
    char *unixName = unixNameOf != nullptr ? unixNameOf(folder.c_str()) : nullptr;
    if (unixName == nullptr)
        return false;
    std::string script = std::string("chmod ") + (readOnly ? "555 '" : "755 '") + unixName + "'";
    HeapFree(GetProcessHeap(), 0, unixName);
    return runHostShell(script, [&] {
        DWORD attributes = GetFileAttributesW(folder.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_READONLY) != 0) == readOnly;
    });
}

void removeTree(const std::wstring &folder)
{
    if (folder.empty())
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                    setHostReadOnly(path, false);
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_DIRECTORY);
                removeTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(folder.c_str());
}

// Writes bytes at offset of path (made with disposition); ends the file there when cut is set.
static bool writeAt(const std::wstring &path, DWORD disposition, unsigned long long offset, const std::string &bytes,
                    bool cut)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    BOOL ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
              (bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) &&
              written == bytes.size() && (!cut || SetEndOfFile(file));
    CloseHandle(file);
    return ok != FALSE;
}

bool makeSparseFile(const std::wstring &path, unsigned long long size)
{
    return writeAt(path, OPEN_ALWAYS, size, std::string(), true);
}

bool writeFileBytesAt(const std::wstring &path, unsigned long long offset, const std::string &bytes)
{
    return writeAt(path, OPEN_ALWAYS, offset, bytes, false);
}

bool writeFileBytes(const std::wstring &path, const std::string &bytes)
{
    return writeAt(path, CREATE_ALWAYS, 0, bytes, false);
}

bool readFileBytes(const std::wstring &path, std::string *bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return true;
}

const wchar_t NoByteOrderMark[] = L"<no byte order mark>";

std::wstring readUtf16File(const std::wstring &path)
{
    std::string bytes;
    if (!readFileBytes(path, &bytes) || bytes.size() < 2)
        return std::wstring();
    if (static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
        return NoByteOrderMark;
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    memcpy(&text[0], bytes.data() + 2, text.size() * 2);
    return text;
}

void expectFileBytesAt(Caller at, const std::wstring &path, const std::string &want)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(narrow(path));
    std::string bytes = "<sentinel>";
    ASSERT_TRUE(readFileBytes(path, &bytes));
    EXPECT_EQ(bytes, want);
}

bool fileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string randomBytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string out(count, '\0');
    for (size_t i = 0; i < count; i++)
        out[i] = static_cast<char>(generator() & 0xFF);
    return out;
}

bool lastWriteTime(const std::wstring &path, FILETIME *written)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = GetFileTime(file, nullptr, nullptr, written);
    CloseHandle(file);
    return ok != 0;
}

static SYSTEMTIME calendar(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME time = {};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    return time;
}

FILETIME utcFileTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME utc = calendar(year, month, day, hour, minute, second);
    FILETIME out = {};
    SystemTimeToFileTime(&utc, &out);
    return out;
}

FILETIME localFileTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME local = calendar(year, month, day, hour, minute, second);
    SYSTEMTIME utc = {};
    FILETIME out = {};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
    SystemTimeToFileTime(&utc, &out);
    return out;
}

bool setWriteTime(const std::wstring &path, const FILETIME &written)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = SetFileTime(h, nullptr, nullptr, &written);
    CloseHandle(h);
    return ok != FALSE;
}

int boundPort(SOCKET s)
{
    sockaddr_in address = {};
    int length = sizeof(address);
    if (s == INVALID_SOCKET || getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

std::string ansiPath(const std::wstring &path)
{
    if (path.empty())
        return std::string();
    int needed = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(),
                                     static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    std::string out(needed, '\0');
    WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), static_cast<int>(path.size()), &out[0],
                        needed, nullptr, nullptr);
    return out;
}

std::wstring japaneseName(size_t chars)
{
    const std::wstring words = L"長い名前の日本語ファイルを送る";
    std::wstring name;
    while (name.size() < chars)
        name += words[name.size() % words.size()];
    return name;
}

std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string out(needed, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], needed, nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(needed, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &out[0], needed);
    return out;
}

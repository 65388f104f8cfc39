// pw_host.cpp: a console host that runs one side of the link with the program's own core and network code; the
// user interface is replaced by lines on stdout and commands read from stdin, so tests can drive a real peer.
//
// Command line: --server PORT | --client ADDRESS PORT, [--folder PATH], [--monitor], [--fast], [--serve PATH],
// [--readonly], [--answer], [--liveness-ms N] (an exchange ends after N ms of silence, not 30 s), [--fingerprint TEXT], [--home PATH] (the identity key and the paired machines live
// there; without it no key is loaded and the private link is not offered), [--admission ask|paired|everyone]
// (everyone when missing), [--answer-ms N] (a question nobody answers ends the link after N ms, not 60 s)
// (a server on port 0 listens on a port the system picks; --fast agrees on the fast link with a peer that offers
// it, as the program does by default; --answer: a server answers searches, as the program does by default, with
// the fingerprint given)
// Output lines (UTF-8, one per event, flushed):
//   READY <port> | FAILED     link open on that port / open failed (after its BOX line; the process exits with 2)
//   STATE <name>              the transfer state changed
//   ROW <index>|<name>|<date>|<size>|<type>   a record added to the peer pane
//   CLEAR                     the peer pane was emptied
//   LINK <text>               the link label
//   BOX <caption>|<text>      a message box (answered OK, or Yes to a question); CR LF shown as \n
//   CLOSED                    the link has closed
//   ENDED <outcome>[|reason][ resumed=N]   an exchange this side asked for has ended
//   SERVES <folder>           the peer said it serves this folder (it is then listed, as the program does)
//   REFUSED <command>         a command the user interface would not start now
//   ECHO <text>, STATUS <state>|<linkOpen>|<peerPresent>|<clients>
//   PAIR <code>|<peer name>|<fingerprint>   the pairing question; PAIREND   it was taken away
//   CLASSIC <address>         the classic-peer question; KEYCHANGED <name>|<address>   a paired key changed
//   KIND <link kind number>|<peer fingerprint>   the link's kind changed (1 classic, 2 fast, 3 private)
// Commands: dir PEERFOLDER | push LOCALFILE PEERFOLDER | pull PEERFILE LOCALFOLDER | mkdir PEERPATH | stop |
//   tree push LOCALFOLDER PEERFOLDER | tree pull PEERFOLDER LOCALFOLDER |
//   close | quit | echo TEXT | status | fast (prints FAST 1 once the fast link is agreed, else FAST 0) |
//   pair yes|no (the pairing question's answer) | classic yes|no [keep]. Arguments are separated by blanks; put one in "..." to keep blanks.
#include "core/app_state.h"
#include "core/fast_link.h"
#include "core/fast_tree.h"
#include "core/identity.h"
#include "core/paired_machines.h"
#include "core/private_link.h"
#include "core/message_box.h"
#include "core/protocol_engine.h"
#include "core/reports.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "net/connection.h"
#include "core/send_ops.h"
#include "net/receive_loops.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum : UINT {
    HostCommand = WM_APP + 20,  // lParam: a new[]-allocated wide command line (clear of the program's own WM_APP ids)
    HostStatus,
    HostAddRecord,             // wParam: length, lParam: the record body
    HostClearPane,
    HostLinkLabel,             // lParam: the text
    HostServes,
};

constexpr UINT_PTR CloseTimer = 1;
constexpr UINT_PTR StateTimer = 2;

HWND hostWindow;
DWORD uiThreadId;
CRITICAL_SECTION outputLock;
TransferState shownState = TransferState::Waiting;

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string out(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], needed, nullptr,
                            nullptr);
    return out;
}

std::wstring fromUtf8(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    int needed = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], needed);
    return out;
}

// A field as the wire carries it (the code page, or UTF-8 once agreed), read as the peer pane reads it.
std::wstring fromWire(const char *text)
{
    wchar_t wide[PathChars];
    return wireToWide(text, -1, wide, COUNTOF(wide)) > 0 ? std::wstring(wide) : std::wstring();
}

void emit(const std::string &line)
{
    EnterCriticalSection(&outputLock);
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
    LeaveCriticalSection(&outputLock);
}

void emitWide(const char *tag, const std::wstring &text)
{
    emit(std::string(tag) + " " + utf8(text));
}

// Prints the transfer state when it differs from the last one printed, and the link's kind likewise.
void noteState()
{
    static LinkKind shownKind = LinkKind::None;
    if (AppState.linkKind != shownKind) {
        shownKind = AppState.linkKind;
        emit("KIND " + std::to_string(static_cast<int>(shownKind)) + "|" + utf8(AppState.peerFingerprint));
    }
    TransferState now = AppState.transferState;
    if (now == shownState)
        return;
    shownState = now;
    emitWide("STATE", transferStateName(now));
}

int hostMessageBox(HWND, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    std::wstring shown;
    for (const wchar_t *p = text ? text : L""; *p; p++) {
        if (p[0] == L'\r' && p[1] == L'\n') {
            shown += L"\\n";
            p++;
        } else {
            shown += *p;
        }
    }
    emit("BOX " + utf8(caption ? caption : L"") + "|" + utf8(shown));
    UINT buttons = flags & MB_TYPEMASK;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
}

bool onUiThread()
{
    return GetCurrentThreadId() == uiThreadId;
}

static std::string fieldUtf8(const char *field)
{
    return utf8(fromWire(field));
}

// The peer pane's reading of a record body, printed instead of drawn.
bool showRecord(const char *text, int length)
{
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields))
        return true;
    emit("ROW " + std::to_string(AppState.lastDirIndex) + "|" + fieldUtf8(fields.name) + "|" + fieldUtf8(fields.date) +
         "|" + fieldUtf8(fields.size) + "|" + std::to_string(atoi(fields.type)));
    return false;
}

std::vector<std::wstring> splitArguments(const std::wstring &line)
{
    std::vector<std::wstring> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t'))
            i++;
        if (i >= line.size())
            break;
        std::wstring word;
        if (line[i] == L'"') {
            i++;
            while (i < line.size() && line[i] != L'"')
                word += line[i++];
            i++;
        } else {
            while (i < line.size() && line[i] != L' ' && line[i] != L'\t')
                word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

std::wstring joinPath(const std::wstring &folder, const std::wstring &name)
{
    if (!folder.empty() && folder.back() == L'\\')
        return folder + name;
    return folder + L"\\" + name;
}

std::wstring lastName(const std::wstring &path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// Sends tag + the path in the ANSI code page, after the caller has set the requester's state.
bool sendPathRequest(const char *tag, const std::wstring &path)
{
    char pathA[FastPathBytes];
    int length = pathToWire(path.c_str(), pathA, COUNTOF(pathA));
    if (length <= 0)
        return false;
    char message[ReceiveMaxBytes];
    memset(message, 0, sizeof(message));
    memcpy(message, tag, 2);
    memcpy(message + 2, pathA, static_cast<size_t>(length));
    sendRequest(message, 2 + length);
    return true;
}

bool fitsPath(const std::wstring &path)
{
    char pathA[FastPathBytes];
    return !path.empty() && path.size() < PathChars && pathToWire(path.c_str(), pathA, COUNTOF(pathA)) > 0;
}

void enterState(TransferState state)
{
    AppState.transferState = state;
    refreshStatus();
}

void closeNow(HWND window)
{
    KillTimer(window, CloseTimer);
    if (!AppState.linkOpen)
        return;
    closeLink(window);
    noteState();
    if (!AppState.linkOpen)
        emit("CLOSED");
}

void runCommand(HWND window, const std::wstring &line)
{
    noteState();
    std::vector<std::wstring> words = splitArguments(line);
    if (words.empty())
        return;
    const std::wstring &verb = words[0];
    std::string refused = "REFUSED " + utf8(line);

    if (verb == L"quit") {
        closeNow(window);
        PostQuitMessage(0);
        return;
    }
    if (verb == L"echo") {
        emit("ECHO " + utf8(line.size() > 5 ? line.substr(5) : std::wstring()));
        return;
    }
    if (verb == L"status") {
        emit("STATUS " + utf8(transferStateName(AppState.transferState)) + "|" + std::to_string(AppState.linkOpen) +
             "|" + std::to_string(AppState.peerPresent) + "|" + std::to_string(countClients()));
        return;
    }
    if (verb == L"pair" && words.size() == 2) {
        pairingAnswered(words[1] == L"yes");
        return;
    }
    if (verb == L"classic" && words.size() >= 2) {
        classicPeerAnswered(words[1] == L"yes", words.size() == 3 && words[2] == L"keep");
        return;
    }
    if (verb == L"fast") {
        emit("FAST " + std::to_string(fastLinkOn() ? 1 : 0));
        return;
    }
    if (verb == L"stop") {
        AppState.stopRequest = StopRequest::Requested;
        return;
    }
    if (verb == L"vanish") {
        // Dies in the middle of whatever runs, as a crashed program does: no "CUT", nothing closed in order.
        // Windows takes a dead process's connections down at once; Wine can keep a killed process's sockets
        // open in its server for a while, so they are shut down first to give the peer what Windows gives it.
        for (int slot = 0; slot < ClientSlotCount; slot++) {
            if (AppState.clientSlots[slot] != INVALID_SOCKET && AppState.clientSlots[slot] != 0)
                shutdown(AppState.clientSlots[slot], SD_BOTH);
        }
        if (AppState.mode == ConnectionMode::Client)
            shutdown(AppState.mainSocket, SD_BOTH);
        TerminateProcess(GetCurrentProcess(), 9);
    }
    if (!AppState.linkOpen) {
        emit(refused);
        return;
    }
    if (verb == L"close") {
        if (AppState.mode == ConnectionMode::Server && AppState.peerPresent) {
            sendRequest("CUT", 3);
            SetTimer(window, CloseTimer, 1000, nullptr);
        } else {
            SetTimer(window, CloseTimer, 100, nullptr);
        }
        return;
    }
    if (AppState.transferState != TransferState::Waiting) {
        emit(refused);
        return;
    }

    if (verb == L"dir" && words.size() == 2 && fitsPath(words[1])) {
        memset(AppState.peerFolder, 0, sizeof(AppState.peerFolder));
        wcsncpy(AppState.peerFolder, words[1].c_str(), COUNTOF(AppState.peerFolder) - 1);
        clearPeerPane();
        enterState(TransferState::CallDIR);
        requestPeerDir();
        return;
    }
    // push and pull: words[1] is the source file, words[2] the folder that takes a file of the same name.
    bool copy = (verb == L"push" || verb == L"pull") && words.size() == 3;
    std::wstring target = copy ? joinPath(words[2], lastName(words[1])) : std::wstring();
    if (copy && (!fitsPath(words[1]) || !fitsPath(target))) {
        emit(refused);
        return;
    }
    if (copy && verb == L"push") {
        memset(AppState.sendSourcePath, 0, sizeof(AppState.sendSourcePath));
        wcsncpy(AppState.sendSourcePath, words[1].c_str(), COUNTOF(AppState.sendSourcePath) - 1);
        AppState.blockCount = 0;
        AppState.stopRequest = StopRequest::None;
        enterState(TransferState::CallCopyTO);
        sendPathRequest("FD", target);
        return;
    }
    if (copy && verb == L"pull") {
        memset(AppState.pullTargetA, 0, sizeof(AppState.pullTargetA));
        pathToWire(target.c_str(), AppState.pullTargetA, COUNTOF(AppState.pullTargetA));
        AppState.stopRequest = StopRequest::None;
        enterState(TransferState::CallCopyFrom);
        sendPathRequest("FC", words[1]);
        return;
    }
    // A whole folder in one exchange, overwriting what is there: "tree push LOCALFOLDER PEERFOLDER" (the peer
    // folder is made) or "tree pull PEERFOLDER LOCALFOLDER".
    bool pullTree = words.size() == 4 && words[1] == L"pull";
    if (verb == L"tree" && words.size() == 4 && (pullTree || words[1] == L"push") && fitsPath(words[2]) &&
        fitsPath(words[3]) && treeStreamOn()) {
        AppState.stopRequest = StopRequest::None;
        enterState(pullTree ? TransferState::CallCopyFrom : TransferState::CallCopyTO);
        const std::wstring &local = pullTree ? words[3] : words[2];
        const std::wstring &peer = pullTree ? words[2] : words[3];
        if (requestTreeStream(pullTree, local.c_str(), peer.c_str(), 3 /* all */) != 0)
            enterState(TransferState::Waiting);
        return;
    }
    if (verb == L"mkdir" && words.size() == 2 && fitsPath(words[1])) {
        enterState(TransferState::FolderTO);
        AppState.relistAfterFolder = 1;
        sendPathRequest("CD", words[1]);
        return;
    }
    emit(refused);
}

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case HostCommand: {
        wchar_t *line = reinterpret_cast<wchar_t *>(lParam);
        runCommand(window, line);
        delete[] line;
        return 0;
    }
    case HostStatus:
        noteState();
        return 0;
    case HostAddRecord:
        return showRecord(reinterpret_cast<const char *>(lParam), static_cast<int>(wParam)) ? 1 : 0;
    case HostClearPane:
        emit("CLEAR");
        return 0;
    case HostLinkLabel:
        emitWide("LINK", reinterpret_cast<const wchar_t *>(lParam));
        return 0;
    case HostServes:
        emitWide("SERVES", AppState.peerServedFolder);
        runCommand(window, L"dir \"" + std::wstring(AppState.peerServedFolder) + L"\"");
        return 0;
    case WM_SHOW_REPORTS:
        showPendingReports(window);
        return 0;
    case WM_TIMER:
        if (wParam == CloseTimer)
            closeNow(window);
        else if (wParam == StateTimer)
            noteState();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void postLine(const std::string &bytes)
{
    std::string line = bytes;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::wstring wide = fromUtf8(line);
    wchar_t *copy = new wchar_t[wide.size() + 1];
    memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    if (!PostMessageW(hostWindow, HostCommand, 0, reinterpret_cast<LPARAM>(copy)))
        delete[] copy;
}

// Reads stdin and hands each line to the UI thread; the end of stdin quits.
DWORD WINAPI readerThread(LPVOID)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof(buffer), &got, nullptr) || got == 0)
            break;
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            postLine(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty())
        postLine(pending);
    postLine("quit");
    return 0;
}

bool parseAddress(const wchar_t *text, int32_t ip[4])
{
    int parts[4] = {0, 0, 0, 0};
    if (swscanf(text, L"%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]) != 4)
        return false;
    for (int i = 0; i < 4; i++)
        ip[i] = parts[i];
    return true;
}

int usage()
{
    emit("USAGE pw_host --server PORT | --client ADDRESS PORT [--folder PATH] [--monitor]");
    return 1;
}

}  // namespace

// The user-interface operations of the core: from the network thread they are sent to the UI thread and wait
// for it, as the program's own window updates do.
void refreshStatus()
{
    if (onUiThread())
        noteState();
    else
        SendMessageW(hostWindow, HostStatus, 0, 0);
}

bool addPeerRecord(const char *text, int length)
{
    if (onUiThread())
        return showRecord(text, length);
    return SendMessageW(hostWindow, HostAddRecord, static_cast<WPARAM>(length), reinterpret_cast<LPARAM>(text)) != 0;
}

void clearPeerPane()
{
    if (onUiThread())
        emit("CLEAR");
    else
        SendMessageW(hostWindow, HostClearPane, 0, 0);
}

void setLinkLabel(const wchar_t *text)
{
    if (onUiThread())
        emitWide("LINK", text ? text : L"");
    else
        SendMessageW(hostWindow, HostLinkLabel, 0, reinterpret_cast<LPARAM>(text ? text : L""));
}

// Posted, never waited for, as the program posts it to its copy dialog.
void exchangeEnded()
{
    static const char *const names[] = {"None", "Done", "Stopped", "Refused", "Failed", "LinkLost"};
    int outcome = static_cast<int>(AppState.lastOutcome);
    std::string line = std::string("ENDED ") + (outcome >= 0 && outcome < 6 ? names[outcome] : "?");
    if (AppState.lastReason != FastReason::None)
        line += "|" + utf8(fastReasonText(AppState.lastReason));
    if (AppState.resumedFrom >= 0)
        line += " resumed=" + std::to_string(AppState.resumedFrom);
    emit(line);
}

void notePeerRowsLeftOut(int rows)
{
    emit("LEFTOUT " + std::to_string(rows));
}

void peerServesFolder()
{
    PostMessageW(hostWindow, HostServes, 0, 0);
}

// The host has none of the program's windows or dialogs: nothing of theirs to reset.
void resetUiModules()
{
}

// The private link's questions: printed; the test answers them with "pair" and "classic".
void askPairing(const wchar_t *code, const wchar_t *peerName, const wchar_t *peerFingerprint)
{
    emitWide("PAIR", std::wstring(code) + L"|" + peerName + L"|" + peerFingerprint);
}

void endPairingQuestion()
{
    emit("PAIREND");
}

void askClassicPeer(const wchar_t *address)
{
    emitWide("CLASSIC", address);
}

void warnKeyChanged(const wchar_t *peerName, const wchar_t *address)
{
    emitWide("KEYCHANGED", std::wstring(peerName) + L"|" + address);
}

void fileArrived(const wchar_t *targetPath)
{
    emitWide("ARRIVED", targetPath ? targetPath : L"");
}

// The host never starts a folder stream, so it is never asked.
void askTreeOverwrite()
{
}

int wmain(int argc, wchar_t **argv)
{
    InitializeCriticalSection(&outputLock);
    resetAppState();
    AppState.mode = ConnectionMode::Client;
    AppState.port = DefaultPort;
    bool modeGiven = false;
    GetCurrentDirectoryW(COUNTOF(AppState.startFolder) - 1, AppState.startFolder);
    wcsncpy(AppState.ownFolder, AppState.startFolder, COUNTOF(AppState.ownFolder) - 1);
    wcsncpy(AppState.peerFolder, L"C:\\", COUNTOF(AppState.peerFolder) - 1);
    for (int i = 1; i < argc; i++) {
        std::wstring option = argv[i];
        if (option == L"--server" && i + 1 < argc) {
            AppState.mode = ConnectionMode::Server;
            AppState.port = _wtoi(argv[++i]);
            modeGiven = true;
        } else if (option == L"--client" && i + 2 < argc) {
            AppState.mode = ConnectionMode::Client;
            if (!parseAddress(argv[++i], AppState.ip))
                return usage();
            AppState.port = _wtoi(argv[++i]);
            modeGiven = true;
        } else if (option == L"--folder" && i + 1 < argc) {
            memset(AppState.ownFolder, 0, sizeof(AppState.ownFolder));
            wcsncpy(AppState.ownFolder, argv[++i], COUNTOF(AppState.ownFolder) - 1);
        } else if (option == L"--monitor") {
            AppState.monitorOn = 1;
        } else if (option == L"--fast") {
            AppState.fastLinkAllowed = 1;
        } else if (option == L"--serve" && i + 1 < argc) {
            wcsncpy(AppState.servedFolder, argv[++i], COUNTOF(AppState.servedFolder) - 1);
        } else if (option == L"--readonly") {
            AppState.servedReadOnly = 1;
        } else if (option == L"--answer") {
            AppState.answerSearches = 1;
        } else if (option == L"--fingerprint" && i + 1 < argc) {
            wcsncpy(AppState.ownFingerprint, argv[++i], COUNTOF(AppState.ownFingerprint) - 1);
        } else if (option == L"--home" && i + 1 < argc) {
            memset(AppState.startFolder, 0, sizeof(AppState.startFolder));
            wcsncpy(AppState.startFolder, argv[++i], COUNTOF(AppState.startFolder) - 1);
            if (!loadIdentity())
                return usage();
            reloadPairedMachines();
        } else if (option == L"--liveness-ms" && i + 1 < argc) {
            AppState.livenessMs = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (option == L"--answer-ms" && i + 1 < argc) {
            setPrivateAnswerMs(static_cast<DWORD>(_wtoi(argv[++i])));
        } else if (option == L"--admission" && i + 1 < argc) {
            std::wstring mode = argv[++i];
            AppState.admission = mode == L"ask" ? AdmissionMode::Ask
                                 : mode == L"paired" ? AdmissionMode::PairedOnly : AdmissionMode::Everyone;
        } else {
            return usage();
        }
    }
    if (!modeGiven)
        return usage();

    messageBoxFunction = hostMessageBox;
    uiThreadId = GetCurrentThreadId();
    WNDCLASSW windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ParcelwightHost";
    RegisterClassW(&windowClass);
    hostWindow = CreateWindowW(L"ParcelwightHost", L"Parcelwight host", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               windowClass.hInstance, nullptr);
    if (hostWindow == nullptr) {
        emit("FAILED");
        return 2;
    }
    AppState.mainWindow = hostWindow;
    AppState.instance = windowClass.hInstance;

    bool opened = AppState.mode == ConnectionMode::Server ? openServer(hostWindow) : openClient(hostWindow);
    if (!opened) {
        emit("FAILED");
        return 2;
    }
    // A server asked for port 0 listens where the system put it: the listener tells.
    int port = AppState.port;
    sockaddr_in bound;
    int boundLength = sizeof(bound);
    if (AppState.mode == ConnectionMode::Server &&
        getsockname(AppState.mainSocket, reinterpret_cast<sockaddr *>(&bound), &boundLength) == 0)
        port = ntohs(bound.sin_port);
    emit("READY " + std::to_string(port));
    SetTimer(hostWindow, StateTimer, 20, nullptr);
    HANDLE reader = CreateThread(nullptr, 0, readerThread, nullptr, 0, nullptr);
    if (reader != nullptr)
        CloseHandle(reader);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

// remote_window.cpp: finding Parcelwight windows of other processes and reading or driving their controls.
#include <winsock2.h>

#include "tests/tools/remote_window.h"

#include <commctrl.h>
#include <iphlpapi.h>

#include <cwchar>

namespace {

// Memory inside the window's process for one message's pointer argument.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t bytes) : size(bytes)
    {
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, windowProcess(window));
        if (process != nullptr)
            address = static_cast<char *>(VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteBuffer()
    {
        if (address != nullptr)
            VirtualFreeEx(process, address, 0, MEM_RELEASE);
        if (process != nullptr)
            CloseHandle(process);
    }
    RemoteBuffer(const RemoteBuffer &) = delete;
    RemoteBuffer &operator=(const RemoteBuffer &) = delete;

    bool ok() const { return address != nullptr; }
    bool write(size_t offset, const void *data, size_t bytes)
    {
        SIZE_T done = 0;
        return offset + bytes <= size && WriteProcessMemory(process, address + offset, data, bytes, &done) &&
               done == bytes;
    }
    bool read(size_t offset, void *data, size_t bytes)
    {
        SIZE_T done = 0;
        return offset + bytes <= size && ReadProcessMemory(process, address + offset, data, bytes, &done) &&
               done == bytes;
    }
    char *address = nullptr;

private:
    HANDLE process = nullptr;
    size_t size;
};

const int AnswerMs = 10000;

bool sendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result, int timeoutMs = AnswerMs)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, static_cast<UINT>(timeoutMs),
                             &answer))
        return false;
    if (result != nullptr)
        *result = static_cast<LRESULT>(answer);
    return true;
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> *found;
};

BOOL CALLBACK collectMain(HWND window, LPARAM parameter)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(parameter);
    wchar_t title[64] = {};
    wchar_t className[64] = {};
    GetWindowTextW(window, title, 63);
    GetClassNameW(window, className, 63);
    if (wcscmp(title, L"Parcelwight Ver1.01") == 0 && wcscmp(className, L"Main Window") == 0 &&
        (search->processId == 0 || windowProcess(window) == search->processId))
        search->found->push_back(window);
    return TRUE;
}

BOOL CALLBACK searchDesktop(LPWSTR name, LPARAM parameter)
{
    HDESK desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    if (desktop != nullptr) {
        EnumDesktopWindows(desktop, collectMain, parameter);
        CloseDesktop(desktop);
    }
    return TRUE;
}

struct DialogSearch {
    DWORD processId;
    const wchar_t *caption;
    bool box;
    HWND found;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM parameter)
{
    DialogSearch *search = reinterpret_cast<DialogSearch *>(parameter);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 15);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window) || windowProcess(window) != search->processId)
        return TRUE;
    // A message box's text is the static control 0xFFFF; the program's own dialogs have none.
    if (search->box != (GetDlgItem(window, 0xFFFF) != nullptr))
        return TRUE;
    if (search->caption != nullptr) {
        wchar_t title[128] = {};
        GetWindowTextW(window, title, 127);
        if (wcscmp(title, search->caption) != 0)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

DWORD windowProcess(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

std::vector<HWND> findMainWindows(DWORD processId)
{
    std::vector<HWND> windows;
    WindowSearch search = {processId, &windows};
    EnumDesktopsW(GetProcessWindowStation(), searchDesktop, reinterpret_cast<LPARAM>(&search));
    if (windows.empty())
        EnumWindows(collectMain, reinterpret_cast<LPARAM>(&search));
    return windows;
}

HWND findProcessDialog(DWORD processId, const wchar_t *caption)
{
    DialogSearch search = {processId, caption, false, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findMessageBox(DWORD processId, std::wstring *text)
{
    DialogSearch search = {processId, nullptr, true, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr && text != nullptr)
        *text = controlText(search.found, 0xFFFF);
    return search.found;
}

int paneRows(HWND pane)
{
    LRESULT rows = 0;
    return sendWithin(pane, LVM_GETITEMCOUNT, 0, 0, &rows) ? static_cast<int>(rows) : -1;
}

bool paneText(HWND pane, int row, int column, std::wstring *text)
{
    const int chars = 520;
    RemoteBuffer remote(pane, sizeof(LVITEMW) + chars * sizeof(wchar_t));
    if (!remote.ok())
        return false;
    LVITEMW item = {};
    item.iSubItem = column;
    item.cchTextMax = chars;
    item.pszText = reinterpret_cast<LPWSTR>(remote.address + sizeof(LVITEMW));
    wchar_t empty[1] = {0};
    LRESULT length = 0;
    if (!remote.write(0, &item, sizeof(item)) || !remote.write(sizeof(LVITEMW), empty, sizeof(empty)) ||
        !sendWithin(pane, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.address),
                    &length))
        return false;
    std::vector<wchar_t> buffer(chars + 1, 0);
    if (!remote.read(sizeof(LVITEMW), buffer.data(), chars * sizeof(wchar_t)))
        return false;
    *text = buffer.data();
    return true;
}

int findPaneRow(HWND pane, const wchar_t *name)
{
    int rows = paneRows(pane);
    std::wstring text;
    for (int row = 0; row < rows; row++) {
        if (paneText(pane, row, 0, &text) && text == name)
            return row;
    }
    return -1;
}

bool selectPaneRow(HWND pane, int row, bool selected)
{
    RemoteBuffer remote(pane, sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    LRESULT done = 0;
    return remote.ok() && remote.write(0, &item, sizeof(item)) &&
           sendWithin(pane, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.address),
                      &done) &&
           done != 0;
}

bool doubleClickPaneRow(HWND pane, int row)
{
    RECT bounds = {};
    bounds.left = LVIR_LABEL;
    RemoteBuffer remote(pane, sizeof(RECT));
    LRESULT found = 0;
    sendWithin(pane, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE, nullptr);
    if (!remote.ok() || !remote.write(0, &bounds, sizeof(bounds)) ||
        !sendWithin(pane, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.address),
                    &found) ||
        !found || !remote.read(0, &bounds, sizeof(bounds)))
        return false;
    LPARAM point = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    // Posted, as a real click arrives: the pane's thread then works in its own loop, not inside our call.
    return PostMessageW(pane, WM_LBUTTONDBLCLK, MK_LBUTTON, point) && PostMessageW(pane, WM_LBUTTONUP, 0, point);
}

std::wstring controlText(HWND window, int id)
{
    wchar_t text[1024] = {};
    HWND control = GetDlgItem(window, id);
    if (control == nullptr || !sendWithin(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), nullptr))
        return std::wstring();
    text[1023] = 0;
    return text;
}

std::wstring statusText(HWND bar)
{
    LRESULT parts = 0;
    if (!sendWithin(bar, SB_GETPARTS, 0, 0, &parts))
        return std::wstring();
    const int chars = 256;
    RemoteBuffer remote(bar, chars * sizeof(wchar_t));
    if (!remote.ok())
        return std::wstring();
    std::wstring joined;
    for (int part = 0; part < static_cast<int>(parts); part++) {
        LRESULT length = 0;
        wchar_t text[chars + 1] = {};
        if (!sendWithin(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0, &length) ||
            LOWORD(length) >= chars ||
            !sendWithin(bar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(remote.address),
                        nullptr) ||
            !remote.read(0, text, (LOWORD(length) + 1) * sizeof(wchar_t)))
            return std::wstring();
        text[LOWORD(length)] = 0;
        joined += (part ? L"|" : L"") + std::wstring(text);
    }
    return joined;
}

// Ports with a listener on every address (as the program's server listens). Wine does not name the owning
// process, so a new listener is told by comparing two of these.
static std::vector<int> wildcardListeners()
{
    std::vector<int> ports;
    DWORD bytes = 0;
    GetExtendedTcpTable(nullptr, &bytes, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
    std::vector<char> memory(bytes + 4096);
    bytes = static_cast<DWORD>(memory.size());
    if (GetExtendedTcpTable(memory.data(), &bytes, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0) != NO_ERROR)
        return ports;
    const MIB_TCPTABLE_OWNER_PID *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(memory.data());
    for (DWORD i = 0; i < table->dwNumEntries; i++) {
        const MIB_TCPROW_OWNER_PID &row = table->table[i];
        if (row.dwState == MIB_TCP_STATE_LISTEN && row.dwLocalAddr == 0)
            ports.push_back(static_cast<int>((row.dwLocalPort & 0xFF) << 8 | (row.dwLocalPort >> 8 & 0xFF)));
    }
    return ports;
}

int openServerLink(HWND window, int openCommand, int closeCommand, int timeoutMs)
{
    for (int attempt = 0; attempt < 5; attempt++) {
        std::vector<int> before = wildcardListeners();
        PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(openCommand), 0);
        std::vector<int> fresh;
        pollUntil(
            [&] {
                fresh.clear();
                for (int port : wildcardListeners()) {
                    bool known = false;
                    for (int old : before)
                        known = known || old == port;
                    if (!known)
                        fresh.push_back(port);
                }
                return !fresh.empty();
            },
            timeoutMs, 10);
        if (fresh.size() == 1)
            return fresh[0];
        if (fresh.empty())
            return 0;
        // Another listener opened at the same moment: open again on a new port.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_COMMAND, static_cast<WPARAM>(closeCommand), 0, SMTO_ABORTIFHUNG,
                            static_cast<UINT>(timeoutMs), &ignored);
    }
    return 0;
}

bool pollUntil(const std::function<bool()> &done, int timeoutMs, int pollMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs)
            return false;
        Sleep(static_cast<DWORD>(pollMs));
    }
}

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], needed, nullptr, nullptr);
    return out;
}

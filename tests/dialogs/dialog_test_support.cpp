// dialog_test_support.cpp: the stand-in main window and the dialog drivers of the dialog suites.
#include "tests/dialogs/dialog_test_support.h"

#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

#include <commctrl.h>

#include <atomic>

static const wchar_t WindowClass[] = L"PwDialogTestWindow";

static HWND createPane(HWND parent, int id, int x)
{
    HWND pane = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, x, 60, 440,
                                300, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleW(nullptr), nullptr);
    const wchar_t *headers[3] = {L"name", L"date", L"size"};
    const int widths[3] = {200, 120, 80};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.cx = widths[i];
        column.pszText = const_cast<wchar_t *>(headers[i]);
        column.iSubItem = i;
        SendMessageW(pane, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return pane;
}

HWND createDialogTestWindow()
{
    static bool registered = false;
    if (!registered) {
        InitCommonControls();
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = WindowClass;
        RegisterClassExW(&windowClass);
        registered = true;
    }
    HWND window = CreateWindowExW(0, WindowClass, L"dialog tests", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 920, 420,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    AppState.instance = GetModuleHandleW(nullptr);
    AppState.mainWindow = window;
    AppState.ownPane = createPane(window, IDC_OWN_PANE, 0);
    AppState.peerPane = createPane(window, IDC_PEER_PANE, 450);
    HWND *labels[4] = {&AppState.ownHostLabel, &AppState.linkLabel, &AppState.ownFolderLabel,
                       &AppState.peerFolderLabel};
    for (int i = 0; i < 4; ++i)
        *labels[i] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, (i % 2) * 450, (i / 2) * 20, 440, 18,
                                     window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_OWN_HOST_LABEL + i)),
                                     GetModuleHandleW(nullptr), nullptr);
    return window;
}

void destroyDialogTestWindow(HWND window)
{
    DestroyWindow(window);
    AppState.mainWindow = nullptr;
    AppState.ownPane = nullptr;
    AppState.peerPane = nullptr;
    AppState.ownHostLabel = AppState.linkLabel = AppState.ownFolderLabel = AppState.peerFolderLabel = nullptr;
}

void addPaneRow(HWND pane, const std::wstring &name, const std::wstring &size, int index)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index >= 0 ? index : static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t *>(name.c_str());
    int row = static_cast<int>(SendMessageW(pane, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub = {};
    sub.iSubItem = 2;
    sub.pszText = const_cast<wchar_t *>(size.c_str());
    SendMessageW(pane, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
}

std::vector<std::wstring> paneNames(HWND pane)
{
    std::vector<std::wstring> names;
    int count = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        wchar_t text[600] = {};
        ListView_GetItemText(pane, row, 0, text, 599);
        names.push_back(text);
    }
    return names;
}

int paneRowOf(HWND pane, const std::wstring &name)
{
    std::vector<std::wstring> names = paneNames(pane);
    for (size_t row = 0; row < names.size(); ++row) {
        if (names[row] == name)
            return static_cast<int>(row);
    }
    return -1;
}

void selectRows(HWND pane, const std::vector<int> &rows)
{
    ListView_SetItemState(pane, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int row : rows)
        ListView_SetItemState(pane, row, LVIS_SELECTED, LVIS_SELECTED);
}

std::vector<int> selectedRows(HWND pane)
{
    std::vector<int> rows;
    for (int row = ListView_GetNextItem(pane, -1, LVNI_SELECTED); row != -1;
         row = ListView_GetNextItem(pane, row, LVNI_SELECTED))
        rows.push_back(row);
    return rows;
}

struct DialogSearch {
    const wchar_t *title;
    HWND found;
};

static BOOL CALLBACK matchDialog(HWND window, LPARAM parameter)
{
    DialogSearch *search = reinterpret_cast<DialogSearch *>(parameter);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 63);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    if (search->title != nullptr) {
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 255);
        if (wcscmp(title, search->title) != 0)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND waitForDialog(DWORD threadId, const wchar_t *title, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DialogSearch search = {title, nullptr};
        EnumThreadWindows(threadId, matchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        if (static_cast<int>(GetTickCount() - start) > timeoutMs)
            return nullptr;
        Sleep(10);
    }
}

bool waitGone(HWND window, int timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (static_cast<int>(GetTickCount() - start) > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

void closeDialogsOf(DWORD threadId)
{
    for (int round = 0; round < 20; ++round) {
        DialogSearch search = {nullptr, nullptr};
        EnumThreadWindows(threadId, matchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            return;
        PostMessageW(search.found, WM_CLOSE, 0, 0);
        waitGone(search.found, 500);
    }
}

std::wstring controlText(HWND dialog, int id)
{
    wchar_t text[1024] = {};
    GetDlgItemTextW(dialog, id, text, 1023);
    return text;
}

void setControlText(HWND dialog, int id, const std::wstring &text)
{
    SetDlgItemTextW(dialog, id, text.c_str());
}

void clickButton(HWND dialog, int id)
{
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool controlEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

void driveWhile(const std::function<void(DWORD uiThread)> &script, const std::function<void()> &body)
{
    DWORD uiThread = GetCurrentThreadId();
    std::atomic<bool> done(false);
    std::thread driver([&] {
        script(uiThread);
        closeDialogsOf(uiThread);
        done = true;
    });
    body();
    // The body may return before the script ends (a dialog refused early); keep pumping so that the script's
    // sent messages are answered while it finishes.
    while (!done)
        pumpMessages(10);
    driver.join();
}

void pumpMessages(int ms)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (static_cast<int>(GetTickCount() - start) < ms);
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (static_cast<int>(GetTickCount() - start) > timeoutMs)
            return false;
        pumpMessages(10);
    }
    return true;
}

std::vector<std::wstring> boxTexts()
{
    std::vector<std::wstring> texts;
    for (const RecordedBox &box : recordedBoxes())
        texts.push_back(box.text + L" / " + box.caption);
    return texts;
}

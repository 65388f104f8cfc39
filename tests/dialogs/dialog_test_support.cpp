// dialog_test_support.cpp: the dialog drivers of the dialog suites.
#include "tests/dialogs/dialog_test_support.h"

#include "tests/support/test_support.h"

#include <atomic>

const wchar_t CopyTitle[] = L"コピー設定画面";

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

void expectCentredOnAt(Caller at, HWND window, HWND owner)
{
    TRACE_CALLER(at);
    RECT outer = {};
    RECT inner = {};
    GetWindowRect(owner, &outer);
    GetWindowRect(window, &inner);
    EXPECT_NEAR((inner.left + inner.right) / 2, (outer.left + outer.right) / 2, 1);
    EXPECT_NEAR((inner.top + inner.bottom) / 2, (outer.top + outer.bottom) / 2, 1);
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

HWND waitForFocusIn(DWORD threadId, HWND dialog, int timeoutMs)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    bool focused = pumpUntil([&] {
        return GetGUIThreadInfo(threadId, &info) && info.hwndActive == dialog && info.hwndFocus != nullptr &&
               IsChild(dialog, info.hwndFocus);
    }, timeoutMs);
    return focused ? info.hwndFocus : nullptr;
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
    while (!pumpUntil([&] { return done.load(); }, 60000)) {
    }
    driver.join();
}

std::vector<std::wstring> boxTexts()
{
    std::vector<std::wstring> texts;
    for (const RecordedBox &box : recordedBoxes())
        texts.push_back(box.text + L" / " + box.caption);
    return texts;
}

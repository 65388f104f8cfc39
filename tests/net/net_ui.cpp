// net_ui.cpp: records what the core asks of the user interface, optionally through a window of the test thread.
#include "tests/net/net_ui.h"

#include "core/ui_ops.h"

#include <mutex>

static std::mutex uiLock;
static NetUi ui;
static HWND syncWindow;
static volatile LONG sendsStarted;

void resetNetUi()
{
    std::lock_guard<std::mutex> hold(uiLock);
    ui = NetUi();
}

NetUi netUiSnapshot()
{
    std::lock_guard<std::mutex> hold(uiLock);
    return ui;
}

void setNetUiWindow(HWND window)
{
    syncWindow = window;
    InterlockedExchange(&sendsStarted, 0);
}

long netUiSendsStarted()
{
    return sendsStarted;
}

static void carryToWindow()
{
    HWND window = syncWindow;
    if (window == nullptr || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        return;
    InterlockedIncrement(&sendsStarted);
    SendMessageW(window, NetUiSyncMessage, 0, 0);
}

void refreshStatus()
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(uiLock);
    ui.states.push_back(AppState.transferState);
}

bool addPeerRecord(const char *text, int length)
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(uiLock);
    int commas = 0;
    for (int i = 0; i < length; i++)
        commas += text[i] == ',';
    if (commas < 3)
        return true;
    ui.peerRows.push_back(std::to_string(AppState.lastDirIndex) + "|" + std::string(text, static_cast<size_t>(length)));
    return false;
}

void clearPeerPane()
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(uiLock);
    ui.clears++;
    ui.peerRows.clear();
}

void setLinkLabel(const wchar_t *text)
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(uiLock);
    ui.linkLabels.push_back(text ? text : L"");
}

void exchangeEnded()
{
    std::lock_guard<std::mutex> hold(uiLock);
    ui.outcomes.push_back(AppState.lastOutcome);
}

void fileArrived(const wchar_t *)
{
}

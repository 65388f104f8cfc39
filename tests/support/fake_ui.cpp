// fake_ui.cpp: records what the core asks of the user interface, optionally through a window of the test thread.
#include "tests/support/fake_ui.h"

#include "core/ui_ops.h"

#include <mutex>

static std::mutex fakeLock;
static FakeUi fake;
static HWND syncWindow;
static volatile LONG sendsStarted;

void resetFakeUi()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake = FakeUi();
    syncWindow = nullptr;
}

FakeUi fakeUiSnapshot()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    return fake;
}

void setFakeUiRefuseRecords(bool refuse)
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.refuseRecords = refuse;
}

void setFakeUiWindow(HWND window)
{
    syncWindow = window;
    InterlockedExchange(&sendsStarted, 0);
}

long fakeUiSendsStarted()
{
    return sendsStarted;
}

static void carryToWindow()
{
    HWND window = syncWindow;
    if (window == nullptr || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        return;
    InterlockedIncrement(&sendsStarted);
    SendMessageW(window, FakeUiSyncMessage, 0, 0);
}

void refreshStatus()
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.states.push_back(AppState.transferState);
}

bool addPeerRecord(const char *text, int length)
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(fakeLock);
    int commas = 0;
    for (int i = 0; i < length; i++)
        commas += text[i] == ',';
    if (fake.refuseRecords || commas < 3)
        return true;
    fake.peerRows.push_back(std::to_string(AppState.lastDirIndex) + "|" +
                            std::string(text, static_cast<size_t>(length)));
    return false;
}

void clearPeerPane()
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.clears++;
    fake.peerRows.clear();
}

void setLinkLabel(const wchar_t *text)
{
    carryToWindow();
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.linkLabels.push_back(text ? text : L"");
}

void exchangeEnded()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.outcomes.push_back(AppState.lastOutcome);
}

void fileArrived(const wchar_t *)
{
}

void askTreeOverwrite()
{
}

// No module of the program's user interface is linked; the recorder is cleared by resetFakeUi.
void resetUiModules()
{
}

// The private link's questions: the recorder answers none of them (a pairing is never confirmed here).
void askPairing(const wchar_t *, const wchar_t *, const wchar_t *)
{
}

void endPairingQuestion()
{
}

void askClassicPeer(const wchar_t *)
{
}

void warnKeyChanged(const wchar_t *, const wchar_t *)
{
}

void notePeerRowsLeftOut(int rows)
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.rowsLeftOut += rows;
}

void peerServesFolder()
{
    std::lock_guard<std::mutex> hold(fakeLock);
    fake.servedFolders.push_back(AppState.peerServedFolder);
}

// dialog_test_support.h: helpers that find and drive the dialogs the code under test opens on the test thread,
// from a second thread.
#pragma once

#include "core/app_state.h"
#include "tests/support/test_support.h"
#include "tests/support/test_window.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

// A visible dialog of the given thread whose title is title (any title when null), or null after timeoutMs.
HWND waitForDialog(DWORD threadId, const wchar_t *title, int timeoutMs);
// The control of dialog that holds the focus once the dialog is active with the focus in it, or null after
// timeoutMs: a dialog is activated a moment after it shows, and a focus moved before that is moved again.
HWND waitForFocusIn(DWORD threadId, HWND dialog, int timeoutMs);
// True when window is gone or hidden within timeoutMs.
bool waitGone(HWND window, int timeoutMs);
// Ends every dialog of the thread still on screen with WM_CLOSE, so that a failing test never hangs.
void closeDialogsOf(DWORD threadId);

// Checks that window stands centred on owner, to the pixel.
void expectCentredOnAt(Caller at, HWND window, HWND owner);
#define expectCentredOn(...) expectCentredOnAt(HERE, __VA_ARGS__)

void setControlText(HWND dialog, int id, const std::wstring &text);
void clickButton(HWND dialog, int id);
bool controlEnabled(HWND dialog, int id);

// Runs script on a second thread while the test thread runs body (which opens modal dialogs); afterwards
// closes whatever the script left open and joins.
void driveWhile(const std::function<void(DWORD uiThread)> &script, const std::function<void()> &body);

// The program's message boxes, recorded.
std::vector<std::wstring> boxTexts();

// The copy dialog's title.
extern const wchar_t CopyTitle[];

// The test window, with a link whose peer end the test plays over a loopback pair (no network thread runs):
// Client mode, link open, own folder C:\own, peer folder C:\peer.
class CopyLinkFixture : public TestWindowFixture {
protected:
    void SetUp() override
    {
        TestWindowFixture::SetUp();
        ASSERT_TRUE(loopbackPair(&ours, &theirs));
        AppState.mode = ConnectionMode::Client;
        AppState.mainSocket = ours;
        AppState.linkOpen = 1;
        wcscpy(AppState.ownFolder, L"C:\\own");
        wcscpy(AppState.peerFolder, L"C:\\peer");
    }
    void TearDown() override
    {
        closesocket(ours);
        closesocket(theirs);
        TestWindowFixture::TearDown();
    }
    // The next copy dialog on screen.
    HWND nextDialog(DWORD ui, int timeoutMs = 5000) { return waitForDialog(ui, CopyTitle, timeoutMs); }

    SOCKET ours = INVALID_SOCKET;
    SOCKET theirs = INVALID_SOCKET;
};

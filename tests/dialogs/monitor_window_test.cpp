// monitor_window_test.cpp: what the three monitor windows draw and where, and the windows themselves.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "dialogs/monitor_window.h"
#include "core/send_ops.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"
#include "core/message_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

struct DrawnRow {
    int x;
    int y;
    std::wstring text;
};

void recordRow(void *context, int x, int y, const wchar_t *text, int chars)
{
    static_cast<std::vector<DrawnRow> *>(context)->push_back(DrawnRow{x, y, std::wstring(text, chars)});
}

std::vector<DrawnRow> drawnRows(MonitorView view)
{
    std::vector<DrawnRow> rows;
    drawMonitorRows(view, recordRow, &rows);
    return rows;
}

class MonitorWindows : public testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        recordBoxes();
    }
};

void putLine(MonitorRing ring, int line, const char *text)
{
    memset(ring[line], 0, RingLineBytes);
    memcpy(ring[line], text, strlen(text));
}

TEST_F(MonitorWindows, RingViewsAreBlankBeforeAnyTraffic)
{
    EXPECT_TRUE(drawnRows(MonitorView::Received).empty());
    EXPECT_TRUE(drawnRows(MonitorView::Sent).empty());
    EXPECT_TRUE(drawnRows(MonitorView::DirTable).empty());
}

TEST_F(MonitorWindows, RingLinesAreDrawnInIndexOrderWithTheMarker)
{
    // A ring that has wrapped: the newest message in line 4, the marker in line 5, older ones after it.
    putLine(AppState.sentRing, 3, "ACK");
    putLine(AppState.sentRing, 4, "DDC:\\");
    putLine(AppState.sentRing, 5, SentRingMarker);
    putLine(AppState.sentRing, 31, "NAK");
    putLine(AppState.receivedRing, 0, "DR999999");
    putLine(AppState.receivedRing, 1, ReceivedRingMarker);

    std::vector<DrawnRow> sent = drawnRows(MonitorView::Sent);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].y, 60);
    EXPECT_EQ(sent[0].text, L"ACK");
    EXPECT_EQ(sent[1].y, 80);
    EXPECT_EQ(sent[1].text, L"DDC:\\");
    EXPECT_EQ(sent[2].y, 100);
    EXPECT_EQ(sent[2].text, L"***** WRITE-END *****");
    EXPECT_EQ(sent[3].y, 620);
    EXPECT_EQ(sent[3].text, L"NAK");
    for (const DrawnRow &row : sent)
        EXPECT_EQ(row.x, 0);

    std::vector<DrawnRow> received = drawnRows(MonitorView::Received);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].text, L"DR999999");
    EXPECT_EQ(received[1].y, 20);
    EXPECT_EQ(received[1].text, L"***** READ-END *****");
}

TEST_F(MonitorWindows, AFullLineShowsAtMost256CharactersAndNeverReadsPastItsRow)
{
    memset(AppState.receivedRing[7], 'A', RingLineBytes);  // no zero inside the line
    memset(AppState.receivedRing[8], 'B', RingLineBytes);
    wchar_t text[300];
    wmemset(text, L'\x2620', 300);
    EXPECT_EQ(monitorRowText(MonitorView::Received, 7, text, 300), MonitorRowChars);
    EXPECT_EQ(std::wstring(text), std::wstring(256, L'A'));

    // A small buffer is filled only to its size.
    wmemset(text, L'\x2620', 300);
    EXPECT_EQ(monitorRowText(MonitorView::Received, 7, text, 10), 9);
    EXPECT_EQ(std::wstring(text), std::wstring(9, L'A'));
    EXPECT_EQ(text[10], L'\x2620');

    // A full DIR table row stops at its own 256 bytes.
    memset(AppState.dirTable[0], 'C', DirRowBytes);
    memset(AppState.dirTable[1], 'D', DirRowBytes);
    EXPECT_EQ(monitorRowText(MonitorView::DirTable, 0, text, 300), 256);
    EXPECT_EQ(std::wstring(text), std::wstring(256, L'C'));

    EXPECT_EQ(monitorRowText(MonitorView::Sent, -1, text, 300), 0);
    EXPECT_EQ(monitorRowText(MonitorView::Sent, 32, text, 300), 0);
    EXPECT_EQ(monitorRowText(MonitorView::DirTable, 1024, text, 300), 0);
    EXPECT_EQ(text[0], 0);
}

TEST_F(MonitorWindows, DirTableIsDrawnAs32PagesOver32Lines)
{
    for (int row = 0; row < 40; ++row) {
        char record[64];
        snprintf(record, sizeof(record), "DR%06dname%d,2024/03/07 09:05,1,8", row, row);
        memcpy(AppState.dirTable[row], record, strlen(record) + 1);
    }
    // A stale row far beyond the listing is drawn too.
    memcpy(AppState.dirTable[1000], "DR000999stale", 14);
    AppState.dirCount = 40;

    std::vector<DrawnRow> rows = drawnRows(MonitorView::DirTable);
    ASSERT_EQ(rows.size(), 41u);
    for (int row = 0; row < 40; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(rows[row].y, (row % 32) * 20);
        EXPECT_EQ(narrow(rows[row].text).substr(0, 8), std::string("DR") + (row < 10 ? "00000" : "0000") +
                                                          std::to_string(row));
    }
    EXPECT_EQ(rows[40].y, (1000 % 32) * 20);
    EXPECT_EQ(rows[40].text, L"DR000999stale");
    EXPECT_EQ(monitorRowY(MonitorView::DirTable, 1023), 31 * 20);
    EXPECT_EQ(monitorRowCount(MonitorView::DirTable), 1024);
    EXPECT_EQ(monitorRowCount(MonitorView::Sent), 32);
}

TEST_F(MonitorWindows, RowsAreDecodedFromTheAnsiCodePage)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932";
    putLine(AppState.receivedRing, 0, "FD\x83\x65\x83\x58\x83\x67");
    wchar_t text[272];
    EXPECT_EQ(monitorRowText(MonitorView::Received, 0, text, 272), 5);
    EXPECT_EQ(narrow(text), narrow(L"FDテスト"));
}

TEST_F(MonitorWindows, EachViewOpensOnceWithItsTitleAgainComesForwardAndCloseDestroysIt)
{
    HWND window = createTestMainWindow();
    const MonitorView views[4] = {MonitorView::Received, MonitorView::Sent, MonitorView::DirTable,
                                  MonitorView::Received};
    const wchar_t *titles[4] = {L"受信データー表示", L"送信データー表示", L"DIRテーブル表示", L"受信データー表示"};
    HWND opened[4];
    for (int i = 0; i < 4; ++i) {
        opened[i] = openMonitorWindow(window, views[i]);
        ASSERT_NE(opened[i], nullptr);
        EXPECT_TRUE(IsWindowVisible(opened[i]));
        EXPECT_EQ(GetWindow(opened[i], GW_OWNER), window);
        wchar_t title[64] = {};
        GetWindowTextW(opened[i], title, 63);
        EXPECT_EQ(narrow(title), narrow(titles[i]));
    }
    EXPECT_EQ(opened[3], opened[0]) << "the open one, not a second";
    putLine(AppState.sentRing, 0, "CUT");
    for (HWND monitor : opened)
        SendMessageW(monitor, WM_TIMER, IDT_MONITOR_REDRAW, 0);
    for (int i = 0; i < 3; ++i) {
        SendMessageW(opened[i], WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(opened[i]));
    }
    destroyTestMainWindow(window);
    EXPECT_TRUE(boxTexts().empty());
}

}  // namespace

namespace {

std::vector<HWND> erasedWindows;

LRESULT CALLBACK recordErase(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && call->message == WM_ERASEBKGND)
        erasedWindows.push_back(call->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MonitorWindows, WindowsOpenBesideTheMainWindowWhereTheyWereLastAndEraseBeforeTheyRepaint)
{
    HWND window = createTestMainWindow();
    SetWindowPos(window, nullptr, 100, 100, 400, 300, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT owner = {};
    GetWindowRect(window, &owner);
    HWND opened[3];
    RECT places[3];
    for (int i = 0; i < 3; ++i) {
        opened[i] = openMonitorWindow(window, static_cast<MonitorView>(i));
        ASSERT_NE(opened[i], nullptr);
        GetWindowRect(opened[i], &places[i]);
        EXPECT_EQ(places[i].left, owner.right) << i;
        EXPECT_EQ(MonitorFromWindow(opened[i], MONITOR_DEFAULTTONULL), MonitorFromWindow(window, MONITOR_DEFAULTTONULL));
    }
    for (int i = 1; i < 3; ++i)
        EXPECT_GT(places[i].top, places[i - 1].top) << i;
    // Moved and closed, it opens there again; the place is saved after the other keys.
    SetWindowPos(opened[1], nullptr, 620, 170, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(opened[1], WM_CLOSE, 0, 0);
    opened[1] = openMonitorWindow(window, MonitorView::Sent);
    ASSERT_NE(opened[1], nullptr);
    GetWindowRect(opened[1], &places[1]);
    EXPECT_EQ(places[1].left, 620);
    EXPECT_EQ(places[1].top, 170);
    std::wstring folder = makeTempFolder(L"pwplace");
    wcscpy(AppState.startFolder, folder.c_str());
    saveSettings();
    std::wstring saved = readUtf16File(folder + L"\\Parcelwight.ini");
    EXPECT_LT(saved.find(L"fastlink_on="), saved.find(L"monitor_sent_left=620\r\nmonitor_sent_top=170")) << narrow(saved);
    removeTree(folder);
    serveMessages();
    erasedWindows.clear();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, recordErase, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    SendMessageW(opened[0], WM_TIMER, IDT_MONITOR_REDRAW, 0);
    UnhookWindowsHookEx(hook);
    EXPECT_NE(std::find(erasedWindows.begin(), erasedWindows.end(), opened[0]), erasedWindows.end());
    for (HWND monitor : opened)
        SendMessageW(monitor, WM_CLOSE, 0, 0);
    destroyTestMainWindow(window);
}

}  // namespace

namespace {

TEST_F(MonitorWindows, AMessageBoxIsCentredOnItsOwner)
{
    HWND window = createTestMainWindow();
    SetWindowPos(window, nullptr, 40, 60, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE);
    driveWhile(
        [&](DWORD ui) {
            HWND shown = waitForDialog(ui, L"中央", 5000);
            ASSERT_NE(shown, nullptr);
            expectCentredOn(shown, window);
            PostMessageW(shown, WM_COMMAND, IDOK, 0);
        },
        [&] { platformMessageBox(window, L"箱の位置", L"中央", MB_OK); });
    destroyTestMainWindow(window);
}

}  // namespace

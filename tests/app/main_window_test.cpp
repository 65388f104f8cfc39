// main_window_test.cpp: the main window without a link: creation, layout, status bar, labels, menu, close.
#include "app/dpi_scale.h"
#include "app/main_window.h"
#include "app/status_bar.h"
#include "core/fast_wire.h"
#include "core/message_box.h"
#include "core/protocol_engine.h"
#include "core/ui_ops.h"
#include "net/connection.h"
#include "panes/pane_rows.h"
#include "panes/peer_pane.h"
#include "resources/resource_ids.h"
#include "tests/app/main_window_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recordBoxes(IDOK);
        folder = makeTempFolder(L"pwmain");
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override
    {
        AppState.linkOpen = 0;
        stopMainWindow(window);
        for (SOCKET s : {ours, theirs})
            if (s != INVALID_SOCKET)
                closesocket(s);
        leaveAndRemoveFolder(folder);
    }
    void start(bool show = false)
    {
        window = startMainWindow(folder, show);
        ASSERT_NE(window, nullptr);
    }
    // The window as a client linked to a peer that the test plays on `theirs`, showing peerFolder.
    void startLinked(const wchar_t *peerFolder)
    {
        ASSERT_TRUE(loopbackPair(&ours, &theirs));
        start();
        AppState.mode = ConnectionMode::Client;
        AppState.mainSocket = ours;
        AppState.linkOpen = 1;
        wcscpy(AppState.peerFolder, peerFolder);
    }
    std::wstring iniPath() const { return folder + L"\\Parcelwight.ini"; }

    std::wstring folder;
    HWND window = nullptr;
    SOCKET ours = INVALID_SOCKET;
    SOCKET theirs = INVALID_SOCKET;
};

RECT childRect(HWND window, int id)
{
    RECT r = {};
    HWND child = GetDlgItem(window, id);
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

#define expectRect(...) expectRectAt(HERE __VA_OPT__(, ) __VA_ARGS__)
void expectRectAt(Caller at, HWND window, int id, int x, int y, int width, int height)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(testing::Message() << "control " << id);
    RECT r = childRect(window, id);
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, y);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
}

TEST_F(MainWindowTest, CreatedCentredWithTitleClassAndChildren)
{
    start(true);
    wchar_t text[64] = {};
    GetWindowTextW(window, text, COUNTOF(text));
    EXPECT_STREQ(text, L"Parcelwight Ver1.01");
    GetClassNameW(window, text, COUNTOF(text));
    EXPECT_STREQ(text, L"Main Window");
    EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);

    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES);
    int height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    RECT r = {};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, (width - 1060) / 2);
    EXPECT_EQ(r.top, (height - 750) / 2);
    EXPECT_EQ(r.right - r.left, 1060);
    EXPECT_EQ(r.bottom - r.top, 720);

    EXPECT_EQ(GetDlgItem(window, IDC_OWN_PANE), AppState.ownPane);
    EXPECT_EQ(GetDlgItem(window, IDC_PEER_PANE), AppState.peerPane);
    EXPECT_EQ(GetDlgItem(window, IDC_STATUS_BAR), AppState.statusBar);
    EXPECT_EQ(GetDlgItem(window, IDC_LINK_LABEL), AppState.linkLabel);
    for (HWND pane : {AppState.ownPane, AppState.peerPane}) {
        GetClassNameW(pane, text, COUNTOF(text));
        EXPECT_STREQ(text, L"SysListView32");
        LONG style = GetWindowLongW(pane, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_EQ(style & (LVS_SINGLESEL | LVS_SORTASCENDING | LVS_SORTDESCENDING), 0);
        EXPECT_EQ(style & (LVS_OWNERDATA | LVS_SHOWSELALWAYS), LVS_OWNERDATA | LVS_SHOWSELALWAYS);
        EXPECT_TRUE(GetWindowLongW(pane, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        LRESULT extended = SendMessageW(pane, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
        EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
        HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(pane, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        EXPECT_EQ(images, AppState.paneImages);
        const wchar_t *headers[] = {L"ファイル名", L"更新日", L"サイズ"};
        const int widths[] = {280, 120, 80};
        for (int c = 0; c < 3; c++) {
            wchar_t header[64] = {};
            LVCOLUMNW column = {};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = header;
            column.cchTextMax = COUNTOF(header);
            ASSERT_TRUE(SendMessageW(pane, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column)));
            EXPECT_STREQ(header, headers[c]);
            EXPECT_EQ(column.cx, widths[c]);
        }
    }
    int imageWidth = 0;
    int imageHeight = 0;
    ImageList_GetIconSize(AppState.paneImages, &imageWidth, &imageHeight);
    EXPECT_EQ(imageWidth, 12);
    EXPECT_EQ(imageHeight, 12);
    EXPECT_EQ(ImageList_GetImageCount(AppState.paneImages), 9);
}

TEST_F(MainWindowTest, LayoutAtClientArea800By600)
{
    start(true);
    RECT outer = {};
    RECT inner = {};
    // The menu bar may wrap at a new width, so settle the size in two rounds.
    for (int round = 0; round < 3; round++) {
        GetWindowRect(window, &outer);
        GetClientRect(window, &inner);
        int width = (outer.right - outer.left) - inner.right + 800;
        int height = (outer.bottom - outer.top) - inner.bottom + 600;
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        serveMessages();
    }
    GetClientRect(window, &inner);
    ASSERT_EQ(inner.right, 800);
    ASSERT_EQ(inner.bottom, 600);
    expectRect(window, IDC_OWN_PANE, 0, 40, 400, 530);
    expectRect(window, IDC_PEER_PANE, 400, 40, 400, 530);
    expectRect(window, IDC_OWN_HOST_LABEL, 0, 0, 399, 20);
    expectRect(window, IDC_LINK_LABEL, 401, 0, 800, 20);
    expectRect(window, IDC_OWN_FOLDER_LABEL, 0, 20, 399, 20);
    expectRect(window, IDC_PEER_FOLDER_LABEL, 401, 20, 800, 20);
    RECT bar = childRect(window, IDC_STATUS_BAR);
    EXPECT_EQ(bar.bottom, 600);
    EXPECT_EQ(bar.left, 0);
    EXPECT_EQ(bar.right, 800);
    EXPECT_GE(bar.top, 570);
}

std::vector<int> shownEdges()
{
    int edges[8] = {};
    SendMessageW(AppState.statusBar, SB_GETPARTS, COUNTOF(edges), reinterpret_cast<LPARAM>(edges));
    return std::vector<int>(edges, edges + 6);
}

TEST_F(MainWindowTest, ColumnsAndStatusPartsFitA640PixelWindowAndComeBackAtTheDefaultSize)
{
    start(true);
    SetWindowPos(window, nullptr, 0, 0, 640, 720, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    serveMessages();
    for (HWND pane : {AppState.ownPane, AppState.peerPane}) {
        RECT client = {};
        GetClientRect(pane, &client);
        RECT size = {};
        ASSERT_TRUE(SendMessageW(ListView_GetHeader(pane), HDM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&size)));
        EXPECT_LE(size.right, client.right);
        EXPECT_EQ(ListView_GetColumnWidth(pane, 1), 120);
        EXPECT_EQ(ListView_GetColumnWidth(pane, 2), 80);
    }
    std::vector<int> narrow = shownEdges();
    RECT bar = {};
    GetClientRect(AppState.statusBar, &bar);
    EXPECT_LT(narrow[4], bar.right - 100) << "the maker's part keeps room";
    for (int i = 1; i < 5; i++)
        EXPECT_GT(narrow[i], narrow[i - 1]) << "edge " << i;
    EXPECT_EQ(narrow[5], -1);

    SetWindowPos(window, nullptr, 0, 0, 1060, 720, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    serveMessages();
    for (HWND pane : {AppState.ownPane, AppState.peerPane})
        EXPECT_EQ(ListView_GetColumnWidth(pane, 0), 280);
    EXPECT_EQ(shownEdges(), (std::vector<int>{90, 140, 250, 370, 850, -1}));
}

void changeDpi(HWND window, int dpi, int width, int height)
{
    RECT suggested = {0, 0, width, height};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    serveMessages();
}

TEST_F(MainWindowTest, SizesFollowTheDpiAndAreTodaysAgainAt96)
{
    EXPECT_EQ(scaleToDpi(280, 96), 280);
    EXPECT_EQ(scaleToDpi(280, 144), 420);
    EXPECT_EQ(scaleToDpi(25, 144), 38) << "rounded, not cut";
    start(true);
    HFONT paneFont = reinterpret_cast<HFONT>(SendMessageW(AppState.peerPane, WM_GETFONT, 0, 0));
    auto fontHeight = [](HWND control) {
        LOGFONTW font = {};
        HGDIOBJ shown = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
        GetObjectW(shown != nullptr ? shown : GetStockObject(SYSTEM_FONT), sizeof(font), &font);
        return std::abs(font.lfHeight);
    };
    int paneHeight = fontHeight(AppState.peerPane);
    int labelHeight = fontHeight(AppState.linkLabel);
    ASSERT_TRUE(paneHeight > 0 && labelHeight > 0);
    changeDpi(window, 144, 1590, 1080);
    EXPECT_EQ(fontHeight(AppState.peerPane), MulDiv(paneHeight, 144, 96));
    EXPECT_EQ(fontHeight(AppState.linkLabel), MulDiv(labelHeight, 144, 96));
    const int widths[] = {420, 180, 120};
    const int widthsAt96[] = {280, 120, 80};
    for (int c = 0; c < 3; c++)
        EXPECT_EQ(ListView_GetColumnWidth(AppState.peerPane, c), widths[c]) << "column " << c;
    EXPECT_EQ(shownEdges(), (std::vector<int>{135, 210, 375, 555, 1275, -1}));
    EXPECT_EQ(childRect(window, IDC_OWN_PANE).top, 60);
    EXPECT_EQ(childRect(window, IDC_PEER_FOLDER_LABEL).top, 30);
    int imageWidth = 0;
    int imageHeight = 0;
    ImageList_GetIconSize(AppState.paneImages, &imageWidth, &imageHeight);
    EXPECT_EQ(imageWidth, 18);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageW(AppState.ownPane, LVM_GETIMAGELIST, LVSIL_SMALL, 0)),
              AppState.paneImages);

    // A window kept at its 96-DPI size (an older INI) on a 144-DPI screen: the free part gives up the width, so
    // "Parcelwight", "Client" and the words after them are not cut.
    changeDpi(window, 144, 1060, 720);
    std::vector<int> kept = shownEdges();
    EXPECT_EQ(std::vector<int>(kept.begin(), kept.begin() + 4), (std::vector<int>{135, 210, 375, 555}));
    EXPECT_GT(kept[4], kept[3]);

    changeDpi(window, 96, 1060, 720);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(AppState.peerPane, WM_GETFONT, 0, 0)), paneFont)
        << "back at 96 each control has its own font again";
    for (int c = 0; c < 3; c++)
        EXPECT_EQ(ListView_GetColumnWidth(AppState.peerPane, c), widthsAt96[c]) << "column " << c;
    EXPECT_EQ(shownEdges(), (std::vector<int>{90, 140, 250, 370, 850, -1}));
    EXPECT_EQ(childRect(window, IDC_OWN_PANE).top, 40);
    ImageList_GetIconSize(AppState.paneImages, &imageWidth, &imageHeight);
    EXPECT_EQ(imageWidth, 12);
}

TEST_F(MainWindowTest, AFirstStartAt144DpiStaysInsideTheWorkArea)
{
    // The screen of the report: 1600 x 1000 at 144 DPI put a 1590 x 1014 window 62 pixels above it.
    RECT place = {5, -62, 1595, 1018};
    fitInWorkArea(RECT{0, 0, 1600, 1000}, &place);
    const RECT fitted = {5, 0, 1595, 1000};
    EXPECT_TRUE(EqualRect(&place, &fitted)) << place.top << ", " << place.bottom;
    // On this screen's own work area, whatever its size.
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info));
    firstStartPlace(info.rcWork.right, info.rcWork.bottom, 144, &place);
    RECT inside = {};
    EXPECT_TRUE(IntersectRect(&inside, &place, &info.rcWork) && EqualRect(&inside, &place)) << place.top;
}

TEST_F(MainWindowTest, FreshStartStatusPartsAndLabels)
{
    start();
    ASSERT_EQ(statusPartCount(), 6);
    int edges[8] = {};
    SendMessageW(AppState.statusBar, SB_GETPARTS, COUNTOF(edges), reinterpret_cast<LPARAM>(edges));
    const int expectedEdges[] = {90, 140, 250, 370, 850, -1};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(edges[i], expectedEdges[i]) << "edge " << i;
    // No settings file yet: the free part says where the link is set up.
    const wchar_t *parts[] = {L"Parcelwight", L"Client", L"Disconnect", L"Waiting",
                              L"接続が未設定です。接続 > 接続設定 で設定してください", L"by Brindlewax"};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(statusPart(i), parts[i]) << "part " << i;

    std::wstring host = L"<" + std::wstring(AppState.ownAddressText) + L">:" + AppState.ownHostText;
    EXPECT_EQ(controlText(window, IDC_OWN_HOST_LABEL), host);
    EXPECT_NE(std::wstring(AppState.ownAddressText), L"");
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"CLOSE<192,138,1,31>:");
    EXPECT_EQ(controlText(window, IDC_OWN_FOLDER_LABEL), L"C:\\");
    EXPECT_EQ(controlText(window, IDC_PEER_FOLDER_LABEL), L"C:\\");
}

TEST_F(MainWindowTest, StatusFollowsStateOnEveryRefreshAndPaint)
{
    start(true);
    AppState.transferState = TransferState::RequestCopyFrom;
    refreshStatus();
    EXPECT_EQ(statusPart(3), L"RequestCopyFrom");

    AppState.mode = ConnectionMode::Server;
    AppState.transferState = static_cast<TransferState>(11);
    // A repaint rewrites the bar by itself.
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    EXPECT_EQ(statusPart(1), L"Server");
    EXPECT_EQ(statusPart(2), L"Disconnect");
    EXPECT_EQ(statusPart(3), L"");

    AppState.linkOpen = 1;
    refreshStatus();
    EXPECT_EQ(statusPart(2), L"Openting");
    AppState.peerPresent = 1;
    AppState.serverSlotNumber = 3;
    refreshStatus();
    EXPECT_EQ(statusPart(2), L"Connecting:3");

    AppState.mode = ConnectionMode::Client;
    AppState.clientSocketNumber = 1234;
    refreshStatus();
    EXPECT_EQ(statusPart(1), L"Client");
    EXPECT_EQ(statusPart(2), L"Connecting:1234");
    AppState.linkOpen = 0;
    AppState.transferState = TransferState::Waiting;
}

TEST_F(MainWindowTest, LinkTextInBothModesAndForms)
{
    start();
    AppState.ip[0] = 10;
    AppState.ip[1] = 0;
    AppState.ip[2] = 300;
    AppState.ip[3] = -1;
    wcscpy(AppState.peerHostName, L"peer-host");
    showLinkText(true, window);
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"OPEN<10,0,300,-1>:peer-host");
    showLinkText(false, window);
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"CLOSE<10,0,300,-1>:peer-host");
    // A host name that fills its buffer without a terminator is cut, never read past.
    wmemset(AppState.peerHostName, L'h', COUNTOF(AppState.peerHostName));
    showLinkText(true, window);
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"OPEN<10,0,300,-1>:" + std::wstring(31, L'h'));
    AppState.mode = ConnectionMode::Server;
    showLinkText(true, window);
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:OPEN");
    showLinkText(false, window);
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:CLOSE");
    setLinkLabel(L"Server:Conection:[127,0,0,1]");
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:Conection:[127,0,0,1]");
}

struct MenuEntry {
    int id;
    const wchar_t *text;
};

TEST_F(MainWindowTest, MenuTextsInTheirDropDowns)
{
    start();
    HMENU bar = GetMenu(window);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 5);
    const wchar_t *tops[] = {L"ファイル(&F)", L"複写(&C)", L"接続(&N)", L"ﾍﾙﾌﾟ(&H)", L"終了(&X)"};
    for (int i = 0; i < 5; i++) {
        wchar_t text[128] = {};
        GetMenuStringW(bar, i, text, COUNTOF(text), MF_BYPOSITION);
        EXPECT_STREQ(text, tops[i]) << "top " << i;
    }
    EXPECT_EQ(GetMenuItemID(bar, 4), static_cast<UINT>(IDM_EXIT));
    const std::vector<std::vector<MenuEntry>> dropDowns = {
        {{101, L"自分側：再フォルダ指定(&D)"}, {102, L"自分側：ルートフォルダ指定(&C)"},
         {103, L"相手側：再フォルダ指定(&R)"}, {104, L"相手側：ルートフォルダ指定(&L)"},
         {132, L"相手側：フォルダ入力(&I)"}},
        {{105, L"複写→相手側へ(&S)"}, {106, L"複写←相手側から(&R)"}, {107, L"自分フォルダ作成(&F)"},
         {108, L"相手フォルダ作成(&T)"}},
        {{109, L"接続設定(&K)"}, {110, L"接続開始(&S)"}, {111, L"接続終了(&P)"}, {112, L"HostName(&H)"},
         {113, L"受信内容(&R)"}, {114, L"送信内容(&T)"}, {115, L"DIR-TBL(&D)"}, {131, L"公開設定(&O)"},
         {141, L"ペアリング済みのマシン(&M)"}},
        {{116, L"環境設定(&K)"}, {117, L"ﾍﾙﾌﾟ(&W)"}, {118, L"Brindlewaxのホームページ(&H)"},
         {119, L"このソフトについて(&S)"}},
    };
    for (int d = 0; d < 4; d++) {
        HMENU menu = GetSubMenu(bar, d);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(dropDowns[d].size()));
        for (int i = 0; i < GetMenuItemCount(menu); i++) {
            wchar_t text[128] = {};
            GetMenuStringW(menu, i, text, COUNTOF(text), MF_BYPOSITION);
            EXPECT_EQ(GetMenuItemID(menu, i), static_cast<UINT>(dropDowns[d][i].id));
            EXPECT_STREQ(text, dropDowns[d][i].text);
        }
    }
}

bool greyed(HMENU bar, int id)
{
    return (GetMenuState(bar, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

TEST_F(MainWindowTest, MenuEnableRuleForLinkAndMonitors)
{
    start();
    HMENU bar = GetMenu(window);
    const int linkOpenItems[] = {103, 104, 105, 106, 108, 111, 132};
    const int linkClosedItems[] = {109, 110, 116, 131, 141};
    const int monitorItems[] = {113, 114, 115};
    const int fixedItems[] = {101, 102, 107, 112, 117, 118, 119, 120};
    for (int open = 0; open < 2; open++) {
        for (int monitors = 0; monitors < 2; monitors++) {
            SCOPED_TRACE(testing::Message() << "link open " << open << ", monitors " << monitors);
            // Start from the opposite of what the rule will set, so every change shows.
            for (int id : linkOpenItems)
                EnableMenuItem(bar, id, MF_BYCOMMAND | (open ? MF_GRAYED : MF_ENABLED));
            for (int id : linkClosedItems)
                EnableMenuItem(bar, id, MF_BYCOMMAND | (open ? MF_ENABLED : MF_GRAYED));
            for (int id : monitorItems)
                EnableMenuItem(bar, id, MF_BYCOMMAND | (monitors ? MF_GRAYED : MF_ENABLED));
            for (int id : fixedItems)
                EnableMenuItem(bar, id, MF_BYCOMMAND | MF_GRAYED);
            AppState.linkOpen = open;
            AppState.monitorOn = monitors;
            for (int d = 0; d < 4; d++)
                SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, d)), d);
            for (int id : linkOpenItems)
                EXPECT_EQ(greyed(bar, id), open == 0) << id;
            for (int id : linkClosedItems)
                EXPECT_EQ(greyed(bar, id), open != 0) << id;
            for (int id : monitorItems)
                EXPECT_EQ(greyed(bar, id), monitors == 0) << id;
            // Never touched by the rule: still greyed from above.
            for (int id : fixedItems)
                EXPECT_TRUE(greyed(bar, id)) << id;
        }
    }
    AppState.linkOpen = 0;
}

TEST_F(MainWindowTest, RuleOnOneDropDownLeavesTheOthersAlone)
{
    start();
    HMENU bar = GetMenu(window);
    EnableMenuItem(bar, IDM_OPEN_LINK, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(bar, IDM_ENVIRONMENT, MF_BYCOMMAND | MF_GRAYED);
    AppState.linkOpen = 0;
    SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, 0)), 0);
    EXPECT_TRUE(greyed(bar, IDM_OPEN_LINK));
    EXPECT_TRUE(greyed(bar, IDM_ENVIRONMENT));
    EXPECT_TRUE(greyed(bar, IDM_PEER_RELIST));
    SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(bar, 2)), 2);
    EXPECT_FALSE(greyed(bar, IDM_OPEN_LINK));
    EXPECT_TRUE(greyed(bar, IDM_ENVIRONMENT));
}

TEST_F(MainWindowTest, OwnRootAndRelistCommandsWaitForTheTransfer)
{
    std::wstring sub = folder + L"\\inner";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    writeFileBytes(iniPath(), "[Parcelwight_setting]\r\ncurrentdirectory_r=" + narrow(sub) + "\r\n");
    start();
    EXPECT_EQ(std::wstring(AppState.ownFolder), sub);
    EXPECT_EQ(controlText(window, IDC_OWN_FOLDER_LABEL), sub);

    AppState.transferState = TransferState::CallCopyTO;
    SendMessageW(window, WM_COMMAND, IDM_OWN_ROOT, 0);
    EXPECT_EQ(std::wstring(AppState.ownFolder), sub);
    AppState.transferState = TransferState::Waiting;
    // The high word of wParam is not looked at.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_OWN_ROOT, 1), 0);
    EXPECT_STREQ(AppState.ownFolder, L"C:\\");
    EXPECT_EQ(controlText(window, IDC_OWN_FOLDER_LABEL), L"C:\\");
    // Ids outside the menu are ignored.
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, 121, 0), 0);
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, 100, 0), 0);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(MainWindowTest, HostNameCommandShowsAddressAndName)
{
    start();
    SendMessageW(window, WM_COMMAND, IDM_HOST_NAME, 0);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_EQ(boxes[0].caption, L"HostName");
    EXPECT_EQ(boxes[0].text, std::wstring(AppState.ownAddressText) + L"\r\n" + AppState.ownHostText);
    EXPECT_EQ(boxes[0].flags & 0xF, static_cast<UINT>(MB_OK));
}

TEST_F(MainWindowTest, PaneDoubleClicksAndOtherNotifications)
{
    std::wstring sub = folder + L"\\inner";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    writeFileBytes(iniPath(), "[Parcelwight_setting]\r\ncurrentdirectory_r=" + narrow(folder) + "\r\n");
    start();
    std::vector<std::wstring> names = paneNames(AppState.ownPane);
    int row = -1;
    for (size_t i = 0; i < names.size(); i++)
        if (names[i] == L"inner")
            row = static_cast<int>(i);
    ASSERT_GE(row, 0);
    selectRows(AppState.ownPane, {row});

    // Anything but a double-click passes through.
    NMHDR other = {AppState.ownPane, IDC_OWN_PANE, static_cast<UINT>(NM_CLICK)};
    SendMessageW(window, WM_NOTIFY, IDC_OWN_PANE, reinterpret_cast<LPARAM>(&other));
    NMHDR fromBar = {AppState.statusBar, IDC_STATUS_BAR, static_cast<UINT>(NM_DBLCLK)};
    EXPECT_EQ(SendMessageW(window, WM_NOTIFY, IDC_STATUS_BAR, reinterpret_cast<LPARAM>(&fromBar)), 0);
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder);

    // The own pane moves whatever the transfer state.
    AppState.transferState = TransferState::RequestCopyTO;
    doubleClick(window, IDC_OWN_PANE);
    EXPECT_EQ(std::wstring(AppState.ownFolder), sub);
    EXPECT_EQ(controlText(window, IDC_OWN_FOLDER_LABEL), sub);

    // The peer pane stays put while an exchange runs: no request, no change.
    insertPaneRow(AppState.peerPane, 0, L"work", 1, L"", L"");
    selectRows(AppState.peerPane, {0});
    doubleClick(window, IDC_PEER_PANE);
    EXPECT_EQ(AppState.transferState, TransferState::RequestCopyTO);
    EXPECT_STREQ(AppState.peerFolder, L"C:\\");
    EXPECT_EQ(paneNames(AppState.peerPane).size(), 1u);
    EXPECT_TRUE(recordedBoxes().empty());
    AppState.transferState = TransferState::Waiting;
}

TEST_F(MainWindowTest, CloseWithLinkClosedDestroysAtOnceAndSavesInOrder)
{
    start();
    wcscpy(AppState.peerFolder, L"D:\\data");
    AppState.port = 2001;
    AppState.monitorOn = 1;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(AppState.mainWindow, nullptr);
    EXPECT_TRUE(recordedBoxes().empty());

    std::wstring text = readUtf16File(iniPath());
    const wchar_t *keys[] = {L"currentdirectory_r=C:\\", L"currentdirectory_w=D:\\data", L"ip_mode=0",
                             L"port_no=2001", L"ip_no1=192", L"ip_no2=138", L"ip_no3=1", L"ip_no4=31",
                             L"sendreadmonitor_on=1"};
    size_t at = text.find(L"[Parcelwight_setting]");
    ASSERT_NE(at, std::wstring::npos) << narrow(text);
    for (const wchar_t *key : keys) {
        size_t next = text.find(key, at);
        ASSERT_NE(next, std::wstring::npos) << narrow(key) << " in " << narrow(text);
        at = next;
    }

    // The peer folder always starts at the root again; the rest comes back.
    window = startMainWindow(folder);
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(AppState.peerFolder, L"C:\\");
    EXPECT_EQ(controlText(window, IDC_PEER_FOLDER_LABEL), L"C:\\");
    EXPECT_EQ(AppState.port, 2001);
    EXPECT_EQ(AppState.monitorOn, 1);
    EXPECT_EQ(statusPart(4), L" ") << "a start with settings has nothing to say";
}

// Dialogs of this thread owned by the main window.
BOOL CALLBACK collectDialog(HWND candidate, LPARAM parameter)
{
    wchar_t className[32] = {};
    GetClassNameW(candidate, className, COUNTOF(className));
    if (wcscmp(className, L"#32770") == 0 && GetWindow(candidate, GW_OWNER) == AppState.mainWindow)
        reinterpret_cast<std::vector<HWND> *>(parameter)->push_back(candidate);
    return TRUE;
}

std::vector<HWND> ownedDialogs()
{
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), collectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

// Fired inside a modal dialog's loop: ends the dialog with the command in dialogAnswer (cancel, or close).
WPARAM dialogAnswer = 0;
int dialogsAnswered = 0;
VOID CALLBACK answerDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    std::vector<HWND> dialogs = ownedDialogs();
    if (dialogs.empty())
        return;
    KillTimer(nullptr, timer);
    dialogsAnswered++;
    if (dialogAnswer == 0)
        PostMessageW(dialogs[0], WM_CLOSE, 0, 0);
    else
        PostMessageW(dialogs[0], WM_COMMAND, dialogAnswer, 0);
}

TEST_F(MainWindowTest, SettingsDialogsSaveEvenWhenCancelled)
{
    start();
    AppState.port = 4321;
    wcscpy(AppState.peerHostName, L"old-peer");
    setLinkLabel(L"something else");
    dialogAnswer = IDC_DIALOG_CANCEL;  // the connection dialog's cancel button
    dialogsAnswered = 0;
    SetTimer(nullptr, 0, 50, answerDialog);
    SendMessageW(window, WM_COMMAND, IDM_CONNECTION_SETTINGS, 0);
    EXPECT_EQ(dialogsAnswered, 1);
    EXPECT_EQ(iniValue(iniPath(), L"port_no"), L"4321");
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL).substr(0, 6), L"CLOSE<");
    refreshStatus();
    EXPECT_EQ(statusPart(4), L" ") << "set up now: the first-start text has gone";

    DeleteFileW(iniPath().c_str());
    AppState.monitorOn = 1;
    dialogAnswer = 0;
    SetTimer(nullptr, 0, 50, answerDialog);
    SendMessageW(window, WM_COMMAND, IDM_ENVIRONMENT, 0);
    EXPECT_EQ(dialogsAnswered, 2);
    EXPECT_EQ(iniValue(iniPath(), L"sendreadmonitor_on"), L"1");
    EXPECT_EQ(iniValue(iniPath(), L"port_no"), L"4321");
}

TEST_F(MainWindowTest, AMonitorOpensOnceAndAboutOnceMoreEachTime)
{
    start();
    AppState.monitorOn = 1;
    SendMessageW(window, WM_COMMAND, IDM_RECEIVED_MONITOR, 0);
    SendMessageW(window, WM_COMMAND, IDM_RECEIVED_MONITOR, 0);
    std::vector<HWND> dialogs = ownedDialogs();
    EXPECT_EQ(dialogs.size(), 1u);
    for (HWND dialog : dialogs)
        EXPECT_TRUE(IsWindowVisible(dialog));
    SendMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
    SendMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
    SendMessageW(window, WM_COMMAND, IDM_DIR_TABLE_MONITOR, 0);
    EXPECT_EQ(ownedDialogs().size(), 4u);
}

TEST(ProgramResourcesTest, IconsVersionAndManifest)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int id = IDI_PANE_FIRST; id <= IDI_PANE_LAST; id++) {
        HICON icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 12, 12, 0));
        ASSERT_NE(icon, nullptr) << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bits = {};
        GetObjectW(info.hbmColor, sizeof(bits), &bits);
        EXPECT_EQ(bits.bmWidth, 12) << id;
        EXPECT_EQ(bits.bmHeight, 12) << id;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_NE(LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP)), nullptr);
    HBITMAP about = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(IDB_ABOUT), IMAGE_BITMAP, 0, 0,
                                                    LR_CREATEDIBSECTION));
    ASSERT_NE(about, nullptr);
    DIBSECTION section = {};
    GetObjectW(about, sizeof(section), &section);
    EXPECT_EQ(section.dsBm.bmWidth, 128);
    EXPECT_EQ(section.dsBm.bmHeight, 64);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 24);
    DeleteObject(about);
    EXPECT_NE(FindResourceW(instance, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)), nullptr) << "manifest";

    HRSRC version = FindResourceW(instance, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(version, nullptr);
    // The version block holds its strings as UTF-16 text.
    const wchar_t *block = static_cast<const wchar_t *>(LockResource(LoadResource(instance, version)));
    std::wstring text(block, SizeofResource(instance, version) / sizeof(wchar_t));
    EXPECT_NE(text.find(L"ProductName"), std::wstring::npos);
    EXPECT_NE(text.find(L"Parcelwight"), std::wstring::npos);
    EXPECT_NE(text.find(L"1.1.0"), std::wstring::npos);
}

TEST_F(MainWindowTest, CloseWaitsForTheLinkPollingEveryHalfSecond)
{
    start();
    // A server without a client whose socket will not close: timer 1 fails to close it, so timer 2 finds the
    // link still open and keeps looking.
    AppState.mode = ConnectionMode::Server;
    AppState.linkOpen = 1;
    AppState.peerPresent = 0;
    AppState.mainSocket = INVALID_SOCKET;
    recordBoxes(IDYES);
    DWORD asked = GetTickCount();
    SendMessageW(window, WM_CLOSE, 0, 0);
    // Without a client the question is the one of any open link.
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(recordedBoxes()[0].text, L"接続中です\r\n切断して終了しますか");
    ASSERT_TRUE(pumpUntil([] { return recordedBoxes().size() > 1; }, 3000));
    EXPECT_GE(GetTickCount() - asked, 90u);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].caption, L"closesocket_Error");
    EXPECT_EQ(boxes[1].text, L"-1");
    EXPECT_EQ(boxes[1].owner, window);
    EXPECT_EQ(controlText(window, IDC_LINK_LABEL), L"Server:CLOSE");

    pumpFor(2200);
    EXPECT_TRUE(IsWindow(window)) << "the window waits while the link is open";
    EXPECT_EQ(recordedBoxes().size(), 2u) << "timer 1 is not re-armed by the wait";
    AppState.linkOpen = 0;
    ASSERT_TRUE(pumpUntil([this] { return !IsWindow(window); }, 3000));
}

TEST_F(MainWindowTest, ExitCommandTakesTheClosePath)
{
    start();
    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(fileExists(iniPath()));
}

void pressKey(HWND pane, WORD key)
{
    SendMessageW(pane, WM_KEYDOWN, key, 1);
    SendMessageW(pane, WM_KEYUP, key, 0xC0000001);
}

TEST_F(MainWindowTest, OwnPaneKeysOpenGoUpListAgainAndMoveToThePeerPane)
{
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\backup.old").c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(folder + L"\\README", "read me"));
    writeFileBytes(iniPath(), "[Parcelwight_setting]\r\ncurrentdirectory_r=" + narrow(folder) + "\r\n");
    start(true);
    HWND own = AppState.ownPane;
    selectNamedRows(own, {L"backup.old"});
    pressKey(own, VK_RETURN);
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder + L"\\backup.old");
    pressKey(own, VK_BACK);
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder);
    EXPECT_EQ(controlText(window, IDC_OWN_FOLDER_LABEL), folder);

    ASSERT_TRUE(writeFileBytes(folder + L"\\fresh.txt", "new"));
    EXPECT_EQ(paneRowOf(own, L"fresh.txt"), -1);
    pressKey(own, VK_F5);
    EXPECT_NE(paneRowOf(own, L"fresh.txt"), -1);

    selectNamedRows(own, {L"README"});
    pressKey(own, VK_RETURN);
    expectOnlyBox(window, L"ファイルでフォルダではありません！", L"フォルダ移行", MB_ICONWARNING | MB_OK);
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder);

    SetFocus(own);
    pressKey(own, VK_TAB);
    EXPECT_EQ(GetFocus(), AppState.peerPane);
    pressKey(AppState.peerPane, VK_TAB);
    EXPECT_EQ(GetFocus(), own);
}

TEST_F(MainWindowTest, PeerPaneKeysAskThePeer)
{
    ASSERT_NO_FATAL_FAILURE(startLinked(L"C:\\work"));
    HWND peer = AppState.peerPane;

    pressKey(peer, VK_F5);
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\work");
    AppState.transferState = TransferState::Waiting;
    insertPaneRow(peer, -1, L"my.app", 1, L"", L"");
    selectRows(peer, {0});
    pressKey(peer, VK_RETURN);
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\work\\my.app");
    AppState.transferState = TransferState::Waiting;
    pressKey(peer, VK_BACK);
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\work");
    // While an exchange runs the keys ask nothing.
    pressKey(peer, VK_BACK);
    EXPECT_TRUE(silentFor(theirs, 100));
    EXPECT_TRUE(recordedBoxes().empty());
    AppState.transferState = TransferState::Waiting;
}

TEST_F(MainWindowTest, FocusComesBackToTheLastPaneOnActivation)
{
    start(true);
    SetFocus(AppState.peerPane);
    SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
    SetFocus(AppState.ownPane);
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), AppState.peerPane);
}

TEST_F(MainWindowTest, PlaceIsSavedAfterTheOtherKeysAndRestoredOnlyOnAVisibleMonitor)
{
    start();
    SetWindowPos(window, nullptr, 40, 50, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(window, WM_CLOSE, 0, 0);
    std::wstring text = readUtf16File(iniPath());
    size_t last = text.find(L"sendreadmonitor_on=");
    for (const wchar_t *key : {L"window_left=40", L"window_top=50", L"window_width=700", L"window_height=500"}) {
        size_t at = text.find(key);
        EXPECT_NE(at, std::wstring::npos) << narrow(key);
        EXPECT_GT(at, last) << narrow(key);
    }

    window = startMainWindow(folder);
    ASSERT_NE(window, nullptr);
    RECT r = {};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 700);
    EXPECT_EQ(r.bottom - r.top, 500);
    stopMainWindow(window);

    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_left", L"-20000", iniPath().c_str());
    window = startMainWindow(folder);
    ASSERT_NE(window, nullptr);
    GetWindowRect(window, &r);
    EXPECT_EQ(r.right - r.left, 1060) << "off every monitor: the centred place";
}

TEST_F(MainWindowTest, ExitAndTheCloseButtonAskWhileAClientLinkIsOpen)
{
    start();
    AppState.mode = ConnectionMode::Client;
    AppState.linkOpen = 1;
    recordBoxes(IDNO);
    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    expectOnlyBox(window, L"接続中です\r\n切断して終了しますか", L"切断", MB_YESNO);
    recordBoxes(IDNO);
    SendMessageW(window, WM_CLOSE, 0, 0);
    expectOnlyBox(window, L"接続中です\r\n切断して終了しますか", L"切断", MB_YESNO);
    pumpFor(300);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(AppState.linkOpen, 1);
}

// Fired inside the folder-name dialog's loop: names the folder "made" and presses 作成.
VOID CALLBACK nameNewFolder(HWND, UINT, UINT_PTR timer, DWORD)
{
    std::vector<HWND> dialogs = ownedDialogs();
    if (dialogs.empty())
        return;
    KillTimer(nullptr, timer);
    SetDlgItemTextW(dialogs[0], IDC_EDIT1, L"made");
    PostMessageW(dialogs[0], WM_COMMAND, IDC_START, 0);
}

TEST_F(MainWindowTest, ANewFolderAReadOnlyPeerRefusesIsToldAndThePeerPaneKeepsItsRows)
{
    ASSERT_NO_FATAL_FAILURE(startLinked(L"C:\\shared"));
    insertPaneRow(AppState.peerPane, -1, L"kept", 1, L"", L"");
    SetTimer(nullptr, 0, 50, nameNewFolder);
    SendMessageW(window, WM_COMMAND, IDM_NEW_PEER_FOLDER, 0);
    EXPECT_EQ(receiveMessage(theirs), "CDC:\\shared\\made");
    EXPECT_EQ(paneNames(AppState.peerPane), std::vector<std::wstring>{L"kept"});
    // The peer's refusal, as its fast link gives it.
    AppState.endReason = FastReason::ReadOnly;
    endExchange(TransferOutcome::Refused);
    serveMessages();
    expectOnlyBox(window, L"相手側にフォルダを作れませんでした\r\n相手側は読み取り専用で公開しています", L"Folder", MB_OK);
    EXPECT_EQ(paneNames(AppState.peerPane), std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(AppState.peerPaneClearPending, 0);
}

TEST_F(MainWindowTest, ArrivedFileIsListedKeepingTheSelection)
{
    ASSERT_TRUE(writeFileBytes(folder + L"\\a.txt", "a"));
    writeFileBytes(iniPath(), "[Parcelwight_setting]\r\ncurrentdirectory_r=" + narrow(folder) + "\r\n");
    start();
    selectNamedRows(AppState.ownPane, {L"a.txt"});
    ASSERT_TRUE(writeFileBytes(folder + L"\\0.txt", "arrived"));
    // A file of a folder copy lands in a folder the pane does not show: no listing for it.
    fileArrived((folder + L"\\sub\\x.txt").c_str());
    serveMessages();
    EXPECT_EQ(paneRowOf(AppState.ownPane, L"0.txt"), -1);
    fileArrived((folder + L"\\0.txt").c_str());
    fileArrived((folder + L"\\0.txt").c_str());
    ASSERT_TRUE(pumpUntil([] { return paneRowOf(AppState.ownPane, L"0.txt") != -1; }, 3000));
    EXPECT_EQ(selectedRows(AppState.ownPane), std::vector<int>{paneRowOf(AppState.ownPane, L"a.txt")});
}

TEST_F(MainWindowTest, SessionEndSavesTheSettings)
{
    start();
    AppState.port = 3003;
    SendMessageW(window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(iniValue(iniPath(), L"port_no"), L"3003");
}

TEST_F(MainWindowTest, OpeningAndClosingTheLinkClearThePeerPane)
{
    start();
    insertPaneRow(AppState.peerPane, -1, L"stale", 1, L"", L"");
    AppState.mode = ConnectionMode::Server;
    AppState.port = 0;  // the system picks a free port
    SendMessageW(window, WM_COMMAND, IDM_OPEN_LINK, 0);
    EXPECT_EQ(paneRowCount(AppState.peerPane), 0);
    ASSERT_EQ(AppState.linkOpen, 1);
    EXPECT_EQ(peerPaneNotice(), nullptr);

    // Closed, the pane holds no row to copy and says why it is empty.
    insertPaneRow(AppState.peerPane, -1, L"listed", 1, L"", L"");
    SendMessageW(window, WM_COMMAND, IDM_CLOSE_LINK, 0);
    ASSERT_TRUE(pumpUntil([] { return !AppState.linkOpen; }, 3000));
    EXPECT_EQ(paneRowCount(AppState.peerPane), 0);
    EXPECT_STREQ(peerPaneNotice(), L"接続していません");
    NMLVCUSTOMDRAW draw = {};
    draw.nmcd.hdr = {AppState.peerPane, IDC_PEER_PANE, static_cast<UINT>(NM_CUSTOMDRAW)};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(SendMessageW(window, WM_NOTIFY, IDC_PEER_PANE, reinterpret_cast<LPARAM>(&draw)), CDRF_NOTIFYPOSTPAINT);
}

}  // namespace

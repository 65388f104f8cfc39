// settings_dialogs_test.cpp: the connection settings dialog, the environment dialog and the About box, run
// from the real templates and driven from a second thread.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "core/identity.h"
#include "core/paired_machines.h"
#include "dialogs/connection_dialog.h"
#include "dialogs/environment_dialog.h"
#include "net/discovery.h"
#include "resources/resource_ids.h"
#include "version.h"

#include <gtest/gtest.h>

namespace {

class SettingsDialogs : public TestWindowFixture {
protected:
    void SetUp() override
    {
        TestWindowFixture::SetUp();
        AppState.mode = ConnectionMode::Server;
        const int32_t ip[4] = {192, 138, 1, 31};
        memcpy(AppState.ip, ip, sizeof(ip));
        AppState.port = 1050;
        strcpy(AppState.peerHostNameA, "oldhost");
        wcscpy(AppState.peerHostName, L"oldhost");
    }
};

const int AddressEdits[4] = {IDC_EDIT1, IDC_EDIT2, IDC_EDIT3, IDC_EDIT4};

TEST_F(SettingsDialogs, RadioButtonsSwitchTheAddressEditsAndOkReadsThreeCharacters)
{
    INT_PTR result = 0;
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, L"Socket Setting", 5000);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(controlText(dialog, IDC_EDIT1), L"192");
            EXPECT_EQ(controlText(dialog, IDC_EDIT4), L"31");
            EXPECT_EQ(controlText(dialog, IDC_EDIT5), L"1050");
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SERVER_RADIO), BST_CHECKED);
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CLIENT_RADIO), BST_UNCHECKED);
            for (int id : AddressEdits)
                EXPECT_FALSE(controlEnabled(dialog, id)) << id;
            EXPECT_TRUE(controlEnabled(dialog, IDC_EDIT5));

            clickButton(dialog, IDC_CLIENT_RADIO);
            for (int id : AddressEdits)
                EXPECT_TRUE(controlEnabled(dialog, id)) << id;
            clickButton(dialog, IDC_SERVER_RADIO);
            for (int id : AddressEdits)
                EXPECT_FALSE(controlEnabled(dialog, id)) << id;
            clickButton(dialog, IDC_CLIENT_RADIO);

            setControlText(dialog, IDC_EDIT1, L"1234");
            setControlText(dialog, IDC_EDIT2, L"ab");
            setControlText(dialog, IDC_EDIT3, L"300");
            setControlText(dialog, IDC_EDIT4, L"7");
            setControlText(dialog, IDC_EDIT5, L"6553699");
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { result = runConnectionDialog(window); });
    EXPECT_EQ(result, IDC_DIALOG_OK);
    EXPECT_EQ(AppState.mode, ConnectionMode::Client);
    EXPECT_EQ(AppState.ip[0], 123);
    EXPECT_EQ(AppState.ip[1], 0);
    EXPECT_EQ(AppState.ip[2], 300);  // stored as typed
    EXPECT_EQ(AppState.ip[3], 7);
    EXPECT_EQ(AppState.port, 65536);
    EXPECT_EQ(AppState.peerHostNameA[0], 0);
    EXPECT_EQ(AppState.peerHostName[0], 0);
}

TEST_F(SettingsDialogs, CancelAndTitleBarCloseChangeNothing)
{
    const int closers[2] = {IDC_DIALOG_CANCEL, 0};
    const INT_PTR results[2] = {IDC_DIALOG_CANCEL, 1};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "cancel" : "title bar");
        static AppStateRecord before;  // too large for the stack
        before = AppState;
        INT_PTR result = 0;
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, L"Socket Setting", 5000);
                ASSERT_NE(dialog, nullptr);
                clickButton(dialog, IDC_CLIENT_RADIO);
                setControlText(dialog, IDC_EDIT1, L"10");
                setControlText(dialog, IDC_EDIT5, L"99");
                if (closers[round] != 0)
                    clickButton(dialog, closers[round]);
                else
                    SendMessageW(dialog, WM_CLOSE, 0, 0);
                EXPECT_TRUE(waitGone(dialog, 3000));
            },
            [&] { result = runConnectionDialog(window); });
        EXPECT_EQ(result, results[round]);
        EXPECT_EQ(AppState.mode, before.mode);
        EXPECT_EQ(memcmp(AppState.ip, before.ip, sizeof(before.ip)), 0);
        EXPECT_EQ(AppState.port, before.port);
        EXPECT_STREQ(AppState.peerHostNameA, "oldhost");
    }
}

TEST_F(SettingsDialogs, ClientModeOpensWithTheAddressEditsEnabled)
{
    AppState.mode = ConnectionMode::Client;
    wcscpy(AppState.ownFingerprint, L"AB12-CD34-EF56-7890");
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, L"Socket Setting", 5000);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(controlText(dialog, IDC_OWN_FINGERPRINT), L"このマシンの指紋：\r\nAB12-CD34-EF56-7890");
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_CLIENT_RADIO), BST_CHECKED);
            for (int id : AddressEdits)
                EXPECT_TRUE(controlEnabled(dialog, id)) << id;
            clickButton(dialog, IDC_DIALOG_OK);
        },
        [&] { runConnectionDialog(window); });
    EXPECT_EQ(AppState.mode, ConnectionMode::Client);
    EXPECT_EQ(AppState.ip[0], 192);
    EXPECT_EQ(AppState.port, 1050);
}

std::wstring listText(HWND list, int item, int column)
{
    wchar_t text[64] = {};
    LVITEMW line = {};
    line.iSubItem = column;
    line.pszText = text;
    line.cchTextMax = 63;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&line));
    return text;
}

// The line of the list for this address and port; -1 when none.
int lineOf(HWND list, const std::wstring &address, int port)
{
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int item = 0; item < count; item++)
        if (listText(list, item, 1) == address && listText(list, item, 2) == std::to_wstring(port))
            return item;
    return -1;
}

// A server that answers one question, and only when told: by then the dialog must still be searching.
struct LateServer {
    SOCKET socket = INVALID_SOCKET;
    int port = 0;
    sockaddr_in asker = {};
    uint32_t nonce = 0;

    bool open() { return (socket = datagramLoopback(&port)) != INVALID_SOCKET; }
    bool heardQuestion()
    {
        unsigned char question[SearchQuestionBytes];
        int round = 0;
        return receiveWithin(socket, reinterpret_cast<char *>(question), sizeof(question), 5000, &asker) ==
                   SearchQuestionBytes &&
               parseSearchQuestion(question, SearchQuestionBytes, &nonce, &round);
    }
    void answer(const wchar_t *fingerprint)
    {
        SearchAnswer said = {};
        said.nonce = nonce;
        said.port = port;
        wcscpy(said.hostName, L"事務所-PC");
        wcscpy(said.fingerprint, fingerprint);
        unsigned char bytes[SearchAnswerMaxBytes];
        int length = buildSearchAnswer(bytes, sizeof(bytes), said);
        sendto(socket, reinterpret_cast<char *>(bytes), length, 0, reinterpret_cast<sockaddr *>(&asker), sizeof(asker));
    }
};

TEST_F(SettingsDialogs, ASearchListsTheServerAndChoosingItFillsTheAddressAndThePort)
{
    // A server of this process answers on the port the dialog shows, under its own key, which is paired; a machine
    // reached before does not answer; the paired machine is listed before any search at its last address; another
    // server, not paired, answers while the dialog is searching.
    searchLoopbackOnly = true;
    std::wstring folder = makeTempFolder(L"pwsearch");
    wcsncpy(AppState.startFolder, folder.c_str(), COUNTOF(AppState.startFolder) - 1);
    reloadPairedMachines();
    ASSERT_TRUE(loadIdentity());
    ASSERT_TRUE(rememberPairedMachine(identityPublicKey(), L"事務所-PC", L"127.0.0.8"));
    int port = 0;
    SOCKET listener = listenLoopback(&port);
    ASSERT_TRUE(startSearchAnswerer(listener));
    LateServer late;
    ASSERT_TRUE(late.open());
    AppState.port = port;
    AppState.recentServers[0] = {L"127.0.0.9", 1234};
    AppState.recentServers[1] = {L"127.0.0.1", late.port};
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, L"Socket Setting", 5000);
            ASSERT_NE(dialog, nullptr);
            HWND list = GetDlgItem(dialog, IDC_SERVER_LIST);
            EXPECT_EQ(lineOf(list, L"127.0.0.9", 1234), 0);
            EXPECT_EQ(listText(list, 0, 3), L"前回接続");
            int paired = lineOf(list, L"127.0.0.8", port);
            ASSERT_GE(paired, 0);
            EXPECT_EQ(listText(list, paired, 0), L"事務所-PC");
            clickButton(dialog, IDC_SEARCH_BUTTON);
            EXPECT_FALSE(controlEnabled(dialog, IDC_SEARCH_BUTTON));
            ASSERT_TRUE(late.heardQuestion());
            late.answer(L"0000-1111-2222-3333");
            ASSERT_TRUE(pumpUntil([&] { return controlEnabled(dialog, IDC_SEARCH_BUTTON); }, 10000));
            int line = lineOf(list, L"127.0.0.1", port);
            ASSERT_GT(line, 0);
            EXPECT_EQ(listText(list, line, 3), L"ペア済み");
            int answeredLate = lineOf(list, L"127.0.0.1", late.port);
            EXPECT_EQ(listText(list, answeredLate, 0), L"事務所-PC");
            EXPECT_EQ(listText(list, answeredLate, 3), L"未ペア");
            EXPECT_EQ(listText(list, lineOf(list, L"127.0.0.9", 1234), 3), L"応答なし (前回接続)");
            EXPECT_EQ(listText(list, paired, 3), L"応答なし (前回接続)");
            EXPECT_NE(controlText(dialog, IDC_SEARCH_STATUS).find(L"2 台のサーバが応答しました"), std::wstring::npos);

            setControlText(dialog, IDC_EDIT5, L"1");
            LVITEMW select = {};
            select.stateMask = LVIS_SELECTED;
            select.state = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(&select));
            const wchar_t *address[4] = {L"127", L"0", L"0", L"1"};
            for (int i = 0; i < 4; i++) {
                EXPECT_EQ(controlText(dialog, AddressEdits[i]), address[i]);
                EXPECT_TRUE(controlEnabled(dialog, AddressEdits[i]));
            }
            EXPECT_EQ(controlText(dialog, IDC_EDIT5), std::to_wstring(port));
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { runConnectionDialog(window); });
    stopSearchAnswerer();
    closesocket(listener);
    closesocket(late.socket);
    searchLoopbackOnly = false;
    memset(AppState.startFolder, 0, sizeof(AppState.startFolder));
    reloadPairedMachines();
    removeTree(folder);
    EXPECT_EQ(AppState.mode, ConnectionMode::Client);
    const int32_t loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(memcmp(AppState.ip, loopback, sizeof(loopback)), 0);
    EXPECT_EQ(AppState.port, port);
}

TEST_F(SettingsDialogs, EnvironmentCheckBoxSwitchesTheMonitorsOnlyOnOk)
{
    struct Round {
        int32_t before;
        bool toggle;
        int button;  // 0: title-bar close
        int32_t after;
    };
    const Round rounds[] = {{0, true, IDC_DIALOG_CANCEL, 0}, {0, true, IDC_DIALOG_OK, 1}, {1, false, IDC_DIALOG_OK, 1},
                            {1, true, 0, 1},         {1, true, IDC_DIALOG_OK, 0}};
    for (const Round &round : rounds) {
        SCOPED_TRACE(testing::Message() << round.before << " toggle " << round.toggle << " button " << round.button);
        AppState.monitorOn = round.before;
        INT_PTR result = 0;
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, L"環境設定", 5000);
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_MONITOR_CHECK),
                          round.before ? BST_CHECKED : BST_UNCHECKED);
                if (round.toggle)
                    clickButton(dialog, IDC_MONITOR_CHECK);
                if (round.button != 0)
                    clickButton(dialog, round.button);
                else
                    SendMessageW(dialog, WM_CLOSE, 0, 0);
                EXPECT_TRUE(waitGone(dialog, 3000));
            },
            [&] { result = runEnvironmentDialog(window); });
        EXPECT_EQ(result, 1);
        EXPECT_EQ(AppState.monitorOn, round.after);
    }
}

// Each static text of a dialog, and whether its font draws it whole inside the control.
std::vector<std::pair<std::wstring, bool>> staticTexts(HWND dialog)
{
    std::vector<std::pair<std::wstring, bool>> texts;
    for (HWND control = FindWindowExW(dialog, nullptr, L"Static", nullptr); control != nullptr;
         control = FindWindowExW(dialog, control, L"Static", nullptr)) {
        std::wstring text = windowText(control);
        HDC dc = GetDC(control);
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
        SIZE extent = {};
        RECT client = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        ReleaseDC(control, dc);
        GetClientRect(control, &client);
        texts.emplace_back(text, extent.cx <= client.right);
    }
    return texts;
}

TEST_F(SettingsDialogs, AboutBoxIsModelessShowsItsPictureAndEachUseOpensOneMore)
{
    wcscpy(AppState.ownFingerprint, L"AB12-CD34-EF56-7890");
    HWND first = openAboutBox(window);
    AppState.ownFingerprint[0] = 0;
    HWND second = openAboutBox(window);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(controlText(first, IDC_OWN_FINGERPRINT), L"このマシンの指紋：\r\nAB12-CD34-EF56-7890");
    EXPECT_EQ(controlText(second, IDC_OWN_FINGERPRINT), L"このマシンの指紋：\r\n（まだありません）");
    EXPECT_NE(first, second);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(GetWindow(first, GW_OWNER), window);
    EXPECT_TRUE(boxTexts().empty());
    serveMessages();

    // The release's number, and every line whole.
    std::vector<std::pair<std::wstring, bool>> texts = staticTexts(first);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(narrow(texts[1].first), "Version " PW_VERSION_TEXT);
    for (const auto &text : texts)
        EXPECT_TRUE(text.second) << narrow(text.first) << " is cut";

    // The picture's top left corner is drawn at (40, 0) of the client area, in the bitmap's own colour.
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_ABOUT),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    COLORREF want = GetPixel(memory, 10, 10);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
    // Centred along the top, its own size at 96 DPI.
    RECT place = {};
    aboutPicturePlace(second, &place);
    RECT client = {};
    GetClientRect(second, &client);
    EXPECT_EQ(place.left, (client.right - 128) / 2);
    EXPECT_EQ(place.right - place.left, 128);
    RedrawWindow(second, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(second);
    EXPECT_EQ(GetPixel(dc, place.left + 10, 10), want);
    ReleaseDC(second, dc);

    // Closing one leaves the other with its picture.
    clickButton(first, IDC_DIALOG_OK);
    serveMessages();
    EXPECT_FALSE(IsWindow(first));
    RedrawWindow(second, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    dc = GetDC(second);
    EXPECT_EQ(GetPixel(dc, place.left + 10, 10), want);
    ReleaseDC(second, dc);
    SendMessageW(second, WM_CLOSE, 0, 0);
    serveMessages();
    EXPECT_FALSE(IsWindow(second));
    EXPECT_TRUE(boxTexts().empty());
}

}  // namespace

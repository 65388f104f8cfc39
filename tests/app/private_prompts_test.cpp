// private_prompts_test.cpp: the private link's questions as the network thread asks them of the main window:
// the answers that reach the core, the boxes that tell the user, and the link's kind in the status bar.
#include "app/status_bar.h"
#include "core/paired_machines.h"
#include "core/private_link.h"
#include "core/ui_ops.h"
#include "dialogs/classic_peer_dialog.h"
#include "dialogs/pairing_dialog.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"
#include "tests/app/main_window_harness.h"
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

class PrivatePrompts : public ::testing::Test {
protected:
    void SetUp() override
    {
        recordBoxes(IDOK);
        folder = makeTempFolder(L"pwpriv");
        ASSERT_FALSE(folder.empty());
        window = startMainWindow(folder);
        ASSERT_NE(window, nullptr);
        AppState.linkOpen = 1;
        takePairingAnswer();
        takeClassicPeerAnswer(nullptr);
    }
    void TearDown() override
    {
        AppState.linkOpen = 0;
        stopMainWindow(window);
        leaveAndRemoveFolder(folder);
    }

    std::wstring folder;
    HWND window = nullptr;
};

// Runs ask on a thread of its own, as the network thread would, and returns the question it brought up.
#define askFromNetwork(...) askFromNetworkAt(HERE, __VA_ARGS__)
HWND askFromNetworkAt(Caller at, HWND (*question)(), const std::function<void()> &ask)
{
    TRACE_CALLER(at);
    std::thread network(ask);
    network.join();
    EXPECT_TRUE(pumpUntil([&] { return question() != nullptr; }, 5000)) << "no question came up";
    return question();
}

bool goneWhilePumping(HWND question)
{
    return pumpUntil([&] { return !IsWindow(question); }, 5000);
}

TEST_F(PrivatePrompts, PairingYesWaitsForThePeerNoEndsQuietlyAndALinkThatGivesUpTellsTheUser)
{
    HWND question = askFromNetwork(pairingDialogWindow,
                                   [] { askPairing(L"482 913", L"peer-pc", L"AB12-CD34-EF56-7890"); });
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(GetWindow(question, GW_OWNER), window);
    EXPECT_EQ(controlText(question, IDC_PAIRING_CODE), L"482 913");
    EXPECT_EQ(controlText(question, IDC_PAIRING_PEER), L"相手：peer-pc\r\n指紋：AB12-CD34-EF56-7890");
    EXPECT_EQ(controlText(question, IDC_PAIRING_COUNTDOWN), L"残り 60 秒");
    EXPECT_EQ(GetWindowLongW(GetDlgItem(question, IDNO), GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON)
        << "Enter alone never admits a machine";
    EXPECT_EQ(takePairingAnswer(), UserAnswer::None);

    clickButton(question, IDYES);
    EXPECT_EQ(takePairingAnswer(), UserAnswer::Yes);
    EXPECT_FALSE(controlEnabled(question, IDYES));
    EXPECT_FALSE(controlEnabled(question, IDNO));
    EXPECT_NE(controlText(question, IDC_PAIRING_COUNTDOWN).find(L"相手側の答えを待っています"), std::wstring::npos);
    pumpFor(700);
    EXPECT_TRUE(IsWindow(question)) << "the peer's user has not answered yet";
    AppState.linkKind = LinkKind::Private;
    EXPECT_TRUE(goneWhilePumping(question)) << "both said yes";
    EXPECT_TRUE(recordedBoxes().empty());

    AppState.linkKind = LinkKind::None;
    question = askFromNetwork(pairingDialogWindow, [] { askPairing(L"111 222", L"peer-pc", L"AB12"); });
    clickButton(question, IDNO);
    EXPECT_EQ(takePairingAnswer(), UserAnswer::No);
    EXPECT_FALSE(IsWindow(question));
    EXPECT_TRUE(recordedBoxes().empty()) << "the user's own no needs no telling";

    question = askFromNetwork(pairingDialogWindow, [] { askPairing(L"333 444", L"peer-pc", L"AB12"); });
    std::thread network(endPairingQuestion);
    network.join();
    EXPECT_TRUE(goneWhilePumping(question));
    EXPECT_EQ(takePairingAnswer(), UserAnswer::None);
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(recordedBoxes()[0].caption, L"ペアリングの確認");
    EXPECT_NE(recordedBoxes()[0].text.find(L"ペアリングできませんでした"), std::wstring::npos);
    EXPECT_EQ(recordedBoxes()[0].owner, window);
}

TEST_F(PrivatePrompts, PairingLeftUnansweredSaysNoAndALinkThatClosesTakesTheQuestionAway)
{
    HWND question = openPairingDialog(window, L"555 666", L"peer-pc", L"AB12", 1);
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(goneWhilePumping(question));
    EXPECT_EQ(takePairingAnswer(), UserAnswer::No);
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_NE(recordedBoxes()[0].text.find(L"時間内に答えがなかった"), std::wstring::npos);

    clearRecordedBoxes();
    question = openPairingDialog(window, L"777 888", L"peer-pc", L"AB12", PairingSeconds);
    AppState.linkOpen = 0;
    EXPECT_TRUE(goneWhilePumping(question));
    EXPECT_EQ(takePairingAnswer(), UserAnswer::None) << "nobody waits for an answer any more";
    EXPECT_EQ(recordedBoxes().size(), 1u);
}

TEST_F(PrivatePrompts, ClassicPeerIsAskedAboutInBothRolesWithItsAddressAndTheAnswerMayBeKept)
{
    AppState.mode = ConnectionMode::Server;
    HWND question = askFromNetwork(classicPeerDialogWindow, [] { askClassicPeer(L"127.0.0.9"); });
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(controlText(question, IDC_CLASSIC_QUESTION),
              L"127.0.0.9 から古い方式（暗号化なし）で接続されました。許可しますか？");
    EXPECT_EQ(takeClassicPeerAnswer(nullptr), UserAnswer::None);
    clickButton(question, IDC_CLASSIC_REMEMBER);
    clickButton(question, IDYES);
    bool remember = false;
    EXPECT_EQ(takeClassicPeerAnswer(&remember), UserAnswer::Yes);
    EXPECT_TRUE(remember);
    EXPECT_FALSE(IsWindow(question));

    AppState.mode = ConnectionMode::Client;
    question = askFromNetwork(classicPeerDialogWindow, [] { askClassicPeer(L"10.1.2.3"); });
    EXPECT_EQ(controlText(question, IDC_CLASSIC_QUESTION),
              L"10.1.2.3 のサーバは古い方式（暗号化なし）です。このまま接続しますか？");
    SendMessageW(question, WM_CLOSE, 0, 0);
    EXPECT_EQ(takeClassicPeerAnswer(&remember), UserAnswer::No);
    EXPECT_FALSE(remember);

    question = askFromNetwork(classicPeerDialogWindow, [] { askClassicPeer(L"10.1.2.3"); });
    AppState.linkOpen = 0;
    EXPECT_TRUE(goneWhilePumping(question));
    EXPECT_EQ(takeClassicPeerAnswer(nullptr), UserAnswer::None);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(PrivatePrompts, ChangedKeyIsALoudWarningNamingTheMachine)
{
    std::thread network([] { warnKeyChanged(L"peer-pc", L"127.0.0.5"); });
    network.join();
    ASSERT_TRUE(pumpUntil([] { return !recordedBoxes().empty(); }, 5000));
    RecordedBox box = recordedBoxes()[0];
    EXPECT_EQ(box.owner, window);
    EXPECT_EQ(box.caption, L"警告：相手の鍵が違います");
    EXPECT_EQ(box.flags, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(box.text.find(L"peer-pc（127.0.0.5）の鍵が"), 0u) << narrow(box.text);
    EXPECT_NE(box.text.find(L"なりすまし"), std::wstring::npos);
    EXPECT_NE(box.text.find(L"もう一度ペアリング"), std::wstring::npos);
}

TEST_F(PrivatePrompts, StatusBarSaysWhatKindOfLinkIsOpen)
{
    saveSettings();  // past the first start, whose part says where the link is set up
    wcscpy(AppState.peerHostName, L"[127,0,0,1]");
    wcscpy(AppState.peerFingerprint, L"AB12-CD34-EF56-7890");
    AppState.linkKind = LinkKind::Private;
    refreshStatus();
    EXPECT_EQ(statusPart(4), L"暗号化:[127,0,0,1]（AB12-CD34）") << "no name from the handshake";
    wcscpy(AppState.peerMachineName, L"peer-pc");
    refreshStatus();
    EXPECT_EQ(statusPart(4), L"暗号化:peer-pc（AB12-CD34）");
    AppState.linkKind = LinkKind::Fast;
    refreshStatus();
    EXPECT_EQ(statusPart(4), L"高速（暗号化なし）");
    AppState.linkKind = LinkKind::Classic;
    AppState.servedReadOnly = 1;
    refreshStatus();
    EXPECT_EQ(statusPart(4), L"古い方式（暗号化なし）　公開:全体 読取のみ");
    AppState.linkOpen = 0;
    refreshStatus();
    EXPECT_EQ(statusPart(4), L"公開:全体 読取のみ") << "no link, no kind";
}

TEST_F(PrivatePrompts, PairedMachinesOpenFromTheMenuAndForgettingNeedsAChoice)
{
    AppState.linkOpen = 0;
    std::vector<std::wstring> headers;
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, L"ペアリング済みのマシン", 5000);
            ASSERT_NE(dialog, nullptr);
            HWND header = reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, IDC_PAIRED_LIST, LVM_GETHEADER, 0, 0));
            for (int i = 0; i < 4; i++) {
                wchar_t text[32] = {};
                HDITEMW item = {};
                item.mask = HDI_TEXT;
                item.pszText = text;
                item.cchTextMax = 31;
                SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
                headers.push_back(text);
            }
            clickButton(dialog, IDC_PAIRED_FORGET);
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { SendMessageW(window, WM_COMMAND, IDM_PAIRED_MACHINES, 0); });
    EXPECT_EQ(headers, (std::vector<std::wstring>{L"名前", L"アドレス", L"指紋", L"ペアリング日時"}));
    ASSERT_EQ(recordedBoxes().size(), 1u);
    EXPECT_EQ(recordedBoxes()[0].text, L"削除するマシンを一覧から選んで下さい。");
}

}  // namespace

// copy_command_test.cpp: the copy command's checks and loop, the copy dialog's buttons and timers and the
// request it sends, the peer played by the test over a loopback socket (no network thread runs here: the
// test ends each transfer by putting the state back to Waiting, as the engine would).
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "core/protocol_engine.h"
#include "dialogs/copy_dialog.h"
#include "dialogs/folder_dialog.h"
#include "panes/folder_navigation.h"
#include "panes/own_pane.h"
#include "panes/pane_rows.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {


TEST(CopyChecks, SizeTextsAboveTheLimitAreRefused)
{
    const wchar_t *passing[] = {L"", L"0", L"10239", L"10239K", L"953M", L"999997000", L"5x", L"12k"};
    const wchar_t *refused[] = {L"954M", L"2048M", L"10G", L"10T", L"999997001", L"976563K",
                                L"99999999999999999999999999T"};
    for (const wchar_t *text : passing)
        EXPECT_FALSE(sizeTextTooLarge(text)) << narrow(text);
    for (const wchar_t *text : refused)
        EXPECT_TRUE(sizeTextTooLarge(text)) << narrow(text);
}

TEST(CopyChecks, DriveNamesAndJoinedPaths)
{
    EXPECT_TRUE(isDriveName(L"c:\\"));
    EXPECT_FALSE(isDriveName(L"c:"));
    EXPECT_FALSE(isDriveName(L"c:\\x"));
    EXPECT_FALSE(isDriveName(L"ab\\"));

    wchar_t out[12];
    wmemset(out, L'\x2620', 12);
    EXPECT_TRUE(joinFolderName(L"C:\\", L"a.txt", out, 12));
    EXPECT_EQ(std::wstring(out), L"C:\\a.txt");
    EXPECT_TRUE(joinFolderName(L"C:\\d", L"a.txt", out, 12));
    EXPECT_EQ(std::wstring(out), L"C:\\d\\a.txt");
    // 11 characters fit a buffer of 12; 12 do not, and leave it empty.
    EXPECT_TRUE(joinFolderName(L"C:\\dd", L"a.txt", out, 12));
    EXPECT_FALSE(joinFolderName(L"C:\\ddd", L"a.txt", out, 12));
    EXPECT_EQ(out[0], 0);
}

class CopyCommand : public CopyLinkFixture {
protected:
    // Plays the engine's end of a transfer.
    static void finishTransfer() { AppState.transferState = TransferState::Waiting; }
};

TEST_F(CopyCommand, RefusedWhileAnotherExchangeRunsOrWithNothingSelected)
{
    addPaneRow(AppState.ownPane, L"a.txt", L"10");
    selectRows(AppState.ownPane, {0});
    AppState.transferState = TransferState::RequestDIR;
    runCopyCommand(window, false);
    AppState.transferState = TransferState::Waiting;
    selectRows(AppState.ownPane, {});
    runCopyCommand(window, false);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"他の動作中は出来ません"));
    EXPECT_EQ(narrow(boxes[1].text), narrow(L"項目を選んでください"));
    for (const RecordedBox &box : boxes) {
        EXPECT_EQ(narrow(box.caption), narrow(L"複写操作"));
        EXPECT_EQ(box.owner, window);
    }
    EXPECT_TRUE(silentFor(theirs, 200));
}

TEST_F(CopyCommand, FirstDialogWaitsForStartAndShowsSourceAndDestination)
{
    addPaneRow(AppState.ownPane, L"a.txt", L"10");
    selectRows(AppState.ownPane, {0});
    AppState.blockCount = 77;
    AppState.stopRequest = StopRequest::Requested;  // left from before: the dialog clears it
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(GetWindow(dialog, GW_OWNER), window);
            EXPECT_EQ(controlText(dialog, IDC_EDIT1), L"C:\\own\\a.txt");
            EXPECT_EQ(controlText(dialog, IDC_EDIT2), L"C:\\peer");
            EXPECT_FALSE(controlEnabled(dialog, IDC_EDIT1));
            EXPECT_FALSE(controlEnabled(dialog, IDC_EDIT2));
            EXPECT_EQ(controlText(dialog, IDC_STEP_COUNTER), L"Step:000000");
            EXPECT_EQ(AppState.stopRequest, StopRequest::None);
            // Nothing starts by itself in the first pass.
            EXPECT_TRUE(silentFor(theirs, 1500));
            EXPECT_TRUE(controlEnabled(dialog, IDC_START));

            clickButton(dialog, IDC_START);
            EXPECT_EQ(receiveMessage(theirs), "FDC:\\peer\\a.txt");
            EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
            EXPECT_EQ(std::wstring(AppState.sendSourcePath), L"C:\\own\\a.txt");
            EXPECT_EQ(AppState.blockCount, 0);
            EXPECT_FALSE(controlEnabled(dialog, IDC_START));
            EXPECT_FALSE(controlEnabled(dialog, IDC_CLOSE));

            // Close during the transfer is refused by a box owned by the dialog.
            SendMessageW(dialog, WM_COMMAND, IDC_CLOSE, 0);
            EXPECT_TRUE(IsWindowVisible(dialog));
            std::vector<RecordedBox> boxes = recordedBoxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(narrow(boxes[0].text), narrow(L"転送中は操作不可！"));
            EXPECT_EQ(narrow(boxes[0].caption), narrow(L"画面閉じる"));
            EXPECT_EQ(boxes[0].owner, window);
            // Esc does nothing.
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            EXPECT_TRUE(IsWindowVisible(dialog));

            AppState.blockCount = 3;
            EXPECT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_STEP_COUNTER) == L"Step:000003"; }, 2000));
            finishTransfer();
            EXPECT_TRUE(waitGone(dialog, 2500));
        },
        [&] { runCopyCommand(window, false); });
    // The peer pane is asked for again after the loop.
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
    EXPECT_EQ(AppState.transferState, TransferState::CallDIR);
    EXPECT_TRUE(selectedRows(AppState.ownPane).empty());
    EXPECT_EQ(AppState.copyDialogClosed, 0);
}

TEST_F(CopyCommand, PullSendsTheSourceAndKeepsTheLocalTarget)
{
    addPaneRow(AppState.peerPane, L"b.bin", L"12K");
    selectRows(AppState.peerPane, {0});
    AppState.blockCount = 41;
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            expectCentredOn(dialog, window);
            EXPECT_EQ(controlText(dialog, IDC_EDIT1), L"C:\\peer\\b.bin");
            EXPECT_EQ(controlText(dialog, IDC_EDIT2), L"C:\\own");
            clickButton(dialog, IDC_START);
            EXPECT_EQ(receiveMessage(theirs), "FCC:\\peer\\b.bin");
            EXPECT_EQ(AppState.transferState, TransferState::CallCopyFrom);
            EXPECT_STREQ(AppState.pullTargetA, "C:\\own\\b.bin");
            EXPECT_EQ(AppState.blockCount, 41);
            // Stop on a pull is for the engine to act on; it must not linger after the dialog.
            clickButton(dialog, IDC_STOP);
            EXPECT_EQ(AppState.stopRequest, StopRequest::Requested);
            EXPECT_TRUE(pumpUntil([&] { return !controlText(dialog, IDC_COPY_PROGRESS).empty(); }, 2000));
            EXPECT_EQ(controlText(dialog, IDC_STEP_COUNTER), L"Step:000000");
            finishTransfer();
            EXPECT_TRUE(waitGone(dialog, 2500));
        },
        [&] { runCopyCommand(window, true); });
    EXPECT_EQ(AppState.stopRequest, StopRequest::None);
    EXPECT_TRUE(silentFor(theirs, 200));  // the own pane is listed again, nothing is asked of the peer
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

TEST_F(CopyCommand, DriveAndOversizedItemsAreRefusedAndLaterPassesStartByThemselves)
{
    addPaneRow(AppState.ownPane, L"d:\\", L"");
    addPaneRow(AppState.ownPane, L"big.iso", L"954M");
    addPaneRow(AppState.ownPane, L"fits.iso", L"953M");
    addPaneRow(AppState.ownPane, L"not selected", L"1");
    selectRows(AppState.ownPane, {0, 1, 2});
    driveWhile(
        [&](DWORD ui) {
            // The third pass opens the only dialog, which starts itself.
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(controlText(dialog, IDC_EDIT1), L"C:\\own\\fits.iso");
            EXPECT_EQ(receiveMessage(theirs, 3000), "FDC:\\peer\\fits.iso");
            EXPECT_FALSE(controlEnabled(dialog, IDC_START));
            finishTransfer();
            EXPECT_TRUE(waitGone(dialog, 2500));
        },
        [&] { runCopyCommand(window, false); });
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"ドライブは選べません"));
    EXPECT_EQ(narrow(boxes[0].caption), narrow(L"複写操作"));
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_EQ(narrow(boxes[1].text), narrow(L"953Mbyteは出来ません"));
    EXPECT_EQ(narrow(boxes[1].caption), narrow(L"サイズ越え"));
    EXPECT_EQ(boxes[1].owner, window);
    EXPECT_TRUE(selectedRows(AppState.ownPane).empty());
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
}

TEST_F(CopyCommand, TitleBarCloseDuringATransferEndsTheLoopWithoutRefresh)
{
    addPaneRow(AppState.ownPane, L"one", L"1");
    addPaneRow(AppState.ownPane, L"two", L"1");
    addPaneRow(AppState.peerPane, L"a", L"1");
    selectRows(AppState.ownPane, {0, 1});
    driveWhile(
        [&](DWORD ui) {
            HWND first = nextDialog(ui);
            ASSERT_NE(first, nullptr);
            clickButton(first, IDC_START);
            EXPECT_EQ(receiveMessage(theirs), "FDC:\\peer\\one");
            clickButton(first, IDC_STOP);
            SendMessageW(first, WM_CLOSE, 0, 0);
            ASSERT_TRUE(waitGone(first, 2500));
            EXPECT_EQ(nextDialog(ui, 1500), nullptr);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
    // The push still runs: its stop stays for the engine to send at the next ACK.
    EXPECT_EQ(AppState.stopRequest, StopRequest::Requested);
    EXPECT_TRUE(silentFor(theirs, 300));
    EXPECT_TRUE(selectedRows(AppState.ownPane).empty());
}

TEST_F(CopyCommand, TooLongPathsAreRefusedBeforeAnythingIsSent)
{
    // 250 + 1 + 12 characters: the destination path no longer fits the request.
    std::wstring peer = L"C:\\" + std::wstring(247, L'p');
    wcscpy(AppState.peerFolder, peer.c_str());
    for (int fromPeer = 0; fromPeer < 2; ++fromPeer) {
        SCOPED_TRACE(fromPeer ? "pull" : "push");
        HWND pane = fromPeer ? AppState.peerPane : AppState.ownPane;
        addPaneRow(pane, L"longname.txt", L"1");
        selectRows(pane, {0});
        clearRecordedBoxes();
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = nextDialog(ui);
                ASSERT_NE(dialog, nullptr);
                clickButton(dialog, IDC_START);
                // Refused: the state stays Waiting and the dialog ends by itself.
                EXPECT_EQ(AppState.transferState, TransferState::Waiting);
                EXPECT_TRUE(waitGone(dialog, 2500));
            },
            [&] { runCopyCommand(window, fromPeer != 0); });
        std::vector<RecordedBox> boxes = recordedBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(narrow(boxes[0].text), narrow(L"パスが長すぎるため複写できません"));
        EXPECT_EQ(narrow(boxes[0].caption), narrow(L"複写操作"));
        EXPECT_EQ(AppState.sendSourcePath[0], 0);
        EXPECT_EQ(AppState.pullTargetA[0], 0);
        if (!fromPeer) {
            EXPECT_EQ(receiveMessage(theirs), "DD" + narrow(peer));
            AppState.transferState = TransferState::Waiting;
        }
        EXPECT_TRUE(silentFor(theirs, 200));
    }
}

const wchar_t OverwriteTitle[] = L"上書き確認";

#define endPush(...) endPushAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// Plays the peer's side of one push: the request arrives, then the engine ends the exchange with outcome.
void endPushAt(Caller at, SOCKET theirs, const std::string &request, TransferOutcome outcome)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(request);
    EXPECT_EQ(receiveMessage(theirs), request);
    EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
    endExchange(outcome);
}

TEST_F(CopyCommand, EachFileEndsOnItsOutcomeAndAMixedResultEndsInOneSummary)
{
    // An unfinished receive is named and never sent; Stop leaves the rows after it, and they are named too.
    const wchar_t *names[] = {L"_.$TEMP", L"a", L"b", L"r", L"c", L"d", L"e"};
    for (const wchar_t *name : names)
        addPaneRow(AppState.ownPane, name, L"1");
    selectRows(AppState.ownPane, {0, 1, 2, 3, 4, 5, 6});
    driveWhile(
        [&](DWORD ui) {
            HWND first = nextDialog(ui);
            ASSERT_NE(first, nullptr);
            clickButton(first, IDC_START);
            // Each end is told at once: the next request follows without a wait.
            endPush(theirs, "FDC:\\peer\\a", TransferOutcome::Done);
            endPush(theirs, "FDC:\\peer\\b", TransferOutcome::Refused);
            // The fast link's refusal says why.
            AppState.endReason = FastReason::ReadOnly;
            endPush(theirs, "FDC:\\peer\\r", TransferOutcome::Refused);
            endPush(theirs, "FDC:\\peer\\c", TransferOutcome::Failed);
            // d's request has gone, so c's dialog is gone: Stop there would stop the command before d.
            EXPECT_EQ(receiveMessage(theirs), "FDC:\\peer\\d");
            HWND last = nextDialog(ui);
            ASSERT_NE(last, nullptr);
            clickButton(last, IDC_STOP);
            endExchange(TransferOutcome::Stopped);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_EQ(narrow(boxes[0].caption), narrow(L"複写結果"));
    EXPECT_EQ(narrow(boxes[0].text),
              narrow(L"複写の結果\r\n完了: 1 件\r\n停止: 1 件\r\n相手側が拒否: 2 件\r\n失敗: 2 件\r\n"
                     L"中止したため複写していません: 1 件\r\n届かなかったもの:\r\n  _.$TEMP（受信途中の一時ファイルです）\r\n"
                     L"  b（相手側が拒否）\r\n  r（相手側は読み取り専用で公開しています）\r\n  c（失敗）\r\n  d（停止）\r\n  e（複写していません）\r\n"
                     L"停止しました: 1 件は複写済み、6 件は複写していません。途中までの分は消したので、次は最初から複写します\r\n"));
    EXPECT_EQ(AppState.copyDialog, nullptr);
}

TEST_F(CopyCommand, TheOverwriteAnswersHoldForTheRestOfTheCommand)
{
    const wchar_t *names[] = {L"a", L"b", L"c", L"d"};
    for (const wchar_t *name : names) {
        addPaneRow(AppState.ownPane, name, L"1");
        addPaneRow(AppState.peerPane, name, L"1");
    }
    selectRows(AppState.ownPane, {0, 1, 2, 3});
    auto answer = [&](DWORD ui, int button) {
        HWND question = waitForDialog(ui, OverwriteTitle, 5000);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(GetWindow(question, GW_OWNER), window);
        expectCentredOn(question, window);
        clickButton(question, button);
        EXPECT_TRUE(waitGone(question, 2000));
    };
    driveWhile(
        [&](DWORD ui) {
            answer(ui, IDC_OVERWRITE_ONE);
            HWND first = nextDialog(ui);
            ASSERT_NE(first, nullptr);
            clickButton(first, IDC_START);
            endPush(theirs, "FDC:\\peer\\a", TransferOutcome::Done);
            answer(ui, IDC_OVERWRITE_SKIP);
            answer(ui, IDC_OVERWRITE_ALL);
            endPush(theirs, "FDC:\\peer\\c", TransferOutcome::Done);
            // No question for d: all are overwritten now.
            endPush(theirs, "FDC:\\peer\\d", TransferOutcome::Done);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
    AppState.transferState = TransferState::Waiting;

    // 中止 ends the command: no dialog, no request, the question is asked again in a new command, and the summary
    // names what was not copied.
    addPaneRow(AppState.peerPane, L"a", L"1");
    selectRows(AppState.ownPane, {0, 1});
    driveWhile([&](DWORD ui) { answer(ui, IDC_OVERWRITE_CANCEL); }, [&] { runCopyCommand(window, false); });
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
    EXPECT_TRUE(selectedRows(AppState.ownPane).empty());
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"複写の結果\r\n完了: 0 件\r\n中止したため複写していません: 2 件\r\n"
                                       L"届かなかったもの:\r\n  a（複写していません）\r\n  b（複写していません）\r\n"));

    // すべてスキップ: neither is sent, and the second is not asked about.
    AppState.transferState = TransferState::Waiting;
    selectRows(AppState.ownPane, {0, 1});
    driveWhile(
        [&](DWORD ui) {
            answer(ui, IDC_OVERWRITE_SKIP_ALL);
            HWND again = waitForDialog(ui, OverwriteTitle, 1000);
            EXPECT_EQ(again, nullptr) << "asked again";
            if (again != nullptr)
                clickButton(again, IDC_OVERWRITE_CANCEL);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
    EXPECT_EQ(recordedBoxes().size(), 1u) << "both were passed over: nothing to tell";
}

// Sets a file's last write to a local time of 3 January 2020.
bool setLocalWriteTime(const std::wstring &path, int hour, int minute, int second)
{
    return setWriteTime(path, localFileTime(2020, 1, 3, hour, minute, second));
}

TEST_F(CopyCommand, TheOverwriteQuestionComparesBothFilesToTheMinuteAndEnterSkips)
{
    std::wstring own = makeTempFolder(L"pwnewer");
    wcscpy(AppState.ownFolder, own.c_str());
    // Local times against the peer rows' minutes: newer, the same minute, newer by a second, older.
    const wchar_t *names[] = {L"a", L"b", L"c", L"d"};
    const int local[4][3] = {{10, 5, 30}, {10, 5, 59}, {10, 6, 0}, {10, 0, 0}};
    const wchar_t *peerDates[] = {L"2020/01/03 10:04", L"2020/01/03 10:05", L"2020/01/03 10:05", L"2020/01/03 10:05"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(writeFileBytes(own + L"\\" + names[i], "four"));
        ASSERT_TRUE(setLocalWriteTime(own + L"\\" + names[i], local[i][0], local[i][1], local[i][2]));
        addPaneRow(AppState.ownPane, names[i], L"4");
        insertPaneRow(AppState.peerPane, -1, names[i], 8, peerDates[i], L"1");
    }
    selectRows(AppState.ownPane, {0, 1, 2, 3});
    driveWhile(
        [&](DWORD ui) {
            HWND question = waitForDialog(ui, OverwriteTitle, 5000);
            ASSERT_NE(question, nullptr);
            EXPECT_EQ(controlText(question, IDC_OVERWRITE_FACTS),
                      L"コピー元  4  2020/01/03 10:05\r\nコピー先  1  2020/01/03 10:04\r\nコピー元のほうが新しい");
            // Enter takes the focused default, Skip: nothing is sent for a.
            HWND focus = waitForFocusIn(ui, question, 2000);
            ASSERT_NE(focus, nullptr);
            PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0);
            ASSERT_TRUE(waitGone(question, 2000));
            question = waitForDialog(ui, OverwriteTitle, 5000);
            ASSERT_NE(question, nullptr);
            EXPECT_NE(controlText(question, IDC_OVERWRITE_FACTS).find(L"日時は同じです（分まで）"), std::wstring::npos);
            clickButton(question, IDC_OVERWRITE_NEWER);
            // b is not newer at the minute; c is, and starts by itself without a question; d is older.
            endPush(theirs, "FDC:\\peer\\c", TransferOutcome::Done);
            EXPECT_EQ(waitForDialog(ui, OverwriteTitle, 500), nullptr);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
    EXPECT_TRUE(recordedBoxes().empty()) << narrow(boxTexts().empty() ? L"" : boxTexts()[0]);
    removeTree(own);
}

TEST_F(CopyCommand, ProgressShowsBytesOfTheLocalSizeOrOfTheApproximatePeerSize)
{
    std::wstring own = makeTempFolder(L"pwprog");
    wcscpy(AppState.ownFolder, own.c_str());
    ASSERT_TRUE(writeFileBytes(own + L"\\half.bin", std::string(4000, 'x')));
    addPaneRow(AppState.ownPane, L"half.bin", L"4000");
    selectRows(AppState.ownPane, {0});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            clickButton(dialog, IDC_START);
            AppState.bytesDone = 2000;
            EXPECT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_COPY_PROGRESS).find(L"2.0 KB / 3.9 KB  50%") == 0; },
                                  2000))
                << narrow(controlText(dialog, IDC_COPY_PROGRESS));
            endPush(theirs, "FD" + narrow(AppState.peerFolder) + "\\half.bin", TransferOutcome::Done);
        },
        [&] { runCopyCommand(window, false); });
    receiveMessage(theirs);
    AppState.transferState = TransferState::Waiting;

    addPaneRow(AppState.peerPane, L"b.bin", L"12K");
    selectRows(AppState.peerPane, {0});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            clickButton(dialog, IDC_START);
            AppState.bytesDone = 3072;
            EXPECT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_COPY_PROGRESS).find(L"3.0 KB / 約12.0 KB  25%") == 0; },
                                  2000))
                << narrow(controlText(dialog, IDC_COPY_PROGRESS));
            endExchange(TransferOutcome::Done);
        },
        [&] { runCopyCommand(window, true); });
    receiveMessage(theirs);
    AppState.transferState = TransferState::Waiting;

    // Two files: the whole copy has the one speed; a file under one block shows none of its own.
    ASSERT_TRUE(writeFileBytes(own + L"\\tiny.txt", std::string(500, 't')));
    listOwnFolder(window);
    selectNamedRows(AppState.ownPane, {L"half.bin", L"tiny.txt"});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(controlText(dialog, IDC_COPY_WHOLE), L"");
            clickButton(dialog, IDC_START);
            AppState.bytesDone = 2000;
            EXPECT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_COPY_WHOLE).find(L"全体 0 / 2 件  2.0 KB / 4.4 KB  44%  ") == 0; },
                                  2000))
                << narrow(controlText(dialog, IDC_COPY_WHOLE));
            EXPECT_EQ(controlText(dialog, IDC_COPY_PROGRESS), L"2.0 KB / 3.9 KB  50%");
            endPush(theirs, "FD" + narrow(AppState.peerFolder) + "\\half.bin", TransferOutcome::Done);
            // tiny.txt's request has gone, so half.bin's dialog is gone and the one found is tiny.txt's.
            EXPECT_EQ(receiveMessage(theirs), "FD" + narrow(AppState.peerFolder) + "\\tiny.txt");
            dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            EXPECT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_COPY_PROGRESS) == L"0 B / 500 B  0%"; }, 2000))
                << narrow(controlText(dialog, IDC_COPY_PROGRESS));
            EXPECT_EQ(controlText(dialog, IDC_COPY_WHOLE).find(L"全体 1 / 2 件  3.9 KB / 4.4 KB  88%  "), 0u)
                << narrow(controlText(dialog, IDC_COPY_WHOLE));
            // The longest line the whole copy can show fits its place.
            wchar_t longest[160];
            formatWholeProgress(99999, 99999, 999ll << 30, 999ll << 30, true, true, 999ll << 20, 1, longest,
                                COUNTOF(longest));
            HWND line = GetDlgItem(dialog, IDC_COPY_WHOLE);
            HDC dc = GetDC(line);
            HGDIOBJ before = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(line, WM_GETFONT, 0, 0)));
            SIZE extent = {};
            GetTextExtentPoint32W(dc, longest, static_cast<int>(wcslen(longest)), &extent);
            SelectObject(dc, before);
            ReleaseDC(line, dc);
            RECT place = {};
            GetClientRect(line, &place);
            EXPECT_LE(extent.cx, place.right) << narrow(longest);
            EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
            endExchange(TransferOutcome::Done);
        },
        [&] { runCopyCommand(window, false); });
    removeTree(own);
}

// A command started from inside a running copy command (a timer of the UI thread stands in for a click that
// reached the main window) is refused.
void CALLBACK nestedCommands(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    runCopyCommand(AppState.mainWindow, false);
    runNewFolderCommand(AppState.mainWindow, false);
}

TEST_F(CopyCommand, NoCommandNestsInsideARunningCopy)
{
    addPaneRow(AppState.ownPane, L"a", L"1");
    selectRows(AppState.ownPane, {0});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            EXPECT_TRUE(pumpUntil([] { return recordedBoxes().size() == 2; }, 3000));
            clickButton(dialog, IDC_CLOSE);
        },
        [&] {
            SetTimer(nullptr, 0, 50, nestedCommands);
            runCopyCommand(window, false);
        });
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const RecordedBox &box : boxes) {
        EXPECT_EQ(narrow(box.text), narrow(L"他の動作中は出来ません"));
        EXPECT_EQ(box.owner, window);
    }
}

}  // namespace

// copy_request_guard_test.cpp: what the copy dialog does when its request cannot go out as planned (an exchange
// the peer started meanwhile, a send that fails), and the state the command loop leaves the source rows in. The
// peer is played over a loopback socket; no network thread runs.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "dialogs/copy_dialog.h"
#include "resources/resource_ids.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {


class CopyRequestGuards : public CopyLinkFixture {};

TEST_F(CopyRequestGuards, StartWhileThePeerRunsAnExchangeSendsNothingAndKeepsItsState)
{
    addPaneRow(AppState.ownPane, L"a.txt", L"10");
    selectRows(AppState.ownPane, {0});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            // The peer began pushing a file while the dialog waited for Start.
            AppState.transferState = TransferState::RequestCopyTO;
            clickButton(dialog, IDC_START);
            EXPECT_EQ(AppState.transferState, TransferState::RequestCopyTO);
            EXPECT_EQ(AppState.sendSourcePath[0], 0);
            EXPECT_TRUE(silentFor(theirs, 300));
            std::vector<RecordedBox> boxes = recordedBoxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(narrow(boxes[0].text), narrow(L"他の動作中は出来ません"));
            EXPECT_EQ(narrow(boxes[0].caption), narrow(L"複写操作"));
            EXPECT_EQ(boxes[0].owner, window);
            // The dialog stays while the peer's exchange runs and ends by itself once it is over.
            EXPECT_FALSE(waitGone(dialog, 800));
            AppState.transferState = TransferState::Waiting;
            EXPECT_TRUE(waitGone(dialog, 2500));
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
}

TEST_F(CopyRequestGuards, AFailedSendReturnsToWaitingAndTheDialogEnds)
{
    addPaneRow(AppState.peerPane, L"b.bin", L"1");
    selectRows(AppState.peerPane, {0});
    // A socket that is no socket: every send fails at once.
    AppState.mainSocket = INVALID_SOCKET;
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            clickButton(dialog, IDC_START);
            // The request never left, so nothing would ever end CallCopyFrom.
            EXPECT_EQ(AppState.transferState, TransferState::Waiting);
            EXPECT_FALSE(recordedBoxes().empty());
            EXPECT_TRUE(waitGone(dialog, 2500));
        },
        [&] { runCopyCommand(window, true); });
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    EXPECT_TRUE(silentFor(theirs, 200));
}

TEST_F(CopyRequestGuards, EveryPassedRowLosesSelectionAndFocus)
{
    HWND pane = AppState.ownPane;
    addPaneRow(pane, L"one", L"1");
    addPaneRow(pane, L"d:\\", L"");
    addPaneRow(pane, L"big.iso", L"2048M");
    addPaneRow(pane, L"two", L"1");
    addPaneRow(pane, L"kept", L"1");
    selectRows(pane, {0, 1, 2, 3});
    ListView_SetItemState(pane, 3, LVIS_FOCUSED, LVIS_FOCUSED);
    driveWhile(
        [&](DWORD ui) {
            // Close in the first dialog: the drive and the large file are still refused, "two" is passed over
            // without a dialog.
            HWND dialog = nextDialog(ui);
            ASSERT_NE(dialog, nullptr);
            clickButton(dialog, IDC_CLOSE);
            EXPECT_TRUE(waitGone(dialog, 2500));
            EXPECT_EQ(nextDialog(ui, 1500), nullptr);
        },
        [&] { runCopyCommand(window, false); });
    // The panes are virtual list views: they keep selection and focus only.
    const UINT mask = LVIS_FOCUSED | LVIS_SELECTED;
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(ListView_GetItemState(pane, row, mask), 0u) << row;
    EXPECT_EQ(receiveMessage(theirs), "DDC:\\peer");
}

}  // namespace

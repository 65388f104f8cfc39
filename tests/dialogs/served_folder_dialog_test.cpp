// served_folder_dialog_test.cpp: the served-folder dialog from its real template, and the peer folder label
// after the peer refused a listing.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "app/status_bar.h"
#include "core/ui_ops.h"
#include "dialogs/served_folder_dialog.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

namespace {

const wchar_t ServedTitle[] = L"公開設定";

class ServedFolderDialog : public FolderWindowFixture {
protected:
    void SetUp() override
    {
        FolderWindowFixture::SetUp();
        wcscpy(AppState.startFolder, folder.c_str());
        wcscpy(AppState.servedFolder, folder.c_str());
        wcscpy(AppState.allowedPeerAddress, L"127.0.0.1");
        AppState.admission = AdmissionMode::Everyone;
    }
};

TEST_F(ServedFolderDialog, OkChecksThenWritesBackAndSavesCancelChangesNothing)
{
    INT_PTR result = 0;
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, ServedTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            expectCentredOn(dialog, window);
            EXPECT_EQ(controlText(dialog, IDC_SERVED_FOLDER_EDIT), folder);
            EXPECT_EQ(controlText(dialog, IDC_SERVED_ADDRESS_EDIT), L"127.0.0.1");
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SERVED_READONLY_CHECK), BST_UNCHECKED);
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ADMISSION_EVERYONE), BST_CHECKED);
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ADMISSION_ASK), BST_UNCHECKED);
            clickButton(dialog, IDC_ADMISSION_PAIRED_ONLY);
            setControlText(dialog, IDC_SERVED_FOLDER_EDIT, L"shared");
            clickButton(dialog, IDC_DIALOG_OK);
            setControlText(dialog, IDC_SERVED_FOLDER_EDIT, folder + L"\\missing");
            clickButton(dialog, IDC_DIALOG_OK);
            setControlText(dialog, IDC_SERVED_FOLDER_EDIT, folder + L"/.");
            setControlText(dialog, IDC_SERVED_ADDRESS_EDIT, L"127.0.0");
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_FALSE(waitGone(dialog, 100)) << "a refused setting keeps the dialog open";
            setControlText(dialog, IDC_SERVED_ADDRESS_EDIT, L"");
            clickButton(dialog, IDC_SERVED_READONLY_CHECK);
            clickButton(dialog, IDC_DIALOG_OK);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { result = runServedFolderDialog(window); });
    EXPECT_EQ(result, IDC_DIALOG_OK);
    EXPECT_EQ(recordedBoxes().size(), 3u);
    EXPECT_STREQ(AppState.servedFolder, folder.c_str()) << "kept in its normal form";
    EXPECT_EQ(AppState.servedReadOnly, 1);
    EXPECT_STREQ(AppState.allowedPeerAddress, L"");
    EXPECT_EQ(AppState.admission, AdmissionMode::PairedOnly);
    wchar_t saved[8] = {};
    GetPrivateProfileStringW(L"Parcelwight_setting", L"serve_readonly_on", L"", saved, 8,
                             (folder + L"\\Parcelwight.ini").c_str());
    EXPECT_STREQ(saved, L"1");
    wchar_t status[128] = {};
    statusPartText(4, status, COUNTOF(status));
    EXPECT_NE(std::wstring(status).find(L"読取のみ"), std::wstring::npos) << "the status bar shows the limit";

    static AppStateRecord before;  // too large for the stack
    before = AppState;
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, ServedTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            setControlText(dialog, IDC_SERVED_FOLDER_EDIT, L"");
            clickButton(dialog, IDC_SERVED_READONLY_CHECK);
            EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ADMISSION_PAIRED_ONLY), BST_CHECKED);
            clickButton(dialog, IDC_ADMISSION_EVERYONE);
            clickButton(dialog, IDC_DIALOG_CANCEL);
            EXPECT_TRUE(waitGone(dialog, 3000));
        },
        [&] { result = runServedFolderDialog(window); });
    EXPECT_EQ(result, IDC_DIALOG_CANCEL);
    EXPECT_STREQ(AppState.servedFolder, before.servedFolder);
    EXPECT_EQ(AppState.servedReadOnly, 1);
    EXPECT_EQ(AppState.admission, AdmissionMode::PairedOnly);
}

TEST_F(ServedFolderDialog, RefusedListingIsNotedOnThePeerFolderLabel)
{
    wcscpy(AppState.peerFolder, L"C:\\");
    AppState.lastOutcome = TransferOutcome::Failed;
    AppState.endedState = TransferState::CallDIR;
    exchangeEnded();
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, window, WM_PEER_LISTING_REFUSED, WM_PEER_LISTING_REFUSED, PM_REMOVE));
    AppState.lastOutcome = TransferOutcome::Refused;
    exchangeEnded();
    EXPECT_TRUE(PeekMessageW(&message, window, WM_PEER_LISTING_REFUSED, WM_PEER_LISTING_REFUSED, PM_REMOVE));

    showPeerListingRefused(window);
    std::wstring label = controlText(window, IDC_PEER_FOLDER_LABEL);
    EXPECT_EQ(label.substr(0, 3), L"C:\\");
    EXPECT_NE(label.find(L"一部"), std::wstring::npos) << narrow(label);
}

}  // namespace

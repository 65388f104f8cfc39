// own_pane_test.cpp: listing this machine's folders into the left list view and moving between them.
#include "panes/own_pane.h"

#include "core/app_state.h"
#include "panes/pane_rows.h"
#include "tests/support/test_window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#define setOwnFolder(...) setOwnFolderAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class OwnPaneTest : public FolderWindowFixture {
protected:
    void setOwnFolderAt(Caller at, const std::wstring &text)
    {
        TRACE_CALLER(at);
        ASSERT_LT(text.size(), COUNTOF(AppState.ownFolder));
        wcscpy(AppState.ownFolder, text.c_str());
    }
    // Selects the named row and double-clicks it.
    void doubleClick(const std::wstring &name)
    {
        selectNamedRows(AppState.ownPane, {name});
        if (!HasFatalFailure())
            navigateOwnPane(window);
    }
    static bool isDriveName(const std::wstring &name)
    {
        return name.size() == 3 && name[1] == L':' && name[2] == L'\\';
    }

};

// Sets the last-write time of a file from local calendar values.
static void setLocalWriteTime(const std::wstring &path, WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    ASSERT_TRUE(setWriteTime(path, localFileTime(year, month, day, hour, minute, 30)));
}

TEST_F(OwnPaneTest, ListsEntriesWithImagesDatesAndSizes)
{
    ASSERT_TRUE(writeFileBytes(folder + L"\\small.txt", std::string(10239, 'x')));
    ASSERT_TRUE(writeFileBytes(folder + L"\\big.bin", std::string(10240, 'y')));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    // What an interrupted receive left: the file is marked unfinished, the resume record is not shown.
    ASSERT_TRUE(writeFileBytes(folder + L"\\movie.$TEMP", std::string(3, 'p')));
    ASSERT_TRUE(writeFileBytes(folder + L"\\movie.$RESUME", std::string(20, 'r')));
    setLocalWriteTime(folder + L"\\small.txt", 2024, 3, 7, 9, 5);
    setOwnFolder(folder);

    listOwnFolder(window);

    std::vector<PaneRow> rows = paneRows(AppState.ownPane);
    ASSERT_EQ(rows.size(), 6u);
    ASSERT_NE(findRow(rows, L"movie.$TEMP"), nullptr);
    EXPECT_EQ(findRow(rows, L"movie.$TEMP")->size, L"受信途中 3");
    EXPECT_EQ(findRow(rows, L"movie.$RESUME"), nullptr);
    const PaneRow *small = findRow(rows, L"small.txt");
    const PaneRow *big = findRow(rows, L"big.bin");
    const PaneRow *sub = findRow(rows, L"sub");
    const PaneRow *dot = findRow(rows, L".");
    const PaneRow *dotDot = findRow(rows, L"..");
    ASSERT_TRUE(small && big && sub && dot && dotDot);
    EXPECT_EQ(small->image, 8);
    EXPECT_EQ(small->date, L"2024/03/07 09:05");
    EXPECT_EQ(small->size, L"10239");
    EXPECT_EQ(big->image, 8);
    EXPECT_EQ(big->size, L"10K");
    EXPECT_EQ(big->date.size(), 16u);
    EXPECT_EQ(sub->image, 1);
    EXPECT_EQ(sub->size, L"");
    EXPECT_EQ(sub->date.size(), 16u);
    EXPECT_EQ(dot->image, 0);
    EXPECT_EQ(dotDot->image, 0);
    EXPECT_EQ(dotDot->size, L"");
    EXPECT_EQ(controlText(window, 305), folder);

    // A second listing replaces the rows rather than adding to them.
    listOwnFolder(window);
    EXPECT_EQ(paneRows(AppState.ownPane).size(), 6u);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(OwnPaneTest, JapaneseNamesAreListedAsTheyAre)
{
    ASSERT_TRUE(writeFileBytes(folder + L"\\報告書.txt", "abc"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\日本語フォルダ").c_str(), nullptr));
    setOwnFolder(folder);
    listOwnFolder(window);
    std::vector<PaneRow> rows = paneRows(AppState.ownPane);
    const PaneRow *file = findRow(rows, L"報告書.txt");
    const PaneRow *sub = findRow(rows, L"日本語フォルダ");
    ASSERT_TRUE(file && sub);
    EXPECT_EQ(file->size, L"3");
    EXPECT_EQ(sub->image, 1);

    doubleClick(L"日本語フォルダ");
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder + L"\\日本語フォルダ");
    EXPECT_EQ(controlText(window, 305), folder + L"\\日本語フォルダ");
}

TEST_F(OwnPaneTest, DriveRootListsTheOtherDrivesFirst)
{
    for (const wchar_t *root : {L"C:\\", L"c:\\"}) {
        SCOPED_TRACE(narrow(root));
        setOwnFolder(root);
        listOwnFolder(window);
        std::vector<PaneRow> rows = paneRows(AppState.ownPane);
        size_t drives = 0;
        while (drives < rows.size() && isDriveName(rows[drives].name)) {
            EXPECT_TRUE(rows[drives].name[0] >= L'a' && rows[drives].name[0] <= L'z');
            EXPECT_GE(rows[drives].image, 2);
            EXPECT_LE(rows[drives].image, 6);
            EXPECT_EQ(rows[drives].date, L"");
            EXPECT_EQ(rows[drives].size, L"");
            drives++;
        }
        EXPECT_EQ(findRow(rows, L"c:\\"), nullptr);
        const PaneRow *z = findRow(rows, L"z:\\");
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->image, 2);
        EXPECT_GT(rows.size(), drives);  // the entries of C:\ follow
        EXPECT_EQ(controlText(window, 305), root);
    }
}

TEST_F(OwnPaneTest, FolderThatCannotBeSearchedGivesEmptyPane)
{
    setOwnFolder(folder + L"\\missing");
    listOwnFolder(window);
    EXPECT_TRUE(paneRows(AppState.ownPane).empty());
    EXPECT_EQ(controlText(window, 305), folder + L"\\missing");
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(OwnPaneTest, DoubleClickMovesIntoFoldersAndUp)
{
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(folder + L"\\sub\\inner.dat", "1"));
    setOwnFolder(folder);
    listOwnFolder(window);

    doubleClick(L"sub");
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder + L"\\sub");
    EXPECT_EQ(controlText(window, 305), folder + L"\\sub");
    EXPECT_NE(findRow(paneRows(AppState.ownPane), L"inner.dat"), nullptr);

    doubleClick(L"..");
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder);
    EXPECT_NE(findRow(paneRows(AppState.ownPane), L"sub"), nullptr);

    // "." goes up as well.
    doubleClick(L".");
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder.substr(0, folder.rfind(L'\\')));
    EXPECT_NE(paneRowOf(AppState.ownPane, folder.substr(folder.rfind(L'\\') + 1)), -1);
    EXPECT_TRUE(recordedBoxes().empty());
}

TEST_F(OwnPaneTest, UpFromFirstLevelReachesDriveRootWithDriveRows)
{
    setOwnFolder(L"C:\\windows");
    listOwnFolder(window);
    doubleClick(L"..");
    EXPECT_STREQ(AppState.ownFolder, L"C:\\");
    EXPECT_NE(findRow(paneRows(AppState.ownPane), L"z:\\"), nullptr);
    EXPECT_EQ(controlText(window, 305), L"C:\\");
}

TEST_F(OwnPaneTest, DriveRowSwitchesDrive)
{
    setOwnFolder(L"C:\\");
    listOwnFolder(window);
    doubleClick(L"z:\\");
    EXPECT_STREQ(AppState.ownFolder, L"z:\\");
    std::vector<PaneRow> rows = paneRows(AppState.ownPane);
    EXPECT_NE(findRow(rows, L"c:\\"), nullptr);
    EXPECT_EQ(findRow(rows, L"z:\\"), nullptr);
}

TEST_F(OwnPaneTest, FilesWarnAndFoldersOpenWhateverTheirNames)
{
    ASSERT_TRUE(writeFileBytes(folder + L"\\report.txt", "r"));
    ASSERT_TRUE(writeFileBytes(folder + L"\\README", "r"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\backup.old").c_str(), nullptr));
    setOwnFolder(folder);
    for (const wchar_t *name : {L"report.txt", L"README"}) {
        SCOPED_TRACE(narrow(name));
        clearRecordedBoxes();
        listOwnFolder(window);
        addPaneRow(AppState.ownPane, L"sentinel");
        doubleClick(name);
        expectOnlyBox(window, L"ファイルでフォルダではありません！", L"フォルダ移行", MB_ICONWARNING | MB_OK);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(std::wstring(AppState.ownFolder), folder);
        EXPECT_EQ(paneRowOf(AppState.ownPane, L"sentinel"), -1);  // listed again
        EXPECT_EQ(paneRows(AppState.ownPane).size(), 5u);
    }
    clearRecordedBoxes();
    doubleClick(L"backup.old");
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder + L"\\backup.old");
    EXPECT_NE(paneRowOf(AppState.ownPane, L".."), -1);
    EXPECT_TRUE(recordedBoxes().empty());
}

// Clicks a column header as the list view tells its parent.
static void clickHeader(HWND window, HWND pane, int column)
{
    NMLISTVIEW click = {};
    click.hdr.hwndFrom = pane;
    click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(pane));
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageW(window, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

TEST_F(OwnPaneTest, HeaderClicksSortFoldersFirstBothWaysAndSizesByValue)
{
    ASSERT_TRUE(writeFileBytes(folder + L"\\b.txt", std::string(2000, 'b')));
    ASSERT_TRUE(writeFileBytes(folder + L"\\a.txt", std::string(30000, 'a')));  // "29K" sorts above "2000"
    ASSERT_TRUE(writeFileBytes(folder + L"\\C.txt", "c"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\zdir").c_str(), nullptr));
    setLocalWriteTime(folder + L"\\a.txt", 2020, 1, 1, 0, 0);
    setLocalWriteTime(folder + L"\\b.txt", 2022, 1, 1, 0, 0);
    setLocalWriteTime(folder + L"\\C.txt", 2021, 1, 1, 0, 0);
    setOwnFolder(folder);
    listOwnFolder(window);
    selectNamedRows(AppState.ownPane, {L"b.txt"});

    using Names = std::vector<std::wstring>;
    clickHeader(window, AppState.ownPane, 2);
    EXPECT_EQ(paneNames(AppState.ownPane), (Names{L".", L"..", L"zdir", L"C.txt", L"b.txt", L"a.txt"}));
    clickHeader(window, AppState.ownPane, 2);
    EXPECT_EQ(paneNames(AppState.ownPane), (Names{L".", L"..", L"zdir", L"a.txt", L"b.txt", L"C.txt"}));
    clickHeader(window, AppState.ownPane, 1);
    EXPECT_EQ(paneNames(AppState.ownPane), (Names{L".", L"..", L"zdir", L"a.txt", L"C.txt", L"b.txt"}));
    clickHeader(window, AppState.ownPane, 0);
    EXPECT_EQ(paneNames(AppState.ownPane), (Names{L".", L"..", L"zdir", L"a.txt", L"b.txt", L"C.txt"}));
    // The selection follows its row, and a new listing keeps the chosen order.
    EXPECT_EQ(selectedRows(AppState.ownPane), std::vector<int>{4});
    listOwnFolder(window);
    EXPECT_EQ(paneNames(AppState.ownPane)[5], L"C.txt");

    // The peer pane has only the size texts: their units count.
    struct { const wchar_t *name, *size; } peerRows[] = {
        {L"k.bin", L"29K"}, {L"g.bin", L"1G"}, {L"b.bin", L"9000"}, {L"m.bin", L"3M"}, {L"t.bin", L"2T"}};
    for (const auto &row : peerRows)
        insertPaneRow(AppState.peerPane, -1, row.name, 8, L"", row.size);
    clickHeader(window, AppState.peerPane, 2);
    EXPECT_EQ(paneNames(AppState.peerPane), (Names{L"b.bin", L"k.bin", L"m.bin", L"g.bin", L"t.bin"}));
}

TEST_F(OwnPaneTest, DoubleClickWithoutSelectionOrRoomIsIgnored)
{
    setOwnFolder(folder);
    listOwnFolder(window);
    SetDlgItemTextW(window, 305, L"untouched");
    selectRows(AppState.ownPane, {});
    navigateOwnPane(window);
    EXPECT_EQ(std::wstring(AppState.ownFolder), folder);
    EXPECT_EQ(controlText(window, 305), L"untouched");

    // A join past 259 characters leaves folder, rows and label as they were.
    std::wstring deep = L"C:\\" + std::wstring(250, L'd');
    setOwnFolder(deep);
    clearPaneRows(AppState.ownPane);
    addPaneRow(AppState.ownPane, L"longername");
    doubleClick(L"longername");
    EXPECT_EQ(std::wstring(AppState.ownFolder), deep);
    EXPECT_EQ(controlText(window, 305), L"untouched");
    EXPECT_EQ(paneRows(AppState.ownPane).size(), 1u);

    // An empty pane does nothing at all.
    clearPaneRows(AppState.ownPane);
    navigateOwnPane(window);
    EXPECT_EQ(std::wstring(AppState.ownFolder), deep);
    EXPECT_TRUE(recordedBoxes().empty());
}

// test_panes.cpp: the stand-in main window with the program's panes and labels, and the list-view helpers of the
// window suites.
#include "tests/support/test_window.h"

#include "panes/pane_rows.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

#include <commctrl.h>

extern bool (*testWindowPanes)(HWND, UINT, WPARAM, LPARAM, LRESULT *);

static HWND createPane(HWND parent, int id, int x)
{
    HWND pane = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA,
                                x, 60, 440, 300, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleW(nullptr), nullptr);
    const wchar_t *headers[3] = {L"ファイル名", L"更新日", L"サイズ"};
    const int widths[3] = {200, 120, 80};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = widths[i];
        column.pszText = const_cast<wchar_t *>(headers[i]);
        column.iSubItem = i;
        SendMessageW(pane, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return pane;
}

HWND createTestMainWindow()
{
    InitCommonControls();
    // The panes are virtual list views: their rows come from the panes' tables, as in the real window.
    testWindowPanes = handlePaneMessage;
    HWND window = createTestWindow(true);
    AppState.instance = GetModuleHandleW(nullptr);
    AppState.mainWindow = window;
    AppState.ownPane = createPane(window, IDC_OWN_PANE, 0);
    AppState.peerPane = createPane(window, IDC_PEER_PANE, 450);
    HWND *labels[4] = {&AppState.ownHostLabel, &AppState.linkLabel, &AppState.ownFolderLabel,
                       &AppState.peerFolderLabel};
    for (int i = 0; i < 4; ++i)
        *labels[i] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, (i % 2) * 450,
                                     (i / 2) * 20, 440, 18, window,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_OWN_HOST_LABEL + i)),
                                     GetModuleHandleW(nullptr), nullptr);
    return window;
}

void destroyTestMainWindow(HWND window)
{
    DestroyWindow(window);
    AppState.mainWindow = nullptr;
    AppState.ownPane = nullptr;
    AppState.peerPane = nullptr;
    AppState.ownHostLabel = AppState.linkLabel = AppState.ownFolderLabel = AppState.peerFolderLabel = nullptr;
}

void TestWindowFixture::SetUp()
{
    resetAppState();
    recordBoxes();
    window = createTestMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(AppState.ownPane, nullptr);
    ASSERT_NE(AppState.peerPane, nullptr);
}

void TestWindowFixture::TearDown()
{
    destroyTestMainWindow(window);
}

void FolderWindowFixture::SetUp()
{
    TestWindowFixture::SetUp();
    folder = makeTempFolder(L"pwwin");
    ASSERT_FALSE(folder.empty());
}

void FolderWindowFixture::TearDown()
{
    TestWindowFixture::TearDown();
    removeTree(folder);
}

std::wstring paneCell(HWND pane, int row, int column)
{
    wchar_t text[600];
    wmemset(text, L'\x2620', 600);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 600;
    SendMessageW(pane, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    text[599] = 0;
    return text;
}

std::vector<PaneRow> paneRows(HWND pane)
{
    std::vector<PaneRow> rows;
    int count = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iImage = -99;
        SendMessageW(pane, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back(PaneRow{paneCell(pane, row, 0), paneCell(pane, row, 1), paneCell(pane, row, 2), item.iImage});
    }
    return rows;
}

const PaneRow *findRow(const std::vector<PaneRow> &rows, const std::wstring &name)
{
    for (const PaneRow &row : rows) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

void expectRowsAt(Caller at, HWND pane, const std::vector<PaneRow> &want)
{
    TRACE_CALLER(at);
    std::vector<PaneRow> rows = paneRows(pane);
    ASSERT_EQ(rows.size(), want.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i << " " << narrow(want[i].name));
        EXPECT_EQ(rows[i].name, want[i].name);
        EXPECT_EQ(rows[i].date, want[i].date);
        EXPECT_EQ(rows[i].size, want[i].size);
        EXPECT_EQ(rows[i].image, want[i].image);
    }
}

std::vector<std::wstring> paneNames(HWND pane)
{
    std::vector<std::wstring> names;
    int count = static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row)
        names.push_back(paneCell(pane, row, 0));
    return names;
}

int paneRowOf(HWND pane, const std::wstring &name)
{
    std::vector<std::wstring> names = paneNames(pane);
    for (size_t row = 0; row < names.size(); ++row) {
        if (names[row] == name)
            return static_cast<int>(row);
    }
    return -1;
}

void addPaneRow(HWND pane, const std::wstring &name, const std::wstring &size, int index)
{
    insertPaneRow(pane, index, name.c_str(), 0, L"", size.c_str());
}

void selectRows(HWND pane, const std::vector<int> &rows)
{
    ListView_SetItemState(pane, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int row : rows)
        ListView_SetItemState(pane, row, LVIS_SELECTED, LVIS_SELECTED);
}

void selectNamedRowsAt(Caller at, HWND pane, const std::vector<std::wstring> &names)
{
    TRACE_CALLER(at);
    std::vector<int> rows;
    for (const std::wstring &name : names) {
        int row = paneRowOf(pane, name);
        ASSERT_NE(row, -1) << narrow(name);
        rows.push_back(row);
    }
    selectRows(pane, rows);
}

std::vector<int> selectedRows(HWND pane)
{
    std::vector<int> rows;
    for (int row = ListView_GetNextItem(pane, -1, LVNI_SELECTED); row != -1;
         row = ListView_GetNextItem(pane, row, LVNI_SELECTED))
        rows.push_back(row);
    return rows;
}

std::wstring windowText(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1023);
    return text;
}

std::wstring controlText(HWND dialog, int id)
{
    wchar_t text[1024] = {};
    GetDlgItemTextW(dialog, id, text, 1023);
    return text;
}

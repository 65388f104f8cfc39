// pane_rows.cpp: the row tables behind the two virtual list views, their view order and sorting, and what
// the list views ask of their parent. Its statics are reset by resetAppState through resetUiModules().
#include "panes/pane_rows.h"

#include "panes/folder_navigation.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/ui_ops.h"
#include "panes/peer_pane.h"

#include <commctrl.h>
#include <cstdlib>
#include <cwchar>

// One row as the pane shows it, plus what opening and sorting need.
struct PaneEntry {
    wchar_t name[PathChars];
    wchar_t date[PaneFieldChars];
    wchar_t size[PaneFieldChars];
    int type;
    DWORD attributes;
    unsigned long long sizeBytes;
};

// Rows in listing order (the peer's at the index each record names), and the order the list view shows
// them in. The network thread writes the peer table; the lock guards every table.
struct PaneTable {
    HWND pane;                // the list view the table belongs to; a new one starts a fresh table
    SRWLOCK lock;             // no region under it sends a message, so it is never taken twice by one thread
    PaneEntry *rows;
    int count;
    int capacity;
    int *order;   // UI thread: view index to row
    int shown;    // rows the list view was last told of
    int sortColumn;  // -1: listing order
    bool descending;
    bool notifyPending;
    int leftOut;
};

static PaneTable OwnTable = {nullptr, SRWLOCK_INIT, nullptr, 0, 0, nullptr, 0, -1, false, false, 0};
static PaneTable PeerTable = {nullptr, SRWLOCK_INIT, nullptr, 0, 0, nullptr, 0, -1, false, false, 0};

// Far more than a folder listing needs; a table never grows past it.
static const int MaxPaneRows = 1 << 20;

static void lockTable(PaneTable *table)
{
    AcquireSRWLockExclusive(&table->lock);
}

static void unlockTable(PaneTable *table)
{
    ReleaseSRWLockExclusive(&table->lock);
}

static void resetTable(PaneTable *table, HWND pane)
{
    lockTable(table);
    table->pane = pane;
    table->count = 0;
    table->shown = 0;
    table->sortColumn = -1;
    table->descending = false;
    table->notifyPending = false;
    table->leftOut = 0;
    unlockTable(table);
}

static PaneTable *tableOf(HWND pane)
{
    if (pane == nullptr)
        return nullptr;
    PaneTable *table = pane == AppState.peerPane ? &PeerTable : pane == AppState.ownPane ? &OwnTable : nullptr;
    if (table != nullptr && table->pane != pane)
        resetTable(table, pane);
    return table;
}

void startPaneTable(HWND pane)
{
    PaneTable *table = pane == AppState.peerPane ? &PeerTable : pane == AppState.ownPane ? &OwnTable : nullptr;
    if (table != nullptr)
        resetTable(table, pane);
}

// The lock stays as it is, and the rows' memory is kept for the next pane as a new pane keeps it. A list view
// still up has no table after this: AppState no longer names it.
void resetPaneTables()
{
    resetTable(&OwnTable, nullptr);
    resetTable(&PeerTable, nullptr);
}

// Room for one more row in both arrays; false when memory or the limit says no.
static bool makeRoom(PaneTable *table)
{
    if (table->count < table->capacity)
        return true;
    if (table->capacity >= MaxPaneRows)
        return false;
    int capacity = table->capacity == 0 ? 256 : table->capacity * 2;
    HANDLE heap = GetProcessHeap();
    size_t rowBytes = sizeof(PaneEntry) * static_cast<size_t>(capacity);
    void *rows = table->rows == nullptr ? HeapAlloc(heap, 0, rowBytes) : HeapReAlloc(heap, 0, table->rows, rowBytes);
    if (rows == nullptr)
        return false;
    table->rows = static_cast<PaneEntry *>(rows);
    size_t orderBytes = sizeof(int) * static_cast<size_t>(capacity);
    void *order =
        table->order == nullptr ? HeapAlloc(heap, 0, orderBytes) : HeapReAlloc(heap, 0, table->order, orderBytes);
    if (order == nullptr)
        return false;
    table->order = static_cast<int *>(order);
    table->capacity = capacity;
    return true;
}

static void copyField(wchar_t *out, int outChars, const wchar_t *text)
{
    out[0] = 0;
    if (text != nullptr)
        lstrcpynW(out, text, outChars);
}

static bool onPaneThread(HWND pane)
{
    return GetWindowThreadProcessId(pane, nullptr) == GetCurrentThreadId();
}

// Tells the list view: at once on its own thread, else one post until the UI thread has looked.
static void rowsChanged(HWND pane, PaneTable *table)
{
    if (onPaneThread(pane)) {
        showPaneRows(pane);
        return;
    }
    lockTable(table);
    bool post = !table->notifyPending;
    table->notifyPending = true;
    unlockTable(table);
    HWND parent = GetParent(pane);
    if (post && parent != nullptr)
        PostMessageW(parent, WM_PANE_ROWS, 0, reinterpret_cast<LPARAM>(pane));
}

int storePaneEntry(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date,
                   const wchar_t *size, DWORD attributes, unsigned long long sizeBytes)
{
    PaneTable *table = tableOf(pane);
    if (table == nullptr)
        return -1;
    lockTable(table);
    int at = -1;
    if (makeRoom(table)) {
        at = index < 0 || index > table->count ? table->count : index;
        if (at < table->count)
            memmove(&table->rows[at + 1], &table->rows[at], sizeof(PaneEntry) * static_cast<size_t>(table->count - at));
        PaneEntry &row = table->rows[at];
        copyField(row.name, COUNTOF(row.name), name);
        copyField(row.date, COUNTOF(row.date), date);
        copyField(row.size, COUNTOF(row.size), size);
        row.type = image;
        row.attributes = attributes;
        row.sizeBytes = sizeBytes;
        table->count++;
    } else {
        table->leftOut++;
    }
    unlockTable(table);
    return at;
}

int insertPaneEntry(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date,
                    const wchar_t *size, DWORD attributes, unsigned long long sizeBytes)
{
    int at = storePaneEntry(pane, index, name, image, date, size, attributes, sizeBytes);
    PaneTable *table = tableOf(pane);
    if (table != nullptr)
        rowsChanged(pane, table);
    return at;
}

// The value of a size text: digits and one unit step (K, M, G, T).
int insertPaneRow(HWND pane, int index, const wchar_t *name, int image, const wchar_t *date, const wchar_t *size)
{
    DWORD attributes = isFolderType(image) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    return insertPaneEntry(pane, index, name, image, date, size, attributes,
                           size != nullptr ? sizeTextValue(size, nullptr) : 0);
}

void clearPaneRows(HWND pane)
{
    PaneTable *table = tableOf(pane);
    if (table == nullptr)
        return;
    lockTable(table);
    table->count = 0;
    table->leftOut = 0;
    unlockTable(table);
    rowsChanged(pane, table);
}

void notePeerRowsLeftOut(int rows)
{
    lockTable(&PeerTable);
    PeerTable.leftOut += rows > 0 ? rows : 0;
    unlockTable(&PeerTable);
}

int peerRowsLeftOut()
{
    lockTable(&PeerTable);
    int leftOut = PeerTable.leftOut;
    unlockTable(&PeerTable);
    return leftOut;
}

// The sort of the table being ordered, set for each sort; qsort takes no context, and sorting runs on the UI
// thread only.
static const PaneTable *SortingTable = nullptr;

// Up rows, then folders and drives, then files, whichever way the order runs.
static int typeGroup(int type)
{
    if (type == TypeUpFolder)
        return 0;
    return isFolderType(type) ? 1 : 2;
}

static int compareRows(const void *left, const void *right)
{
    int a = *static_cast<const int *>(left);
    int b = *static_cast<const int *>(right);
    const PaneEntry &x = SortingTable->rows[a];
    const PaneEntry &y = SortingTable->rows[b];
    int groupX = typeGroup(x.type);
    int groupY = typeGroup(y.type);
    if (groupX != groupY)
        return groupX < groupY ? -1 : 1;
    // "." and ".." keep their listing order.
    if (groupX == 0)
        return a < b ? -1 : a > b ? 1 : 0;
    int result = 0;
    if (SortingTable->sortColumn == 1)
        result = wcscmp(x.date, y.date);
    else if (SortingTable->sortColumn == 2)
        result = x.sizeBytes < y.sizeBytes ? -1 : x.sizeBytes > y.sizeBytes ? 1 : 0;
    if (result == 0)
        result = _wcsicmp(x.name, y.name);
    if (SortingTable->descending)
        result = -result;
    if (result == 0)
        result = a < b ? -1 : a > b ? 1 : 0;
    return result;
}

// Rebuilds the view order under the table's lock.
static void orderRows(PaneTable *table)
{
    for (int i = 0; i < table->count; i++)
        table->order[i] = i;
    if (table->sortColumn >= 0 && table->count > 1) {
        SortingTable = table;
        qsort(table->order, static_cast<size_t>(table->count), sizeof(int), compareRows);
        SortingTable = nullptr;
    }
}

void showPaneRows(HWND pane)
{
    PaneTable *table = tableOf(pane);
    if (table == nullptr)
        return;
    lockTable(table);
    table->notifyPending = false;
    orderRows(table);
    int count = table->count;
    int before = table->shown;
    table->shown = count;
    unlockTable(table);
    // Emptied: the list view drops its selection and scroll position too.
    if (count == 0 || count < before)
        SendMessageW(pane, LVM_DELETEALLITEMS, 0, 0);
    SendMessageW(pane, LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL);
    InvalidateRect(pane, nullptr, FALSE);
    if (pane == AppState.peerPane && GetParent(pane) != nullptr)
        writePeerFolderLabel(GetParent(pane));
}

int paneRowCount(HWND pane)
{
    return static_cast<int>(SendMessageW(pane, LVM_GETITEMCOUNT, 0, 0));
}

// The row shown at view index, or -1.
static int rowAt(const PaneTable *table, int item)
{
    if (item < 0 || item >= table->shown || item >= table->count)
        return -1;
    int row = table->order[item];
    return row >= 0 && row < table->count ? row : -1;
}

// An own folder with more attributes than the directory bit (hidden, read-only, system) is still a folder.
static int openingType(const PaneEntry &row)
{
    bool folder = (row.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return folder && !isFolderType(row.type) ? TypeFolder : row.type;
}

int paneRowType(HWND pane, int item)
{
    PaneTable *table = tableOf(pane);
    if (table == nullptr)
        return -1;
    lockTable(table);
    int row = rowAt(table, item);
    int type = row >= 0 ? openingType(table->rows[row]) : -1;
    unlockTable(table);
    return type;
}

bool readSelectedName(HWND pane, wchar_t *name, int nameChars, int *type)
{
    ZeroMemory(name, nameChars * sizeof(wchar_t));
    int item = static_cast<int>(
        SendMessageW(pane, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
    if (item < 0)
        return false;
    PaneTable *table = tableOf(pane);
    if (table == nullptr)
        return false;
    lockTable(table);
    int row = rowAt(table, item);
    if (row >= 0) {
        lstrcpynW(name, table->rows[row].name, nameChars);
        if (type != nullptr)
            *type = openingType(table->rows[row]);
    }
    unlockTable(table);
    return row >= 0;
}

// LVN_GETDISPINFOW: the texts are copied out under the lock, never pointed at.
static void fillDisplayInfo(PaneTable *table, NMLVDISPINFOW *info)
{
    LVITEMW &item = info->item;
    lockTable(table);
    int row = rowAt(table, item.iItem);
    if ((item.mask & LVIF_TEXT) && item.pszText != nullptr && item.cchTextMax > 0) {
        const wchar_t *text = L"";
        if (row >= 0) {
            const PaneEntry &entry = table->rows[row];
            const wchar_t *columns[3] = {entry.name, entry.date, entry.size};
            if (item.iSubItem >= 0 && item.iSubItem < 3)
                text = columns[item.iSubItem];
        }
        lstrcpynW(item.pszText, text, item.cchTextMax);
    }
    if (item.mask & LVIF_IMAGE)
        item.iImage = row >= 0 ? table->rows[row].type : 0;
    unlockTable(table);
}

// LVN_ODFINDITEMW: typing a name's first letters finds the next row that starts with them.
static int findRow(PaneTable *table, const NMLVFINDITEMW *find)
{
    if (!(find->lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || find->lvfi.psz == nullptr)
        return -1;
    size_t length = wcslen(find->lvfi.psz);
    int found = -1;
    lockTable(table);
    int count = table->shown < table->count ? table->shown : table->count;
    for (int step = 0; step < count && found < 0; step++) {
        int item = (find->iStart + step) % count;
        int row = rowAt(table, item);
        if (row >= 0 && _wcsnicmp(table->rows[row].name, find->lvfi.psz, length) == 0)
            found = item;
    }
    unlockTable(table);
    return found;
}

void sortPane(HWND pane, int column)
{
    PaneTable *table = tableOf(pane);
    if (table == nullptr || column < 0 || column > 2)
        return;
    // The selected rows by table index, so they can be selected again where the sort puts them.
    lockTable(table);
    int count = table->shown < table->count ? table->shown : table->count;
    unlockTable(table);
    int *selected = count > 0 ? static_cast<int *>(HeapAlloc(GetProcessHeap(), 0, sizeof(int) * count)) : nullptr;
    int selectedCount = 0;
    for (int item = ListView_GetNextItem(pane, -1, LVNI_SELECTED); item >= 0 && selected != nullptr &&
                                                                  selectedCount < count;
         item = ListView_GetNextItem(pane, item, LVNI_SELECTED)) {
        lockTable(table);
        int row = rowAt(table, item);
        unlockTable(table);
        if (row >= 0)
            selected[selectedCount++] = row;
    }
    lockTable(table);
    table->descending = table->sortColumn == column ? !table->descending : false;
    table->sortColumn = column;
    unlockTable(table);
    ListView_SetItemState(pane, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    showPaneRows(pane);
    for (int i = 0; i < selectedCount; i++) {
        lockTable(table);
        int item = -1;
        for (int v = 0; v < table->count && item < 0; v++)
            if (table->order[v] == selected[i])
                item = v;
        unlockTable(table);
        if (item >= 0)
            ListView_SetItemState(pane, item, LVIS_SELECTED, LVIS_SELECTED);
    }
    if (selected != nullptr)
        HeapFree(GetProcessHeap(), 0, selected);
}

// Rows that the network thread adds while a listing streams in are shown a few times a second: one redraw per
// row would cost the listing more than its round trips. Until the timer has looked, no new notice is posted.
static const UINT PaneRowsMs = 100;
static const UINT_PTR PaneRowsTimerBase = 0x5000;  // + the pane's control id, on the pane's parent

static void holdRowNotices(HWND pane);

static void CALLBACK paneRowsTimer(HWND parent, UINT, UINT_PTR id, DWORD)
{
    KillTimer(parent, id);
    HWND pane = GetDlgItem(parent, static_cast<int>(id - PaneRowsTimerBase));
    PaneTable *table = tableOf(pane);
    if (table == nullptr)
        return;
    lockTable(table);
    bool changed = table->count != table->shown;
    if (!changed)
        table->notifyPending = false;
    unlockTable(table);
    if (changed) {
        showPaneRows(pane);
        holdRowNotices(pane);
    }
}

static void holdRowNotices(HWND pane)
{
    PaneTable *table = tableOf(pane);
    HWND parent = GetParent(pane);
    if (table == nullptr || parent == nullptr)
        return;
    lockTable(table);
    table->notifyPending = true;
    unlockTable(table);
    SetTimer(parent, PaneRowsTimerBase + static_cast<UINT_PTR>(GetDlgCtrlID(pane)), PaneRowsMs, paneRowsTimer);
}

bool handlePaneMessage(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT *result)
{
    *result = 0;
    if (message == WM_PANE_ROWS) {
        HWND pane = reinterpret_cast<HWND>(lParam);
        if (tableOf(pane) != nullptr) {
            showPaneRows(pane);
            holdRowNotices(pane);
        }
        return true;
    }
    if (message != WM_NOTIFY)
        return false;
    const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
    PaneTable *table = header != nullptr ? tableOf(header->hwndFrom) : nullptr;
    if (table == nullptr)
        return false;
    switch (header->code) {
    case LVN_GETDISPINFOW:
        fillDisplayInfo(table, reinterpret_cast<NMLVDISPINFOW *>(lParam));
        return true;
    case LVN_ODFINDITEMW:
        *result = findRow(table, reinterpret_cast<const NMLVFINDITEMW *>(lParam));
        return true;
    case LVN_COLUMNCLICK:
        sortPane(header->hwndFrom, reinterpret_cast<const NMLISTVIEW *>(lParam)->iSubItem);
        return true;
    default:
        return false;
    }
}

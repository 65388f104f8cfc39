// tree_listing.cpp: the table of one peer folder's rows for a folder copy. A classic peer lists at most 1023
// rows; the fast link has no such limit, so the table grows on the heap up to TreeRowsMax, and an index by name
// lets a push find the peer's row of each of its files without reading the whole table each time.
#include "core/tree_listing.h"

#include "core/text_codec.h"
#include "core/wire_message.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

static bool makeRoom()
{
    if (AppState.treeRowsUsed < AppState.treeRowsCapacity)
        return true;
    if (AppState.treeRowsCapacity >= TreeRowsMax)
        return false;
    int capacity = AppState.treeRowsCapacity == 0 ? DirRows : AppState.treeRowsCapacity * 2;
    if (capacity > TreeRowsMax)
        capacity = TreeRowsMax;
    HANDLE heap = GetProcessHeap();
    size_t rowBytes = sizeof(TreeRow) * static_cast<size_t>(capacity);
    size_t orderBytes = sizeof(int32_t) * static_cast<size_t>(capacity);
    void *rows = AppState.treeRows == nullptr ? HeapAlloc(heap, 0, rowBytes)
                                              : HeapReAlloc(heap, 0, AppState.treeRows, rowBytes);
    if (rows == nullptr)
        return false;
    AppState.treeRows = static_cast<TreeRow *>(rows);
    void *order = AppState.treeOrder == nullptr ? HeapAlloc(heap, 0, orderBytes)
                                                : HeapReAlloc(heap, 0, AppState.treeOrder, orderBytes);
    if (order == nullptr)
        return false;
    AppState.treeOrder = static_cast<int32_t *>(order);
    AppState.treeRowsCapacity = capacity;
    return true;
}

void clearTreeListing()
{
    AppState.treeRowsUsed = 0;
    AppState.treeRowsCut = 0;
    AppState.treeOrderBuilt = 0;
}

void freeTreeListing()
{
    HANDLE heap = GetProcessHeap();
    if (AppState.treeRows != nullptr)
        HeapFree(heap, 0, AppState.treeRows);
    if (AppState.treeOrder != nullptr)
        HeapFree(heap, 0, AppState.treeOrder);
    AppState.treeRows = nullptr;
    AppState.treeOrder = nullptr;
    AppState.treeRowsCapacity = 0;
    clearTreeListing();
}

bool addTreeRecord(const char *text, int length)
{
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields))
        return true;
    // A UTF-8 name longer than a row holds is left out and counted as the table's own lack of room is.
    if (!makeRoom() || strnlen(fields.name, sizeof(fields.name)) >= sizeof(TreeRow::name)) {
        AppState.treeRowsCut = 1;
        return true;
    }
    TreeRow *row = &AppState.treeRows[AppState.treeRowsUsed];
    memset(row, 0, sizeof(*row));
    memcpy(row->name, fields.name, sizeof(row->name) - 1);
    memcpy(row->size, fields.size, sizeof(row->size) - 1);
    memcpy(row->date, fields.date, sizeof(row->date) - 1);
    row->type = atoi(fields.type);
    AppState.treeRowsUsed++;
    AppState.treeOrderBuilt = 0;
    return false;
}

int treeRowCount()
{
    return AppState.treeRowsUsed;
}

bool treeListingCut()
{
    return AppState.treeRowsCut != 0;
}

const TreeRow *treeRow(int index)
{
    if (index < 0 || index >= AppState.treeRowsUsed)
        return nullptr;
    return &AppState.treeRows[index];
}

// Peer names compare as the file system does, without case, in their wide form.
static int compareNames(const char *leftA, const wchar_t *right)
{
    wchar_t left[PathChars];
    memset(left, 0, sizeof(left));
    wireToWide(leftA, -1, left, COUNTOF(left));
    return _wcsicmp(left, right);
}

static int compareRows(const void *left, const void *right)
{
    wchar_t rightName[PathChars];
    memset(rightName, 0, sizeof(rightName));
    wireToWide(AppState.treeRows[*static_cast<const int32_t *>(right)].name, -1, rightName, COUNTOF(rightName));
    return compareNames(AppState.treeRows[*static_cast<const int32_t *>(left)].name, rightName);
}

const TreeRow *treeRowNamed(const wchar_t *name)
{
    int count = AppState.treeRowsUsed;
    if (count == 0)
        return nullptr;
    if (!AppState.treeOrderBuilt) {
        for (int i = 0; i < count; i++)
            AppState.treeOrder[i] = i;
        qsort(AppState.treeOrder, static_cast<size_t>(count), sizeof(int32_t), compareRows);
        AppState.treeOrderBuilt = 1;
    }
    int low = 0;
    int high = count - 1;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        int order = compareNames(AppState.treeRows[AppState.treeOrder[middle]].name, name);
        if (order == 0)
            return &AppState.treeRows[AppState.treeOrder[middle]];
        if (order < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return nullptr;
}

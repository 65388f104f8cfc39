// tree_listing.cpp: the table of one peer folder's rows for a folder copy.
#include "core/tree_listing.h"

#include "core/wire_message.h"

#include <cstdlib>
#include <cstring>


void clearTreeListing()
{
    AppState.treeRowsUsed = 0;
}

bool addTreeRecord(const char *text, int length)
{
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields) || AppState.treeRowsUsed >= DirRows)
        return true;
    TreeRow *row = &AppState.treeRows[AppState.treeRowsUsed];
    memset(row, 0, sizeof(*row));
    memcpy(row->name, fields.name, sizeof(row->name) - 1);
    memcpy(row->size, fields.size, sizeof(row->size) - 1);
    memcpy(row->date, fields.date, sizeof(row->date) - 1);
    row->type = atoi(fields.type);
    AppState.treeRowsUsed++;
    return false;
}

int treeRowCount()
{
    return AppState.treeRowsUsed;
}

const TreeRow *treeRow(int index)
{
    if (index < 0 || index >= AppState.treeRowsUsed)
        return nullptr;
    return &AppState.treeRows[index];
}

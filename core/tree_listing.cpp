// tree_listing.cpp: the table of one peer folder's rows for a folder copy.
#include "core/tree_listing.h"

#include "core/wire_message.h"

#include <cstdlib>
#include <cstring>

static TreeRow treeRows[DirRows];
static int32_t treeRowsUsed;

void clearTreeListing()
{
    treeRowsUsed = 0;
}

bool addTreeRecord(const char *text, int length)
{
    DirRecordFields fields;
    if (!splitDirRecord(text, length, &fields) || treeRowsUsed >= DirRows)
        return true;
    TreeRow *row = &treeRows[treeRowsUsed];
    memset(row, 0, sizeof(*row));
    memcpy(row->name, fields.name, sizeof(row->name) - 1);
    memcpy(row->size, fields.size, sizeof(row->size) - 1);
    row->type = atoi(fields.type);
    treeRowsUsed++;
    return false;
}

int treeRowCount()
{
    return treeRowsUsed;
}

const TreeRow *treeRow(int index)
{
    if (index < 0 || index >= treeRowsUsed)
        return nullptr;
    return &treeRows[index];
}

// tree_listing.h: the rows of one peer folder listed for a folder copy, kept apart from the peer pane. The
// network thread fills it while AppState.treeListing is set; the UI thread reads it once the listing has ended.
#pragma once

#include "core/app_state.h"

// Empties the table (UI thread, before the listing is asked for).
void clearTreeListing();

// Network thread: takes one DR record body. Returns true when the record is malformed and was refused.
bool addTreeRecord(const char *text, int length);

int treeRowCount();
const TreeRow *treeRow(int index);

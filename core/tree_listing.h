// tree_listing.h: the rows of one peer folder listed for a folder copy, kept apart from the peer pane. The
// network thread fills it while AppState.treeListing is set; the UI thread reads it once the listing has ended.
#pragma once

#include "core/app_state.h"

// Empties the table (UI thread, before the listing is asked for).
void clearTreeListing();
// Gives its memory back (resetAppState).
void freeTreeListing();

// Network thread: takes one DR record body. Returns true when the record is malformed and was refused.
bool addTreeRecord(const char *text, int length);

int treeRowCount();
const TreeRow *treeRow(int index);
// True when rows were left out for lack of room (more than TreeRowsMax, or no memory).
bool treeListingCut();
// UI thread, once the listing has ended: the row of name, compared without case; null when there is none.
const TreeRow *treeRowNamed(const wchar_t *name);

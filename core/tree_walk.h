// tree_walk.h: walks a local folder tree depth first, one entry a call, for the tree stream's sender. Its only
// memory is one frame per open folder, taken from the heap as the walk goes down: no limit on depth, folder
// count or file count, and nothing kept of what has gone by.
#pragma once

#include "core/app_state.h"

enum class WalkStep {
    Folder,      // a folder begins (the tree's own folder first); its entries follow
    File,        // a file
    Close,       // every entry of the folder at path has been given
    Unfinished,  // a ".$TEMP" part an unfinished receive left: not sent, named
    TooLong,     // an entry whose path does not fit: not sent, named (path holds as much as fits)
    End,         // the whole tree has been given (or the walk was ended)
};

struct WalkFrame {
    HANDLE find;
    bool searched;
    int pathChars;  // path's length at this folder
    DWORD attributes;
    FILETIME times[3];
};

struct TreeWalk {
    WalkFrame *frames;  // heap: the open folders, outermost first
    int depth;
    int capacity;
    int rootChars;      // characters of the tree's folder in path
    bool started;
    // The entry the last step gave.
    wchar_t path[PathChars];
    int pathChars;
    DWORD attributes;
    int64_t size;
    FILETIME times[3];
};

// Starts at folder root (its Folder step comes first). False when root is no folder or its path does not fit.
bool startTreeWalk(TreeWalk *walk, const wchar_t *root);
// The next entry into walk's fields.
WalkStep nextWalkStep(TreeWalk *walk);
// Closes every open search and gives the frames back; safe to call twice.
void endTreeWalk(TreeWalk *walk);
// The path of the last entry below the tree's folder: "" for the tree's folder itself.
const wchar_t *walkRelativePath(const TreeWalk *walk);

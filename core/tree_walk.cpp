// tree_walk.cpp: the depth-first walk of a local folder tree, with an explicit stack of open searches.
#include "core/tree_walk.h"

#include "core/file_receiver.h"
#include "core/paths.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

static void copyTimes(FILETIME *out, const FILETIME &created, const FILETIME &accessed, const FILETIME &written)
{
    out[0] = created;
    out[1] = accessed;
    out[2] = written;
}

bool startTreeWalk(TreeWalk *walk, const wchar_t *root)
{
    memset(walk, 0, sizeof(*walk));
    WIN32_FILE_ATTRIBUTE_DATA data;
    size_t chars = wcsnlen(root, PathChars);
    if (chars == 0 || chars >= PathChars || !GetFileAttributesExW(root, GetFileExInfoStandard, &data) ||
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    wmemcpy(walk->path, root, chars);
    walk->pathChars = static_cast<int>(chars);
    walk->rootChars = walk->pathChars;
    walk->attributes = data.dwFileAttributes;
    copyTimes(walk->times, data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime);
    return true;
}

// Opens a frame for the folder now in walk's fields. False when there was no memory for it.
static bool pushFrame(TreeWalk *walk)
{
    if (walk->depth == walk->capacity) {
        int capacity = walk->capacity > 0 ? walk->capacity * 2 : 16;
        void *grown = realloc(walk->frames, sizeof(WalkFrame) * static_cast<size_t>(capacity));
        if (grown == nullptr)
            return false;
        walk->frames = static_cast<WalkFrame *>(grown);
        walk->capacity = capacity;
    }
    WalkFrame *frame = walk->frames + walk->depth++;
    frame->find = INVALID_HANDLE_VALUE;
    frame->searched = false;
    frame->pathChars = walk->pathChars;
    frame->attributes = walk->attributes;
    memcpy(frame->times, walk->times, sizeof(frame->times));
    return true;
}

// Sets walk's path to the frame's folder and gives its Close step.
static WalkStep popFrame(TreeWalk *walk)
{
    WalkFrame *frame = walk->frames + --walk->depth;
    if (frame->find != INVALID_HANDLE_VALUE)
        FindClose(frame->find);
    walk->pathChars = frame->pathChars;
    walk->path[walk->pathChars] = 0;
    walk->attributes = frame->attributes;
    walk->size = 0;
    memcpy(walk->times, frame->times, sizeof(walk->times));
    return WalkStep::Close;
}

// The frame's folder joined with name into walk's path; false when it does not fit (path then holds the folder).
static bool enterName(TreeWalk *walk, const WalkFrame *frame, const wchar_t *name)
{
    walk->path[frame->pathChars] = 0;
    wchar_t joined[PathChars];
    if (!joinPathN(walk->path, frame->pathChars, name, joined, PathChars))
        return false;
    size_t chars = wcslen(joined);
    wmemcpy(walk->path, joined, chars + 1);
    walk->pathChars = static_cast<int>(chars);
    return true;
}

WalkStep nextWalkStep(TreeWalk *walk)
{
    if (!walk->started) {
        walk->started = true;
        // The tree's folder itself; its frame opens with the next call.
        return pushFrame(walk) ? WalkStep::Folder : WalkStep::End;
    }
    WIN32_FIND_DATAW found;
    while (walk->depth > 0) {
        WalkFrame *frame = walk->frames + walk->depth - 1;
        bool more = false;
        if (!frame->searched) {
            // A folder that cannot be searched closes empty.
            frame->searched = true;
            wchar_t pattern[PathChars];
            walk->path[frame->pathChars] = 0;
            if (joinPathN(walk->path, frame->pathChars, L"*", pattern, PathChars)) {
                frame->find = FindFirstFileW(pattern, &found);
                more = frame->find != INVALID_HANDLE_VALUE;
            }
        } else {
            more = frame->find != INVALID_HANDLE_VALUE && FindNextFileW(frame->find, &found);
        }
        if (!more)
            return popFrame(walk);
        if (isUpFolderName(found.cFileName) || isResumeRecordName(found.cFileName))
            continue;
        bool fits = enterName(walk, frame, found.cFileName);
        walk->attributes = found.dwFileAttributes;
        walk->size = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        copyTimes(walk->times, found.ftCreationTime, found.ftLastAccessTime, found.ftLastWriteTime);
        if (!fits) {
            // Named by as much as fits: the folder and the start of the name.
            size_t room = PathChars - 2 - static_cast<size_t>(frame->pathChars);
            walk->path[frame->pathChars] = L'\\';
            wcsncpy(walk->path + frame->pathChars + 1, found.cFileName, room);
            walk->path[PathChars - 1] = 0;
            walk->pathChars = frame->pathChars;
            return WalkStep::TooLong;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            walk->size = 0;
            return pushFrame(walk) ? WalkStep::Folder : WalkStep::TooLong;
        }
        return isTemporaryName(found.cFileName) ? WalkStep::Unfinished : WalkStep::File;
    }
    return WalkStep::End;
}

void endTreeWalk(TreeWalk *walk)
{
    while (walk->depth > 0) {
        WalkFrame *frame = walk->frames + --walk->depth;
        if (frame->find != INVALID_HANDLE_VALUE)
            FindClose(frame->find);
    }
    free(walk->frames);
    walk->frames = nullptr;
    walk->capacity = 0;
}

const wchar_t *walkRelativePath(const TreeWalk *walk)
{
    if (wcsnlen(walk->path, PathChars) <= static_cast<size_t>(walk->rootChars))
        return L"";
    return walk->path + walk->rootChars + 1;
}

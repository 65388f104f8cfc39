// paths.h: the one way a folder and a name are joined into a path, everywhere in the program, and the one
// test for the up entries.
#pragma once

// folder (its first folderChars characters) + "\" (unless the folder is empty or already ends with one)
// + name into out, zero-filled first. False, and out empty, when the result would not fit outChars - 1
// characters.
bool joinPathN(const wchar_t *folder, int folderChars, const wchar_t *name, wchar_t *out, int outChars);

// The same for a NUL-terminated folder.
bool joinFolderName(const wchar_t *folder, const wchar_t *name, wchar_t *out, int outChars);

// True for "." and "..", the entries a listing shows for going up and that no copy or join takes as a name.
bool isUpFolderName(const wchar_t *name);

// True when path names an existing folder (whatever other attributes it carries).
bool isFolderOnDisk(const wchar_t *path);

// "C:\", where a pane starts when it has no folder of its own.
extern const wchar_t RootFolder[];

// paths.cpp: joining a folder and a name, bounded.
#include "core/paths.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

bool joinPathN(const wchar_t *folder, int folderChars, const wchar_t *name, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return false;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    if (folder == nullptr || name == nullptr || folderChars < 0)
        return false;
    size_t nameChars = wcslen(name);
    bool needsSeparator = folderChars > 0 && folder[folderChars - 1] != L'\\';
    size_t total = static_cast<size_t>(folderChars) + (needsSeparator ? 1 : 0) + nameChars;
    if (total > static_cast<size_t>(outChars - 1))
        return false;
    wmemcpy(out, folder, static_cast<size_t>(folderChars));
    if (needsSeparator)
        out[folderChars] = L'\\';
    wmemcpy(out + folderChars + (needsSeparator ? 1 : 0), name, nameChars);
    return true;
}

bool joinFolderName(const wchar_t *folder, const wchar_t *name, wchar_t *out, int outChars)
{
    if (folder == nullptr)
        return false;
    return joinPathN(folder, static_cast<int>(wcslen(folder)), name, out, outChars);
}

bool isUpFolderName(const wchar_t *name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

bool isFolderOnDisk(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

const wchar_t RootFolder[] = L"C:\\";

// folder_navigation.cpp: the rule both panes follow when a row is opened, to move between drives and folders.
#include "panes/folder_navigation.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/message_box.h"
#include "core/paths.h"

#include <cwchar>

// Cuts the folder at its last "\" after the first character; a bare drive left over ("C:") gets its root "\".
static void goUp(wchar_t *folder, int folderChars)
{
    int length = static_cast<int>(wcsnlen(folder, folderChars - 1));
    folder[length] = 0;
    int cut = -1;
    for (int i = length - 1; i >= 1; i--) {
        if (folder[i] == L'\\') {
            cut = i;
            break;
        }
    }
    folder[cut < 0 ? 0 : cut] = 0;
    if (wcslen(folder) == 2)
        wcscat(folder, L"\\");
}

static FolderStep joinName(wchar_t *folder, int folderChars, const wchar_t *name)
{
    int length = static_cast<int>(wcsnlen(folder, folderChars - 1));
    // A lone letter is a drive without its ":\".
    wchar_t base[4] = {folder[0], L':', L'\\', 0};
    wchar_t joined[PathChars];
    bool fits = length == 1 ? joinPathN(base, 3, name, joined, COUNTOF(joined))
                            : joinPathN(folder, length, name, joined, COUNTOF(joined));
    if (!fits || wcslen(joined) > static_cast<size_t>(folderChars - 1))
        return FolderStep::Refused;
    wcscpy(folder, joined);
    return FolderStep::Moved;
}

bool isFolderType(int type)
{
    return type >= TypeUpFolder && type <= TypeRamDisk;
}

FolderStep stepFolder(wchar_t *folder, int folderChars, const wchar_t *name, bool isFolder)
{
    if (folder == nullptr || folderChars < 4 || name == nullptr || name[0] == 0)
        return FolderStep::Refused;
    if (!isFolder)
        return FolderStep::NotAFolder;
    if (isDriveRoot(name)) {
        wcscpy(folder, name);
        return FolderStep::Moved;
    }
    if (isUpFolderName(name)) {
        goUp(folder, folderChars);
        return FolderStep::Moved;
    }
    return joinName(folder, folderChars, name);
}

void showNotAFolder(HWND window)
{
    showMessageBox(window, L"ファイルでフォルダではありません！", L"フォルダ移行", MB_ICONWARNING | MB_OK);
}

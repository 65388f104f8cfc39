// overwrite_dialog.cpp: the question asked before a copy lands on an existing file (template 8), and the
// answer that holds for the rest of one copy command.
#include "dialogs/copy_dialog.h"
#include "dialogs/dialog_common.h"

#include "resources/resource_ids.h"

static bool overwriteAll;

void resetOverwritePolicy()
{
    overwriteAll = false;
}

static INT_PTR CALLBACK overwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dialog, IDC_OVERWRITE_NAME, reinterpret_cast<const wchar_t *>(lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OVERWRITE_ONE:
            EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::Overwrite));
            return TRUE;
        case IDC_OVERWRITE_SKIP:
            EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::Skip));
            return TRUE;
        case IDC_OVERWRITE_ALL:
            EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::OverwriteAll));
            return TRUE;
        case IDC_OVERWRITE_CANCEL:
        case IDCANCEL:
            EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::Cancel));
            return TRUE;
        default:
            return TRUE;
        }
    case WM_CLOSE:
        EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::Cancel));
        return TRUE;
    default:
        return FALSE;
    }
}

OverwriteAnswer overwriteDecision(const wchar_t *name)
{
    if (overwriteAll)
        return OverwriteAnswer::Overwrite;
    INT_PTR answer = DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_OVERWRITE), AppState.mainWindow,
                                     overwriteDialogProc, reinterpret_cast<LPARAM>(name));
    if (answer == static_cast<INT_PTR>(OverwriteAnswer::OverwriteAll)) {
        overwriteAll = true;
        return OverwriteAnswer::Overwrite;
    }
    if (answer == static_cast<INT_PTR>(OverwriteAnswer::Overwrite) ||
        answer == static_cast<INT_PTR>(OverwriteAnswer::Skip))
        return static_cast<OverwriteAnswer>(answer);
    return OverwriteAnswer::Cancel;
}

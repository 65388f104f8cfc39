// paired_machines_dialog.cpp: the paired machines (template 33), listed from core/paired_machines.h, and
// forgetting one of them.
#include "dialogs/paired_machines_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/message_box.h"
#include "core/paired_machines.h"
#include "resources/resource_ids.h"

#include <commctrl.h>

#include <cstring>
#include <cwchar>

static const wchar_t PairedCaption[] = L"ペアリング済みのマシン";

struct PairedColumn {
    const wchar_t *header;
    int width;  // dialog units
};
static const PairedColumn PairedColumns[] = {
    {L"名前", 70}, {L"アドレス", 56}, {L"指紋", 90}, {L"ペアリング日時", 66}};
static const int FingerprintColumn = 2;

static void setCell(HWND list, int row, int column, const wchar_t *text)
{
    LVITEMW item;
    memset(&item, 0, sizeof(item));
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t *>(text);
    if (column == 0)
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    else
        SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// Each field is cut at its own size: the store's record is taken as it comes.
static void addMachineRow(HWND list, int row, PairedMachine *machine)
{
    machine->hostName[COUNTOF(machine->hostName) - 1] = 0;
    machine->address[COUNTOF(machine->address) - 1] = 0;
    machine->fingerprint[COUNTOF(machine->fingerprint) - 1] = 0;
    wchar_t date[32];
    memset(date, 0, sizeof(date));
    if (machine->pairedAt.dwLowDateTime != 0 || machine->pairedAt.dwHighDateTime != 0)
        entryDateText(machine->pairedAt, date, COUNTOF(date));
    setCell(list, row, 0, machine->hostName);
    setCell(list, row, 1, machine->address);
    setCell(list, row, FingerprintColumn, machine->fingerprint);
    setCell(list, row, 3, date);
}

static void fillPairedList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_PAIRED_LIST);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int count = pairedMachineCount();
    int row = 0;
    for (int i = 0; i < count; i++) {
        PairedMachine machine;
        memset(&machine, 0, sizeof(machine));
        if (pairedMachineAt(i, &machine))
            addMachineRow(list, row++, &machine);
    }
}

// WM_INITDIALOG: the columns in dialog units, then the machines.
static INT_PTR onPairedInit(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_PAIRED_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int i = 0; i < static_cast<int>(COUNTOF(PairedColumns)); i++) {
        RECT width = {0, 0, PairedColumns[i].width, 0};
        MapDialogRect(dialog, &width);
        LVCOLUMNW column;
        memset(&column, 0, sizeof(column));
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = width.right;
        column.pszText = const_cast<wchar_t *>(PairedColumns[i].header);
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    fillPairedList(dialog);
    return TRUE;
}

static void cellText(HWND list, int row, int column, wchar_t *out, int outChars)
{
    memset(out, 0, outChars * sizeof(wchar_t));
    LVITEMW item;
    memset(&item, 0, sizeof(item));
    item.iSubItem = column;
    item.pszText = out;
    item.cchTextMax = outChars - 1;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// 削除: the selected machine, by its fingerprint, after the user confirms.
static void onForget(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_PAIRED_LIST);
    int row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0) {
        showMessageBox(dialog, L"削除するマシンを一覧から選んで下さい。", PairedCaption, MB_OK);
        return;
    }
    wchar_t name[64];
    wchar_t fingerprint[32];
    cellText(list, row, 0, name, COUNTOF(name));
    cellText(list, row, FingerprintColumn, fingerprint, COUNTOF(fingerprint));
    wchar_t text[256];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1,
               L"%.63s（指紋 %.31s）を削除しますか？\r\n次にこのマシンと接続するときは、もう一度ペアリングします。",
               name, fingerprint);
    if (showMessageBox(dialog, text, PairedCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    if (!forgetPairedMachine(fingerprint))
        showMessageBox(dialog,
                       L"削除できませんでした。Parcelwight.ini のあるフォルダに書き込めるか確かめて下さい。",
                       PairedCaption, MB_OK);
    fillPairedList(dialog);
}

static INT_PTR onPairedCommand(HWND dialog, int id)
{
    if (id == IDC_PAIRED_FORGET)
        onForget(dialog);
    else if (id == IDC_DIALOG_OK || id == IDCANCEL)
        EndDialog(dialog, IDC_DIALOG_OK);
    return TRUE;
}

static INT_PTR CALLBACK pairedMachinesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return onPairedInit(dialog);
    case WM_COMMAND:
        return onPairedCommand(dialog, LOWORD(wParam));
    case WM_CLOSE:
        EndDialog(dialog, IDC_DIALOG_OK);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR runPairedMachinesDialog(HWND window)
{
    return DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_PAIRED_MACHINES), window,
                           pairedMachinesDialogProc, 0);
}

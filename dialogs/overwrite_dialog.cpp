// overwrite_dialog.cpp: the question asked before a copy lands on an existing file (template 8), and the
// answer that holds for the rest of one copy command. Its statics are reset by each copy command and by
// resetAppState through resetUiModules().
#include "dialogs/copy_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/dir_table.h"
#include "core/message_box.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

static bool overwriteAll;
static bool overwriteNewer;  // only an incoming file newer than the one there
static bool skipAll;         // nothing that is there is overwritten

void resetOverwritePolicy()
{
    overwriteAll = false;
    overwriteNewer = false;
    skipAll = false;
}

int standingOverwrite()
{
    if (overwriteAll)
        return static_cast<int>(OverwriteAnswer::OverwriteAll);
    if (skipAll)
        return static_cast<int>(OverwriteAnswer::SkipAll);
    return overwriteNewer ? static_cast<int>(OverwriteAnswer::OverwriteNewer) : 0;
}

bool localFileFacts(const wchar_t *path, FileFacts *facts)
{
    memset(facts, 0, sizeof(*facts));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return false;
    sizeText((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, facts->size, FactChars);
    entryDateText(data.ftLastWriteTime, facts->date, FactChars);
    return true;
}

void rowFileFacts(const wchar_t *size, const wchar_t *date, FileFacts *facts)
{
    memset(facts, 0, sizeof(*facts));
    if (size != nullptr)
        wcsncpy(facts->size, size, FactChars - 1);
    if (date != nullptr)
        wcsncpy(facts->date, date, FactChars - 1);
}

// Two digits of text at at; -1 when either is no digit.
static int twoDigits(const wchar_t *at)
{
    if (at[0] < L'0' || at[0] > L'9' || at[1] < L'0' || at[1] > L'9')
        return -1;
    return (at[0] - L'0') * 10 + (at[1] - L'0');
}

// The panes' form exactly: "yyyy/mm/dd hh:mm".
bool rowDateTime(const wchar_t *date, SYSTEMTIME *out)
{
    memset(out, 0, sizeof(*out));
    if (wcslen(date) != 16 || date[4] != L'/' || date[7] != L'/' || date[10] != L' ' || date[13] != L':')
        return false;
    int century = twoDigits(date), year = twoDigits(date + 2), month = twoDigits(date + 5);
    int day = twoDigits(date + 8), hour = twoDigits(date + 11), minute = twoDigits(date + 14);
    if (century < 16 || year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59)
        return false;
    out->wYear = static_cast<WORD>(century * 100 + year);
    out->wMonth = static_cast<WORD>(month);
    out->wDay = static_cast<WORD>(day);
    out->wHour = static_cast<WORD>(hour);
    out->wMinute = static_cast<WORD>(minute);
    return true;
}

// The minute a date text names, in calendar order; -1 when unknown. Peer rows carry minutes only, so this is
// the precision "newer" is judged at.
static long long dateMinute(const wchar_t *date)
{
    SYSTEMTIME time;
    if (!rowDateTime(date, &time))
        return -1;
    return (((time.wYear * 100ll + time.wMonth) * 100 + time.wDay) * 100 + time.wHour) * 100 + time.wMinute;
}

static bool incomingIsNewer(const FileFacts &incoming, const FileFacts &existing)
{
    long long in = dateMinute(incoming.date);
    long long there = dateMinute(existing.date);
    return in >= 0 && there >= 0 && in > there;
}

struct OverwriteQuestion {
    const wchar_t *name;
    const FileFacts *incoming;
    const FileFacts *existing;
};

static void showFacts(HWND dialog, const OverwriteQuestion &question)
{
    long long in = dateMinute(question.incoming->date);
    long long there = dateMinute(question.existing->date);
    const wchar_t *verdict = L"どちらが新しいか分かりません";
    if (in >= 0 && there >= 0)
        verdict = in > there ? L"コピー元のほうが新しい" : in < there ? L"コピー先のほうが新しい" : L"日時は同じです（分まで）";
    const wchar_t *unknown = L"?";
    wchar_t text[160];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"コピー元  %ls  %ls\r\nコピー先  %ls  %ls\r\n%ls",
               question.incoming->size[0] != 0 ? question.incoming->size : unknown,
               question.incoming->date[0] != 0 ? question.incoming->date : unknown,
               question.existing->size[0] != 0 ? question.existing->size : unknown,
               question.existing->date[0] != 0 ? question.existing->date : unknown, verdict);
    SetDlgItemTextW(dialog, IDC_OVERWRITE_FACTS, text);
}

// WM_INITDIALOG: the name and both files' facts. Focus starts on Skip, so Enter never overwrites.
static INT_PTR onOverwriteInit(HWND dialog, LPARAM parameter)
{
    const OverwriteQuestion *question = reinterpret_cast<const OverwriteQuestion *>(parameter);
    centreOnOwner(dialog, GetWindow(dialog, GW_OWNER));
    SetDlgItemTextW(dialog, IDC_OVERWRITE_NAME, question->name);
    showFacts(dialog, *question);
    SetFocus(GetDlgItem(dialog, IDC_OVERWRITE_SKIP));
    return FALSE;
}

static INT_PTR CALLBACK overwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onOverwriteInit(dialog, lParam);
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
        case IDC_OVERWRITE_NEWER:
            EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::OverwriteNewer));
            return TRUE;
        case IDC_OVERWRITE_SKIP_ALL:
            EndDialog(dialog, static_cast<INT_PTR>(OverwriteAnswer::SkipAll));
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

OverwriteAnswer overwriteDecision(const wchar_t *name, const FileFacts &incoming, const FileFacts &existing)
{
    if (overwriteAll)
        return OverwriteAnswer::Overwrite;
    if (skipAll)
        return OverwriteAnswer::Skip;
    if (overwriteNewer)
        return incomingIsNewer(incoming, existing) ? OverwriteAnswer::Overwrite : OverwriteAnswer::Skip;
    OverwriteQuestion question = {name, &incoming, &existing};
    INT_PTR answer = DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_OVERWRITE), AppState.mainWindow,
                                     overwriteDialogProc, reinterpret_cast<LPARAM>(&question));
    if (answer == static_cast<INT_PTR>(OverwriteAnswer::OverwriteAll)) {
        overwriteAll = true;
        return OverwriteAnswer::Overwrite;
    }
    if (answer == static_cast<INT_PTR>(OverwriteAnswer::SkipAll)) {
        skipAll = true;
        return OverwriteAnswer::Skip;
    }
    if (answer == static_cast<INT_PTR>(OverwriteAnswer::OverwriteNewer)) {
        overwriteNewer = true;
        return incomingIsNewer(incoming, existing) ? OverwriteAnswer::Overwrite : OverwriteAnswer::Skip;
    }
    if (answer == static_cast<INT_PTR>(OverwriteAnswer::Overwrite) ||
        answer == static_cast<INT_PTR>(OverwriteAnswer::Skip))
        return static_cast<OverwriteAnswer>(answer);
    return OverwriteAnswer::Cancel;
}

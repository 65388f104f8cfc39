// copy_summary.cpp: how each file of one copy command ended, and the one box that sums it up. Its tally is reset
// by each copy command and by resetAppState through resetUiModules().
#include "dialogs/copy_dialog.h"

#include "core/message_box.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

constexpr int ListedNames = 8;           // names shown in the box; the rest are counted
constexpr int ListedNameChars = 300;     // a path of 259 characters and its mark
constexpr int SummaryCutChars = PathChars;

static struct {
    int done, stopped, refused, failed, skipped, notCopied;
    int attempted;      // files a transfer was started or refused for
    int explained;      // failures already told in a box of their own
    int folders;        // folder rows the command copied
    int listedNames;
    wchar_t names[ListedNames][ListedNameChars];
    int cutListings;
    int cutRows;        // the rows the first cut listing kept
    wchar_t firstCut[SummaryCutChars];
} tally;

void resetCopySummary()
{
    memset(&tally, 0, sizeof(tally));
}

void noteFolderCopy()
{
    tally.folders++;
}

static const wchar_t *resultMark(CopyResult result)
{
    switch (result) {
    case CopyResult::Stopped:
        return L"停止";
    case CopyResult::Refused:
        return L"相手側が拒否";
    case CopyResult::NotCopied:
        return L"複写していません";
    default:
        return L"失敗";
    }
}

void recordCopyResult(const wchar_t *name, CopyResult result, const wchar_t *reason, bool explained)
{
    if (result == CopyResult::Skipped) {
        tally.skipped++;
        return;
    }
    if (result == CopyResult::NotCopied)
        tally.notCopied++;
    else
        tally.attempted++;
    switch (result) {
    case CopyResult::Done:
        tally.done++;
        return;
    case CopyResult::Stopped:
        tally.stopped++;
        break;
    case CopyResult::Refused:
        tally.refused++;
        break;
    case CopyResult::NotCopied:
        break;
    default:
        tally.failed++;
        break;
    }
    if (explained)
        tally.explained++;
    if (tally.listedNames < ListedNames) {
        wchar_t *out = tally.names[tally.listedNames++];
        _snwprintf(out, ListedNameChars - 1, L"%.259ls（%ls）", name, reason != nullptr ? reason : resultMark(result));
        out[ListedNameChars - 1] = 0;
    }
}

void recordCopyResults(CopyResult result, int64_t count)
{
    int files = count > 0 ? (count < 0x7fffffff ? static_cast<int>(count) : 0x7fffffff) : 0;
    switch (result) {
    case CopyResult::Done:
        tally.done += files;
        tally.attempted += files;
        break;
    case CopyResult::Skipped:
        tally.skipped += files;
        break;
    default:
        tally.failed += files;
        tally.attempted += files;
        break;
    }
}

void recordTransferOutcome(const wchar_t *name, TransferOutcome outcome)
{
    const wchar_t *reason = AppState.lastReason != FastReason::None ? fastReasonText(AppState.lastReason) : nullptr;
    switch (outcome) {
    case TransferOutcome::Done:
        recordCopyResult(name, CopyResult::Done, nullptr, false);
        break;
    case TransferOutcome::Stopped:
        recordCopyResult(name, CopyResult::Stopped, nullptr, false);
        break;
    case TransferOutcome::Refused:
        // The fast link says why the peer refused, and so does a request that met one of the peer's; the
        // classic one cannot. A reason is no box: the summary tells it.
        recordCopyResult(name, CopyResult::Refused, reason, false);
        break;
    case TransferOutcome::LinkLost:
        // The lost link has a message of its own.
        recordCopyResult(name, CopyResult::Failed, L"接続が切れました", true);
        break;
    default:
        recordCopyResult(name, CopyResult::Failed, reason, false);
        break;
    }
}

void noteListingCut(const wchar_t *folder, int rows)
{
    if (tally.cutListings++ == 0) {
        tally.cutRows = rows;
        wcsncpy(tally.firstCut, folder, SummaryCutChars - 1);
        tally.firstCut[SummaryCutChars - 1] = 0;
    }
}

static void append(wchar_t *out, int outChars, const wchar_t *format, ...)
{
    size_t used = wcslen(out);
    if (used + 1 >= static_cast<size_t>(outChars))
        return;
    va_list args;
    va_start(args, format);
    _vsnwprintf(out + used, static_cast<size_t>(outChars) - used - 1, format, args);
    va_end(args);
    out[outChars - 1] = 0;
}

bool copySummaryText(wchar_t *out, int outChars)
{
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    int missing = tally.stopped + tally.refused + tally.failed + tally.notCopied;
    if (missing == 0 && tally.cutListings == 0)
        return false;
    // One file left at the question, or whose failure already had its own box, needs no second word. A stop is
    // always told: what arrived, what did not, and that nothing is kept to resume from.
    if (tally.folders == 0 && tally.attempted + tally.notCopied == 1 && tally.stopped == 0 &&
        (tally.explained == 1 || tally.notCopied == 1))
        return false;
    append(out, outChars, L"複写の結果\r\n完了: %d 件\r\n", tally.done);
    if (tally.stopped > 0)
        append(out, outChars, L"停止: %d 件\r\n", tally.stopped);
    if (tally.refused > 0)
        append(out, outChars, L"相手側が拒否: %d 件\r\n", tally.refused);
    if (tally.failed > 0)
        append(out, outChars, L"失敗: %d 件\r\n", tally.failed);
    if (tally.skipped > 0)
        append(out, outChars, L"スキップ: %d 件\r\n", tally.skipped);
    if (tally.notCopied > 0)
        append(out, outChars, L"中止したため複写していません: %d 件\r\n", tally.notCopied);
    if (missing > 0) {
        append(out, outChars, L"届かなかったもの:\r\n");
        for (int i = 0; i < tally.listedNames; ++i)
            append(out, outChars, L"  %ls\r\n", tally.names[i]);
        if (missing > tally.listedNames)
            append(out, outChars, L"  ほか %d 件\r\n", missing - tally.listedNames);
    }
    if (tally.cutListings > 0)
        append(out, outChars, L"一覧が %d 行で切れたフォルダがあります: %ls\r\n", tally.cutRows, tally.firstCut);
    // Stop drops the part on both sides: there is nothing to resume from, and saying so spares a wait for it.
    if (tally.stopped > 0)
        append(out, outChars, L"停止しました: %d 件は複写済み、%d 件は複写していません。途中までの分は消したので、次は最初から複写します\r\n",
               tally.done, missing);
    return true;
}

void showCopySummary(HWND owner)
{
    wchar_t text[CopySummaryChars];
    if (copySummaryText(text, CopySummaryChars))
        showMessageBox(owner, text, L"複写結果", MB_OK);
}

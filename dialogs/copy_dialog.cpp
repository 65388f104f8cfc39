// copy_dialog.cpp: the copy command (105 to the peer, 106 from the peer), its loop over the selected items,
// the copy dialog (template 6) and the request that starts each transfer. Its statics are reset by
// resetAppState through resetUiModules().
#include "dialogs/copy_dialog.h"
#include "dialogs/dialog_common.h"

#include "core/app_state.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/dir_table.h"
#include "core/message_box.h"
#include "core/protocol_engine.h"
#include "core/text_codec.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "core/fast_link.h"
#include "core/fast_tree.h"
#include "core/send_ops.h"
#include "panes/pane_rows.h"
#include "panes/own_pane.h"
#include "panes/peer_pane.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

static const wchar_t CopyCaption[] = L"複写操作";

bool sizeTextTooLarge(const wchar_t *sizeText)
{
    return sizeTextValue(sizeText, nullptr) > static_cast<unsigned long long>(MaxFileBytes);
}

bool isDriveName(const wchar_t *name)
{
    return isDriveRoot(name);
}

// The folder the copied item comes from and the folder it goes to.
static const wchar_t *sourceFolder()
{
    return AppState.copyFromPeer ? AppState.peerFolder : AppState.ownFolder;
}

static const wchar_t *destinationFolder()
{
    return AppState.copyFromPeer ? AppState.ownFolder : AppState.peerFolder;
}


// Timers of the copy dialog.
static const UINT_PTR ProgressTimer = 1;  // redraws the counter and progress, and watches for a missed end
static const UINT ProgressMs = 250;
static const int WaitingTicksForEnd = 2;  // ticks in a row that find Waiting while a step runs

// The one open copy dialog: what it copies and how far it is. UI thread only.
static struct {
    bool folder;           // the row is a folder: the tree copier runs
    bool started;
    bool stepRunning;      // an exchange this dialog asked for has not ended yet
    bool refusedHere;      // the request was refused before it went out (its box is shown)
    const wchar_t *refusedReason;  // or, with no box, the summary's reason
    bool onTrial;                  // a folder copy of a row that may be a file
    int waitingTicks;
    bool stopPressed;
    int64_t total;         // -1 when unknown
    bool approximate;
    DWORD startTick;
    bool transferring;
    bool streaming;        // a folder goes in one exchange: its counts are in AppState.treeTally
    int filesStarted;
} job;

// The whole copy command, over all its dialogs: the files and bytes found so far (selected rows, then the
// folder listings as they come in) and how far it is. UI thread only.
static struct {
    int filesTotal;
    int filesDone;             // ended, skipped or refused: each is past
    int64_t bytesTotal;
    int64_t bytesDone;         // of the files past
    int64_t bytesMoved;        // what actually went over the link, for the speed
    bool approximate;          // a total read from a size text with a unit
    int folderRowsLeft;        // selected folders whose files are not counted yet
    bool shown;                // more than one file, or a folder: the whole line is shown
    bool clockStarted;
    DWORD startTick;
    bool stopPressed;          // Stop in one of its dialogs: the rows after it are not copied
    int shownFiles;            // the most the whole line has shown: it never goes back
    int64_t shownBytes;
} whole;

static bool commandRunning;
static bool rowIsFolder;          // the row of the dialog about to open is a folder
static bool rowOnTrial;           // or, a peer row of type 8 with no bytes, may be one
static wchar_t rowSizeText[64];   // and its size text
static wchar_t rowDateText[FactChars];  // and its date text
static int64_t rowBytes;          // and the bytes the whole copy counts for it

void resetCopyCommand()
{
    memset(&job, 0, sizeof(job));
    memset(&whole, 0, sizeof(whole));
    commandRunning = false;
    rowIsFolder = false;
    rowOnTrial = false;
    memset(rowSizeText, 0, sizeof(rowSizeText));
    memset(rowDateText, 0, sizeof(rowDateText));
    rowBytes = 0;
}

static int64_t ownRowBytes(const wchar_t *name);

void noteCommandStopped()
{
    whole.stopPressed = true;
}

bool copyCommandRunning()
{
    return commandRunning;
}

// Every box of the copy command is owned by the main window, so none can be lost behind it.
static HWND boxOwner(HWND dialog)
{
    return AppState.mainWindow != nullptr ? AppState.mainWindow : dialog;
}

static void refusePath(HWND dialog)
{
    showMessageBox(boxOwner(dialog), L"パスが長すぎるため複写できません", CopyCaption, MB_OK);
}

static void formatBytes(int64_t bytes, wchar_t *out, int outChars)
{
    if (bytes < 1024)
        _snwprintf(out, outChars - 1, L"%lld B", static_cast<long long>(bytes));
    else if (bytes < (1ll << 20))
        _snwprintf(out, outChars - 1, L"%.1f KB", bytes / 1024.0);
    else if (bytes < (1ll << 30))
        _snwprintf(out, outChars - 1, L"%.1f MB", bytes / 1048576.0);
    else
        _snwprintf(out, outChars - 1, L"%.2f GB", bytes / 1073741824.0);
    out[outChars - 1] = 0;
}

// "done / total  percent" of formatProgress.
static void formatAmount(int64_t done, int64_t total, bool approximate, wchar_t *out, int outChars)
{
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    wchar_t doneText[32] = {};
    wchar_t totalText[32] = {};
    formatBytes(done, doneText, COUNTOF(doneText));
    if (total >= 0)
        formatBytes(total, totalText, COUNTOF(totalText));
    else
        wcscpy(totalText, L"?");
    int percent = 0;
    if (total > 0)
        percent = static_cast<int>((done >= total ? total : done) * 100 / total);
    else if (total == 0)
        percent = 100;
    _snwprintf(out, outChars - 1, L"%ls / %ls%ls  %d%%", doneText, approximate ? L"約" : L"", totalText, percent);
    out[outChars - 1] = 0;
}

// "speed/秒  残り m:ss" for done of total bytes in elapsedMs.
static void formatSpeed(int64_t done, int64_t total, DWORD elapsedMs, wchar_t *out, int outChars)
{
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    wchar_t speedText[32] = {};
    wchar_t leftText[32] = L"--:--";
    int64_t speed = elapsedMs > 0 ? done * 1000 / static_cast<int64_t>(elapsedMs) : 0;
    formatBytes(speed, speedText, COUNTOF(speedText));
    if (speed > 0 && total >= 0) {
        int64_t seconds = (total > done ? total - done : 0) / speed;
        _snwprintf(leftText, COUNTOF(leftText) - 1, L"%lld:%02d", static_cast<long long>(seconds / 60),
                   static_cast<int>(seconds % 60));
    }
    _snwprintf(out, outChars - 1, L"%ls/秒  残り %ls", speedText, leftText);
    out[outChars - 1] = 0;
}

void formatProgress(int64_t done, int64_t total, bool approximate, DWORD elapsedMs, wchar_t *out, int outChars)
{
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    wchar_t amount[96];
    formatAmount(done, total, approximate, amount, COUNTOF(amount));
    // A file of less than one block is over before any speed means anything.
    if (total >= 0 && total < BlockDataBytes) {
        _snwprintf(out, outChars - 1, L"%ls", amount);
        out[outChars - 1] = 0;
        return;
    }
    wchar_t speed[64];
    formatSpeed(done, total, elapsedMs, speed, COUNTOF(speed));
    _snwprintf(out, outChars - 1, L"%ls  %ls", amount, speed);
    out[outChars - 1] = 0;
}

void formatWholeProgress(int filesDone, int filesTotal, int64_t done, int64_t total, bool approximate, bool growing,
                         int64_t moved, DWORD elapsedMs, wchar_t *out, int outChars)
{
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    wchar_t amount[96];
    formatAmount(done, total, approximate, amount, COUNTOF(amount));
    // The speed is of the bytes that moved; below one block it is no speed yet.
    wchar_t speed[64] = L"--/秒  残り --:--";
    if (moved >= BlockDataBytes) {
        int64_t left = total > done ? total - done : 0;
        formatSpeed(moved, moved + left, elapsedMs, speed, COUNTOF(speed));
    }
    _snwprintf(out, outChars - 1, L"全体 %d / %d 件%ls  %ls  %ls", filesDone, filesTotal,
               growing ? L"（集計中）" : L"", amount, speed);
    out[outChars - 1] = 0;
}

// Bytes of the running transfer: the engine counts them; an engine that does not yet is read from the blocks
// a push has sent.
// The file's own size once the fast link has told it; the row's size text before that.
static int64_t transferTotal()
{
    return AppState.transferSize >= 0 ? AppState.transferSize : job.total;
}

static int64_t bytesSoFar()
{
    int64_t done = AppState.bytesDone;
    if (done <= 0 && !AppState.copyFromPeer)
        done = static_cast<int64_t>(AppState.blockCount) * BlockDataBytes;
    int64_t total = transferTotal();
    if (total >= 0 && done > total && (!job.approximate || AppState.transferSize >= 0))
        done = total;
    return done;
}

void wholeFilesFound(int files, int64_t bytes, bool approximate)
{
    whole.filesTotal += files;
    whole.bytesTotal += bytes > 0 ? bytes : 0;
    whole.approximate = whole.approximate || approximate;
}

void wholeFilesPassed(int files, int64_t bytes)
{
    whole.filesDone += files;
    whole.bytesDone += bytes > 0 ? bytes : 0;
}

// The file now moving is past: its bytes count as done, what it carried as moved.
static void wholeFileEnded()
{
    int64_t moved = bytesSoFar();
    int64_t total = transferTotal();
    wholeFilesPassed(1, total >= 0 ? total : moved);
    whole.bytesMoved += moved;
}

// Control 505: the whole copy, for a copy of more than one file or of a folder.
static void showWholeProgress(HWND dialog)
{
    if (!whole.shown)
        return;
    int64_t current = job.transferring ? bytesSoFar() : 0;
    int filesDone = whole.filesDone;
    int filesTotal = whole.filesTotal;
    int64_t bytesTotal = whole.bytesTotal;
    int64_t moved = whole.bytesMoved;
    bool growing = whole.folderRowsLeft > 0 || treeStillCounting();
    if (job.streaming) {
        // The stream's own counts: files and bytes past only grow, and its totals are known before its data.
        const TreeTally &stream = AppState.treeTally;
        current = stream.bytesPast + AppState.bytesDone;
        filesDone += static_cast<int>(stream.filesPast);
        filesTotal += stream.filesTotal > 0 ? static_cast<int>(stream.filesTotal) : 0;
        bytesTotal += stream.bytesTotal > 0 ? stream.bytesTotal : 0;
        moved += stream.bytesMoved;
        growing = growing || stream.filesTotal < 0;
    }
    int64_t done = whole.bytesDone + current;
    // The stream's counts come from another thread a field at a time: what was shown is never taken back.
    if (filesDone < whole.shownFiles)
        filesDone = whole.shownFiles;
    if (done < whole.shownBytes)
        done = whole.shownBytes;
    whole.shownFiles = filesDone;
    whole.shownBytes = done;
    int64_t total = bytesTotal > done ? bytesTotal : done;
    wchar_t line[160];
    formatWholeProgress(filesDone, filesTotal > filesDone ? filesTotal : filesDone, done, total, whole.approximate,
                        growing, job.streaming ? moved : moved + current,
                        whole.clockStarted ? GetTickCount() - whole.startTick : 0, line, COUNTOF(line));
    SetDlgItemTextW(dialog, IDC_COPY_WHOLE, line);
}

// Control 502 while a folder streams: the file now moving, by its path from the folder, and its bytes so far.
static void showStreamFile(HWND dialog)
{
    const TreeTally &stream = AppState.treeTally;
    wchar_t relative[PathChars];
    memset(relative, 0, sizeof(relative));
    wcsncpy(relative, stream.moving[stream.movingSlot & 1], PathChars - 1);
    if (relative[0] == 0)
        return;
    wchar_t name[PathChars];
    treeStreamName(relative, name, COUNTOF(name));
    wchar_t amount[96];
    formatAmount(AppState.bytesDone, AppState.transferSize, false, amount, COUNTOF(amount));
    wchar_t line[PathChars + 100];
    memset(line, 0, sizeof(line));
    _snwprintf(line, COUNTOF(line) - 1, L"%ls  %ls", name, amount);
    SetDlgItemTextW(dialog, IDC_COPY_PROGRESS, line);
}

// Control 501: the blocks this side has sent (a pull sends none, so it shows zero rather than the count left
// by an earlier push); 502: the progress of the file now moving.
static void showProgress(HWND dialog)
{
    wchar_t text[32];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"Step:%06d", AppState.copyFromPeer ? 0 : AppState.blockCount);
    SetDlgItemTextW(dialog, IDC_STEP_COUNTER, text);
    showWholeProgress(dialog);
    if (job.streaming)
        showStreamFile(dialog);
    if (!job.transferring)
        return;
    wchar_t line[160];
    wchar_t progress[128];
    // With the whole line shown, the speed and time left are the whole copy's alone.
    bool approximate = job.approximate && AppState.transferSize < 0;
    if (whole.shown)
        formatAmount(bytesSoFar(), transferTotal(), approximate, progress, COUNTOF(progress));
    else
        formatProgress(bytesSoFar(), transferTotal(), approximate, GetTickCount() - job.startTick, progress,
                       COUNTOF(progress));
    // A resumed copy says from where: the bytes before it came in an earlier attempt.
    wchar_t resumed[48];
    memset(resumed, 0, sizeof(resumed));
    if (AppState.resumedFrom > 0) {
        wchar_t from[32];
        sizeText(static_cast<unsigned long long>(AppState.resumedFrom), from, COUNTOF(from));
        _snwprintf(resumed, COUNTOF(resumed) - 1, L"%ls から再開  ", from);
    }
    memset(line, 0, sizeof(line));
    if (job.folder)
        _snwprintf(line, COUNTOF(line) - 1, L"%d 件目  %ls%ls", job.filesStarted, resumed, progress);
    else
        _snwprintf(line, COUNTOF(line) - 1, L"%ls%ls", resumed, progress);
    SetDlgItemTextW(dialog, IDC_COPY_PROGRESS, line);
}

const wchar_t UnwritableNameReason[] = L"この PC の文字コードで表せない名前です";
const wchar_t UnfinishedFileReason[] = L"受信途中の一時ファイルです";

bool codePageHolds(const wchar_t *text)
{
    if (wireTextIsUtf8())
        return true;
    BOOL replaced = FALSE;
    int needed = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &replaced);
    // A UTF-8 code page takes neither flag nor default character, and holds every name.
    if (needed <= 0 && GetLastError() == ERROR_INVALID_PARAMETER)
        needed = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    return needed > 0 && !replaced;
}

RequestStart startFileTransfer(HWND dialog, const wchar_t *source, const wchar_t *destination, int64_t total,
                               bool approximate)
{
    // A peer request may have started since the command checked; one exchange at a time.
    if (AppState.transferState != TransferState::Waiting)
        return RequestStart::Busy;
    // The peer's path goes through the code page, and so does a pull's local target; a replaced character would
    // name another file. A push reads its source by its wide name.
    if (!codePageHolds(destination) || (AppState.copyFromPeer && !codePageHolds(source)))
        return RequestStart::Unwritable;
    // Each path within the link's budget: 259 bytes on the classic link, 259 characters in UTF-8.
    char destinationA[FastPathBytes];
    char sourceA[FastPathBytes];
    char message[FastPathBytes + 2];
    memset(destinationA, 0, sizeof(destinationA));
    memset(sourceA, 0, sizeof(sourceA));
    if (wcslen(source) > PathChars - 1 || pathToWire(destination, destinationA, COUNTOF(destinationA)) < 0)
        return RequestStart::TooLong;
    int length;
    if (AppState.copyFromPeer) {
        if (pathToWire(source, sourceA, COUNTOF(sourceA)) < 0)
            return RequestStart::TooLong;
        length = buildPathRequest(message, COUNTOF(message), PullRequestTag, sourceA);
    } else {
        length = buildPathRequest(message, COUNTOF(message), PushRequestTag, destinationA);
    }
    if (length < 0)
        return RequestStart::TooLong;
    // Claimed before any field of the transfer is written: a peer request served from now on is refused.
    if (!claimExchange(AppState.copyFromPeer ? TransferState::CallCopyFrom : TransferState::CallCopyTO))
        return RequestStart::Busy;

    job.total = total;
    job.approximate = approximate;
    job.startTick = GetTickCount();
    job.transferring = true;
    job.filesStarted++;
    if (!whole.clockStarted) {
        whole.clockStarted = true;
        whole.startTick = job.startTick;
    }
    // Everything the engine needs for the answer is in place before the request leaves: the answer is handled
    // on the network thread and may come at once.
    AppState.bytesDone = 0;
    AppState.transferSize = -1;
    AppState.resumedFrom = -1;
    if (AppState.copyFromPeer) {
        memcpy(AppState.pullTargetA, destinationA, sizeof(AppState.pullTargetA));
    } else {
        memset(AppState.sendSourcePath, 0, sizeof(AppState.sendSourcePath));
        wcsncpy(AppState.sendSourcePath, source, COUNTOF(AppState.sendSourcePath) - 1);
        AppState.blockCount = 0;
    }
    job.stepRunning = true;
    job.waitingTicks = 0;
    if (sendRequest(message, length) != 0) {
        // The request never left, so no answer will come to end the state.
        AppState.transferState = TransferState::Waiting;
        job.stepRunning = false;
        job.transferring = false;
        refreshStatus();
        return RequestStart::NotSent;
    }
    refreshStatus();
    showProgress(dialog);
    return RequestStart::Started;
}

RequestStart startTreeExchange(const char *message, int length, TransferState state)
{
    if (!claimExchange(state))
        return RequestStart::Busy;
    AppState.relistAfterFolder = 0;
    job.transferring = false;
    job.stepRunning = true;
    job.waitingTicks = 0;
    if (sendRequest(message, length) != 0) {
        AppState.transferState = TransferState::Waiting;
        job.stepRunning = false;
        refreshStatus();
        return RequestStart::NotSent;
    }
    refreshStatus();
    return RequestStart::Started;
}

RequestStart startTreeStream(const wchar_t *localRoot, const wchar_t *peerPath)
{
    if (!claimExchange(AppState.copyFromPeer ? TransferState::CallCopyFrom : TransferState::CallCopyTO))
        return RequestStart::Busy;
    job.transferring = false;
    job.stepRunning = true;
    job.waitingTicks = 0;
    job.streaming = true;
    if (!whole.clockStarted) {
        whole.clockStarted = true;
        whole.startTick = GetTickCount();
    }
    if (requestTreeStream(AppState.copyFromPeer != 0, localRoot, peerPath, standingOverwrite()) != 0) {
        AppState.transferState = TransferState::Waiting;
        job.stepRunning = false;
        job.streaming = false;
        refreshStatus();
        return RequestStart::NotSent;
    }
    refreshStatus();
    return RequestStart::Started;
}

void treeStreamCounted()
{
    if (!job.streaming)
        return;
    job.streaming = false;
    const TreeTally &stream = AppState.treeTally;
    int64_t files = stream.filesTotal > stream.filesPast ? stream.filesTotal : stream.filesPast;
    int64_t bytes = stream.bytesTotal > stream.bytesPast ? stream.bytesTotal : stream.bytesPast;
    wholeFilesFound(static_cast<int>(files), bytes, false);
    wholeFilesPassed(static_cast<int>(files), bytes);
    whole.bytesMoved += stream.bytesMoved;
}

// WM_TREE_QUESTION: the folder stream met a file that is there; the answer goes back to the network thread.
static void onTreeQuestion(HWND dialog)
{
    if (AppState.treeQuestion != static_cast<LONG>(TreeQuestion::Asked))
        return;
    const TreeAsk &ask = AppState.treeAsk;
    FileFacts incoming, existing;
    memset(&incoming, 0, sizeof(incoming));
    memset(&existing, 0, sizeof(existing));
    sizeText(static_cast<unsigned long long>(ask.incomingSize), incoming.size, FactChars);
    entryDateText(ask.incomingWritten, incoming.date, FactChars);
    sizeText(static_cast<unsigned long long>(ask.existingSize), existing.size, FactChars);
    entryDateText(ask.existingWritten, existing.date, FactChars);
    wchar_t name[PathChars];
    treeStreamName(ask.name, name, COUNTOF(name));
    OverwriteAnswer answer = overwriteDecision(name, incoming, existing);
    AppState.treeAnswer = static_cast<int32_t>(answer);
    AppState.treeStanding = standingOverwrite();
    if (answer == OverwriteAnswer::Cancel) {
        // 中止: the stream stops here, as with Stop, and nothing after it in the command is copied.
        AppState.stopRequest = StopRequest::Requested;
        job.stopPressed = true;
        noteCommandStopped();
    }
    InterlockedExchange(&AppState.treeQuestion, static_cast<LONG>(TreeQuestion::Answered));
    showProgress(dialog);
}

// The name a single row is known by in the summary.
static const wchar_t *rowName()
{
    return AppState.selectedName;
}

bool startCopyRequest(HWND dialog)
{
    HWND sourceEdit = GetDlgItem(dialog, IDC_EDIT1);
    wchar_t source[PathChars];
    memset(source, 0, sizeof(source));
    if (GetWindowTextLengthW(sourceEdit) > PathChars - 1) {
        refusePath(dialog);
        return false;
    }
    GetWindowTextW(sourceEdit, source, PathChars);
    const wchar_t *separator = wcsrchr(source, L'\\');
    const wchar_t *name = separator != nullptr ? separator + 1 : source;
    wchar_t destination[PathChars];
    if (!joinFolderName(destinationFolder(), name, destination, PathChars)) {
        refusePath(dialog);
        return false;
    }
    int64_t total = -1;
    bool approximate = false;
    if (AppState.copyFromPeer) {
        if (rowSizeText[0] != 0)
            total = static_cast<int64_t>(sizeTextValue(rowSizeText, &approximate));
    } else {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(source, GetFileExInfoStandard, &data))
            total = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    RequestStart started = startFileTransfer(dialog, source, destination, total, approximate);
    if (started == RequestStart::Unwritable)
        job.refusedReason = UnwritableNameReason;
    else if (started == RequestStart::TooLong)
        refusePath(dialog);
    else if (started == RequestStart::Busy)
        showMessageBox(boxOwner(dialog), L"他の動作中は出来ません", CopyCaption, MB_OK);
    else if (started == RequestStart::NotSent)
        showMessageBox(boxOwner(dialog), L"相手側へ送れませんでした。接続を確かめてください", CopyCaption, MB_OK);
    return started == RequestStart::Started;
}

// The step this dialog waited for has ended: a single file is recorded and the dialog ends; a tree goes on.
static void onStepEnded(HWND dialog, TransferOutcome outcome)
{
    job.stepRunning = false;
    job.waitingTicks = 0;
    if (job.refusedHere) {
        job.refusedHere = false;
        wholeFilesPassed(1, rowBytes);
        recordCopyResult(rowName(), CopyResult::Failed, job.refusedReason, job.refusedReason == nullptr);
        EndDialog(dialog, 1);
        return;
    }
    showProgress(dialog);
    if (job.transferring) {
        wholeFileEnded();
        job.transferring = false;
        showWholeProgress(dialog);
    }
    if (job.folder) {
        if (treeStepEnded(dialog, outcome))
            return;
        if (whole.stopPressed)
            recordCopyResult(rowName(), CopyResult::Stopped, L"停止したため途中までです", false);
        EndDialog(dialog, 1);
        return;
    }
    recordTransferOutcome(rowName(), outcome);
    EndDialog(dialog, 1);
}

// Start or the automatic start: one step begins and the progress timer watches it.
static void beginTransfer(HWND dialog)
{
    if (job.started)
        return;
    job.started = true;
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
    SetTimer(dialog, ProgressTimer, ProgressMs, nullptr);
    if (job.folder) {
        wchar_t source[PathChars];
        memset(source, 0, sizeof(source));
        GetDlgItemTextW(dialog, IDC_EDIT1, source, COUNTOF(source));
        if (whole.folderRowsLeft > 0)
            whole.folderRowsLeft--;
        FileFacts row;
        rowFileFacts(rowSizeText, rowDateText, &row);
        if (!beginTreeCopy(source, destinationFolder(), AppState.copyFromPeer != 0, job.onTrial, row))
            EndDialog(dialog, 1);
        return;
    }
    if (!startCopyRequest(dialog)) {
        // Its box is shown; the dialog goes once whatever runs has ended, as after a transfer.
        job.refusedHere = true;
        job.stepRunning = true;
        job.waitingTicks = 0;
    }
}

// WM_INITDIALOG: shows source and destination; a later pass starts by itself at once.
static INT_PTR onCopyInit(HWND dialog, LPARAM pass)
{
    memset(&job, 0, sizeof(job));
    // On the main window, not on the screen: the question and the summary come there too.
    centreOnOwner(dialog, GetWindow(dialog, GW_OWNER));
    job.folder = rowIsFolder;
    job.onTrial = rowOnTrial;
    job.total = -1;
    setCopyDialog(dialog);
    wchar_t source[PathChars * 2 + 1];
    joinFolderName(sourceFolder(), AppState.selectedName, source, COUNTOF(source));
    EnableWindow(GetDlgItem(dialog, IDC_EDIT1), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_EDIT2), FALSE);
    SetDlgItemTextW(dialog, IDC_EDIT1, source);
    SetDlgItemTextW(dialog, IDC_EDIT2, destinationFolder());
    AppState.stopRequest = StopRequest::None;
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_START), TRUE);
    if (pass > 0)
        PostMessageW(dialog, WM_COPY_AUTOSTART, 0, 0);
    return TRUE;
}

// WM_TIMER: redraws the counter and the progress. Also ends a step whose end was never posted: Waiting seen on
// two ticks in a row.
static void onCopyTimer(HWND dialog, WPARAM timer)
{
    if (timer != ProgressTimer)
        return;
    showProgress(dialog);
    if (!job.stepRunning)
        return;
    if (AppState.transferState != TransferState::Waiting) {
        job.waitingTicks = 0;
        return;
    }
    if (++job.waitingTicks >= WaitingTicksForEnd)
        onStepEnded(dialog, job.stopPressed && !AppState.copyFromPeer ? TransferOutcome::Stopped : TransferOutcome::Done);
}

// WM_EXCHANGE_ENDED: the exchange this side asked for is over. It is posted before the timer can find Waiting
// twice, so it always belongs to the step now running.
static void onExchangeEnded(HWND dialog, WPARAM outcome)
{
    if (!job.stepRunning)
        return;
    onStepEnded(dialog, static_cast<TransferOutcome>(outcome));
}

// WM_COMMAND: Start, Stop and Close; everything else (Esc included) does nothing.
static void onCopyCommand(HWND dialog, int id)
{
    switch (id) {
    case IDC_START:
        if (IsWindowEnabled(GetDlgItem(dialog, IDC_START)))
            beginTransfer(dialog);
        break;
    case IDC_STOP:
        // Either direction: a push sends its stop tag, a pull refuses the next block.
        AppState.stopRequest = StopRequest::Requested;
        job.stopPressed = true;
        noteCommandStopped();
        if (job.folder && job.started)
            stopTreeCopy();
        break;
    case IDC_CLOSE:
        if (AppState.transferState != TransferState::Waiting) {
            showMessageBox(boxOwner(dialog), L"転送中は操作不可！", L"画面閉じる", MB_OK);
            break;
        }
        AppState.copyDialogClosed = 1;
        EndDialog(dialog, 1);
        break;
    default:
        break;
    }
}

// WM_DESTROY: the timer stops with the dialog, and a stop that no transfer of this side will take up does not
// linger to cut short a later one. A transfer of this side still running keeps its stop for the engine.
static void onCopyDestroy(HWND dialog)
{
    KillTimer(dialog, ProgressTimer);
    if (AppState.transferState != TransferState::CallCopyTO && AppState.transferState != TransferState::CallCopyFrom)
        AppState.stopRequest = StopRequest::None;
    if (job.folder)
        abandonTreeCopy();
    if (openCopyDialog() == dialog)
        setCopyDialog(nullptr);
}

static INT_PTR CALLBACK copyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return onCopyInit(dialog, lParam);
    case WM_COMMAND:
        onCopyCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_COPY_AUTOSTART:
        if (IsWindowEnabled(GetDlgItem(dialog, IDC_START)))
            beginTransfer(dialog);
        return TRUE;
    case WM_TIMER:
        onCopyTimer(dialog, wParam);
        return TRUE;
    case WM_EXCHANGE_ENDED:
        onExchangeEnded(dialog, wParam);
        return TRUE;
    case WM_TREE_QUESTION:
        onTreeQuestion(dialog);
        return TRUE;
    case WM_CLOSE:
        AppState.copyDialogClosed = 1;
        EndDialog(dialog, 1);
        return TRUE;
    case WM_PAINT:
        paintNothing(dialog);
        return TRUE;
    case WM_DESTROY:
        onCopyDestroy(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

static void deselectItem(HWND pane, int index)
{
    ListView_SetItemState(pane, index, 0, LVIS_FOCUSED | LVIS_SELECTED | LVIS_DROPHILITED);
}

// After the loop the destination pane is listed again so that it shows the copied files.
static void refreshDestination(HWND window, bool fromPeer)
{
    if (fromPeer) {
        listOwnFolder(window);
        return;
    }
    // A link lost during the copy has nobody to list the peer folder.
    if (!AppState.linkOpen)
        return;
    requestPeerFolder(window);
}

// Whether a single file lands on one that exists, and both files' facts for the question: a push asks when
// the peer pane lists the name, a pull when the local file is there.
static bool targetExists(bool fromPeer, FileFacts *incoming, FileFacts *existing)
{
    wchar_t local[PathChars];
    if (!joinFolderName(AppState.ownFolder, AppState.selectedName, local, PathChars))
        return false;
    if (fromPeer) {
        rowFileFacts(rowSizeText, rowDateText, incoming);
        return localFileFacts(local, existing);
    }
    int count = ListView_GetItemCount(AppState.peerPane);
    wchar_t name[PathChars];
    wchar_t size[FactChars];
    wchar_t date[FactChars];
    for (int row = 0; row < count; ++row) {
        memset(name, 0, sizeof(name));
        ListView_GetItemText(AppState.peerPane, row, 0, name, COUNTOF(name));
        if (_wcsicmp(name, AppState.selectedName) != 0)
            continue;
        memset(size, 0, sizeof(size));
        memset(date, 0, sizeof(date));
        ListView_GetItemText(AppState.peerPane, row, 1, date, COUNTOF(date));
        ListView_GetItemText(AppState.peerPane, row, 2, size, COUNTOF(size));
        rowFileFacts(size, date, existing);
        localFileFacts(local, incoming);
        return true;
    }
    return false;
}

// One pass of the loop: the checks of one selected row, and its dialog. False when the user cancelled the
// whole command.
static bool copyRow(HWND window, HWND pane, int index, int pass, bool fromPeer)
{
    if (whole.stopPressed)
        return false;
    memset(rowSizeText, 0, sizeof(rowSizeText));
    memset(rowDateText, 0, sizeof(rowDateText));
    ListView_GetItemText(pane, index, 2, rowSizeText, COUNTOF(rowSizeText));
    ListView_GetItemText(pane, index, 1, rowDateText, COUNTOF(rowDateText));
    // The fast link has no size limit; the classic one stops at 953 MB.
    if (!fastLinkOn() && sizeTextTooLarge(rowSizeText)) {
        showMessageBox(window, L"953Mbyteは出来ません", L"サイズ越え", MB_OK);
        return true;
    }
    memset(AppState.selectedName, 0, sizeof(AppState.selectedName));
    ListView_GetItemText(pane, index, 0, AppState.selectedName, COUNTOF(AppState.selectedName));
    if (isDriveName(AppState.selectedName)) {
        showMessageBox(window, L"ドライブは選べません", CopyCaption, MB_OK);
        return true;
    }
    // An unfinished receive is kept for the fast link to resume; it is not the user's file to send on.
    if (!fromPeer && isTemporaryName(AppState.selectedName)) {
        recordCopyResult(AppState.selectedName, CopyResult::Failed, UnfinishedFileReason, false);
        return true;
    }
    if (AppState.copyDialogClosed)
        return true;
    // A peer folder with more attributes than the directory bit is type 8 as a file is: the folder copy tries it
    // and pulls a file if it lists nothing.
    int type = paneRowType(pane, index);
    rowBytes = -1;
    if (rowSizeText[0] != 0)
        rowBytes = static_cast<int64_t>(sizeTextValue(rowSizeText, nullptr));
    rowOnTrial = fromPeer && type == TypeOther && rowBytes <= 0;
    if (!fromPeer)
        rowBytes = ownRowBytes(AppState.selectedName);
    rowIsFolder = type == TypeFolder || rowOnTrial;
    FileFacts incoming, existing;
    if (rowIsFolder) {
        noteFolderCopy();
    } else if (targetExists(fromPeer, &incoming, &existing)) {
        OverwriteAnswer answer = overwriteDecision(AppState.selectedName, incoming, existing);
        if (answer == OverwriteAnswer::Cancel)
            return false;
        if (answer == OverwriteAnswer::Skip) {
            wholeFilesPassed(1, rowBytes);
            recordCopyResult(AppState.selectedName, CopyResult::Skipped, nullptr, false);
            return true;
        }
    }
    DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_COPY), window, copyDialogProc, pass);
    return true;
}

// The bytes of an own file by its size on the disk (the pane's text may be rounded); -1 when unknown.
static int64_t ownRowBytes(const wchar_t *name)
{
    wchar_t path[PathChars];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!joinFolderName(AppState.ownFolder, name, path, PathChars) ||
        !GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The whole copy starts from the selected rows: their files, and the folders whose files the tree copier
// counts as it lists them. Rows the loop refuses at once (drives, too large) are left out.
static void countSelectedRows(HWND pane, bool fromPeer)
{
    memset(&whole, 0, sizeof(whole));
    wchar_t name[PathChars];
    wchar_t size[64];
    for (int index = ListView_GetNextItem(pane, -1, LVNI_SELECTED); index != -1;
         index = ListView_GetNextItem(pane, index, LVNI_SELECTED)) {
        memset(name, 0, sizeof(name));
        memset(size, 0, sizeof(size));
        ListView_GetItemText(pane, index, 0, name, COUNTOF(name));
        ListView_GetItemText(pane, index, 2, size, COUNTOF(size));
        if (isDriveName(name) || (!fastLinkOn() && sizeTextTooLarge(size)) || (!fromPeer && isTemporaryName(name)))
            continue;
        bool approximate = false;
        int64_t bytes = size[0] != 0 ? static_cast<int64_t>(sizeTextValue(size, &approximate)) : -1;
        int type = paneRowType(pane, index);
        if (type == TypeFolder || (fromPeer && type == TypeOther && bytes <= 0)) {
            whole.folderRowsLeft++;
            continue;
        }
        if (fromPeer)
            wholeFilesFound(1, bytes, approximate);
        else
            wholeFilesFound(1, ownRowBytes(name), false);
    }
    whole.shown = whole.folderRowsLeft > 0 || whole.filesTotal > 1;
}

void runCopyCommand(HWND window, bool fromPeer)
{
    // A second copy command while one runs (from a box of the first) would nest inside it.
    if (commandRunning || AppState.transferState != TransferState::Waiting) {
        showMessageBox(window, L"他の動作中は出来ません", CopyCaption, MB_OK);
        return;
    }
    AppState.copyFromPeer = fromPeer ? 1 : 0;
    AppState.copyDialogClosed = 0;
    HWND pane = fromPeer ? AppState.peerPane : AppState.ownPane;
    if (ListView_GetNextItem(pane, -1, LVNI_SELECTED) == -1) {
        showMessageBox(window, L"項目を選んでください", CopyCaption, MB_OK);
        return;
    }
    commandRunning = true;
    countSelectedRows(pane, fromPeer);
    resetCopySummary();
    resetOverwritePolicy();
    int count = ListView_GetItemCount(pane);
    bool cancelled = false;
    for (int pass = 0; pass < count; ++pass) {
        int index = ListView_GetNextItem(pane, -1, LVNI_SELECTED);
        if (index == -1)
            break;
        if (!cancelled && !copyRow(window, pane, index, pass, fromPeer))
            cancelled = true;
        if (cancelled) {
            AppState.copyDialogClosed = 1;
            // The summary names what the stop or the 中止 left behind.
            wchar_t name[PathChars];
            memset(name, 0, sizeof(name));
            ListView_GetItemText(pane, index, 0, name, COUNTOF(name));
            recordCopyResult(name, CopyResult::NotCopied, nullptr, false);
        }
        deselectItem(pane, index);
    }
    AppState.copyDialogClosed = 0;
    if (AppState.transferState == TransferState::Waiting)
        refreshDestination(window, fromPeer);
    showCopySummary(window);
    commandRunning = false;
}

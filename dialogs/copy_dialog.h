// copy_dialog.h: commands 105 and 106, one copy dialog per selected item, the folder-tree copier, the overwrite
// question and the summary of one copy command.
#pragma once
#include "core/paths.h"

#include "core/app_state.h"

#include <windows.h>
#include <cstdint>

constexpr int FactChars = 32;

// What the question shows of one file: its size and last-write date as the panes show them ("2500",
// "2020/01/03 03:04"); empty when not known.
struct FileFacts {
    wchar_t size[FactChars];
    wchar_t date[FactChars];
};

// copy_dialog.cpp

// Runs the whole copy command over the selected items of the source pane (own pane when !fromPeer).
void runCopyCommand(HWND window, bool fromPeer);

// True while a copy command runs; no other command may start inside it.
bool copyCommandRunning();
// Forgets the dialog's job, the whole copy and the row about to open, as at first start.
void resetCopyCommand();

// Builds and sends the "FD" or "FC" request for the item shown in the copy dialog and enters the transfer
// state. Returns false when the request was refused (another exchange running, a path too long) and nothing
// was sent.
bool startCopyRequest(HWND dialog);

// True when a pane's size text ("123", "45K", "953M", "10G", "" ...) stands for more than a transfer may carry.
bool sizeTextTooLarge(const wchar_t *sizeText);

// True for a drive row's name ("c:\").
bool isDriveName(const wchar_t *name);


// The progress line under the step counter: done of total bytes, percent, speed and time left. A total of -1
// is unknown; approximate marks a total read from a size text with a unit.
void formatProgress(int64_t done, int64_t total, bool approximate, DWORD elapsedMs, wchar_t *out, int outChars);

// The whole copy's line: files past of found, bytes done of found, the speed of the bytes moved and the time
// left; growing says folder listings are still to be counted.
void formatWholeProgress(int filesDone, int filesTotal, int64_t done, int64_t total, bool approximate, bool growing,
                         int64_t moved, DWORD elapsedMs, wchar_t *out, int outChars);

// The folder copier adds the files its listings find to the whole copy, and the files it passes over (skipped,
// refused) count as past.
void wholeFilesFound(int files, int64_t bytes, bool approximate);
void wholeFilesPassed(int files, int64_t bytes);

// Unwritable: a name this side's code page cannot hold, refused before anything is sent.
enum class RequestStart { Started, TooLong, Busy, NotSent, Unwritable };

// The summary's reason for an Unwritable name.
extern const wchar_t UnwritableNameReason[];
// The summary's reason for an own ".$TEMP" file, which is not copied.
extern const wchar_t UnfinishedFileReason[];

// True when text goes into this side's code page without a replacement character.
bool codePageHolds(const wchar_t *text);

// Starts one file transfer: a push of the local source to the peer path destination, or a pull of the peer
// path source into the local destination. Sets up the progress line for it. Shows no box.
RequestStart startFileTransfer(HWND dialog, const wchar_t *source, const wchar_t *destination, int64_t total,
                               bool approximate);

// Sends a request of the folder copier ("CD" in FolderTO, "DD" in CallDIR) whose end the dialog then awaits.
RequestStart startTreeExchange(const char *message, int length, TransferState state);
// Starts a whole folder in one exchange (push: localRoot to peerPath; pull: peerPath into localRoot), whose end
// the dialog then awaits; its progress comes from AppState.treeTally.
RequestStart startTreeStream(const wchar_t *localRoot, const wchar_t *peerPath);
// The folder stream has ended: its counts go into the whole copy.
void treeStreamCounted();
// copy_tree.cpp: a path below the streamed folder as the summary names it (the folder's name first).
void treeStreamName(const wchar_t *relative, wchar_t *out, int outChars);
// copy_tree.cpp

// Starts copying the folder source (full path) into destinationFolder; sourceRow is a pull's peer row of it.
// False when nothing was started and the tree is already done.
bool beginTreeCopy(const wchar_t *source, const wchar_t *destinationFolder, bool fromPeer, bool onTrial,
                   const FileFacts &sourceRow);
// The step the copier asked for has ended; starts the next. False when the tree is done.
bool treeStepEnded(HWND dialog, TransferOutcome outcome);
// True while folders of the running tree are still to be listed, so the whole copy's totals still grow.
bool treeStillCounting();
// Stop: the file now moving is stopped and nothing more of the tree is copied.
void stopTreeCopy();
// The dialog goes while the tree is unfinished: the listing goes back to the pane, the peer folder is restored.
void abandonTreeCopy();
// No tree: a search still open is closed.
void resetTreeCopy();

// overwrite_dialog.cpp

enum class OverwriteAnswer { Overwrite = 1, Skip = 2, OverwriteAll = 3, Cancel = 4, OverwriteNewer = 5, SkipAll = 6 };

// A local file's facts from the disk; false, with empty facts, when it is not there.
bool localFileFacts(const wchar_t *path, FileFacts *facts);
// A peer row's facts from its size and date texts (null for unknown).
void rowFileFacts(const wchar_t *size, const wchar_t *date, FileFacts *facts);
// A row's date ("2020/01/03 03:04") as a local time of that minute; false when the text is no such date.
bool rowDateTime(const wchar_t *date, SYSTEMTIME *out);

// Every copy command starts asking again.
void resetOverwritePolicy();
// The answer that holds for the rest of the command: OverwriteAll, OverwriteNewer, SkipAll, or 0 when each file
// is asked.
int standingOverwrite();
// Asks whether name may be overwritten by incoming (owned by the main window) unless the user said so for the
// rest of the command; the answer to act on is Overwrite, Skip or Cancel.
OverwriteAnswer overwriteDecision(const wchar_t *name, const FileFacts &incoming, const FileFacts &existing);

// Stop, or 中止 in the overwrite question: the copy command copies nothing after the file it is at.
void noteCommandStopped();

// copy_summary.cpp

// NotCopied: a row the command never reached, because the user stopped it or answered 中止.
enum class CopyResult { Done, Stopped, Refused, Failed, Skipped, NotCopied };

constexpr int CopySummaryChars = 4096;

void resetCopySummary();
void noteFolderCopy();
// reason (may be null) replaces the result's own mark after the name; explained says a box already told it.
void recordCopyResult(const wchar_t *name, CopyResult result, const wchar_t *reason, bool explained);
// count files of one result at once, unnamed (a folder stream's files).
void recordCopyResults(CopyResult result, int64_t count);
// How the engine said a file's transfer ended.
void recordTransferOutcome(const wchar_t *name, TransferOutcome outcome);
// A folder listing that may have left rows out: named in the summary with the rows it kept.
void noteListingCut(const wchar_t *folder, int rows);
// The summary of the command into out; false when there is nothing to say.
bool copySummaryText(wchar_t *out, int outChars);
// Shows the summary, owned by owner, when there is something to say.
void showCopySummary(HWND owner);

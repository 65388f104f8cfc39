// reports.cpp: the queue of reports from the network thread to the UI thread. A box shown on the network
// thread would hold up every receive until someone clicks it, and boxes raised there have no owner.
// resetAppState empties the queue (discardReports).
#include "core/reports.h"

#include "core/app_state.h"
#include "core/message_box.h"
#include "resources/resource_ids.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr int QueuedReports = 8;
constexpr int ReportTextChars = 400;
constexpr int ReportCaptionChars = 64;

struct QueuedReport {
    wchar_t text[ReportTextChars];
    wchar_t caption[ReportCaptionChars];
    int repeats;
};

// Guarded by reportLock: written by any thread, read by the UI thread.
SRWLOCK reportLock = SRWLOCK_INIT;
QueuedReport queue[QueuedReports];
int queued = 0;
bool noticePosted = false;

// UI thread only: a box of ours is up, so a notice that arrives through its modal loop must not stack a
// second box on top of it; the loop below shows the rest when the first is answered.
bool showing = false;

void copyBounded(wchar_t *out, int outChars, const wchar_t *text)
{
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    if (text != nullptr)
        wcsncpy(out, text, static_cast<size_t>(outChars - 1));
}

// Takes the oldest report into out. False when none is queued.
bool takeReport(QueuedReport *out)
{
    AcquireSRWLockExclusive(&reportLock);
    bool any = queued > 0;
    if (any) {
        *out = queue[0];
        memmove(&queue[0], &queue[1], sizeof(QueuedReport) * static_cast<size_t>(queued - 1));
        queued--;
    } else {
        noticePosted = false;
    }
    ReleaseSRWLockExclusive(&reportLock);
    return any;
}

}  // namespace

void postReport(const wchar_t *text, const wchar_t *caption)
{
    QueuedReport report;
    copyBounded(report.text, ReportTextChars, text);
    copyBounded(report.caption, ReportCaptionChars, caption);
    report.repeats = 1;

    bool post = false;
    AcquireSRWLockExclusive(&reportLock);
    int same = -1;
    for (int i = 0; i < queued; i++) {
        if (wcscmp(queue[i].text, report.text) == 0 && wcscmp(queue[i].caption, report.caption) == 0)
            same = i;
    }
    if (same >= 0)
        queue[same].repeats++;
    else if (queued < QueuedReports)
        queue[queued++] = report;
    else
        queue[QueuedReports - 1].repeats++;  // a flood is counted on the last one rather than dropped unseen
    if (!noticePosted) {
        noticePosted = true;
        post = true;
    }
    ReleaseSRWLockExclusive(&reportLock);

    if (post && AppState.mainWindow != nullptr)
        PostMessageW(AppState.mainWindow, WM_SHOW_REPORTS, 0, 0);
}

void showPendingReports(HWND owner)
{
    if (showing)
        return;
    showing = true;
    QueuedReport report;
    while (takeReport(&report)) {
        wchar_t text[ReportTextChars + 64];
        memset(text, 0, sizeof(text));
        if (report.repeats > 1)
            _snwprintf(text, COUNTOF(text) - 1, L"%ls\r\n(同じ知らせが %d 回ありました)", report.text, report.repeats);
        else
            wcsncpy(text, report.text, COUNTOF(text) - 1);
        showMessageBox(owner, text, report.caption, MB_OK | MB_ICONWARNING);
    }
    showing = false;
}

void discardReports()
{
    AcquireSRWLockExclusive(&reportLock);
    queued = 0;
    noticePosted = false;
    ReleaseSRWLockExclusive(&reportLock);
}

// reports.h: messages for the user raised where no box may be shown (the network thread). They are queued,
// handed to the UI thread and shown there one at a time, owned by the main window; a repeat is counted, not
// stacked.
#pragma once

#include <windows.h>

// Queues a report. Never waits and never shows a box itself; safe on any thread.
void postReport(const wchar_t *text, const wchar_t *caption);

// UI thread: shows every queued report through showMessageBox, owned by owner.
void showPendingReports(HWND owner);

// Forgets every queued report (a fresh start of the record, with resetAppState).
void discardReports();

// reports.cpp: the queue of reports from the network thread to the UI thread.
#include "core/reports.h"

void postReport(const wchar_t *, const wchar_t *)
{
}

void showPendingReports(HWND)
{
}

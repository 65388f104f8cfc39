// monitor_window.h: the received-data, sent-data and DIR table windows (commands 113 to 115).
#pragma once

#include <windows.h>

enum class MonitorView : int { Received = 0, Sent = 1, DirTable = 2 };

HWND openMonitorWindow(HWND window, MonitorView view);

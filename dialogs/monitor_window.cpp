// monitor_window.cpp: placeholder until the monitor windows land.
#include "dialogs/monitor_window.h"
HWND openMonitorWindow(HWND, MonitorView) { return nullptr; }

// status_bar.cpp: placeholder until the status bar lands.
#include "app/status_bar.h"
void refreshStatus() {}
void setLinkLabel(const wchar_t *) {}
void showLinkText(bool, HWND) {}
void statusPartText(int, wchar_t *out, int) { out[0] = 0; }
void writeInitialLabels(HWND) {}

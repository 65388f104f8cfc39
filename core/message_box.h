// message_box.h: the one way the program shows a modal message box, so tests can record and answer them.
#pragma once

#include <windows.h>

typedef int (*MessageBoxFunction)(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags);

// MessageBoxW, centred on its owner window (on the owner's monitor).
int platformMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags);

// platformMessageBox in the program; a test or the console host puts its own function here.
extern MessageBoxFunction messageBoxFunction;

int showMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags);

// message_box.h: the one way the program shows a modal message box, so tests can record and answer them.
#pragma once

#include <windows.h>

typedef int (*MessageBoxFunction)(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags);

// Moves a window's place inside a work area, shrunk to it when larger.
void fitInWorkArea(const RECT &work, RECT *place);

// Centres a box or dialog on its owner, kept inside the work area of the owner's monitor. A null owner leaves it.
void centreOnOwner(HWND box, HWND owner);

// MessageBoxW, centred on its owner window (on the owner's monitor).
int platformMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags);

// platformMessageBox in the program; a test or the console host puts its own function here.
extern MessageBoxFunction messageBoxFunction;

int showMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags);

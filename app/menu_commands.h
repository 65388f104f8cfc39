// menu_commands.h: menu 100, its enable rule and commands 101 to 120.
#pragma once

#include <windows.h>

// WM_INITMENUPOPUP: enables and greys the items of the drop-down that opens.
void applyMenuEnableRule(HMENU menu);

// WM_COMMAND: runs command id; returns FALSE for an id it does not handle.
BOOL runMenuCommand(HWND window, int id);

// Host of the two web pages.
extern const wchar_t WebHost[];

// own_pane.h: the left list view, this machine's folder.
#pragma once

#include <windows.h>

void listOwnFolder(HWND window);
void navigateOwnPane(HWND window);

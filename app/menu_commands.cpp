// menu_commands.cpp: placeholder until the menu lands.
#include "app/menu_commands.h"
const wchar_t WebHost[] = L"https://www.brindlewax.example";
void applyMenuEnableRule(HMENU) {}
BOOL runMenuCommand(HWND, int) { return FALSE; }

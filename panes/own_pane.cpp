// own_pane.cpp: placeholder until the own pane lands.
#include "panes/own_pane.h"
void listOwnFolder(HWND) {}
void navigateOwnPane(HWND) {}

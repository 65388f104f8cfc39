// main_window.cpp: placeholder until the main window lands.
#include "app/main_window.h"
bool createMainWindow(HINSTANCE) { return false; }
LRESULT CALLBACK mainWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
void createMainChildren(HWND) {}
void requestClose(HWND w) { DestroyWindow(w); }

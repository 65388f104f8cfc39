// pane_drag.h: rows dragged from one pane onto the other, and files dropped from Explorer onto the peer pane.
// Each runs the copy command its menu item runs.
#pragma once

#include <windows.h>
#include <shellapi.h>

// LVN_BEGINDRAG from a pane: the main window takes the mouse until the button comes up.
void beginPaneDrag(HWND window, HWND pane);

// True while rows are being dragged.
bool paneDragRunning();

// WM_LBUTTONUP while dragging (client coordinates of the main window): rows of the own pane let go over the
// peer pane are copied to the peer, rows of the peer pane over the own pane from it.
void endPaneDrag(HWND window, POINT where);

// WM_CAPTURECHANGED: the drag is over without a copy.
void cancelPaneDrag();

// WM_DROPFILES: what Explorer dropped on the peer pane is pushed, one copy command per folder the items come
// from; the own pane goes back to its folder afterwards. Frees the drop.
void dropFilesOnPeer(HWND window, HDROP drop);

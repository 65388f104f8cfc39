// status_bar.h: the status bar's six parts and the four info labels.
#pragma once

#include <windows.h>

// refreshStatus and setLinkLabel are declared in core/ui_ops.h.
#include "core/app_state.h"
#include "core/ui_ops.h"

// The bar's client width now and at the window's default size, and the window's DPI: the parts follow the DPI
// and below the default width the free part gives up what the bar lacks.
void fitStatusParts(int clientWidth, int defaultClientWidth, int dpi);
// Back to the first-start fit: the parts at 96 DPI, not shrunk.
void resetStatusFit();
// The part edges the bar shows (the last one -1, to the bar's end).
void shownStatusEdges(int32_t edges[StatusParts]);

// Writes the link label in its open or closed resting form.
void showLinkText(bool open, HWND window);

// Formats the text of status part index (0..5) from AppState into out.
void statusPartText(int part, wchar_t *out, int outChars);

// Writes labels 303 to 306 as they read after window creation.
void writeInitialLabels(HWND window);

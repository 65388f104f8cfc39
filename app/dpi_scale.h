// dpi_scale.h: the one rule by which the pixel sizes of the windows, laid out at 96 DPI, follow a window's DPI.
#pragma once

#include <windows.h>

constexpr int LayoutDpi = 96;  // the DPI every pixel size in the code is given at

// A size laid out at 96 DPI, at dpi: unchanged at 96, half as large again at 144.
int scaleToDpi(int pixels, int dpi);

// The DPI window is drawn at: GetDpiForWindow where user32 has it (Windows 10 1607 and later), else the
// screen's LOGPIXELSX. A null window gives the screen's.
int windowDpi(HWND window);

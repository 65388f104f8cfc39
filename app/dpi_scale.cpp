// dpi_scale.cpp: pixel sizes at a window's DPI. The one lookup it keeps holds for the whole run and needs no
// reset.
#include "app/dpi_scale.h"

int scaleToDpi(int pixels, int dpi)
{
    if (dpi <= 0)
        return pixels;
    return MulDiv(pixels, dpi, LayoutDpi);
}

typedef UINT(WINAPI *DpiForWindowProc)(HWND);

// Looked up once: older Windows and Wine's user32 may lack it, and the program must still start there.
static DpiForWindowProc dpiForWindow()
{
    static bool looked = false;
    static DpiForWindowProc procedure = nullptr;
    if (!looked) {
        looked = true;
        HMODULE user = GetModuleHandleW(L"user32.dll");
        if (user != nullptr)
            procedure = reinterpret_cast<DpiForWindowProc>(
                reinterpret_cast<void (*)()>(GetProcAddress(user, "GetDpiForWindow")));
    }
    return procedure;
}

int windowDpi(HWND window)
{
    DpiForWindowProc procedure = dpiForWindow();
    if (window != nullptr && procedure != nullptr) {
        UINT dpi = procedure(window);
        if (dpi > 0)
            return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : LayoutDpi;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : LayoutDpi;
}

// monitor_window.cpp: the received-data, sent-data and DIR table windows (template 5): plain text, repainted
// every three seconds, opened beside the main window or where they were last, reading AppState without changing
// it.
#include "dialogs/monitor_window.h"
#include "dialogs/dialog_common.h"

#include "app/dpi_scale.h"

#include "core/app_state.h"
#include "core/text_codec.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <cstring>
#include <cwchar>

const wchar_t *monitorTitle(MonitorView view)
{
    switch (view) {
    case MonitorView::Received:
        return L"受信データー表示";
    case MonitorView::Sent:
        return L"送信データー表示";
    default:
        return L"DIRテーブル表示";
    }
}

int monitorRowCount(MonitorView view)
{
    return view == MonitorView::DirTable ? DirRows : RingLines;
}

int monitorRowY(MonitorView view, int index)
{
    return view == MonitorView::DirTable ? (index % RingLines) * MonitorLineHeight : index * MonitorLineHeight;
}

// The row's bytes and their count; null for an index outside the view.
static const char *rowBytes(MonitorView view, int index, int *bytes)
{
    if (index < 0 || index >= monitorRowCount(view))
        return nullptr;
    switch (view) {
    case MonitorView::Received:
        *bytes = RingLineBytes;
        return AppState.receivedRing[index];
    case MonitorView::Sent:
        *bytes = RingLineBytes;
        return AppState.sentRing[index];
    default:
        *bytes = DirRowBytes;
        return AppState.dirTable[index];
    }
}

int monitorRowText(MonitorView view, int index, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return 0;
    memset(out, 0, sizeof(wchar_t) * static_cast<size_t>(outChars));
    int rowSize = 0;
    const char *row = rowBytes(view, index, &rowSize);
    if (row == nullptr)
        return 0;
    // A full ring line has no zero inside it: the text stops at the line's end.
    const void *zero = memchr(row, 0, static_cast<size_t>(rowSize));
    int textBytes = zero != nullptr ? static_cast<int>(static_cast<const char *>(zero) - row) : rowSize;
    wchar_t text[RingLineBytes + 1];
    memset(text, 0, sizeof(text));
    int chars = wireToWide(row, textBytes, text, COUNTOF(text));
    if (chars <= 0)
        return 0;
    if (chars > MonitorRowChars)
        chars = MonitorRowChars;
    if (chars > outChars - 1)
        chars = outChars - 1;
    wmemcpy(out, text, static_cast<size_t>(chars));
    return chars;
}

void drawMonitorRows(MonitorView view, MonitorRowDraw draw, void *context)
{
    wchar_t text[RingLineBytes];
    int rows = monitorRowCount(view);
    for (int index = 0; index < rows; ++index) {
        int chars = monitorRowText(view, index, text, COUNTOF(text));
        if (chars > 0)
            draw(context, 0, monitorRowY(view, index), text, chars);
    }
}

// The rows are placed at 96 DPI; the window draws them at its own.
struct MonitorCanvas {
    HDC dc;
    int dpi;
};

static void drawWithTextOut(void *context, int x, int y, const wchar_t *text, int chars)
{
    const MonitorCanvas *canvas = static_cast<const MonitorCanvas *>(context);
    TextOutW(canvas->dc, scaleToDpi(x, canvas->dpi), scaleToDpi(y, canvas->dpi), text, chars);
}

// WM_PAINT: the rows as they are now, with the device context as BeginPaint gives it.
static void onMonitorPaint(HWND window, MonitorView view)
{
    PAINTSTRUCT paint;
    MonitorCanvas canvas = {BeginPaint(window, &paint), windowDpi(window)};
    drawMonitorRows(view, drawWithTextOut, &canvas);
    EndPaint(window, &paint);
}

// WM_DESTROY: the place is kept for the next opening (and the settings file).
static void keepPlace(HWND window, MonitorView view)
{
    RECT own = {};
    if (IsIconic(window) || !GetWindowRect(window, &own))
        return;
    POINT place = {own.left, own.top};
    setMonitorPlace(static_cast<int>(view), &place);
}

static INT_PTR monitorProc(MonitorView view, HWND window, UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextW(window, monitorTitle(view));
        SetTimer(window, IDT_MONITOR_REDRAW, 3000, nullptr);
        return TRUE;
    case WM_TIMER:
        // Erased first, so no text drawn earlier shows where the new text is shorter.
        if (wParam == IDT_MONITOR_REDRAW) {
            InvalidateRect(window, nullptr, TRUE);
            UpdateWindow(window);
        }
        return TRUE;
    case WM_PAINT:
        onMonitorPaint(window, view);
        return TRUE;
    case WM_CLOSE:
        // Destroyed at once: a closed window has no reason to keep its timer until the main window goes.
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        KillTimer(window, IDT_MONITOR_REDRAW);
        keepPlace(window, view);
        return TRUE;
    default:
        return FALSE;
    }
}

static INT_PTR CALLBACK receivedMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    return monitorProc(MonitorView::Received, window, message, wParam);
}

static INT_PTR CALLBACK sentMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    return monitorProc(MonitorView::Sent, window, message, wParam);
}

static INT_PTR CALLBACK dirTableMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    return monitorProc(MonitorView::DirTable, window, message, wParam);
}

// A monitor window without a place of its own opens beside the main window, on its monitor: right of it
// where the monitor has room, else left of it, else inside the monitor's right edge; the three one step apart.
static const int PlaceStep = 30;
// The strip along the top of a saved place that must lie on a monitor, so the title bar can be reached.
static const int TitleStrip = 30;

static void placeBeside(HWND monitor, HWND owner, int view)
{
    RECT ownerRect = {};
    RECT own = {};
    if (owner == nullptr || !GetWindowRect(owner, &ownerRect) || !GetWindowRect(monitor, &own))
        return;
    MONITORINFO info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &info))
        return;
    const RECT &work = info.rcWork;
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int step = scaleToDpi(PlaceStep, windowDpi(owner)) * view;
    int x = ownerRect.right;
    if (x + width > work.right)
        x = ownerRect.left - width >= work.left ? ownerRect.left - width : work.right - width;
    if (x < work.left)
        x = work.left;
    int y = ownerRect.top + step;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (y < work.top)
        y = work.top;
    SetWindowPos(monitor, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The place the window had when it last closed, while its title bar still lies on a monitor.
static bool placeWhereItWas(HWND monitor, int view)
{
    POINT place;
    RECT own = {};
    if (!monitorPlace(view, &place) || !GetWindowRect(monitor, &own))
        return false;
    RECT strip = {place.x, place.y, place.x + (own.right - own.left),
                  place.y + scaleToDpi(TitleStrip, windowDpi(monitor))};
    if (MonitorFromRect(&strip, MONITOR_DEFAULTTONULL) == nullptr)
        return false;
    SetWindowPos(monitor, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

// The window of this view that window already owns, or null.
static HWND openMonitorOf(HWND window, MonitorView view)
{
    for (HWND found = FindWindowExW(nullptr, nullptr, L"#32770", monitorTitle(view)); found != nullptr;
         found = FindWindowExW(nullptr, found, L"#32770", monitorTitle(view))) {
        if (GetWindow(found, GW_OWNER) == window)
            return found;
    }
    return nullptr;
}

HWND openMonitorWindow(HWND window, MonitorView view)
{
    // A second window of one view would only show the same lines: the open one comes forward instead.
    HWND open = openMonitorOf(window, view);
    if (open != nullptr) {
        ShowWindow(open, IsIconic(open) ? SW_RESTORE : SW_SHOWNORMAL);
        SetWindowPos(open, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        return open;
    }
    DLGPROC procedure = view == MonitorView::Received ? receivedMonitorProc
                        : view == MonitorView::Sent   ? sentMonitorProc
                                                      : dirTableMonitorProc;
    HWND monitor = CreateDialogParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_MONITOR), window, procedure, 0);
    if (monitor != nullptr) {
        if (!placeWhereItWas(monitor, static_cast<int>(view)))
            placeBeside(monitor, window, static_cast<int>(view));
        ShowWindow(monitor, SW_SHOWNORMAL);
    }
    return monitor;
}

// monitor_window.cpp: the received-data, sent-data and DIR table windows (template 5): plain text, repainted
// every three seconds and opened cascaded, reading AppState without changing it.
#include "dialogs/monitor_window.h"
#include "dialogs/dialog_common.h"

#include "app/dpi_scale.h"

#include "core/app_state.h"
#include "core/text_codec.h"
#include "resources/resource_ids.h"

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
    int chars = ansiToWide(row, textBytes, text, COUNTOF(text));
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

// Each monitor window opens one step below and right of the one before; the steps start over after a few.
static const int CascadeStep = 30;
static const int CascadeSteps = 8;
static int NextCascade = 0;

static void placeCascaded(HWND monitor, HWND owner)
{
    RECT ownerRect = {};
    if (owner == nullptr || !GetWindowRect(owner, &ownerRect))
        return;
    int step = scaleToDpi(CascadeStep, windowDpi(owner)) * (1 + NextCascade);
    NextCascade = (NextCascade + 1) % CascadeSteps;
    SetWindowPos(monitor, nullptr, ownerRect.left + step, ownerRect.top + step, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND openMonitorWindow(HWND window, MonitorView view)
{
    DLGPROC procedure = view == MonitorView::Received ? receivedMonitorProc
                        : view == MonitorView::Sent   ? sentMonitorProc
                                                      : dirTableMonitorProc;
    HWND monitor = CreateDialogParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_MONITOR), window, procedure, 0);
    if (monitor != nullptr) {
        placeCascaded(monitor, window);
        ShowWindow(monitor, SW_SHOWNORMAL);
    }
    return monitor;
}

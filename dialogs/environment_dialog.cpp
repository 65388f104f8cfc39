// environment_dialog.cpp: the environment dialog (template 3, the monitor switch) and the modeless About box
// (template 2 with bitmap 401).
#include "dialogs/environment_dialog.h"
#include "dialogs/dialog_common.h"

#include "app/dpi_scale.h"
#include "core/app_state.h"
#include "core/message_box.h"
#include "resources/resource_ids.h"

static INT_PTR CALLBACK environmentDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // A one-button range: id 0 clears the box, its own id checks it.
        CheckRadioButton(dialog, IDC_MONITOR_CHECK, IDC_MONITOR_CHECK, 0);
        if (AppState.monitorOn != 0)
            CheckRadioButton(dialog, IDC_MONITOR_CHECK, IDC_MONITOR_CHECK, IDC_MONITOR_CHECK);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DIALOG_OK) {
            AppState.monitorOn = SendDlgItemMessageW(dialog, IDC_MONITOR_CHECK, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
            EndDialog(dialog, 1);
        } else if (LOWORD(wParam) == IDC_DIALOG_CANCEL) {
            EndDialog(dialog, 1);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 1);
        return TRUE;
    case WM_PAINT:
        paintNothing(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR runEnvironmentDialog(HWND window)
{
    return DialogBoxParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_ENVIRONMENT), window, environmentDialogProc, 0);
}

// Each About box holds its own copy of the bitmap, so closing one leaves the others their picture.
static HBITMAP aboutBitmapOf(HWND dialog)
{
    return reinterpret_cast<HBITMAP>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// WM_INITDIALOG: the picture comes from the program's own resources; the fingerprint is this machine's.
static INT_PTR onAboutInit(HWND dialog)
{
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(dialogInstance(), MAKEINTRESOURCEW(IDB_ABOUT), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr)
        showMessageBox(dialog, L"画像が読み込み出来ません。", L"ImageLoad", MB_OK);
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(bitmap));
    AppState.aboutBitmap = bitmap;
    showOwnFingerprint(dialog, IDC_OWN_FINGERPRINT);
    return TRUE;
}

void aboutPicturePlace(HWND dialog, RECT *place)
{
    int dpi = windowDpi(dialog);
    int width = scaleToDpi(AboutPictureWidth, dpi);
    RECT client = {};
    GetClientRect(dialog, &client);
    place->left = (client.right - width) / 2;
    place->top = 0;
    place->right = place->left + width;
    place->bottom = scaleToDpi(AboutPictureHeight, dpi);
}

// WM_PAINT: the picture centred along the top, at the dialog's DPI; the texts are the dialog's own controls.
static void onAboutPaint(HWND dialog)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    HDC memory = CreateCompatibleDC(nullptr);
    if (memory == nullptr) {
        showMessageBox(dialog, L"失敗しました。", L"CreateCompatibleDC", MB_OK);
    } else {
        HBITMAP bitmap = aboutBitmapOf(dialog);
        if (bitmap != nullptr) {
            RECT place;
            aboutPicturePlace(dialog, &place);
            HGDIOBJ previous = SelectObject(memory, bitmap);
            int width = place.right - place.left;
            int height = place.bottom - place.top;
            if (width == AboutPictureWidth && height == AboutPictureHeight) {
                BitBlt(dc, place.left, place.top, width, height, memory, 0, 0, SRCCOPY);
            } else {
                SetStretchBltMode(dc, HALFTONE);
                StretchBlt(dc, place.left, place.top, width, height, memory, 0, 0, AboutPictureWidth,
                           AboutPictureHeight, SRCCOPY);
            }
            SelectObject(memory, previous);
        }
        if (!DeleteDC(memory))
            DeleteObject(memory);
    }
    EndPaint(dialog, &paint);
}

// WM_DESTROY: the bitmap goes with its window.
static void onAboutDestroy(HWND dialog)
{
    HBITMAP bitmap = aboutBitmapOf(dialog);
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
    if (bitmap == nullptr)
        return;
    if (AppState.aboutBitmap == bitmap)
        AppState.aboutBitmap = nullptr;
    DeleteObject(bitmap);
}

static INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return onAboutInit(dialog);
    case WM_PAINT:
        onAboutPaint(dialog);
        return TRUE;
    case WM_COMMAND:
        // A modeless box: destroyed at once rather than hidden until the main window goes.
        if (LOWORD(wParam) == IDC_DIALOG_OK)
            DestroyWindow(dialog);
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        onAboutDestroy(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

HWND openAboutBox(HWND window)
{
    HWND box = CreateDialogParamW(dialogInstance(), MAKEINTRESOURCEW(IDD_ABOUT), window, aboutDialogProc, 0);
    if (box != nullptr)
        ShowWindow(box, SW_SHOWNORMAL);
    return box;
}

// dialog_common.cpp: what every dialog of the program shares.
#include "dialogs/dialog_common.h"

#include "core/app_state.h"

HINSTANCE dialogInstance()
{
    return AppState.instance != nullptr ? AppState.instance : GetModuleHandleW(nullptr);
}

void paintNothing(HWND dialog)
{
    PAINTSTRUCT paint;
    BeginPaint(dialog, &paint);
    EndPaint(dialog, &paint);
}

// message_box.cpp: every modal box passes here.
#include "core/message_box.h"

static int platformMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    return MessageBoxW(owner, text, caption, flags);
}

MessageBoxFunction messageBoxFunction = platformMessageBox;

int showMessageBox(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags)
{
    return messageBoxFunction(owner, text, caption, flags);
}

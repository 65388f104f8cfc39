// private_prompts.h: the main window's side of the private link's questions (core/ui_ops.h): what the network
// thread posted, shown on the UI thread, and the keys of the modeless questions.
#pragma once

#include <windows.h>

// WM_PRIVATE_QUESTION: shows the question the network thread posted (which: its kind) over the main window.
void showPrivateQuestion(HWND window, WPARAM which);
// True when message belongs to an open question and was handled there (Tab, Enter, Esc).
bool privateQuestionMessage(MSG *message);

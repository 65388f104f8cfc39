// win_main.cpp: program entry and message loop.
#include "app/main_window.h"
#include "app/private_prompts.h"
#include "core/app_state.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    resetAppState();
    if (!createMainWindow(instance))
        return 0;
    ShowWindow(AppState.mainWindow, showCommand);
    UpdateWindow(AppState.mainWindow);
    MSG message;
    for (;;) {
        if (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (GetMessageW(&message, nullptr, 0, 0) == 0)
                return static_cast<int>(message.wParam);
            // The private link's questions are modeless: Tab, Enter and Esc reach their buttons.
            if (privateQuestionMessage(&message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        } else {
            WaitMessage();
        }
    }
}

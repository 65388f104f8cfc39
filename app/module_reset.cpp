// module_reset.cpp: resetUiModules, the program's side of resetAppState: each module of the user interface that
// keeps statics of its own outside AppState puts them back to their first-start values here.
#include "core/ui_ops.h"

#include "app/main_window.h"
#include "app/status_bar.h"
#include "dialogs/copy_dialog.h"
#include "dialogs/folder_dialog.h"
#include "dialogs/peer_folder_dialog.h"
#include "panes/pane_drag.h"
#include "panes/pane_rows.h"
#include "panes/peer_pane.h"
#include "settings/settings_file.h"

void resetUiModules()
{
    resetMainWindowLayout();
    resetStatusFit();
    cancelPaneDrag();
    resetPaneTables();
    forgetPeerLabelTip();
    resetCopyCommand();
    resetTreeCopy();
    resetCopySummary();
    resetOverwritePolicy();
    resetFolderDialog();
    resetPeerFolderDialog();
    forgetLoadedSettings();
}

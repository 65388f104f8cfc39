// menu_commands.cpp: the enable rule of menu 100 and what its commands (101 to 120, 131, 132, 141) do.
#include "app/menu_commands.h"

#include "app/main_window.h"
#include "app/status_bar.h"
#include "core/paths.h"
#include "core/app_state.h"
#include "core/message_box.h"
#include "core/protocol_engine.h"
#include "dialogs/connection_dialog.h"
#include "dialogs/copy_dialog.h"
#include "dialogs/environment_dialog.h"
#include "dialogs/folder_dialog.h"
#include "dialogs/monitor_window.h"
#include "dialogs/paired_machines_dialog.h"
#include "dialogs/peer_folder_dialog.h"
#include "dialogs/served_folder_dialog.h"
#include "net/connection.h"
#include "net/discovery.h"
#include "panes/own_pane.h"
#include "panes/peer_pane.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>

// The maker's web site; the two pages lie under it.
const wchar_t WebHost[] = L"https://www.brindlewax.example";
static const wchar_t HelpPagePath[] = L"/brindlewax/Parcelwight/Parcelwight-h00.htm";
static const wchar_t HomePagePath[] = L"/brindlewax/brindlewax_menu.htm";

static const int LinkOpenItems[] = {IDM_PEER_RELIST,    IDM_PEER_ROOT,       IDM_PEER_FOLDER, IDM_COPY_TO_PEER,
                                    IDM_COPY_FROM_PEER, IDM_NEW_PEER_FOLDER, IDM_CLOSE_LINK};
static const int LinkClosedItems[] = {IDM_ENVIRONMENT, IDM_CONNECTION_SETTINGS, IDM_OPEN_LINK,
                                      IDM_SERVED_FOLDER, IDM_PAIRED_MACHINES};
static const int MonitorItems[] = {IDM_RECEIVED_MONITOR, IDM_SENT_MONITOR, IDM_DIR_TABLE_MONITOR};

static void enableItems(HMENU menu, const int *ids, int count, bool enabled)
{
    // By command: an id that is not in this drop-down is left alone.
    for (int i = 0; i < count; i++)
        EnableMenuItem(menu, ids[i], MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void applyMenuEnableRule(HMENU menu)
{
    EnableMenuItem(menu, IDM_COPY_TO_PEER, MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(menu, IDM_COPY_FROM_PEER, MF_BYCOMMAND | MF_ENABLED);
    bool open = AppState.linkOpen != 0;
    enableItems(menu, LinkOpenItems, COUNTOF(LinkOpenItems), open);
    enableItems(menu, LinkClosedItems, COUNTOF(LinkClosedItems), !open);
    enableItems(menu, MonitorItems, COUNTOF(MonitorItems), AppState.monitorOn != 0);
}

static void setRootFolder(wchar_t *folder, size_t folderBytes)
{
    memset(folder, 0, folderBytes);
    wcscpy(folder, RootFolder);
}

static void showHostName(HWND window)
{
    lookupOwnHost();
    wchar_t text[160];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1, L"%.63s\r\n%.63s", AppState.ownAddressText, AppState.ownHostText);
    showMessageBox(window, text, L"HostName", MB_OK);
}

static void openWebPage(HWND window, const wchar_t *path)
{
    wchar_t address[256];
    memset(address, 0, sizeof(address));
    _snwprintf(address, COUNTOF(address) - 1, L"%s%s", WebHost, path);
    // ShellExecuteW tells success by a value above 32.
    HINSTANCE opened = ShellExecuteW(window, L"open", address, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(opened) <= 32)
        showMessageBox(window, L"ブラウザでページを開けませんでした", L"ヘルプ", MB_OK);
}

BOOL runMenuCommand(HWND window, int id)
{
    bool waiting = AppState.transferState == TransferState::Waiting;
    switch (id) {
    case IDM_OWN_RELIST:
        if (waiting)
            listOwnFolder(window);
        return TRUE;
    case IDM_OWN_ROOT:
        if (waiting) {
            setRootFolder(AppState.ownFolder, sizeof(AppState.ownFolder));
            SetDlgItemTextW(window, IDC_OWN_FOLDER_LABEL, AppState.ownFolder);
            listOwnFolder(window);
        }
        return TRUE;
    case IDM_PEER_RELIST:
        if (waiting)
            requestPeerFolder(window);
        return TRUE;
    case IDM_PEER_ROOT:
        if (waiting) {
            setRootFolder(AppState.peerFolder, sizeof(AppState.peerFolder));
            requestPeerFolder(window);
        }
        return TRUE;
    case IDM_PEER_FOLDER:
        runPeerFolderCommand(window);
        return TRUE;
    case IDM_COPY_TO_PEER:
        runCopyCommand(window, false);
        return TRUE;
    case IDM_COPY_FROM_PEER:
        runCopyCommand(window, true);
        return TRUE;
    case IDM_NEW_OWN_FOLDER:
        runNewFolderCommand(window, false);
        return TRUE;
    case IDM_NEW_PEER_FOLDER:
        runNewFolderCommand(window, true);
        return TRUE;
    case IDM_CONNECTION_SETTINGS:
        // Saved whatever ended the dialog, cancel included.
        runConnectionDialog(window);
        saveSettingsTold(window);
        showLinkText(false, window);
        return TRUE;
    case IDM_SERVED_FOLDER:
        // Only while the link is closed: the network thread reads these settings for every request.
        if (!AppState.linkOpen && runServedFolderDialog(window) == IDC_DIALOG_OK)
            refreshStatus();
        return TRUE;
    case IDM_PAIRED_MACHINES:
        // Only while the link is closed: the network thread looks paired machines up at each meeting.
        if (!AppState.linkOpen)
            runPairedMachinesDialog(window);
        return TRUE;
    case IDM_OPEN_LINK:
        // Rows of an earlier link would stay in front of the new listing.
        clearPeerPane();
        // The open text is shown even after a failed open; the status bar tells the truth.
        if (AppState.mode == ConnectionMode::Server)
            openServer(window);
        else if (openClient(window))
            rememberServer(AppState.linkAddress);
        showLinkText(true, window);
        refreshStatus();
        return TRUE;
    case IDM_CLOSE_LINK:
        armLinkClose(window);
        return TRUE;
    case IDM_HOST_NAME:
        showHostName(window);
        return TRUE;
    case IDM_RECEIVED_MONITOR:
        openMonitorWindow(window, MonitorView::Received);
        return TRUE;
    case IDM_SENT_MONITOR:
        openMonitorWindow(window, MonitorView::Sent);
        return TRUE;
    case IDM_DIR_TABLE_MONITOR:
        openMonitorWindow(window, MonitorView::DirTable);
        return TRUE;
    case IDM_ENVIRONMENT:
        runEnvironmentDialog(window);
        saveSettingsTold(window);
        return TRUE;
    case IDM_HELP_PAGE:
        openWebPage(window, HelpPagePath);
        return TRUE;
    case IDM_HOME_PAGE:
        openWebPage(window, HomePagePath);
        return TRUE;
    case IDM_ABOUT:
        openAboutBox(window);
        return TRUE;
    case IDM_EXIT:
        requestClose(window);
        return TRUE;
    default:
        return FALSE;
    }
}

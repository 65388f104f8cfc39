// main_window.cpp: the window class, the main window, its children and layout, and the close sequence. Its
// statics are reset by resetAppState through resetUiModules().
#include "app/main_window.h"

#include "app/dpi_scale.h"
#include "app/menu_commands.h"
#include "app/private_prompts.h"
#include "app/status_bar.h"
#include "core/app_state.h"
#include "core/wire_message.h"
#include "core/message_box.h"
#include "core/reports.h"
#include "dialogs/folder_dialog.h"
#include "dialogs/served_folder_dialog.h"
#include "net/connection.h"
#include "core/fast_link.h"
#include "core/identity.h"
#include "core/paired_machines.h"
#include "core/send_ops.h"
#include "panes/pane_rows.h"
#include "panes/own_pane.h"
#include "panes/pane_drag.h"
#include "panes/peer_pane.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <cstring>

static const wchar_t MainClassName[] = L"Main Window";
static const wchar_t MainTitle[] = L"Parcelwight Ver1.01";
// Pixel sizes at 96 DPI; the window scales them to its own DPI.
static const int MainWidth = 1060;
static const int MainHeight = 720;
static const int CentringHeight = 750;  // the window stands a little above the centre
static const int LabelRowHeight = 20;
static const int PaneTop = 40;
static const int StatusBand = 70;        // the two label rows and the status bar's band
static const int PaneImageSize = 12;
static const int PaneImageCount = IDI_PANE_LAST - IDI_PANE_FIRST + 1;

// Close sequence intervals (ms).
static const UINT CloseLinkSoon = 100;
static const UINT CloseLinkAfterCut = 1000;
static const UINT LeaveSoon = 1100;
static const UINT LeaveAfterCut = 2000;
static const UINT LeavePoll = 500;

// A saved place smaller than this is not taken.
static const int MinRestoredWidth = 200;
static const int MinRestoredHeight = 150;
// The strip along the top of a saved place that must lie on a monitor, so the title bar can be reached.
static const int TitleStrip = 30;

// The pane that had the keyboard when the window was last deactivated.
static HWND LastFocusedPane = nullptr;

// The DPI the main window is laid out at: its own at creation, then each one WM_DPICHANGED brings.
static int MainDpi = LayoutDpi;

static int scaled(int pixels)
{
    return scaleToDpi(pixels, MainDpi);
}

struct PaneColumn {
    const wchar_t *header;
    int width;
};

static const PaneColumn PaneColumns[] = {
    {L"ファイル名", 280},
    {L"更新日", 120},
    {L"サイズ", 80},
};
// A narrow pane takes width from the name column alone, down to this, so the date and size stay in view.
static const int MinNameWidth = 40;

// The pane width the columns were last fitted to: a change of height alone keeps what the user dragged.
static int FittedPaneWidth = 0;

// The controls make their fonts at the system DPI. At another DPI each gets its own font scaled, and back at the
// system DPI its own font again, so a window that never changes DPI keeps exactly the fonts it had.
constexpr int FontedControls = 7;
static HFONT OwnFonts[FontedControls];     // each control's font as created; null is the system font
static HFONT ScaledFonts[FontedControls];  // the font made for the current DPI, or null
static bool OwnFontsTaken = false;

void resetMainWindowLayout()
{
    LastFocusedPane = nullptr;
    MainDpi = LayoutDpi;
    FittedPaneWidth = 0;
    // The scaled fonts were deleted with the window (onNcDestroy).
    memset(OwnFonts, 0, sizeof(OwnFonts));
    memset(ScaledFonts, 0, sizeof(ScaledFonts));
    OwnFontsTaken = false;
}

static HWND fontedControl(int index)
{
    HWND controls[FontedControls] = {AppState.ownPane,        AppState.peerPane,       AppState.ownHostLabel,
                                     AppState.linkLabel,      AppState.ownFolderLabel, AppState.peerFolderLabel,
                                     AppState.statusBar};
    return controls[index];
}

static void applyDpiFonts(int dpi)
{
    if (!OwnFontsTaken) {
        for (int i = 0; i < FontedControls; i++)
            OwnFonts[i] = fontedControl(i) != nullptr
                              ? reinterpret_cast<HFONT>(SendMessageW(fontedControl(i), WM_GETFONT, 0, 0))
                              : nullptr;
        OwnFontsTaken = true;
    }
    int systemDpi = windowDpi(nullptr);
    for (int i = 0; i < FontedControls; i++) {
        HWND control = fontedControl(i);
        if (control == nullptr)
            continue;
        HFONT made = nullptr;
        LOGFONTW font;
        memset(&font, 0, sizeof(font));
        HGDIOBJ own = OwnFonts[i] != nullptr ? static_cast<HGDIOBJ>(OwnFonts[i]) : GetStockObject(SYSTEM_FONT);
        if (dpi != systemDpi && GetObjectW(own, sizeof(font), &font) == sizeof(font)) {
            font.lfHeight = MulDiv(font.lfHeight, dpi, systemDpi);
            font.lfWidth = MulDiv(font.lfWidth, dpi, systemDpi);
            made = CreateFontIndirectW(&font);
        }
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(made != nullptr ? made : OwnFonts[i]), TRUE);
        if (ScaledFonts[i] != nullptr)
            DeleteObject(ScaledFonts[i]);
        ScaledFonts[i] = made;
    }
}

void firstStartPlace(int screenWidth, int screenHeight, int dpi, RECT *place)
{
    int width = scaleToDpi(MainWidth, dpi);
    int x = (screenWidth - width) / 2;
    int y = (screenHeight - scaleToDpi(CentringHeight, dpi)) / 2;
    *place = RECT{x, y, x + width, y + scaleToDpi(MainHeight, dpi)};
    // At a high DPI the scaled window may not fit the screen: its title bar and menu must stay reachable.
    MONITORINFO info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    POINT centre = {screenWidth / 2, screenHeight / 2};
    if (GetMonitorInfoW(MonitorFromPoint(centre, MONITOR_DEFAULTTOPRIMARY), &info))
        fitInWorkArea(info.rcWork, place);
}

bool createMainWindow(HINSTANCE instance)
{
    AppState.instance = instance;
    WNDCLASSEXW windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNCLIENT;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = MainClassName;
    // A second window in one process (the tests) finds the class already there.
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;

    HDC screen = GetDC(nullptr);
    int screenWidth = GetDeviceCaps(screen, HORZRES);
    int screenHeight = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);

    // The window does not exist yet: its size follows the screen's DPI.
    MainDpi = windowDpi(nullptr);
    RECT place;
    firstStartPlace(screenWidth, screenHeight, MainDpi, &place);
    AppState.mainWindow = CreateWindowExW(0, MainClassName, MainTitle, WS_OVERLAPPEDWINDOW, place.left, place.top,
                                          place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                                          instance, nullptr);
    // Without a window the message loop would wait for ever: end the program instead.
    return AppState.mainWindow != nullptr;
}

static HWND createPane(HWND window, int id)
{
    HWND pane = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS | LVS_OWNERDATA |
                                    LVS_SHOWSELALWAYS, 0, 0, 0, 0, window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), AppState.instance, nullptr);
    if (pane == nullptr)
        return nullptr;
    LRESULT styles = SendMessageW(pane, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    SendMessageW(pane, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 styles | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    SendMessageW(pane, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(AppState.paneImages));
    for (int i = 0; i < static_cast<int>(COUNTOF(PaneColumns)); i++) {
        LVCOLUMNW column;
        memset(&column, 0, sizeof(column));
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = scaled(PaneColumns[i].width);
        column.pszText = const_cast<wchar_t *>(PaneColumns[i].header);
        column.iSubItem = i;
        SendMessageW(pane, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return pane;
}

static HWND createLabel(HWND window, int id, int y)
{
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, y, 20, 20, window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), AppState.instance, nullptr);
}

static void createPaneImages()
{
    // The image index of an entry is its entry type, so the icons go in id order.
    int size = scaled(PaneImageSize);
    AppState.paneImages = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 10, 0);
    for (int i = 0; i < PaneImageCount; i++) {
        HICON icon = static_cast<HICON>(LoadImageW(AppState.instance, MAKEINTRESOURCEW(IDI_PANE_FIRST + i),
                                                   IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ImageList_ReplaceIcon(AppState.paneImages, -1, icon);
        if (icon != nullptr)
            DestroyIcon(icon);
    }
}

void createMainChildren(HWND window)
{
    InitCommonControls();
    createPaneImages();
    FittedPaneWidth = 0;
    AppState.ownPane = createPane(window, IDC_OWN_PANE);
    AppState.peerPane = createPane(window, IDC_PEER_PANE);
    startPaneTable(AppState.ownPane);
    startPaneTable(AppState.peerPane);
    AppState.ownHostLabel = createLabel(window, IDC_OWN_HOST_LABEL, 0);
    AppState.linkLabel = createLabel(window, IDC_LINK_LABEL, 0);
    AppState.ownFolderLabel = createLabel(window, IDC_OWN_FOLDER_LABEL, scaled(LabelRowHeight));
    AppState.peerFolderLabel = createLabel(window, IDC_PEER_FOLDER_LABEL, scaled(LabelRowHeight));
    lookupOwnHost();
    writeInitialLabels(window);
    // Explorer's files are taken where they land on the peer pane.
    DragAcceptFiles(window, TRUE);
    AppState.statusBar = CreateStatusWindowW(WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP, L"", window,
                                             IDC_STATUS_BAR);
    if (AppState.statusBar != nullptr) {
        int32_t edges[StatusParts];
        shownStatusEdges(edges);
        SendMessageW(AppState.statusBar, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
    }
}

// The saved place of the window when it still lies on a monitor; the centred place otherwise.
static void restorePlace(HWND window)
{
    RECT place;
    if (!loadWindowRect(&place))
        return;
    if (place.right - place.left < scaled(MinRestoredWidth) || place.bottom - place.top < scaled(MinRestoredHeight))
        return;
    RECT strip = {place.left, place.top, place.right, place.top + scaled(TitleStrip)};
    if (MonitorFromRect(&strip, MONITOR_DEFAULTTONULL) == nullptr)
        return;
    SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// WM_CREATE: start folder, settings, place, children, then the first listing of the own folder.
static LRESULT onCreate(HWND window)
{
    AppState.mainWindow = window;
    MainDpi = windowDpi(window);
    memset(AppState.startFolder, 0, sizeof(AppState.startFolder));
    DWORD length = GetCurrentDirectoryW(COUNTOF(AppState.startFolder), AppState.startFolder);
    // A current directory too long for the buffer leaves no start folder: the settings then keep their defaults.
    if (length == 0 || length >= COUNTOF(AppState.startFolder))
        memset(AppState.startFolder, 0, sizeof(AppState.startFolder));
    loadSettings();
    // The identity key and the paired machines live beside the INI; without a key the private link is not offered.
    loadIdentity();
    reloadPairedMachines();
    restorePlace(window);
    createMainChildren(window);
    // Started on a monitor of another DPI than the system's.
    if (MainDpi != windowDpi(nullptr))
        applyDpiFonts(MainDpi);
    LastFocusedPane = AppState.ownPane;
    listOwnFolder(window);
    return 0;
}

// The name column gets what the pane leaves after the date and size, never more than its own width. The room is
// counted as if the vertical scroll bar were shown, so rows that bring it do not push the size column out.
static void fitPaneColumns(HWND pane, int paneWidth)
{
    int room = paneWidth - 2 * GetSystemMetrics(SM_CXEDGE) - GetSystemMetrics(SM_CXVSCROLL);
    int dateWidth = scaled(PaneColumns[1].width);
    int sizeWidth = scaled(PaneColumns[2].width);
    int nameWidth = room - dateWidth - sizeWidth;
    if (nameWidth > scaled(PaneColumns[0].width))
        nameWidth = scaled(PaneColumns[0].width);
    if (nameWidth < scaled(MinNameWidth))
        nameWidth = scaled(MinNameWidth);
    SendMessageW(pane, LVM_SETCOLUMNWIDTH, 0, nameWidth);
    SendMessageW(pane, LVM_SETCOLUMNWIDTH, 1, dateWidth);
    SendMessageW(pane, LVM_SETCOLUMNWIDTH, 2, sizeWidth);
}

// The client width the window has at its default size, with the frame it has now.
static int defaultClientWidth(HWND window)
{
    RECT outer = {};
    RECT inner = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &inner);
    return scaled(MainWidth) - ((outer.right - outer.left) - inner.right);
}

// WM_SIZE: panes side by side under the two label rows, the status bar along the bottom.
static LRESULT onSize(HWND window, WPARAM wParam, LPARAM lParam)
{
    int width = LOWORD(lParam);
    int height = HIWORD(lParam);
    int half = width / 2;
    // A minimised window keeps the columns and parts it will come back to.
    if (wParam != SIZE_MINIMIZED) {
        if (half != FittedPaneWidth) {
            FittedPaneWidth = half;
            fitPaneColumns(GetDlgItem(window, IDC_OWN_PANE), half);
            fitPaneColumns(GetDlgItem(window, IDC_PEER_PANE), half);
        }
        fitStatusParts(width, defaultClientWidth(window), MainDpi);
    }
    int paneTop = scaled(PaneTop);
    int paneHeight = height - scaled(StatusBand);
    int row = scaled(LabelRowHeight);
    MoveWindow(GetDlgItem(window, IDC_OWN_PANE), 0, paneTop, half, paneHeight, TRUE);
    MoveWindow(GetDlgItem(window, IDC_PEER_PANE), half, paneTop, half, paneHeight, TRUE);
    // The right-hand labels run past the right edge; what lies beyond is clipped.
    MoveWindow(GetDlgItem(window, IDC_OWN_HOST_LABEL), 0, 0, half - 1, row, TRUE);
    MoveWindow(GetDlgItem(window, IDC_LINK_LABEL), half + 1, 0, width, row, TRUE);
    MoveWindow(GetDlgItem(window, IDC_OWN_FOLDER_LABEL), 0, row, half - 1, row, TRUE);
    MoveWindow(GetDlgItem(window, IDC_PEER_FOLDER_LABEL), half + 1, row, width, row, TRUE);
    if (AppState.statusBar != nullptr)
        SendMessageW(AppState.statusBar, WM_SIZE, wParam, lParam);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    return 0;
}

// WM_DPICHANGED: the window moved to a monitor of another DPI (or the DPI was changed). The pane images are made
// again at the new size and the window takes the place Windows suggests, which lays everything out again.
static LRESULT onDpiChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    int dpi = LOWORD(wParam);
    MainDpi = dpi > 0 ? dpi : LayoutDpi;
    applyDpiFonts(MainDpi);
    HIMAGELIST before = AppState.paneImages;
    createPaneImages();
    SendMessageW(AppState.ownPane, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(AppState.paneImages));
    SendMessageW(AppState.peerPane, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(AppState.paneImages));
    if (before != nullptr)
        ImageList_Destroy(before);
    FittedPaneWidth = 0;
    const RECT *suggested = reinterpret_cast<const RECT *>(lParam);
    if (suggested != nullptr)
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The suggested place may keep the size, and a size that stays brings no WM_SIZE.
    RECT client = {};
    GetClientRect(window, &client);
    return onSize(window, IsIconic(window) ? SIZE_MINIMIZED : SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

// WM_PAINT: every repaint rewrites the status bar.
static LRESULT onPaint(HWND window)
{
    PAINTSTRUCT paint;
    memset(&paint, 0, sizeof(paint));
    BeginPaint(window, &paint);
    refreshStatus();
    EndPaint(window, &paint);
    return 0;
}

// Opens the selected row of a pane; the peer pane only between exchanges, since it asks the peer.
static void openSelectedRow(HWND window, int paneId)
{
    if (paneId == IDC_OWN_PANE)
        navigateOwnPane(window);
    else if (AppState.transferState == TransferState::Waiting)
        navigatePeerPane(window);
}

// The keys of a pane: Enter opens, Backspace goes up, F5 lists again, Tab moves to the other pane.
static bool onPaneKey(HWND window, int paneId, WORD key)
{
    bool own = paneId == IDC_OWN_PANE;
    bool waiting = AppState.transferState == TransferState::Waiting;
    switch (key) {
    case VK_RETURN:
        openSelectedRow(window, paneId);
        return true;
    case VK_BACK:
        if (own)
            ownPaneUp(window);
        else if (waiting && AppState.linkOpen)
            peerPaneUp(window);
        return true;
    case VK_F5:
        if (own || AppState.linkOpen)
            runMenuCommand(window, own ? IDM_OWN_RELIST : IDM_PEER_RELIST);
        return true;
    case VK_TAB:
        SetFocus(own ? AppState.peerPane : AppState.ownPane);
        return true;
    default:
        return false;
    }
}

// WM_NOTIFY: what the list views ask for, double-clicks and keys in a pane.
static LRESULT onNotify(HWND window, WPARAM wParam, LPARAM lParam)
{
    const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
    if (header == nullptr)
        return 0;
    LRESULT result = 0;
    if (handlePaneMessage(window, WM_NOTIFY, wParam, lParam, &result))
        return result;
    if (header->code == static_cast<UINT>(NM_CUSTOMDRAW) && header->hwndFrom == AppState.peerPane)
        return drawPeerPaneNotice(reinterpret_cast<const NMLVCUSTOMDRAW *>(lParam));
    if (header->idFrom != IDC_OWN_PANE && header->idFrom != IDC_PEER_PANE)
        return 0;
    int paneId = static_cast<int>(header->idFrom);
    if (header->code == static_cast<UINT>(NM_DBLCLK)) {
        openSelectedRow(window, paneId);
        return 0;
    }
    if (header->code == static_cast<UINT>(LVN_BEGINDRAG)) {
        beginPaneDrag(window, header->hwndFrom);
        return 0;
    }
    if (header->code == static_cast<UINT>(LVN_KEYDOWN) &&
        onPaneKey(window, paneId, reinterpret_cast<const NMLVKEYDOWN *>(lParam)->wVKey))
        return 0;
    return DefWindowProcW(window, WM_NOTIFY, wParam, lParam);
}

// WM_ACTIVATE: the pane that had the keyboard gets it back when the window comes back.
static LRESULT onActivate(HWND window, WPARAM wParam)
{
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && (focus == AppState.ownPane || focus == AppState.peerPane))
            LastFocusedPane = focus;
        return 0;
    }
    if (!HIWORD(wParam))
        restorePaneFocus(window);
    return 0;
}

void restorePaneFocus(HWND window)
{
    HWND pane = LastFocusedPane;
    if (pane == nullptr || !IsChild(window, pane))
        pane = AppState.ownPane;
    if (pane != nullptr)
        SetFocus(pane);
}

// WM_FILE_ARRIVED: the own pane shows a file that has just arrived; several notices make one listing.
static LRESULT onFileArrived(HWND window, LPARAM folder)
{
    // A file that landed in another folder (a folder copy's) does not list the pane again.
    bool here = arrivedInOwnFolder(folder);
    MSG more;
    while (PeekMessageW(&more, window, WM_FILE_ARRIVED, WM_FILE_ARRIVED, PM_REMOVE))
        here = arrivedInOwnFolder(more.lParam) || here;
    if (here)
        relistOwnFolderInPlace(window);
    return 0;
}

// WM_ENDSESSION: a logoff never reaches WM_DESTROY, so the settings are saved here as well.
static LRESULT onEndSession(WPARAM wParam)
{
    // No box while the session ends: a settings file that cannot be written is told at the settings dialogs.
    if (wParam)
        saveSettings();
    return 0;
}

// WM_TIMER: the close-link timer closes the link, the leave timer leaves once it is closed.
static LRESULT onTimer(HWND window, WPARAM id)
{
    if (id == IDT_CLOSE_LINK) {
        // Killed first: closeLink serves messages while it waits for the network thread, and a second expiry
        // would close the socket twice.
        KillTimer(window, IDT_CLOSE_LINK);
        if (AppState.linkOpen)
            closeLink(window);
        showLinkText(false, window);
        // The old listing is no peer's any more: the pane empties and says the link is closed.
        if (!AppState.linkOpen)
            clearPeerPane();
        refreshStatus();
    } else if (id == IDT_LEAVE) {
        if (AppState.linkOpen)
            SetTimer(window, IDT_LEAVE, LeavePoll, nullptr);
        else
            DestroyWindow(window);
    }
    return 0;
}

// WM_DESTROY: settings first, then the link, then the message loop.
static LRESULT onDestroy(HWND window)
{
    KillTimer(window, IDT_CLOSE_LINK);
    KillTimer(window, IDT_LEAVE);
    // The window is going: a failed write was already told when the settings dialogs saved.
    saveSettings();
    if (AppState.linkOpen)
        closeLink(window);
    PostQuitMessage(0);
    return 0;
}

// WM_NCDESTROY: the children are gone; the image list they shared goes with them.
static LRESULT onNcDestroy(HWND window, WPARAM wParam, LPARAM lParam)
{
    // The controls are gone, and with them every use of the scaled fonts.
    for (HFONT &font : ScaledFonts) {
        if (font != nullptr)
            DeleteObject(font);
        font = nullptr;
    }
    OwnFontsTaken = false;
    if (AppState.paneImages != nullptr) {
        ImageList_Destroy(AppState.paneImages);
        AppState.paneImages = nullptr;
    }
    AppState.statusBar = nullptr;
    AppState.ownPane = nullptr;
    AppState.peerPane = nullptr;
    AppState.ownHostLabel = nullptr;
    AppState.linkLabel = nullptr;
    AppState.ownFolderLabel = nullptr;
    AppState.peerFolderLabel = nullptr;
    if (AppState.mainWindow == window)
        AppState.mainWindow = nullptr;
    return DefWindowProcW(window, WM_NCDESTROY, wParam, lParam);
}

bool armLinkClose(HWND window)
{
    // A connected client is told first, so that it closes its side before the server does.
    if (AppState.mode == ConnectionMode::Server && AppState.peerPresent) {
        sendRequest(CutMessage, 3);
        SetTimer(window, IDT_CLOSE_LINK, CloseLinkAfterCut, nullptr);
        return true;
    }
    SetTimer(window, IDT_CLOSE_LINK, CloseLinkSoon, nullptr);
    return false;
}

void requestClose(HWND window)
{
    if (!AppState.linkOpen) {
        DestroyWindow(window);
        return;
    }
    if (AppState.mode == ConnectionMode::Server && AppState.peerPresent) {
        if (showMessageBox(window, L"接続相手が存在します\r\n強制切断しますか", L"切断", MB_YESNO) != IDYES)
            return;
    } else if (showMessageBox(window, L"接続中です\r\n切断して終了しますか", L"切断", MB_YESNO) != IDYES) {
        return;
    }
    // The client may have left while the question was open: armLinkClose looks again.
    bool cutSent = armLinkClose(window);
    SetTimer(window, IDT_LEAVE, cutSent ? LeaveAfterCut : LeaveSoon, nullptr);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT paneResult = 0;
    switch (message) {
    case WM_CREATE:
        return onCreate(window);
    case WM_SIZE:
        return onSize(window, wParam, lParam);
    case WM_DPICHANGED:
        return onDpiChanged(window, wParam, lParam);
    case WM_PAINT:
        return onPaint(window);
    case WM_ACTIVATE:
        return onActivate(window, wParam);
    case WM_SETFOCUS:
        restorePaneFocus(window);
        return 0;
    case WM_CLOSE:
        // The title bar's close button asks as 終了 does: a link is never dropped by a stray click.
        requestClose(window);
        return 0;
    case WM_ENDSESSION:
        return onEndSession(wParam);
    case WM_PANE_ROWS:
        return handlePaneMessage(window, message, wParam, lParam, &paneResult) ? paneResult : 0;
    case WM_FILE_ARRIVED:
        return onFileArrived(window, lParam);
    case WM_SHOW_REPORTS:
        showPendingReports(window);
        return 0;
    case WM_NOTIFY:
        return onNotify(window, wParam, lParam);
    case WM_LBUTTONUP:
        if (paneDragRunning())
            endPaneDrag(window, POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return 0;
    case WM_CAPTURECHANGED:
        cancelPaneDrag();
        return 0;
    case WM_DROPFILES:
        dropFilesOnPeer(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_COMMAND:
        // An id no command knows (a system or a control's notice) gets the default handling.
        if (runMenuCommand(window, LOWORD(wParam)))
            return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_INITMENUPOPUP:
        applyMenuEnableRule(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_TIMER:
        return onTimer(window, wParam);
    case WM_DESTROY:
        return onDestroy(window);
    case WM_NCDESTROY:
        return onNcDestroy(window, wParam, lParam);
    case WM_QUERYNEWPALETTE:
        return 0;
    case WM_PEER_LISTING_REFUSED:
        showPeerListingRefused(window);
        return 0;
    case WM_PEER_FOLDER_NOT_MADE:
        peerFolderNotMade(window, static_cast<TransferOutcome>(wParam), static_cast<FastReason>(lParam));
        return 0;
    case WM_PEER_SERVES:
        openPeerServedFolder(window);
        return 0;
    case WM_REFRESH_STATUS:
        refreshStatus();
        return 0;
    case WM_PRIVATE_QUESTION:
        showPrivateQuestion(window, wParam);
        return 0;
    case WM_EXCHANGE_ENDED:
        peerListingEnded(window, static_cast<TransferOutcome>(wParam), static_cast<LONG>(lParam));
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

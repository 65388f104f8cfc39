// resource_ids.h: ids shared by the .rc files and the code.
#pragma once

// Menu and its commands.
#define IDR_MAIN_MENU 100
#define IDM_OWN_RELIST 101
#define IDM_OWN_ROOT 102
#define IDM_PEER_RELIST 103
#define IDM_PEER_ROOT 104
#define IDM_COPY_TO_PEER 105
#define IDM_COPY_FROM_PEER 106
#define IDM_NEW_OWN_FOLDER 107
#define IDM_NEW_PEER_FOLDER 108
#define IDM_CONNECTION_SETTINGS 109
#define IDM_OPEN_LINK 110
#define IDM_CLOSE_LINK 111
#define IDM_HOST_NAME 112
#define IDM_RECEIVED_MONITOR 113
#define IDM_SENT_MONITOR 114
#define IDM_DIR_TABLE_MONITOR 115
#define IDM_ENVIRONMENT 116
#define IDM_HELP_PAGE 117
#define IDM_HOME_PAGE 118
#define IDM_ABOUT 119
#define IDM_EXIT 120

// Dialog templates.
#define IDD_CONNECTION 1
#define IDD_ABOUT 2
#define IDD_ENVIRONMENT 3
#define IDD_MONITOR 5
#define IDD_COPY 6
#define IDD_NEW_FOLDER 7

// Controls.
#define IDC_STATUS_BAR 1
// The copy and new-folder dialogs' Close and Start (作成) buttons.
#define IDC_CLOSE 201
#define IDC_START 202
// The same numbers are OK and Cancel in the connection, about, environment, served-folder and peer-folder
// dialogs.
#define IDC_DIALOG_OK 201
#define IDC_DIALOG_CANCEL 202
#define IDC_STOP 203
#define IDC_CLIENT_RADIO 221
#define IDC_SERVER_RADIO 222
#define IDC_EDIT1 231
#define IDC_EDIT2 232
#define IDC_EDIT3 233
#define IDC_EDIT4 234
#define IDC_EDIT5 235
#define IDC_OWN_PANE 301
#define IDC_PEER_PANE 302
#define IDC_OWN_HOST_LABEL 303
#define IDC_LINK_LABEL 304
#define IDC_OWN_FOLDER_LABEL 305
#define IDC_PEER_FOLDER_LABEL 306
#define IDC_STEP_COUNTER 501
#define IDC_MONITOR_CHECK 521

// Icons and bitmap.
#define IDI_APP 301
#define IDI_PANE_FIRST 320
#define IDI_PANE_UP 320
#define IDI_PANE_FOLDER 321
#define IDI_PANE_FIXED 322
#define IDI_PANE_CDROM 323
#define IDI_PANE_REMOVABLE 324
#define IDI_PANE_REMOTE 325
#define IDI_PANE_RAMDISK 326
#define IDI_PANE_PLACEHOLDER 327
#define IDI_PANE_FILE 328
#define IDI_PANE_LAST 328
#define IDB_ABOUT 401

// Timers of a window.
// Timers, named by what they do in their own window. The main window's close-link timer is also armed by the
// network thread (through AppState.timerWindow) when the peer has gone.
#define IDT_CLOSE_LINK 1    // main window: close the link
#define IDT_LEAVE 2         // main window: leave once the link is closed
#define IDT_MONITOR_REDRAW 1  // traffic monitor windows: redraw what was sent and received

// Posted to the copy dialog when the exchange it started has ended.
#define WM_EXCHANGE_ENDED (WM_APP + 1)
// Posted to the main window: a received file has arrived (wParam unused), reports wait to be shown.
#define WM_FILE_ARRIVED (WM_APP + 2)
#define WM_SHOW_REPORTS (WM_APP + 3)
// Posted to the main window by the network thread: draw the status bar again from AppState.
#define WM_REFRESH_STATUS (WM_APP + 4)

// Copy command: progress line of the copy dialog, the overwrite question and its answers, and the copy
// dialog's own start message.
#define IDD_OVERWRITE 8
#define IDC_COPY_PROGRESS 502
// The copy dialog's line for the whole copy command.
#define IDC_COPY_WHOLE 505
#define IDC_OVERWRITE_NAME 503
#define IDC_OVERWRITE_ONE 204
#define IDC_OVERWRITE_SKIP 205
#define IDC_OVERWRITE_ALL 206
#define IDC_OVERWRITE_CANCEL 207
// The overwrite question's sizes and dates of both files, and its answer for newer files only.
#define IDC_OVERWRITE_FACTS 504
#define IDC_OVERWRITE_NEWER 208
#define IDC_OVERWRITE_SKIP_ALL 209
#define WM_COPY_AUTOSTART (WM_APP + 20)
// Posted to the copy dialog by the network thread: a folder stream asks the overwrite question (AppState.treeAsk).
#define WM_TREE_QUESTION (WM_APP + 22)
// The served-folder dialog (command 131, template 9) and its notice to the main window.
#define IDM_SERVED_FOLDER 131
#define IDD_SERVED_FOLDER 9
#define IDC_SERVED_FOLDER_EDIT 241
#define IDC_SERVED_READONLY_CHECK 242
#define IDC_SERVED_ADDRESS_EDIT 243
// Posted to the main window: the peer refused a listing this side asked for (wParam, lParam unused).
#define WM_PEER_LISTING_REFUSED (WM_APP + 21)
// Posted to the main window: the peer said which folder it serves (AppState.peerServedFolder).
#define WM_PEER_SERVES (WM_APP + 30)
// The peer-folder dialog (command 132, template 10): a folder of the peer typed by the user.
#define IDM_PEER_FOLDER 132
#define IDD_PEER_FOLDER 10
#define IDC_PEER_FOLDER_EDIT 251
// Posted to the main window: the peer made no folder for the new-folder command (wParam the outcome, lParam the
// fast link's reason).
#define WM_PEER_FOLDER_NOT_MADE (WM_APP + 40)
// The private link: the pairing question (template 31), the classic-peer question (32), the paired machines
// (command 141, template 33), who is served in the served-folder dialog, and this machine's fingerprint in
// About and the connection settings. Both questions answer with IDYES and IDNO.
#define IDM_PAIRED_MACHINES 141
#define IDD_PAIRING 31
#define IDD_CLASSIC_PEER 32
#define IDD_PAIRED_MACHINES 33
#define IDC_PAIRING_CODE 601
#define IDC_PAIRING_PEER 602
#define IDC_PAIRING_COUNTDOWN 603
#define IDC_CLASSIC_QUESTION 611
#define IDC_CLASSIC_REMEMBER 612
#define IDC_PAIRED_LIST 621
#define IDC_PAIRED_FORGET 622
#define IDC_OWN_FINGERPRINT 631
#define IDC_ADMISSION_ASK 244
#define IDC_ADMISSION_PAIRED_ONLY 245
#define IDC_ADMISSION_EVERYONE 246
#define IDC_SERVED_PAIRED_MACHINES 247
// Timer of both questions: count down, and see whether the link still waits for the answer.
#define IDT_QUESTION_TICK 1
// Posted to the main window by the network thread: a question of the private link (wParam: which).
#define WM_PRIVATE_QUESTION (WM_APP + 50)
// The connection dialog's search (template 1): the servers found, the search button and its line, and what the
// search thread posts to the dialog (WM_SEARCH_FOUND: wParam the row of AppState.search).
#define IDC_SERVER_LIST 261
#define IDC_SEARCH_BUTTON 262
#define IDC_SEARCH_STATUS 263
#define WM_SEARCH_FOUND (WM_APP + 60)
#define WM_SEARCH_DONE (WM_APP + 61)

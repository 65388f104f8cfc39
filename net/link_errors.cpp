// link_errors.cpp: the words of a link that could not be made.
#include "net/link_errors.h"

#include "core/app_state.h"
#include "core/message_box.h"

#include <cstdio>
#include <cstring>

// What the number says happened, as a user can act on it; nothing for a number that says nothing more.
static const wchar_t *connectReason(int code)
{
    switch (code) {
    case WSAECONNREFUSED:
        return L"相手のマシンには届きましたが、このポートで待っているサーバがありません。\r\n";
    case WSAETIMEDOUT:
        return L"相手から応答がありません。\r\n";
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return L"相手のマシンまで届きません。\r\n";
    case WSAEADDRNOTAVAIL:
        return L"このアドレスには接続できません。\r\n";
    default:
        return L"";
    }
}

void showConnectFailure(HWND owner, int code, int port)
{
    wchar_t text[512];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1,
               L"サーバに接続できませんでした。\r\n%ls\r\n"
               L"確かめて下さい:\r\n"
               L"・相手がサーバ側で、接続を開いているか\r\n"
               L"・ファイアウォールが TCP ポート %d を通しているか\r\n"
               L"・ＩＰアドレスとＰＯＲＴ番号が相手のものと合っているか\r\n"
               L"  (接続設定の「検索」で LAN のサーバを探せます)\r\n\r\n"
               L"Err No.%d",
               connectReason(code), port, code);
    showMessageBox(owner, text, L"connect_Error", MB_OK | MB_ICONWARNING);
}

// dialog_templates_test.cpp: every dialog template of the program, read from the real resources: controls in
// order with their ids, classes, texts, kinds and places, the size, title and font of each dialog.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/test_support.h"

#include "resources/resource_ids.h"
#include "version.h"

#include <gtest/gtest.h>

#define WIDE_TEXT(text) L"" text
#define PW_VERSION_WIDE WIDE_TEXT(PW_VERSION_TEXT)

namespace {

struct ExpectedControl {
    const wchar_t *className;
    int id;
    const wchar_t *text;
    int x, y, width, height;
    int kind;  // low four style bits of a button (BS_...), or -1
};

struct ExpectedTemplate {
    int id;
    const wchar_t *title;
    const wchar_t *font;
    int width, height;
    std::vector<ExpectedControl> controls;
};

INT_PTR CALLBACK plainProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

const std::vector<ExpectedTemplate> &templates()
{
    static const std::vector<ExpectedTemplate> all = {
        {IDD_CONNECTION, L"Socket Setting", L"Ms Shell Dlg", 330, 170,
         {{L"Static", -1, L"本体の設定", 6, 5, 80, 8, -1},
          {L"Static", -1, L"サーバ・クライアントの選択", 6, 25, 80, 8, -1},
          {L"Button", 221, L"クライアント側", 6, 37, 50, 12, BS_AUTORADIOBUTTON},
          {L"Button", 222, L"サーバ側", 60, 37, 50, 12, BS_AUTORADIOBUTTON},
          {L"Static", -1, L"ＩＰアドレス", 6, 56, 40, 8, -1},
          {L"Edit", 231, L"", 6, 66, 20, 12, -1},
          {L"Edit", 232, L"", 28, 66, 20, 12, -1},
          {L"Edit", 233, L"", 50, 66, 20, 12, -1},
          {L"Edit", 234, L"", 73, 66, 20, 12, -1},
          {L"Static", -1, L"ＰＯＲＴ番号", 7, 84, 45, 8, -1},
          {L"Edit", 235, L"", 7, 94, 33, 12, -1},
          {L"Button", 201, L"OK", 9, 120, 30, 14, BS_DEFPUSHBUTTON},
          {L"Button", 202, L"ｷｬﾝｾﾙ", 50, 120, 30, 14, BS_PUSHBUTTON},
          {L"Static", IDC_OWN_FINGERPRINT, L"", 6, 140, 108, 24, -1},
          {L"Static", -1, L"LAN のサーバ (選ぶとアドレスとポートが入ります)", 124, 5, 200, 8, -1},
          {L"SysListView32", IDC_SERVER_LIST, L"", 124, 16, 200, 116, -1},
          {L"Button", IDC_SEARCH_BUTTON, L"検索", 124, 142, 40, 14, BS_PUSHBUTTON},
          {L"Static", IDC_SEARCH_STATUS, L"", 168, 137, 156, 30, -1}}},
        {IDD_ABOUT, L"このソフトについて", L"ＭＳ Ｐゴシック", 180, 190,
         {{L"Static", -1, L"Soft Name : Parcelwight", 0, 45, 180, 8, -1},
          {L"Static", -1, L"Version " PW_VERSION_WIDE, 0, 53, 180, 8, -1},
          {L"Static", -1, L"Socket通信でファイルを転送するソフト", 0, 70, 180, 8, -1},
          {L"Static", -1, nullptr, 0, 95, 180, 8, -1},
          {L"Static", -1, L"Character code :UNICODE", 0, 103, 180, 8, -1},
          {L"Static", -1, L"Creator By Brindlewax", 0, 111, 180, 8, -1},
          {L"Static", -1, nullptr, 0, 128, 180, 8, -1},
          {L"Button", 201, L"ＯＫ", 70, 165, 40, 16, BS_PUSHBUTTON},
          {L"Static", IDC_OWN_FINGERPRINT, L"", 0, 140, 180, 20, -1}}},
        {IDD_ENVIRONMENT, L"環境設定", L"ＭＳ Ｐゴシック", 130, 120,
         {{L"Button", 521, L"送受信モニタ記憶有り", 10, 10, 100, 12, BS_AUTOCHECKBOX},
          {L"Button", 201, L"OK", 20, 84, 36, 20, BS_PUSHBUTTON},
          {L"Button", 202, L"キャンセル", 60, 84, 36, 20, BS_PUSHBUTTON}}},
        {IDD_MONITOR, L"受信データー表示", L"ＭＳ Ｐゴシック", 270, 430, {}},
        {IDD_COPY, L"コピー設定画面", L"ＭＳ Ｐゴシック", 310, 112,
         {{L"Static", -1, L"コピー元", 5, 5, 80, 8, -1},
          {L"Edit", 231, L"", 5, 15, 300, 12, -1},
          {L"Static", -1, L"コピー先", 5, 30, 80, 8, -1},
          {L"Edit", 232, L"", 5, 45, 300, 12, -1},
          {L"Button", 202, L"開始", 10, 70, 50, 14, BS_PUSHBUTTON},
          {L"Button", 203, L"停止", 70, 70, 50, 14, BS_PUSHBUTTON},
          {L"Static", 501, L"Step:000000", 140, 70, 100, 8, -1},
          {L"Button", 201, L"閉じる", 250, 70, 50, 14, BS_DEFPUSHBUTTON},
          {L"Static", 502, L"", 5, 88, 300, 8, -1},
          {L"Static", 505, L"", 5, 100, 300, 8, -1}}},
        {IDD_NEW_FOLDER, L"フィルダ作成画面", L"ＭＳ Ｐゴシック", 310, 55,
         {{L"Static", -1, L"作成するフォルダ名", 5, 5, 80, 8, -1},
          {L"Edit", 231, L"", 5, 15, 300, 12, -1},
          {L"Button", 202, L"作成", 10, 35, 50, 14, BS_PUSHBUTTON},
          {L"Button", 201, L"閉じる", 250, 35, 50, 14, BS_DEFPUSHBUTTON}}},
    };
    return all;
}

RECT dialogUnits(HWND dialog, int x, int y, int width, int height)
{
    RECT rect = {x, y, x + width, y + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

TEST(DialogTemplates, EveryTemplateHasItsControlsTitleSizeAndFont)
{
    for (const ExpectedTemplate &expected : templates()) {
        SCOPED_TRACE(testing::Message() << "template " << expected.id);
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(expected.id), nullptr, plainProc, 0);
        ASSERT_NE(dialog, nullptr);
        wchar_t title[128] = {};
        GetWindowTextW(dialog, title, 127);
        EXPECT_EQ(narrow(title), narrow(expected.title));
        LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_TRUE(style & WS_CAPTION);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_TRUE(style & WS_POPUP);

        RECT client;
        GetClientRect(dialog, &client);
        RECT size = dialogUnits(dialog, 0, 0, expected.width, expected.height);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);

        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
        EXPECT_EQ(narrow(font.lfFaceName), narrow(expected.font));

        size_t index = 0;
        for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
             control = GetWindow(control, GW_HWNDNEXT), ++index) {
            ASSERT_LT(index, expected.controls.size()) << "an extra control";
            const ExpectedControl &want = expected.controls[index];
            SCOPED_TRACE(testing::Message() << "control " << index);
            wchar_t className[64] = {};
            GetClassNameW(control, className, 63);
            EXPECT_EQ(_wcsicmp(className, want.className), 0) << narrow(className);
            int id = GetDlgCtrlID(control);
            EXPECT_TRUE(id == want.id || (want.id == -1 && id == 0xFFFF)) << id;
            wchar_t text[256] = {};
            GetWindowTextW(control, text, 255);
            if (want.text != nullptr) {
                EXPECT_EQ(narrow(text), narrow(want.text));
            } else {
                EXPECT_GT(wcslen(text), 5u);
            }
            RECT place;
            GetWindowRect(control, &place);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&place), 2);
            // Place and size are converted from dialog units apart, as the dialog manager does.
            RECT wantPlace = dialogUnits(dialog, want.x, want.y, 0, 0);
            RECT wantSize = dialogUnits(dialog, 0, 0, want.width, want.height);
            EXPECT_EQ(place.left, wantPlace.left);
            EXPECT_EQ(place.top, wantPlace.top);
            EXPECT_EQ(place.right - place.left, wantSize.right);
            EXPECT_EQ(place.bottom - place.top, wantSize.bottom);
            LONG controlStyle = GetWindowLongW(control, GWL_STYLE);
            if (want.kind >= 0) {
                EXPECT_EQ(controlStyle & 0xF, want.kind);
            }
            if (wcscmp(want.className, L"Edit") == 0) {
                EXPECT_TRUE(controlStyle & ES_AUTOHSCROLL);
                EXPECT_TRUE((controlStyle & WS_BORDER) || (GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
            }
        }
        EXPECT_EQ(index, expected.controls.size());
        DestroyWindow(dialog);
    }
}

TEST(DialogTemplates, AboutBitmapIs128By64In24Bits)
{
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_ABOUT),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info = {};
    GetObjectW(bitmap, sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, 128);
    EXPECT_EQ(info.bmHeight, 64);
    EXPECT_EQ(info.bmBitsPixel, 24);
    DeleteObject(bitmap);
}

}  // namespace

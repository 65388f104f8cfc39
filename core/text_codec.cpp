// text_codec.cpp: bounded conversions at the borders where text leaves or enters the program.
#include "core/text_codec.h"

#include "core/app_state.h"

#include <cwchar>

bool wireTextIsUtf8()
{
    const MessageFramer *framer = &AppState.clientFramer;
    if (AppState.mode == ConnectionMode::Server) {
        int slot = AppState.exchangeSlot;
        if (slot < 0 || slot >= ClientSlotCount)
            return false;
        framer = &AppState.slotFramers[slot];
    }
    return framer->fast != 0 && framer->utf8 != 0;
}

int wideToWire(const wchar_t *src, int srcChars, char *dst, int dstBytes)
{
    if (dst == nullptr || dstBytes <= 0)
        return -1;
    dst[0] = 0;
    if (src == nullptr || srcChars == 0 || (srcChars < 0 && src[0] == 0))
        return 0;
    // UTF-8 takes no best-fit flag: it has no character it cannot hold.
    UINT page = wireTextIsUtf8() ? CP_UTF8 : CP_THREAD_ACP;
    DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int needed = WideCharToMultiByte(page, flags, src, srcChars, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return 0;
    // With srcChars -1 the count includes the NUL.
    int textBytes = srcChars < 0 ? needed - 1 : needed;
    if (textBytes > dstBytes - 1)
        return -1;
    int written = WideCharToMultiByte(page, flags, src, srcChars, dst, dstBytes, nullptr, nullptr);
    if (written <= 0) {
        dst[0] = 0;
        return 0;
    }
    dst[textBytes] = 0;
    return textBytes;
}

bool wireTextValid(const char *src, int srcBytes)
{
    if (!wireTextIsUtf8() || src == nullptr || srcBytes <= 0)
        return true;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, src, srcBytes, nullptr, 0) > 0;
}

int wireToWide(const char *src, int srcBytes, wchar_t *dst, int dstChars)
{
    if (dst == nullptr || dstChars <= 0)
        return -1;
    dst[0] = 0;
    if (src == nullptr || srcBytes == 0 || (srcBytes < 0 && src[0] == 0))
        return 0;
    UINT page = wireTextIsUtf8() ? CP_UTF8 : CP_THREAD_ACP;
    DWORD flags = page == CP_UTF8 ? 0 : MB_PRECOMPOSED;
    int needed = MultiByteToWideChar(page, flags, src, srcBytes, nullptr, 0);
    if (needed <= 0)
        return 0;
    int textChars = srcBytes < 0 ? needed - 1 : needed;
    if (textChars > dstChars - 1)
        return -1;
    int written = MultiByteToWideChar(page, flags, src, srcBytes, dst, dstChars);
    if (written <= 0) {
        dst[0] = 0;
        return 0;
    }
    dst[textChars] = 0;
    return textChars;
}

int pathToWire(const wchar_t *path, char *dst, int dstBytes)
{
    if (dst == nullptr || dstBytes <= 0)
        return -1;
    dst[0] = 0;
    bool utf8 = wireTextIsUtf8();
    if (path == nullptr || wcsnlen(path, FastPathUnits + 1) > (utf8 ? FastPathUnits : PathChars - 1))
        return -1;
    int room = utf8 ? dstBytes : (dstBytes < PathChars ? dstBytes : PathChars);
    int bytes = wideToWire(path, -1, dst, room);
    return bytes > 0 ? bytes : -1;
}

int wireRecordLimit()
{
    return wireTextIsUtf8() ? FastRecordBytes - 1 : DirRowBytes - 1;
}

// text_codec.cpp: bounded conversions at the borders where text leaves or enters the program.
#include "core/text_codec.h"

int wideToAnsi(const wchar_t *src, int srcChars, char *dst, int dstBytes)
{
    if (dst == nullptr || dstBytes <= 0)
        return -1;
    dst[0] = 0;
    if (src == nullptr || srcChars == 0 || (srcChars < 0 && src[0] == 0))
        return 0;
    int needed = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, src, srcChars, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return 0;
    // With srcChars -1 the count includes the NUL.
    int textBytes = srcChars < 0 ? needed - 1 : needed;
    if (textBytes > dstBytes - 1)
        return -1;
    int written = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, src, srcChars, dst, dstBytes, nullptr,
                                      nullptr);
    if (written <= 0) {
        dst[0] = 0;
        return 0;
    }
    dst[textBytes] = 0;
    return textBytes;
}

int ansiToWide(const char *src, int srcBytes, wchar_t *dst, int dstChars)
{
    if (dst == nullptr || dstChars <= 0)
        return -1;
    dst[0] = 0;
    if (src == nullptr || srcBytes == 0 || (srcBytes < 0 && src[0] == 0))
        return 0;
    int needed = MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, src, srcBytes, nullptr, 0);
    if (needed <= 0)
        return 0;
    int textChars = srcBytes < 0 ? needed - 1 : needed;
    if (textChars > dstChars - 1)
        return -1;
    int written = MultiByteToWideChar(CP_THREAD_ACP, MB_PRECOMPOSED, src, srcBytes, dst, dstChars);
    if (written <= 0) {
        dst[0] = 0;
        return 0;
    }
    dst[textChars] = 0;
    return textChars;
}

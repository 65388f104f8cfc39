// text_codec.h: conversions between the program's wide text and the thread's ANSI code page, always bounded.
#pragma once

#include <windows.h>

// Converts wide text (srcChars characters, or up to its NUL when -1) to the thread's ANSI code page without
// best-fit characters. Asks for the needed length first and converts only when it is positive. Returns the
// bytes written without the NUL, which is always written; 0 when there was nothing to convert; -1 when the
// result would not fit dstBytes - 1 bytes (dst is then left empty).
int wideToAnsi(const wchar_t *src, int srcChars, char *dst, int dstBytes);

// The reverse, with precomposed characters; the same results, counted in characters.
int ansiToWide(const char *src, int srcBytes, wchar_t *dst, int dstChars);

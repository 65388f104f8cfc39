// text_codec.h: conversions between the program's wide text and the text of the wire, always bounded. The
// wire's text is in the thread's ANSI code page, as every classic peer's is; on a fast link on which both sides
// have agreed on UTF-8 it is UTF-8, so that a name of any script travels whole. Records and paths are made and
// read through these two for the connection of the running exchange; with no link they are in the code page.
#pragma once

#include <windows.h>

// True while the connection of the running exchange carries its names in UTF-8.
bool wireTextIsUtf8();

// Converts wide text (srcChars characters, or up to its NUL when -1) to the wire's text (UTF-8, or the code
// page without its best-fit characters). Asks for the needed length first and converts only when it is positive. Returns the
// bytes written without the NUL, which is always written; 0 when there was nothing to convert; -1 when the
// result would not fit dstBytes - 1 bytes (dst is then left empty).
int wideToWire(const wchar_t *src, int srcChars, char *dst, int dstBytes);

// True when bytes of the wire's text are text of its encoding: always in the code page; in UTF-8, only a
// well-formed sequence (a malformed one would name a file the peer never named).
bool wireTextValid(const char *src, int srcBytes);

// The reverse, with precomposed characters; the same results, counted in characters.
int wireToWide(const char *src, int srcBytes, wchar_t *dst, int dstChars);

// A path into the wire's text within the budget of the running connection: 259 bytes in the code page, which
// is what every classic peer holds; in UTF-8, 259 UTF-16 units, whatever their bytes (dstBytes should be
// FastPathBytes). The bytes written, or -1 (dst empty) when the path is empty or over the budget.
int pathToWire(const wchar_t *path, char *dst, int dstBytes);

// The most bytes a DR record may take on the running connection, without its NUL.
int wireRecordLimit();

// wire_message.cpp: placeholder until the message code lands.
#include "core/wire_message.h"
#include <cstring>
const char AckMessage[4] = "ACK";
const char NakMessage[4] = "NAK";
const char CutMessage[4] = "CUT";
const char DirEndMessage[9] = "DR999999";
int textLength(const char *m, int count) { int n = 0; while (n < count && m[n]) n++; return n; }
bool isNak(const char *m, int count) { return count >= 3 && memcmp(m, "NAK", 3) == 0; }
bool isAck(const char *m, int count) { return count >= 3 && memcmp(m, "ACK", 3) == 0; }
bool isCut(const char *, int) { return false; }
bool isPathRequest(const char *, int, const char *) { return false; }
bool isFolderRequest(const char *, int) { return false; }
bool isDirEnd(const char *, int) { return false; }
bool isDirRecord(const char *, int) { return false; }
bool isStopTag(const char *, int, BlockKind) { return false; }
bool isTrailer(const char *, int, BlockKind) { return false; }
bool isBlock(const char *, int, BlockKind) { return false; }
int sixDigitNumber(const char *) { return 0; }
int buildPathRequest(char *, int, const char *, const char *) { return -1; }
int buildBlockHeader(char *, BlockKind, int) { return 8; }
int buildStopTag(char *, BlockKind) { return 8; }
void putFileTime(unsigned char *, const FILETIME &) {}
FILETIME getFileTime(const unsigned char *) { FILETIME t = {0, 0}; return t; }
int buildTrailer(char *, BlockKind, const FILETIME &, const FILETIME &, const FILETIME &) { return 32; }

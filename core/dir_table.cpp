// dir_table.cpp: placeholder until the listing code lands.
#include "core/dir_table.h"
void buildDirTable(const wchar_t *, int) {}
int driveTypeCode(UINT) { return -1; }
int entryTypeCode(const wchar_t *, DWORD) { return 8; }
void entryDateText(const FILETIME &, wchar_t *out, int) { out[0] = 0; }
void entrySizeText(const wchar_t *, int, const wchar_t *, DWORD, wchar_t *out, int) { out[0] = 0; }
void sizeText(unsigned long long, wchar_t *out, int) { out[0] = 0; }
bool isDriveRoot(const wchar_t *f) { return f[0] && f[1] == L':' && f[2] == L'\\' && !f[3]; }

// dir_table.h: the DIR table that describes one folder as DR records, and the four listing rules that the own
// pane uses too, so both panes show an entry alike.
#pragma once

#include <windows.h>

// Entry type codes; also the image index of the entry in the panes.
constexpr int TypeUpFolder = 0;
constexpr int TypeFolder = 1;
constexpr int TypeFixedDrive = 2;
constexpr int TypeCdromDrive = 3;
constexpr int TypeRemovableDrive = 4;
constexpr int TypeRemoteDrive = 5;
constexpr int TypeRamDisk = 6;
constexpr int TypeOther = 8;

// Called with each record ("DR" + six-digit row number + body, bytes long, no NUL) of a listing in order; false
// ends the listing there (that record is not counted).
typedef bool (*RecordVisitor)(const char *record, int bytes, void *context);

// Lists a folder (wide, length characters) as buildDirTable does, with no limit on the rows; a record is bounded
// by the running connection's budget (wireRecordLimit). Returns the rows; *leftOut, when given, the entries
// whose path or record is over the budget.
int listFolderRecords(const wchar_t *folder, int length, RecordVisitor visit, void *context, int *leftOut);

// Refills AppState.dirTable and AppState.dirCount from a folder (wide, NUL-terminated, length characters).
void buildDirTable(const wchar_t *folder, int length);

// Calls visit with each drive root ("a:\\" form) that a drive root's listing shows, and its type code, from a
// to z; the drive of folder itself is left out.
typedef void (*DriveVisitor)(const wchar_t *root, int code, void *context);
void forEachListedDrive(const wchar_t *folder, DriveVisitor visit, void *context);

// GetDriveTypeW result to type code; -1 for a drive that is not listed (0, 1 and unknown results).
int driveTypeCode(UINT driveType);

// 0 for "." and "..", 1 for attributes exactly FILE_ATTRIBUTE_DIRECTORY, else 8.
int entryTypeCode(const wchar_t *name, DWORD attributes);

// Last-write time as local "%02d/%02d/%02d %02d:%02d" (year in full) into out.
void entryDateText(const FILETIME &lastWrite, wchar_t *out, int outChars);

// Size text of an entry of folder (its first length characters): empty for types 0 and 1, else the
// compressed size with the byte, K, M, G, T steps. Empty when the entry's path would not fit a path buffer, and
// when the size query fails (a file locked or gone since the search).
void entrySizeText(const wchar_t *folder, int length, const wchar_t *name, DWORD attributes, wchar_t *out,
                   int outChars);

// entrySizeText from the search's own data: the size comes from the found entry unless it is compressed or
// sparse (or a folder with more attributes), which are asked as entrySizeText asks. Returns the size shown.
unsigned long long foundSizeText(const wchar_t *folder, int length, const WIN32_FIND_DATAW &found, wchar_t *out,
                                 int outChars);

// The size text of a size in bytes (the steps above).
void sizeText(unsigned long long size, wchar_t *out, int outChars);

// The bytes a size text stands for ("123", "45K", "953M", "10G"; a unit follows the digits), saturating at
// SizeTextCap rather than overflowing. rounded, when given, is set when the text carries a unit.
constexpr unsigned long long SizeTextCap = 1ULL << 62;
unsigned long long sizeTextValue(const wchar_t *text, bool *rounded);

// True when folder is a drive root: three characters, ':' second and '\' third.
bool isDriveRoot(const wchar_t *folder);

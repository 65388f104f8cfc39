// dir_table.cpp: lists a folder into the DIR table as DR records, and the type, date and size rules that the
// own pane shares with it.
#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/file_receiver.h"
#include "core/paths.h"
#include "core/wire_message.h"
#include "core/text_codec.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

// The longest folder that still leaves room for "\*" and the NUL in a path buffer.
static const int MaxListedFolderChars = PathChars - 3;
// A wide record longer than a row can never fit it: every character takes at least one byte.
static const int WideRecordChars = 2 * DirRowBytes;

// Characters of folder actually used: its first length characters, never past its NUL.
static int usedFolderChars(const wchar_t *folder, int length)
{
    if (folder == nullptr || length <= 0)
        return 0;
    int n = 0;
    while (n < length && folder[n] != 0)
        n++;
    return n;
}

// Writes one complete record into the next row. The caller has made sure the record fits a row.
static void storeRow(const char *record, int bytes)
{
    char *row = AppState.dirTable[AppState.dirCount];
    memset(row, 0, DirRowBytes);
    memcpy(row, record, static_cast<size_t>(bytes));
    AppState.dirCount++;
}

static void storeTerminator()
{
    if (AppState.dirCount < DirRows) {
        char *row = AppState.dirTable[AppState.dirCount];
        memset(row, 0, DirRowBytes);
        memcpy(row, DirEndMessage, 8);
        AppState.dirCount++;
    }
}

void forEachListedDrive(const wchar_t *folder, DriveVisitor visit, void *context)
{
    for (wchar_t letter = L'a'; letter <= L'z'; letter++) {
        wchar_t root[4] = {letter, L':', L'\\', 0};
        int code = driveTypeCode(GetDriveTypeW(root));
        if (code < 0 || towlower(folder[0]) == letter)
            continue;
        visit(root, code, context);
    }
}

// A listing in the making: where its records go and how many it has.
struct Listing {
    RecordVisitor visit;
    void *context;
    int rows;
    int leftOut;  // entries no record of this link can carry
};

static void listDriveRow(const wchar_t *root, int code, void *context)
{
    Listing *listing = static_cast<Listing *>(context);
    char rootA[8];
    if (wideToWire(root, -1, rootA, COUNTOF(rootA)) <= 0)
        return;
    char record[DirRowBytes];
    memset(record, 0, sizeof(record));
    int bytes = snprintf(record, sizeof(record) - 1, "DR%06d%s,,,%d", listing->rows, rootA, code);
    if (bytes <= 0 || bytes > DirRowBytes - 1) {
        listing->leftOut++;
        return;
    }
    if (listing->visit(record, bytes, listing->context))
        listing->rows++;
}

// Formats the record of one found entry into record (A text). Returns its byte count, or -1 when the entry
// cannot be represented: its path would not fit a path buffer, or its record would not fit a row.
static int formatEntryRecord(const wchar_t *folder, int folderChars, const WIN32_FIND_DATAW &found, int row,
                             char *record, int recordBytes)
{
    const wchar_t *name = found.cFileName;
    wchar_t path[PathChars];
    if (!isUpFolderName(name) && !joinPathN(folder, folderChars, name, path, COUNTOF(path)))
        return -1;
    wchar_t date[32];
    wchar_t size[32];
    entryDateText(found.ftLastWriteTime, date, COUNTOF(date));
    foundSizeText(folder, folderChars, found, size, COUNTOF(size));
    int code = entryTypeCode(name, found.dwFileAttributes);

    wchar_t wide[WideRecordChars];
    memset(wide, 0, sizeof(wide));
    int chars = _snwprintf(wide, COUNTOF(wide) - 1, L"DR%06d%ls,%ls,%ls,%d", row, name, date, size,
                           code);
    if (chars < 0 || chars >= static_cast<int>(COUNTOF(wide)) - 1)
        return -1;
    int limit = wireRecordLimit();
    return wideToWire(wide, chars, record, recordBytes <= limit ? recordBytes : limit + 1);
}

int listFolderRecords(const wchar_t *folder, int length, RecordVisitor visit, void *context, int *leftOut)
{
    Listing listing = {visit, context, 0, 0};
    if (leftOut != nullptr)
        *leftOut = 0;
    int folderChars = usedFolderChars(folder, length);
    // A folder that leaves no room for "\*" cannot be searched, and an empty one would list the current
    // drive's root: either way the listing is empty.
    if (folderChars == 0 || folderChars > MaxListedFolderChars)
        return 0;
    if (folderChars == 3 && folder[1] == L':' && folder[2] == L'\\')
        forEachListedDrive(folder, listDriveRow, &listing);

    wchar_t pattern[PathChars];
    memset(pattern, 0, sizeof(pattern));
    wmemcpy(pattern, folder, static_cast<size_t>(folderChars));
    wmemcpy(pattern + folderChars, L"\\*", 2);

    WIN32_FIND_DATAW found;
    memset(&found, 0, sizeof(found));
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return listing.rows;
    do {
        // Row numbers have six digits, and 999999 is the terminator's.
        if (listing.rows >= TrailerNumber)
            break;
        // The fast link's resume records are no files of the user's.
        if (isResumeRecordName(found.cFileName))
            continue;
        char record[FastRecordBytes];
        memset(record, 0, sizeof(record));
        int bytes = formatEntryRecord(folder, folderChars, found, listing.rows, record, COUNTOF(record));
        if (bytes <= 0)
            listing.leftOut++;
        else if (!visit(record, bytes, context))
            break;
        else
            listing.rows++;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (leftOut != nullptr)
        *leftOut = listing.leftOut;
    return listing.rows;
}

// The table keeps its last row for the terminator; entries beyond it are dropped.
static bool storeTableRow(const char *record, int bytes, void *)
{
    if (AppState.dirCount >= DirRows - 1)
        return false;
    storeRow(record, bytes);
    return true;
}

void buildDirTable(const wchar_t *folder, int length)
{
    AppState.dirCount = 0;
    listFolderRecords(folder, length, storeTableRow, nullptr, nullptr);
    storeTerminator();
}

int driveTypeCode(UINT driveType)
{
    switch (driveType) {
    case DRIVE_REMOVABLE:
        return TypeRemovableDrive;
    case DRIVE_FIXED:
        return TypeFixedDrive;
    case DRIVE_REMOTE:
        return TypeRemoteDrive;
    case DRIVE_CDROM:
        return TypeCdromDrive;
    case DRIVE_RAMDISK:
        return TypeRamDisk;
    default:
        return -1;
    }
}

int entryTypeCode(const wchar_t *name, DWORD attributes)
{
    if (name != nullptr && isUpFolderName(name))
        return TypeUpFolder;
    if (attributes == FILE_ATTRIBUTE_DIRECTORY)
        return TypeFolder;
    return TypeOther;
}

void entryDateText(const FILETIME &lastWrite, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return;
    out[0] = 0;
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&lastWrite, &local) || !FileTimeToSystemTime(&local, &st))
        return;
    int chars = _snwprintf(out, static_cast<size_t>(outChars - 1), L"%02d/%02d/%02d %02d:%02d", st.wYear, st.wMonth,
                           st.wDay, st.wHour, st.wMinute);
    if (chars < 0 || chars >= outChars - 1)
        out[outChars - 1] = 0;
    else
        out[chars] = 0;
}

unsigned long long sizeTextValue(const wchar_t *text, bool *rounded)
{
    unsigned long long number = 0;
    const wchar_t *c = text;
    for (; *c >= L'0' && *c <= L'9'; ++c)
        number = number < SizeTextCap / 10 ? number * 10 + static_cast<unsigned long long>(*c - L'0') : SizeTextCap;
    int shift = *c == L'K' ? 10 : *c == L'M' ? 20 : *c == L'G' ? 30 : *c == L'T' ? 40 : 0;
    if (rounded != nullptr)
        *rounded = shift > 0;
    return number > (SizeTextCap >> shift) ? SizeTextCap : number << shift;
}

void sizeText(unsigned long long size, wchar_t *out, int outChars)
{
    if (out == nullptr || outChars <= 0)
        return;
    memset(out, 0, static_cast<size_t>(outChars) * sizeof(wchar_t));
    const wchar_t *format = L"%I64u";
    unsigned long long shown = size;
    if (size < 10240ULL) {
        shown = size;
    } else if (size < 10485760ULL) {
        format = L"%I64uK";
        shown = size >> 10;
    } else if (size < 10737418240ULL) {
        format = L"%I64uM";
        shown = size >> 20;
    } else if (size < 10995116277760ULL) {
        format = L"%I64uG";
        shown = size >> 30;
    } else {
        format = L"%I64uT";
        shown = size >> 40;
    }
    _snwprintf(out, static_cast<size_t>(outChars - 1), format, shown);
    out[outChars - 1] = 0;
}

// The compressed size of an entry of folder, as the size texts use it. False when the entry's path would not
// fit a path buffer, or the query fails (a file locked or gone since the search).
static bool compressedSize(const wchar_t *folder, int length, const wchar_t *name, unsigned long long *bytes)
{
    wchar_t path[PathChars];
    if (!joinPathN(folder, usedFolderChars(folder, length), name, path, COUNTOF(path)))
        return false;

    // A file that vanished or is locked between the search and the query shows no size rather than the
    // failure value dressed up as a size.
    SetLastError(NO_ERROR);
    DWORD high = 0;
    DWORD low = GetCompressedFileSizeW(path, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    *bytes = (static_cast<unsigned long long>(high) << 32) | low;
    return true;
}

void entrySizeText(const wchar_t *folder, int length, const wchar_t *name, DWORD attributes, wchar_t *out,
                   int outChars)
{
    if (out == nullptr || outChars <= 0)
        return;
    out[0] = 0;
    if (name == nullptr || isUpFolderName(name) || attributes == FILE_ATTRIBUTE_DIRECTORY)
        return;
    unsigned long long bytes = 0;
    if (compressedSize(folder, length, name, &bytes))
        sizeText(bytes, out, outChars);
}

unsigned long long foundSizeText(const wchar_t *folder, int length, const WIN32_FIND_DATAW &found, wchar_t *out,
                                 int outChars)
{
    if (out == nullptr || outChars <= 0)
        return 0;
    out[0] = 0;
    const wchar_t *name = found.cFileName;
    DWORD attributes = found.dwFileAttributes;
    if (isUpFolderName(name) || attributes == FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    // Only these need the file system asked again; a folder with more attributes is asked as before.
    const DWORD askAgain = FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_DIRECTORY;
    unsigned long long bytes = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    if ((attributes & askAgain) != 0 && !compressedSize(folder, length, name, &bytes))
        return 0;
    sizeText(bytes, out, outChars);
    return bytes;
}

bool isDriveRoot(const wchar_t *folder)
{
    return folder != nullptr && folder[0] != 0 && folder[1] == L':' && folder[2] == L'\\' && folder[3] == 0;
}

// dir_table_test.cpp: the DIR table built from real folders, and the type, date and size rules.
#include "core/app_state.h"
#include "core/dir_table.h"
#include "core/text_codec.h"
#include "core/tree_listing.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned char Sentinel = 0xdd;

void fillTableWithSentinel()
{
    memset(AppState.dirTable, Sentinel, sizeof(AppState.dirTable));
    AppState.dirCount = -7;
}

std::string row(int index)
{
    const char *r = AppState.dirTable[index];
    return std::string(r, strnlen(r, DirRowBytes));
}

bool rowIsSentinel(int index)
{
    for (int i = 0; i < DirRowBytes; i++)
        if (static_cast<unsigned char>(AppState.dirTable[index][i]) != Sentinel)
            return false;
    return true;
}

// Every used row is one record of at most 255 bytes, zeros after it, numbered with its own index (the
// terminator last); every row after the table still holds the sentinel.
#define checkTableShape() checkTableShapeAt(HERE)
void checkTableShapeAt(Caller at)
{
    TRACE_CALLER(at);
    ASSERT_GE(AppState.dirCount, 1);
    ASSERT_LE(AppState.dirCount, DirRows);
    for (int i = 0; i < AppState.dirCount; i++) {
        SCOPED_TRACE(i);
        const char *r = AppState.dirTable[i];
        size_t length = strnlen(r, DirRowBytes);
        ASSERT_LT(length, static_cast<size_t>(DirRowBytes));
        for (int k = static_cast<int>(length); k < DirRowBytes; k++)
            ASSERT_EQ(r[k], 0) << "byte " << k;
        ASSERT_EQ(r[0], 'D');
        ASSERT_EQ(r[1], 'R');
        int number = atoi(std::string(r + 2, 6).c_str());
        if (i == AppState.dirCount - 1) {
            EXPECT_EQ(row(i), "DR999999");
        } else {
            EXPECT_EQ(number, i);
            // Name, date, size and type: at least three commas in the body.
            std::string body = row(i).substr(8);
            EXPECT_GE(std::count(body.begin(), body.end(), ','), 3) << body;
        }
    }
    for (int i = AppState.dirCount; i < DirRows; i++)
        ASSERT_TRUE(rowIsSentinel(i)) << "row " << i << " after the table was written";
}

// The row whose name field (the text between the header and the date, size and type) is name.
int findRow(const std::string &name)
{
    for (int i = 0; i < AppState.dirCount; i++) {
        std::string r = row(i);
        if (r.size() < 8)
            continue;
        std::string body = r.substr(8);
        // The last three commas end the name; the name itself may hold commas.
        size_t c3 = body.rfind(',');
        size_t c2 = c3 == std::string::npos || c3 == 0 ? std::string::npos : body.rfind(',', c3 - 1);
        size_t c1 = c2 == std::string::npos || c2 == 0 ? std::string::npos : body.rfind(',', c2 - 1);
        if (c1 != std::string::npos && body.substr(0, c1) == name)
            return i;
    }
    return -1;
}

// The body after the name: date, size and type.
std::string fieldsAfter(int index, const std::string &name)
{
    return row(index).substr(8 + name.size());
}

void build(const std::wstring &folder)
{
    buildDirTable(folder.c_str(), static_cast<int>(folder.size()));
}

// Lists folder into a table of sentinels and checks the shape of what was written.
void listFresh(const std::wstring &folder)
{
    SCOPED_TRACE(narrow(folder));
    fillTableWithSentinel();
    build(folder);
    checkTableShape();
}

// A folder with a short path right under C:\, for names close to the record limit.
std::wstring makeShortFolder()
{
    static int counter = 0;
    for (;;) {
        wchar_t folder[64] = {};
        _snwprintf(folder, COUNTOF(folder) - 1, L"C:\\pwdt%lu_%d", GetCurrentProcessId(), ++counter);
        if (CreateDirectoryW(folder, nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

// The same three instants as texts in the users' zone (nine hours ahead, no summer time) and in UTC.
struct ZoneTexts {
    const char *zone;
    long bias;
    const wchar_t *texts[3];
};
const ZoneTexts KnownZones[] = {
    {"Asia/Tokyo", -540, {L"2024/03/07 18:05", L"1601/01/01 09:00", L"2100/01/01 08:59"}},
    {"UTC", 0, {L"2024/03/07 09:05", L"1601/01/01 00:00", L"2099/12/31 23:59"}},
};

// The zone the suite runs in (TZ), when its texts are known.
const ZoneTexts *knownZone()
{
    const char *tz = getenv("TZ");
    for (const ZoneTexts &zone : KnownZones) {
        if (tz != nullptr && strcmp(tz, zone.zone) == 0)
            return &zone;
    }
    return nullptr;
}

} // namespace

TEST(DirTableRulesTest, SizeTextSteps)
{
    struct Case {
        unsigned long long size;
        const wchar_t *text;
    } cases[] = {
        {0, L"0"},
        {10239, L"10239"},
        {10240, L"10K"},
        {10485759, L"10239K"},
        {10485760, L"10M"},
        {10737418239ULL, L"10239M"},
        {10737418240ULL, L"10G"},
        {10995116277759ULL, L"10239G"},
        {10995116277760ULL, L"10T"},
        {0xFFFFFFFFFFFFFFFFULL, L"16777215T"},
    };
    for (const Case &c : cases) {
        wchar_t out[32];
        wmemset(out, L'#', COUNTOF(out));
        sizeText(c.size, out, COUNTOF(out));
        EXPECT_STREQ(out, c.text) << c.size;
    }
    // A short buffer is cut, never overrun.
    wchar_t small[4];
    wmemset(small, L'#', COUNTOF(small));
    sizeText(10239, small, 3);
    EXPECT_STREQ(small, L"10");
    EXPECT_EQ(small[3], L'#');
}

TEST(DirTableRulesTest, TypeCodes)
{
    EXPECT_EQ(driveTypeCode(DRIVE_REMOVABLE), 4);
    EXPECT_EQ(driveTypeCode(DRIVE_FIXED), 2);
    EXPECT_EQ(driveTypeCode(DRIVE_REMOTE), 5);
    EXPECT_EQ(driveTypeCode(DRIVE_CDROM), 3);
    EXPECT_EQ(driveTypeCode(DRIVE_RAMDISK), 6);
    EXPECT_EQ(driveTypeCode(DRIVE_UNKNOWN), -1);
    EXPECT_EQ(driveTypeCode(DRIVE_NO_ROOT_DIR), -1);
    EXPECT_EQ(driveTypeCode(7), -1);

    EXPECT_EQ(entryTypeCode(L".", 0x12), 0);
    EXPECT_EQ(entryTypeCode(L"..", 0x20), 0);
    EXPECT_EQ(entryTypeCode(L"...", 0x10), 1);
    EXPECT_EQ(entryTypeCode(L"dir", 0x10), 1);
    EXPECT_EQ(entryTypeCode(L"dir", 0x11), 8);
    EXPECT_EQ(entryTypeCode(L"dir", 0x12), 8);
    EXPECT_EQ(entryTypeCode(L"dir", 0x30), 8);
    EXPECT_EQ(entryTypeCode(L"file", 0x20), 8);

    EXPECT_TRUE(isDriveRoot(L"C:\\"));
    EXPECT_TRUE(isDriveRoot(L"?:\\"));
    EXPECT_FALSE(isDriveRoot(L"C:\\x"));
    EXPECT_FALSE(isDriveRoot(L"C:"));
    EXPECT_FALSE(isDriveRoot(L"abc"));
}

// Run under TZ=Asia/Tokyo, and once under TZ=UTC.
TEST(DirTableRulesTest, DateTextInLocalTime)
{
    const ZoneTexts *expected = knownZone();
    if (expected == nullptr)
        GTEST_SKIP() << "needs TZ=Asia/Tokyo or TZ=UTC";
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    ASSERT_EQ(zone.Bias, expected->bias) << "the time zone of the environment was not taken";

    wchar_t out[32];
    entryDateText(utcFileTime(2024, 3, 7, 9, 5, 59), out, COUNTOF(out));
    EXPECT_STREQ(out, expected->texts[0]);
    entryDateText(utcFileTime(1601, 1, 1, 0, 0, 0), out, COUNTOF(out));
    EXPECT_STREQ(out, expected->texts[1]);
    entryDateText(utcFileTime(2099, 12, 31, 23, 59, 0), out, COUNTOF(out));
    EXPECT_STREQ(out, expected->texts[2]);

    wchar_t small[8];
    wmemset(small, L'#', COUNTOF(small));
    entryDateText(utcFileTime(2024, 3, 7, 9, 5, 0), small, 6);
    EXPECT_STREQ(small, L"2024/");
    EXPECT_EQ(small[6], L'#');
}

TEST(DirTableRulesTest, EntrySizeTextQueriesTheJoinedPath)
{
    std::wstring folder = makeTempFolder(L"pwsz");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(writeFileBytes(folder + L"\\five.bin", "12345"));
    // A sparse 10 GiB file: the size lives in the high word.
    HANDLE big = CreateFileW((folder + L"\\big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(big, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 10737418240LL;
    SetFilePointerEx(big, end, nullptr, FILE_BEGIN);
    SetEndOfFile(big);
    CloseHandle(big);

    wchar_t out[32];
    std::wstring withSlash = folder + L"\\";
    entrySizeText(folder.c_str(), static_cast<int>(folder.size()), L"five.bin", 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"5");
    entrySizeText(withSlash.c_str(), static_cast<int>(withSlash.size()), L"five.bin", 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"5");
    // Only the first length characters of the folder count.
    std::wstring longer = folder + L"\\nothing";
    entrySizeText(longer.c_str(), static_cast<int>(folder.size()), L"five.bin", 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"5");
    entrySizeText(folder.c_str(), static_cast<int>(folder.size()), L"big.bin", 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"10G");

    // Folders of exactly the directory attribute and the up entries have no size.
    entrySizeText(folder.c_str(), static_cast<int>(folder.size()), L"five.bin", 0x10, out, COUNTOF(out));
    EXPECT_STREQ(out, L"");
    entrySizeText(folder.c_str(), static_cast<int>(folder.size()), L"..", 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"");
    // A file gone between search and query shows no size.
    wmemset(out, L'#', COUNTOF(out));
    entrySizeText(folder.c_str(), static_cast<int>(folder.size()), L"gone.bin", 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"");
    // A path of 260 characters is not queried.
    std::wstring name(PathChars - static_cast<int>(folder.size()) - 1, L'n');
    entrySizeText(folder.c_str(), static_cast<int>(folder.size()), name.c_str(), 0x20, out, COUNTOF(out));
    EXPECT_STREQ(out, L"");
    removeTree(folder);
}

TEST(DirTableTest, ListsEveryKindOfEntry)
{
    // Under Z:\tmp so that the read-only folder can be made with the host's chmod (Wine reads mode 555 as
    // read-only; it does not keep the read-only bit of a folder set through Win32).
    wchar_t folderText[64] = {};
    _snwprintf(folderText, COUNTOF(folderText) - 1, L"Z:\\tmp\\pwdir%lu", GetCurrentProcessId());
    std::wstring folder = folderText;
    removeTree(folder);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(folder + L"\\a,b.txt", "hello"));
    ASSERT_TRUE(writeFileBytes(folder + L"\\a.$RESUME", "the fast link's own: never listed"));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\plain").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\.hidden").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\system").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\locked").c_str(), nullptr));
    SetFileAttributesW((folder + L"\\system").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(setHostReadOnly(folder + L"\\locked", true));
    FILETIME written = utcFileTime(2024, 3, 7, 9, 5, 30);
    ASSERT_TRUE(setWriteTime(folder + L"\\a,b.txt", written));
    ASSERT_TRUE(setWriteTime(folder + L"\\plain", written));
    const wchar_t *kinds[] = {L"\\.hidden", L"\\system", L"\\locked"};
    DWORD attributes[3];
    for (int i = 0; i < 3; i++)
        attributes[i] = GetFileAttributesW((folder + kinds[i]).c_str());

    listFresh(folder);
    EXPECT_EQ(AppState.dirCount, 8);  // ".", "..", five entries, terminator
    removeTree(folder);

    int dot = findRow(".");
    int dotdot = findRow("..");
    int file = findRow("a,b.txt");
    int plain = findRow("plain");
    ASSERT_GE(dot, 0);
    ASSERT_GE(dotdot, 0);
    ASSERT_GE(file, 0);
    ASSERT_GE(plain, 0);

    // Up entries: a date, no size, type 0.
    std::string up = fieldsAfter(dotdot, "..");
    ASSERT_EQ(up.size(), 1 + 16 + 3u) << up;
    EXPECT_EQ(up.substr(17), ",,0");
    EXPECT_EQ(fieldsAfter(dot, ".").substr(17), ",,0");

    if (const ZoneTexts *zone = knownZone()) {
        std::string date = narrow(zone->texts[0]);
        EXPECT_EQ(fieldsAfter(file, "a,b.txt"), "," + date + ",5,8");
        EXPECT_EQ(fieldsAfter(plain, "plain"), "," + date + ",,1");
    } else {
        EXPECT_EQ(fieldsAfter(file, "a,b.txt").substr(17), ",5,8");
        EXPECT_EQ(fieldsAfter(plain, "plain").substr(17), ",,1");
    }
    // Folders with any further attribute bit are "other" entries and carry a size text.
    const DWORD expectedAttributes[3] = {0x12, 0x14, 0x11};
    const char *names[3] = {".hidden", "system", "locked"};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(attributes[i], expectedAttributes[i]);
        int r = findRow(names[i]);
        ASSERT_GE(r, 0);
        std::string fields = fieldsAfter(r, names[i]);
        ASSERT_EQ(fields.size(), 1 + 16 + 1 + 1 + 2u) << fields;  // Wine reports a folder's size as 0
        EXPECT_EQ(fields.substr(17), ",0,8");
    }
}

TEST(DirTableTest, FullFolderKeepsTheLastRowForTheTerminator)
{
    std::wstring folder = makeTempFolder(L"pwbig");
    ASSERT_FALSE(folder.empty());
    for (int i = 0; i < 1100; i++) {
        wchar_t name[32];
        _snwprintf(name, COUNTOF(name) - 1, L"\\d%04d", i);
        name[COUNTOF(name) - 1] = 0;
        ASSERT_TRUE(CreateDirectoryW((folder + name).c_str(), nullptr)) << i;
    }
    listFresh(folder);
    removeTree(folder);
    EXPECT_EQ(AppState.dirCount, DirRows);
    EXPECT_EQ(row(DirRows - 1), "DR999999");
    EXPECT_EQ(row(DirRows - 2).substr(0, 8), "DR001022");
}

TEST(DirTableTest, MissingFolderIsTheTerminatorAlone)
{
    listFresh(L"C:\\no such folder here\\really");
    EXPECT_EQ(AppState.dirCount, 1);
    // An empty folder is no folder (not the current drive's root).
    listFresh(L"");
    EXPECT_EQ(AppState.dirCount, 1);

    // A second listing replaces the first and leaves the rows after it as they were.
    std::wstring folder = makeTempFolder(L"pwre");
    ASSERT_FALSE(folder.empty());
    build(folder);
    EXPECT_EQ(AppState.dirCount, 3);  // ".", "..", terminator
    checkTableShape();
    removeTree(folder);
}

TEST(DirTableTest, DriveRootListsOtherDrivesFirst)
{
    // What this machine has: every listed drive but C: itself.
    std::vector<std::string> expected;
    for (char letter = 'a'; letter <= 'z'; letter++) {
        wchar_t root[4] = {static_cast<wchar_t>(letter), L':', L'\\', 0};
        int code = driveTypeCode(GetDriveTypeW(root));
        if (code < 0 || letter == 'c')
            continue;
        char text[32];
        snprintf(text, sizeof(text), "DR%06d%c:\\,,,%d", static_cast<int>(expected.size()), letter, code);
        expected.push_back(text);
    }
    ASSERT_FALSE(expected.empty()) << "Wine has at least Z:";

    for (const wchar_t *root : {L"C:\\", L"c:\\"}) {
        SCOPED_TRACE(narrow(root));
        listFresh(root);
        ASSERT_GT(AppState.dirCount, static_cast<int>(expected.size()));
        for (size_t i = 0; i < expected.size(); i++)
            EXPECT_EQ(row(static_cast<int>(i)), expected[i]);
        EXPECT_EQ(findRow("z:\\"), static_cast<int>(expected.size()) - 1);
        // The root's own drive has no row; its entries follow the drive rows.
        for (int i = 0; i < AppState.dirCount; i++)
            EXPECT_NE(row(i).substr(8, 3), "c:\\") << i;
        EXPECT_EQ(row(static_cast<int>(expected.size())).substr(0, 8),
                  std::string("DR") + std::string(6 - std::to_string(expected.size()).size(), '0') +
                      std::to_string(expected.size()));
    }

    // Z:\ leaves out Z: and lists C:.
    listFresh(L"Z:\\");
    EXPECT_GE(findRow("c:\\"), 0);
    EXPECT_LT(findRow("z:\\"), 0);

    // Not a drive root: no drive rows.
    std::wstring folder = makeTempFolder(L"pwnr");
    ASSERT_FALSE(folder.empty());
    listFresh(folder);
    EXPECT_LT(findRow("z:\\"), 0);
    EXPECT_EQ(AppState.dirCount, 3);
    removeTree(folder);
    listFresh(L"abc");
    EXPECT_LT(findRow("z:\\"), 0);
}

TEST(DirTableTest, TooLongFoldersAndEntriesAreLeftOut)
{
    // A folder of exactly 257 characters (the longest that takes "\*"), reached by nesting.
    std::wstring base = makeShortFolder();
    ASSERT_FALSE(base.empty());
    std::wstring folder = base;
    while (folder.size() < 257) {
        size_t room = 257 - folder.size() - 1;
        std::wstring part(room > 100 ? 100 : room, L'x');
        if (part.empty())
            part = L"x";
        folder += L"\\" + part;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << folder.size();
    }
    ASSERT_EQ(folder.size(), 257u);
    ASSERT_TRUE(writeFileBytes(folder + L"\\a", "1"));    // path of 259 characters
    ASSERT_TRUE(writeFileBytes(folder + L"\\bc", "22"));  // path of 260 characters
    ASSERT_TRUE(writeFileBytes(folder + L"\\d", "333"));

    listFresh(folder);
    EXPECT_GE(findRow("a"), 0);
    EXPECT_GE(findRow("d"), 0);
    EXPECT_LT(findRow("bc"), 0);
    EXPECT_GE(findRow(".."), 0);
    EXPECT_EQ(AppState.dirCount, 5);  // ".", "..", "a", "d", terminator

    // One character more cannot be searched: the terminator alone.
    std::wstring tooLong = folder + L"\\y";
    std::wstring withSlash = folder + L"\\";
    ASSERT_TRUE(CreateDirectoryW(tooLong.c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(tooLong + L"\\f", "1"));
    listFresh(withSlash);
    EXPECT_EQ(AppState.dirCount, 1);
    listFresh(tooLong);
    EXPECT_EQ(AppState.dirCount, 1);
    removeTree(base);
}

TEST(DirTableTest, RecordsLongerThanARowAreLeftOut)
{
    std::wstring folder = makeShortFolder();
    ASSERT_FALSE(folder.empty());
    // Header 8 + name + ",<16-char date>,0,8" (21): a 226-character name makes a 255-byte record.
    std::wstring fits(226, L'f');
    std::wstring tooLong(227, L'g');
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + fits, ""));
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + tooLong, ""));
    ASSERT_TRUE(writeFileBytes(folder + L"\\after", "x"));

    listFresh(folder);
    int fitsRow = findRow(narrow(fits));
    ASSERT_GE(fitsRow, 0);
    EXPECT_EQ(row(fitsRow).size(), 255u);
    EXPECT_LT(findRow(narrow(tooLong)), 0);
    EXPECT_GE(findRow("after"), 0);
    EXPECT_EQ(AppState.dirCount, 5);  // ".", "..", the fitting name, "after", terminator
    removeTree(folder);
}

TEST(DirTableTest, JapaneseNamesTravelInShiftJis)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs code page 932";
    std::wstring folder = makeShortFolder();
    ASSERT_FALSE(folder.empty());
    const std::wstring name = L"日本語ファイル.txt";
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + name, "abc"));
    // 28 two-byte characters and 170 or 171 one-byte ones: the record is 255 or 256 bytes in Shift-JIS,
    // though far shorter in characters.
    std::wstring wide28(28, L'漢');
    std::wstring fits = wide28 + std::wstring(170, L'k');
    std::wstring tooLong = wide28 + std::wstring(171, L'm');
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + fits, ""));
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + tooLong, ""));

    listFresh(folder);
    EXPECT_EQ(AppState.dirCount, 5);  // ".", "..", the Japanese name, the fitting name, terminator

    const char sjis[] = "\x93\xfa\x96\x7b\x8c\xea\x83\x74\x83\x40\x83\x43\x83\x8b.txt";
    int found = findRow(sjis);
    ASSERT_GE(found, 0);
    wchar_t back[PathChars];
    std::string record = row(found);
    ASSERT_GT(wireToWide(record.c_str() + 8, static_cast<int>(strlen(sjis)), back, COUNTOF(back)), 0);
    EXPECT_EQ(std::wstring(back), name);
    EXPECT_EQ(record.substr(record.size() - 4), ",3,8");

    char fitsA[DirRowBytes];
    ASSERT_EQ(wideToWire(fits.c_str(), -1, fitsA, COUNTOF(fitsA)), 226);
    int fitsRow = findRow(fitsA);
    ASSERT_GE(fitsRow, 0);
    EXPECT_EQ(row(fitsRow).size(), 255u);
    removeTree(folder);
}

// A folder copy's table of one peer folder: the fast link lists past the classic 1023 rows.
TEST(TreeListingTest, GrowsPastTheClassicRowsFindsNamesWithoutCaseAndSaysWhenCut)
{
    resetAppState();
    char record[64];
    for (int i = 0; i < 3000; i++) {
        int length = snprintf(record, sizeof(record), "File%04d.txt,2024/01/01 00:00,1,8", i);
        ASSERT_FALSE(addTreeRecord(record, length));
    }
    EXPECT_EQ(treeRowCount(), 3000);
    EXPECT_FALSE(treeListingCut());
    ASSERT_NE(treeRowNamed(L"file2999.TXT"), nullptr);
    EXPECT_STREQ(treeRowNamed(L"file2999.TXT")->name, "File2999.txt");
    EXPECT_STREQ(treeRowNamed(L"FILE0000.txt")->name, "File0000.txt");
    EXPECT_EQ(treeRowNamed(L"File3000.txt"), nullptr);
    // A row added after a look-up is found as well.
    ASSERT_FALSE(addTreeRecord("late,,,8", 8));
    EXPECT_NE(treeRowNamed(L"LATE"), nullptr);

    clearTreeListing();
    EXPECT_EQ(treeRowCount(), 0);
    EXPECT_EQ(treeRowNamed(L"late"), nullptr);
    for (int i = 0; i <= TreeRowsMax; i++)
        addTreeRecord("x,,,8", 5);
    EXPECT_EQ(treeRowCount(), TreeRowsMax);
    EXPECT_TRUE(treeListingCut());
    resetAppState();
    EXPECT_EQ(treeRowCount(), 0);
    EXPECT_FALSE(treeListingCut());
}

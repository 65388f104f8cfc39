// folder_navigation_test.cpp: the double-click rule on folder texts, without windows.
#include "panes/folder_navigation.h"

#include "core/app_state.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

struct StepCase {
    const wchar_t *folder;
    const wchar_t *name;
    FolderStep step;
    const wchar_t *result;
    bool isFolder = true;
};

#define expectStep(...) expectStepAt(HERE __VA_OPT__(, ) __VA_ARGS__)
static void expectStepAt(Caller at, const StepCase &c)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(narrow(std::wstring(c.folder) + L" + " + c.name));
    wchar_t folder[PathChars];
    wmemset(folder, L'#', COUNTOF(folder));
    wcscpy(folder, c.folder);
    EXPECT_EQ(stepFolder(folder, COUNTOF(folder), c.name, c.isFolder), c.step);
    EXPECT_STREQ(folder, c.result);
}

static void expectSteps(std::initializer_list<StepCase> cases)
{
    for (const StepCase &c : cases)
        expectStep(c);
}

TEST(FolderNavigationTest, UpOneLevelWithDotAndDotDot)
{
    expectSteps({
        {L"C:\\work", L"..", FolderStep::Moved, L"C:\\"},
        {L"C:\\work", L".", FolderStep::Moved, L"C:\\"},
        {L"C:\\a\\b", L"..", FolderStep::Moved, L"C:\\a"},
        {L"C:\\", L"..", FolderStep::Moved, L"C:\\"},
        {L"work", L"..", FolderStep::Moved, L""},
        {L"\\share", L"..", FolderStep::Moved, L""},
        {L"\\\\srv\\share", L"..", FolderStep::Moved, L"\\\\srv"},
    });
}

TEST(FolderNavigationTest, JoinsNamesWithOneSeparator)
{
    expectSteps({
        {L"C:\\", L"work", FolderStep::Moved, L"C:\\work"},
        {L"C:\\work", L"src", FolderStep::Moved, L"C:\\work\\src"},
        {L"C:", L"work", FolderStep::Moved, L"C:\\work"},
        {L"C", L"work", FolderStep::Moved, L"C:\\work"},
        {L"", L"work", FolderStep::Moved, L"work"},
        {L"C:\\src", L"Makefile", FolderStep::Moved, L"C:\\src\\Makefile"},
        {L"C:\\src", L"abc.defg", FolderStep::Moved, L"C:\\src\\abc.defg"},
        {L"C:\\src", L"日本語", FolderStep::Moved, L"C:\\src\\日本語"},
    });
}

TEST(FolderNavigationTest, DriveRowReplacesTheFolder)
{
    expectSteps({
        {L"C:\\work\\src", L"d:\\", FolderStep::Moved, L"d:\\"},
        {L"", L"z:\\", FolderStep::Moved, L"z:\\"},
    });
}

TEST(FolderNavigationTest, TheTypeCodeNotTheNameTellsAFolder)
{
    expectSteps({
        {L"C:\\work", L"backup.old", FolderStep::Moved, L"C:\\work\\backup.old"},
        {L"C:\\work", L"README", FolderStep::NotAFolder, L"C:\\work", false},
        {L"C:\\work", L"..", FolderStep::NotAFolder, L"C:\\work", false},
    });
    for (int type = 0; type <= 8; type++)
        EXPECT_EQ(isFolderType(type), type <= 6) << type;
    EXPECT_FALSE(isFolderType(-1));
}

TEST(FolderNavigationTest, EmptyNameAndTooLongJoinAreRefusedUnchanged)
{
    std::wstring longFolder = L"C:\\" + std::wstring(247, L'a');  // 250 characters
    const std::wstring fits = std::wstring(8, L'b');               // 250 + 1 + 8 = 259
    const std::wstring tooLong = std::wstring(9, L'b');            // 260
    const std::wstring joined = longFolder + L"\\" + fits;
    EXPECT_EQ(joined.size(), 259u);
    expectSteps({
        {L"C:\\work", L"", FolderStep::Refused, L"C:\\work"},
        {longFolder.c_str(), tooLong.c_str(), FolderStep::Refused, longFolder.c_str()},
        {longFolder.c_str(), fits.c_str(), FolderStep::Moved, joined.c_str()},
    });

    // A drive letter alone gains ":\" and is refused once that no longer fits either.
    wchar_t small[8] = L"C";
    EXPECT_EQ(stepFolder(small, COUNTOF(small), L"abcd", true), FolderStep::Moved);
    EXPECT_STREQ(small, L"C:\\abcd");
    wchar_t tight[8] = L"C";
    EXPECT_EQ(stepFolder(tight, COUNTOF(tight), L"abcde", true), FolderStep::Refused);
    EXPECT_STREQ(tight, L"C");
}

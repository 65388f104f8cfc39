// settings_file_test.cpp: Parcelwight.ini read and written, under the code page the suite runs in.
#include "settings/settings_file.h"

#include "core/app_state.h"
#include "core/text_codec.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

#define expectDefaults(...) expectDefaultsAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        folder = makeTempFolder(L"pwset");
        ASSERT_FALSE(folder.empty());
        ASSERT_LT(folder.size(), 200u);
        wcscpy(AppState.startFolder, folder.c_str());
        ini = folder + L"\\Parcelwight.ini";
    }
    void TearDown() override { removeTree(folder); }

    void expectDefaultsAt(Caller at)
    {
        TRACE_CALLER(at);
        EXPECT_EQ(AppState.mode, ConnectionMode::Client);
        EXPECT_EQ(AppState.port, 1050);
        EXPECT_EQ(AppState.ip[0], 192);
        EXPECT_EQ(AppState.ip[1], 138);
        EXPECT_EQ(AppState.ip[2], 1);
        EXPECT_EQ(AppState.ip[3], 31);
        EXPECT_STREQ(AppState.ownFolder, L"C:\\");
        EXPECT_STREQ(AppState.peerFolder, L"C:\\");
        EXPECT_EQ(AppState.monitorOn, 0);
        EXPECT_EQ(AppState.admission, AdmissionMode::Ask) << "a first start asks about each new machine";
    }

    // Saves, clears the record but the start folder, loads again.
    void saveAndReload()
    {
        saveSettings();
        wchar_t start[PathChars];
        wcscpy(start, AppState.startFolder);
        resetAppState();
        wcscpy(AppState.startFolder, start);
        loadSettings();
    }

    std::wstring folder;
    std::wstring ini;
};

TEST_F(SettingsFileTest, DefaultsWithoutAFileAndFirstSaveCreatesAllKeys)
{
    wmemset(AppState.ownFolder, L'x', PathChars - 1);
    AppState.admission = AdmissionMode::Everyone;
    loadSettings();
    expectDefaults();
    EXPECT_FALSE(fileExists(ini));

    saveSettings();
    std::wstring text = readUtf16File(ini);
    ASSERT_FALSE(text.empty()) << "unreadable";
    ASSERT_NE(text, NoByteOrderMark) << "a new file is UTF-16";
    const wchar_t *lines[] = {L"[Parcelwight_setting]", L"currentdirectory_r=C:\\", L"currentdirectory_w=C:\\",
                              L"ip_mode=0", L"port_no=1050", L"ip_no1=192", L"ip_no2=138", L"ip_no3=1",
                              L"ip_no4=31", L"sendreadmonitor_on=0", L"fastlink_on=1", L"serve_admission=0"};
    size_t at = 0;
    for (const wchar_t *line : lines) {
        size_t next = text.find(line, at);
        ASSERT_NE(next, std::wstring::npos) << narrow(line) << " after " << at << " in " << narrow(text);
        at = next + wcslen(line);
    }
}

TEST_F(SettingsFileTest, ValuesComeBackButThePeerFolderStartsAtTheRoot)
{
    AppState.mode = ConnectionMode::Server;
    AppState.port = 40000;
    const int32_t address[4] = {10, 1, 2, 254};
    memcpy(AppState.ip, address, sizeof(address));
    AppState.monitorOn = 1;
    wcscpy(AppState.ownFolder, L"Z:\\tmp\\own folder");
    wcscpy(AppState.peerFolder, L"D:\\peer");
    saveAndReload();
    EXPECT_EQ(AppState.mode, ConnectionMode::Server);
    EXPECT_EQ(AppState.port, 40000);
    EXPECT_EQ(AppState.ip[0], 10);
    EXPECT_EQ(AppState.ip[3], 254);
    EXPECT_EQ(AppState.monitorOn, 1);
    EXPECT_STREQ(AppState.ownFolder, L"Z:\\tmp\\own folder");
    EXPECT_STREQ(AppState.peerFolder, L"C:\\");
    wchar_t written[PathChars] = {};
    GetPrivateProfileStringW(L"Parcelwight_setting", L"currentdirectory_w", L"", written, PathChars, ini.c_str());
    EXPECT_STREQ(written, L"D:\\peer");
}

TEST_F(SettingsFileTest, NumbersThatAreNotNumbers)
{
    writeFileBytes(ini, "[Parcelwight_setting]\r\nport_no=abc\r\nip_no1=12x\r\nip_mode=\r\n"
                        "sendreadmonitor_on=7\r\nserve_admission=7\r\n");
    AppState.admission = AdmissionMode::Everyone;
    loadSettings();
    EXPECT_EQ(AppState.port, 0);
    EXPECT_EQ(AppState.ip[0], 12);
    EXPECT_EQ(AppState.mode, ConnectionMode::Client);
    EXPECT_EQ(AppState.ip[1], 138);
    EXPECT_EQ(AppState.monitorOn, 7);
    EXPECT_EQ(AppState.admission, AdmissionMode::Ask) << "no mode has that number";
}

TEST_F(SettingsFileTest, JapaneseOwnFolderSurvivesSaveAndLoad)
{
    SCOPED_TRACE(testing::Message() << "code page " << GetACP());
    const wchar_t *japanese = L"C:\\データ\\写真フォルダ";
    wcscpy(AppState.ownFolder, japanese);
    saveAndReload();
    EXPECT_STREQ(AppState.ownFolder, japanese);
    // And once more over the existing file.
    wcscpy(AppState.ownFolder, L"C:\\新しいフォルダ");
    saveAndReload();
    EXPECT_STREQ(AppState.ownFolder, L"C:\\新しいフォルダ");
}

TEST_F(SettingsFileTest, HandWrittenAnsiFileIsReadAndStaysReadable)
{
    // A folder name the running code page can carry, written in that code page without a byte order mark.
    const wchar_t *own = GetACP() == 932 ? L"C:\\作業" : L"C:\\caf\u00e9";
    char ownA[PathChars] = {};
    ASSERT_GT(wideToWire(own, -1, ownA, sizeof(ownA)), 0);
    std::string file = std::string("[Parcelwight_setting]\r\ncurrentdirectory_r=") + ownA +
                       "\r\nip_mode=1\r\nport_no=2222\r\n";
    ASSERT_TRUE(writeFileBytes(ini, file));
    loadSettings();
    EXPECT_STREQ(AppState.ownFolder, own);
    EXPECT_EQ(AppState.mode, ConnectionMode::Server);
    EXPECT_EQ(AppState.port, 2222);
    EXPECT_EQ(AppState.ip[0], 192);

    AppState.port = 3333;
    saveAndReload();
    EXPECT_STREQ(AppState.ownFolder, own);
    EXPECT_EQ(AppState.port, 3333);
    EXPECT_EQ(AppState.mode, ConnectionMode::Server);
    std::string bytes;
    ASSERT_TRUE(readFileBytes(ini, &bytes));
    EXPECT_NE(bytes.substr(0, 2), std::string("\xFF\xFE", 2)) << "an existing file keeps its encoding";
}

TEST_F(SettingsFileTest, WindowPlaceNeedsAllFourKeysAsNumbers)
{
    // A file from before the place was kept: everything loads, the place is not there.
    ASSERT_TRUE(writeFileBytes(ini, "[Parcelwight_setting]\r\ncurrentdirectory_r=C:\\old\r\nport_no=2001\r\n"
                                    "sendreadmonitor_on=1\r\n"));
    loadSettings();
    EXPECT_STREQ(AppState.ownFolder, L"C:\\old");
    EXPECT_EQ(AppState.port, 2001);
    RECT place = {1, 2, 3, 4};
    EXPECT_FALSE(loadWindowRect(&place));

    const wchar_t *path = ini.c_str();
    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_left", L"-30", path);
    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_top", L"20", path);
    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_width", L"640", path);
    EXPECT_FALSE(loadWindowRect(&place));
    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_height", L"4x0", path);
    EXPECT_FALSE(loadWindowRect(&place));
    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_height", L"480", path);
    ASSERT_TRUE(loadWindowRect(&place));
    EXPECT_EQ(place.left, -30);
    EXPECT_EQ(place.top, 20);
    EXPECT_EQ(place.right, 610);
    EXPECT_EQ(place.bottom, 500);
    WritePrivateProfileStringW(L"Parcelwight_setting", L"window_width", L"0", path);
    EXPECT_FALSE(loadWindowRect(&place));
}

TEST_F(SettingsFileTest, DriveRootStartFolderGetsItsFileBesideIt)
{
    // A start folder ending in a backslash still names the same file.
    std::wstring withSlash = folder + L"\\";
    wcscpy(AppState.startFolder, withSlash.c_str());
    wchar_t path[PathChars];
    ASSERT_TRUE(settingsFilePath(path, COUNTOF(path)));
    EXPECT_EQ(std::wstring(path), folder + L"\\\\Parcelwight.ini");
    AppState.port = 1234;
    saveSettings();
    EXPECT_TRUE(fileExists(ini));
    loadSettings();
    EXPECT_EQ(AppState.port, 1234);
}

TEST_F(SettingsFileTest, StartFolderTooLongOrUnknownMeansDefaultsAndNoFile)
{
    wchar_t path[PathChars];
    wmemset(path, L'#', PathChars);
    std::wstring longFolder = folder + L"\\" + std::wstring(PathChars - 2 - folder.size() - 5, L'a');
    ASSERT_EQ(longFolder.size(), static_cast<size_t>(PathChars - 6));
    wcscpy(AppState.startFolder, longFolder.c_str());
    EXPECT_FALSE(settingsFilePath(path, COUNTOF(path)));
    EXPECT_EQ(path[0], 0);
    EXPECT_EQ(path[PathChars - 1], 0);
    AppState.port = 9;
    saveSettings();
    loadSettings();
    expectDefaults();

    memset(AppState.startFolder, 0, sizeof(AppState.startFolder));
    EXPECT_FALSE(settingsFilePath(path, COUNTOF(path)));
    AppState.port = 9;
    loadSettings();
    expectDefaults();

    // The longest folder that still fits.
    std::wstring fits = folder + L"\\" + std::wstring(PathChars - 1 - 16 - folder.size() - 1, L'b');
    wcscpy(AppState.startFolder, fits.c_str());
    EXPECT_TRUE(settingsFilePath(path, COUNTOF(path)));
    EXPECT_EQ(wcslen(path), static_cast<size_t>(PathChars - 1));
    // That folder does not exist: the save says it could not write, where one without a path has nothing to say.
    EXPECT_FALSE(saveSettings());
    memset(AppState.startFolder, 0, sizeof(AppState.startFolder));
    EXPECT_TRUE(saveSettings());
}

TEST_F(SettingsFileTest, OldFileServesTheWholeMachineAndServedKeysComeBackAfterTheOthers)
{
    // A file from before the served-folder keys: whatever the record held, the peer reaches everything again.
    ASSERT_TRUE(writeFileBytes(ini, "[Parcelwight_setting]\r\ncurrentdirectory_r=C:\\old\r\nip_mode=1\r\n"
                                    "port_no=2000\r\nsendreadmonitor_on=1\r\n"));
    wcscpy(AppState.servedFolder, L"C:\\stale");
    wcscpy(AppState.allowedPeerAddress, L"10.0.0.1");
    AppState.servedReadOnly = 1;
    AppState.admission = AdmissionMode::Ask;
    loadSettings();
    EXPECT_EQ(AppState.admission, AdmissionMode::Everyone) << "its user's setup serves everyone, as before";
    EXPECT_STREQ(AppState.ownFolder, L"C:\\old");
    EXPECT_EQ(AppState.port, 2000);
    EXPECT_EQ(AppState.monitorOn, 1);
    EXPECT_STREQ(AppState.servedFolder, L"");
    EXPECT_EQ(AppState.servedReadOnly, 0);
    EXPECT_STREQ(AppState.allowedPeerAddress, L"");
    EXPECT_EQ(AppState.answerSearches, 1);

    // A new file, so that the Japanese folder survives under either code page.
    ASSERT_TRUE(DeleteFileW(ini.c_str()));
    SCOPED_TRACE(testing::Message() << "code page " << GetACP());
    const wchar_t *served = L"Z:\\共有\\公開";
    wcscpy(AppState.servedFolder, served);
    AppState.servedReadOnly = 1;
    wcscpy(AppState.allowedPeerAddress, L"127.0.0.2");
    AppState.admission = AdmissionMode::PairedOnly;
    saveAndReload();
    EXPECT_EQ(AppState.admission, AdmissionMode::PairedOnly);
    EXPECT_STREQ(AppState.servedFolder, served);
    EXPECT_EQ(AppState.servedReadOnly, 1);
    EXPECT_STREQ(AppState.allowedPeerAddress, L"127.0.0.2");
    EXPECT_EQ(AppState.port, 2000);

    std::wstring text = readUtf16File(ini);
    size_t monitor = text.find(L"sendreadmonitor_on=1");
    size_t first = text.find(L"serve_directory=");
    ASSERT_NE(monitor, std::wstring::npos) << narrow(text);
    ASSERT_NE(first, std::wstring::npos) << narrow(text);
    EXPECT_LT(monitor, first) << "new keys come after the existing ones";
    EXPECT_LT(first, text.find(L"serve_readonly_on=1"));
    EXPECT_LT(text.find(L"serve_readonly_on=1"), text.find(L"serve_allow_ip=127.0.0.2"));
    EXPECT_LT(text.find(L"serve_allow_ip=127.0.0.2"), text.find(L"serve_admission=1"));
}

TEST_F(SettingsFileTest, SearchKeysComeLastAndAServerWrittenWrongIsLeftOut)
{
    AppState.answerSearches = 0;
    AppState.recentServers[0] = {L"192.168.1.20", 1050};
    AppState.recentServers[1] = {L"10.0.0.5", 40000};
    saveAndReload();
    EXPECT_EQ(AppState.answerSearches, 0);
    EXPECT_STREQ(AppState.recentServers[0].address, L"192.168.1.20");
    EXPECT_EQ(AppState.recentServers[0].port, 1050);
    EXPECT_STREQ(AppState.recentServers[1].address, L"10.0.0.5");
    EXPECT_EQ(AppState.recentServers[1].port, 40000);
    EXPECT_STREQ(AppState.recentServers[2].address, L"");
    std::wstring text = readUtf16File(ini);
    size_t answer = text.find(L"search_answer_on=0");
    EXPECT_LT(text.find(L"serve_admission="), answer) << narrow(text);
    EXPECT_LT(answer, text.find(L"recent_server_1=192.168.1.20:1050"));
    EXPECT_LT(text.find(L"recent_server_1="), text.find(L"recent_server_2=10.0.0.5:40000"));

    const wchar_t *written[4] = {L"192.168.1.300:1050", L"10.0.0.5:0", L"10.0.0.6:99999x", L"10.0.0.7:8080"};
    for (int i = 0; i < 4; i++) {
        std::wstring key = L"recent_server_" + std::to_wstring(i + 1);
        WritePrivateProfileStringW(L"Parcelwight_setting", key.c_str(), written[i], ini.c_str());
    }
    loadSettings();
    EXPECT_STREQ(AppState.recentServers[0].address, L"10.0.0.7");
    EXPECT_EQ(AppState.recentServers[0].port, 8080);
    EXPECT_STREQ(AppState.recentServers[1].address, L"");
}

}  // namespace

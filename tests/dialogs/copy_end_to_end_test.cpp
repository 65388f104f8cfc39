// copy_end_to_end_test.cpp: the copy and folder commands against a real peer process (pw_host as the server)
// over loopback, this side running its real link, engine, panes and dialogs; files checked on disk.
#include "tests/dialogs/dialog_test_support.h"
#include "tests/support/host_process.h"
#include "tests/support/test_support.h"
#include "tests/net/relay.h"

#include "dialogs/copy_dialog.h"
#include "core/fast_wire.h"
#include "core/protocol_engine.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"
#include "dialogs/folder_dialog.h"
#include "net/connection.h"
#include "panes/own_pane.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <thread>

namespace {


// 2 January 2020, 03:04:05 UTC, and a day later: times no copy made now could carry by chance.
// The summary box of a copy command whose one file was stopped, as boxTexts() gives it.
std::wstring stoppedOneFile(const std::wstring &name)
{
    return L"複写の結果\r\n完了: 0 件\r\n停止: 1 件\r\n届かなかったもの:\r\n  " + name +
           L"（停止）\r\n停止しました: 0 件は複写済み、1 件は複写していません。途中までの分は消したので、次は最初から複写します\r\n / 複写結果";
}

FILETIME knownTime(int day)
{
    SYSTEMTIME time = {};
    time.wYear = 2020;
    time.wMonth = 1;
    time.wDay = static_cast<WORD>(2 + day);
    time.wHour = 3;
    time.wMinute = 4;
    time.wSecond = 5;
    FILETIME out;
    SystemTimeToFileTime(&time, &out);
    return out;
}

bool writeFileWithTimes(const std::wstring &path, const std::string &bytes)
{
    if (!writeFileBytes(path, bytes))
        return false;
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME creation = knownTime(0);
    FILETIME write = knownTime(1);
    BOOL ok = SetFileTime(file, &creation, nullptr, &write);
    CloseHandle(file);
    return ok != FALSE;
}

uint64_t lastWriteOf(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

uint64_t asNumber(const FILETIME &time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Names in a folder, without "." and "..".
std::vector<std::wstring> folderNames(const std::wstring &folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// Copy dialogs created on the thread that installed the hook: a dialog that starts by itself may come and go
// faster than another thread can find it.
std::atomic<int> copyDialogsCreated(0);

LRESULT CALLBACK countCopyDialogs(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG) {
        wchar_t title[64] = {};
        GetWindowTextW(call->hwnd, title, 64);
        if (wcscmp(title, CopyTitle) == 0)
            ++copyDialogsCreated;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

#define awaitCopyDialogs(...) awaitCopyDialogsAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// Waits until the test has made total copy dialogs and the last is gone, within goneMs a dialog; puts the count
// in *seen if given. Counted from the test's start: one that started by itself before this wait is counted too.
void awaitCopyDialogsAt(Caller at, int total, int goneMs, int *seen)
{
    TRACE_CALLER(at);
    bool all = pumpUntil([&] { return copyDialogsCreated >= total && AppState.copyDialog == nullptr; },
                         goneMs * total);
    if (seen != nullptr)
        *seen = copyDialogsCreated;
    ASSERT_TRUE(all) << "dialogs seen: " << copyDialogsCreated;
}

#define startNextDialog(...) startNextDialogAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// Presses Start in the next copy dialog and waits for it to go within goneMs.
void startNextDialogAt(Caller at, DWORD ui, int goneMs)
{
    TRACE_CALLER(at);
    HWND dialog = waitForDialog(ui, CopyTitle, 5000);
    ASSERT_NE(dialog, nullptr);
    clickButton(dialog, IDC_START);
    ASSERT_TRUE(waitGone(dialog, goneMs));
}

#define settle() settleAt(HERE)
#define expectNoTemporaryFiles(...) expectNoTemporaryFilesAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define expectSameFile(...) expectSameFileAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class CopyEndToEnd : public TestWindowFixture {
protected:
    void SetUp() override
    {
        TestWindowFixture::SetUp();
        copyDialogsCreated = 0;
        dialogHook = SetWindowsHookExW(WH_CALLWNDPROC, countCopyDialogs, nullptr, GetCurrentThreadId());
        local = makeTempFolder(L"pwlocal");
        remote = makeTempFolder(L"pwremote");
        ASSERT_FALSE(local.empty());
        ASSERT_FALSE(remote.empty());
        int port = 0;
        std::string why;
        ASSERT_TRUE(startServerHost(&host, &port, remote, &why, fastLink ? std::vector<std::wstring>{L"--fast"}
                                                                         : std::vector<std::wstring>{}))
            << why;
        hostPort = port;
        AppState.fastLinkAllowed = fastLink ? 1 : 0;

        AppState.mode = ConnectionMode::Client;
        const int32_t loopback[4] = {127, 0, 0, 1};
        memcpy(AppState.ip, loopback, sizeof(loopback));
        AppState.port = port;
        wcscpy(AppState.ownFolder, local.c_str());
        wcscpy(AppState.peerFolder, remote.c_str());
        listOwnFolder(window);
        ASSERT_TRUE(openClient(window)) << narrow(joinedBoxes());
        linked = true;
        // The first listings: ours of the peer's folder, then the server's of ours.
        ASSERT_TRUE(waitHost("ROW ", 8000)) << "the server never listed this side";
        settle();
        ASSERT_NE(paneRowOf(AppState.peerPane, L"."), -1);
    }

    void TearDown() override
    {
        if (dialogHook != nullptr)
            UnhookWindowsHookEx(dialogHook);
        closeDialogsOf(GetCurrentThreadId());
        if (linked)
            closeLink(window);
        serveMessages();
        host.end(5000);
        TestWindowFixture::TearDown();
        removeTree(local);
        removeTree(remote);
    }

    std::wstring joinedBoxes()
    {
        std::wstring all;
        for (const std::wstring &text : boxTexts())
            all += text + L"; ";
        return all;
    }

    // Pumps this thread (the network thread's pane and status updates wait for it) until the host prints a line
    // starting with prefix.
    bool waitHost(const std::string &prefix, int timeoutMs, std::string *found = nullptr)
    {
        return pumpUntil(
            [&] {
                for (const std::string &line : host.drain()) {
                    hostLines.push_back(line);
                    if (line.compare(0, prefix.size(), prefix) == 0) {
                        if (found != nullptr)
                            *found = line;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
    }

    // Both sides back in Waiting.
    void settleAt(Caller at)
    {
        TRACE_CALLER(at);
        for (int round = 0; round < 100; ++round) {
            if (!pumpUntil([] { return AppState.transferState == TransferState::Waiting; }, 5000))
                break;
            host.send("status");
            std::string status;
            if (waitHost("STATUS ", 3000, &status) && status.compare(0, 15, "STATUS Waiting|") == 0 &&
                AppState.transferState == TransferState::Waiting)
                return;
            pumpFor(50);
        }
        ADD_FAILURE() << "the two sides never came back to Waiting";
    }

    bool hostShowedBox()
    {
        for (const std::string &line : host.drain())
            hostLines.push_back(line);
        for (const std::string &line : hostLines) {
            if (line.compare(0, 4, "BOX ") == 0)
                return true;
        }
        return false;
    }

    void relistOwn() { listOwnFolder(window); }

    void selectOwn(const std::vector<std::wstring> &names) { selectNamedRows(AppState.ownPane, names); }

    // The peer pane lists the peer folder again after a push; wait until it shows every name.
    bool peerPaneShows(const std::vector<std::wstring> &names, int timeoutMs = 8000)
    {
        bool shown = pumpUntil(
            [&] {
                if (AppState.transferState != TransferState::Waiting)
                    return false;
                for (const std::wstring &name : names) {
                    if (paneRowOf(AppState.peerPane, name) == -1)
                        return false;
                }
                return true;
            },
            timeoutMs);
        if (!shown) {
            // What the last exchange came to and what the host said, for a failure seen once under load.
            for (const std::string &line : host.drain())
                hostLines.push_back(line);
            std::string said;
            for (size_t i = hostLines.size() > 12 ? hostLines.size() - 12 : 0; i < hostLines.size(); ++i)
                said += hostLines[i] + "; ";
            ADD_FAILURE() << "peer pane: " << paneRows(AppState.peerPane).size() << " rows, state "
                          << static_cast<int>(AppState.transferState) << ", last ended state "
                          << static_cast<int>(AppState.endedState) << " outcome "
                          << static_cast<int>(AppState.lastOutcome) << " reason "
                          << static_cast<int>(AppState.lastReason) << "; host: " << said;
        }
        return shown;
    }

    void expectSameFileAt(Caller at, const std::wstring &source, const std::wstring &target)
    {
        TRACE_CALLER(at);
        SCOPED_TRACE(narrow(target));
        std::string want, got;
        ASSERT_TRUE(readFileBytes(source, &want));
        ASSERT_TRUE(readFileBytes(target, &got)) << "missing";
        EXPECT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want) << "bytes differ";
        EXPECT_EQ(lastWriteOf(target), asNumber(knownTime(1)));
    }

    void expectNoTemporaryFilesAt(Caller at, const std::wstring &folder)
    {
        TRACE_CALLER(at);
        for (const std::wstring &name : folderNames(folder))
            EXPECT_EQ(name.find(L".$TEMP"), std::wstring::npos) << narrow(name);
    }

    std::wstring local;
    std::wstring remote;
    HostProcess host;
    int hostPort = 0;
    bool fastLink = false;  // set by a derived fixture before SetUp: both sides agree on the fast link
    bool linked = false;
    HHOOK dialogHook = nullptr;
    std::vector<std::string> hostLines;
};

TEST_F(CopyEndToEnd, ThreeFilesPushedTheFirstDialogWaitsTheOthersStartThemselves)
{
    const std::vector<std::wstring> names = {L"one.txt", L"two.bin", L"three.dat"};
    const std::string contents[3] = {"first file", randomBytes(2500, 1), std::string()};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writeFileWithTimes(local + L"\\" + names[i], contents[i]));
    relistOwn();
    selectOwn(names);
    int dialogs = 0;
    driveWhile(
        [&](DWORD ui) {
            HWND first = waitForDialog(ui, CopyTitle, 5000);
            ASSERT_NE(first, nullptr);
            EXPECT_FALSE(waitGone(first, 500)) << "the first dialog started by itself";
            EXPECT_EQ(AppState.transferState, TransferState::Waiting) << "the first dialog started by itself";
            EXPECT_TRUE(controlEnabled(first, IDC_START));
            clickButton(first, IDC_START);
            ASSERT_TRUE(waitGone(first, 8000));
            awaitCopyDialogs(3, 8000, &dialogs);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(dialogs, 3);
    EXPECT_TRUE(peerPaneShows(names)) << "the peer pane was not listed again";
    settle();
    for (const std::wstring &name : names)
        expectSameFile(local + L"\\" + name, remote + L"\\" + name);
    expectNoTemporaryFiles(remote);
    EXPECT_TRUE(selectedRows(AppState.ownPane).empty());
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
    EXPECT_FALSE(hostShowedBox());
}

TEST_F(CopyEndToEnd, ThreeFilesPulledFromThePeer)
{
    const std::vector<std::wstring> names = {L"a.txt", L"b.bin", L"c.dat"};
    const std::string contents[3] = {"pulled", randomBytes(1000, 2), randomBytes(1001 * 1000 + 7, 3)};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writeFileWithTimes(remote + L"\\" + names[i], contents[i]));
    // Ask for the peer folder again so that the pane shows the new files.
    clearPeerPane();
    AppState.transferState = TransferState::CallDIR;
    requestPeerDir();
    ASSERT_TRUE(peerPaneShows(names));
    selectNamedRows(AppState.peerPane, names);
    driveWhile(
        [&](DWORD ui) {
            HWND first = waitForDialog(ui, CopyTitle, 5000);
            ASSERT_NE(first, nullptr);
            EXPECT_EQ(controlText(first, IDC_EDIT2), local);
            clickButton(first, IDC_START);
            ASSERT_TRUE(waitGone(first, 8000));
            awaitCopyDialogs(3, 15000, nullptr);
        },
        [&] { runCopyCommand(window, true); });
    settle();
    for (const std::wstring &name : names) {
        expectSameFile(remote + L"\\" + name, local + L"\\" + name);
        EXPECT_NE(paneRowOf(AppState.ownPane, name), -1) << "the own pane was not listed again";
    }
    expectNoTemporaryFiles(local);
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
    EXPECT_FALSE(hostShowedBox());
}

TEST_F(CopyEndToEnd, CloseInTheFirstDialogCopiesNothingAndStillRelistsThePeer)
{
    const std::vector<std::wstring> names = {L"x1", L"x2", L"x3"};
    for (const std::wstring &name : names)
        ASSERT_TRUE(writeFileWithTimes(local + L"\\" + name, "data"));
    relistOwn();
    selectOwn(names);
    clearPeerPane();
    int dialogs = 0;
    driveWhile(
        [&](DWORD ui) {
            HWND first = waitForDialog(ui, CopyTitle, 5000);
            ASSERT_NE(first, nullptr);
            ++dialogs;
            clickButton(first, IDC_CLOSE);
            ASSERT_TRUE(waitGone(first, 3000));
            if (waitForDialog(ui, CopyTitle, 1500) != nullptr)
                ++dialogs;
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(peerPaneShows({L".", L".."}));
    settle();
    EXPECT_TRUE(folderNames(remote).empty());
    EXPECT_TRUE(selectedRows(AppState.ownPane).empty());
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
}

TEST_F(CopyEndToEnd, StartPressedBeforeTheAutomaticStartCopiesOnce)
{
    const std::vector<std::wstring> names = {L"s1.bin", L"s2.bin"};
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(writeFileWithTimes(local + L"\\" + names[i], randomBytes(30000, 10 + i)));
    relistOwn();
    selectOwn(names);
    driveWhile(
        [&](DWORD ui) {
            startNextDialog(ui, 8000);
            if (!testing::Test::HasFatalFailure())
                startNextDialog(ui, 8000);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_TRUE(peerPaneShows(names));
    settle();
    for (const std::wstring &name : names)
        expectSameFile(local + L"\\" + name, remote + L"\\" + name);
    // A second request during the first transfer would have been refused with NAK, which both sides report.
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
    EXPECT_FALSE(hostShowedBox());
}

TEST_F(CopyEndToEnd, ADriveRowIsRefusedOnceAndBothFilesAreCopied)
{
    const std::vector<std::wstring> names = {L"d1.txt", L"d2.txt"};
    for (const std::wstring &name : names)
        ASSERT_TRUE(writeFileWithTimes(local + L"\\" + name, "drive test " + narrow(name)));
    relistOwn();
    addPaneRow(AppState.ownPane, L"q:\\", L"", 0);
    selectOwn({L"q:\\", names[0], names[1]});
    int dialogs = 0;
    driveWhile(
        [&](DWORD) {
            // The drive was the first pass, so both dialogs start by themselves.
            awaitCopyDialogs(2, 8000, &dialogs);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(dialogs, 2);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"ドライブは選べません"));
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_TRUE(peerPaneShows(names));
    settle();
    for (const std::wstring &name : names)
        expectSameFile(local + L"\\" + name, remote + L"\\" + name);
}

TEST_F(CopyEndToEnd, SizeTexts953MPassAnd954MAreRefused)
{
    ASSERT_TRUE(makeSparseFile(local + L"\\big954.iso", 954ll << 20));
    ASSERT_TRUE(makeSparseFile(local + L"\\fits953.iso", 953ll << 20));
    relistOwn();
    EXPECT_EQ(paneCell(AppState.ownPane, paneRowOf(AppState.ownPane, L"fits953.iso"), 2), L"953M");
    EXPECT_EQ(paneCell(AppState.ownPane, paneRowOf(AppState.ownPane, L"big954.iso"), 2), L"954M");
    selectOwn({L"big954.iso", L"fits953.iso"});
    int dialogs = 0;
    driveWhile(
        [&](DWORD ui) {
            // The file that fits gets its dialog; started and stopped at once, it leaves nothing on the peer.
            HWND dialog = waitForDialog(ui, CopyTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            ++dialogs;
            EXPECT_EQ(controlText(dialog, IDC_EDIT1), local + L"\\fits953.iso");
            if (controlEnabled(dialog, IDC_START))
                clickButton(dialog, IDC_START);
            clickButton(dialog, IDC_STOP);
            ASSERT_TRUE(waitGone(dialog, 8000));
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_EQ(dialogs, 1);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u) << narrow(joinedBoxes());
    EXPECT_EQ(narrow(boxes[0].text), narrow(L"953Mbyteは出来ません"));
    EXPECT_EQ(narrow(boxes[0].caption), narrow(L"サイズ越え"));
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_EQ(narrow(boxes[1].caption), narrow(L"複写結果"));
    settle();
    EXPECT_TRUE(folderNames(remote).empty());
    EXPECT_EQ(AppState.stopRequest, StopRequest::None);
}

TEST_F(CopyEndToEnd, StopDuringAPushLeavesTheTargetAsItWas)
{
    const std::string old = "the peer's own file, which must survive";
    ASSERT_TRUE(writeFileBytes(remote + L"\\keep.bin", old));
    ASSERT_TRUE(writeFileWithTimes(local + L"\\keep.bin", randomBytes(3000000, 4)));
    relistOwn();
    selectOwn({L"keep.bin"});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, CopyTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            clickButton(dialog, IDC_START);
            DWORD start = GetTickCount();
            while (AppState.blockCount < 100 && GetTickCount() - start < 10000)
                Sleep(5);
            EXPECT_EQ(AppState.transferState, TransferState::CallCopyTO);
            clickButton(dialog, IDC_STOP);
            ASSERT_TRUE(waitGone(dialog, 8000));
        },
        [&] { runCopyCommand(window, false); });
    settle();
    std::string now;
    ASSERT_TRUE(readFileBytes(remote + L"\\keep.bin", &now));
    EXPECT_EQ(now, old);
    expectNoTemporaryFiles(remote);
    EXPECT_EQ(AppState.stopRequest, StopRequest::None);
    EXPECT_LT(AppState.blockCount, 3000);
    // The stop is told: what arrived, what did not, and that nothing waits to be resumed.
    EXPECT_EQ(narrow(joinedBoxes()), narrow(stoppedOneFile(L"keep.bin") + L"; "));
}

TEST_F(CopyEndToEnd, AFileOfSomeMegabytesArrivesWithItsBytesAndTimes)
{
    const size_t size = 2500 * 1000 + 321;
    ASSERT_TRUE(writeFileWithTimes(local + L"\\large.bin", randomBytes(size, 5)));
    relistOwn();
    selectOwn({L"large.bin"});
    driveWhile(
        [&](DWORD ui) {
            startNextDialog(ui, 60000);
        },
        [&] { runCopyCommand(window, false); });
    EXPECT_TRUE(peerPaneShows({L"large.bin"}));
    settle();
    expectSameFile(local + L"\\large.bin", remote + L"\\large.bin");
    EXPECT_EQ(AppState.blockCount, 2501);
    expectNoTemporaryFiles(remote);
}

TEST_F(CopyEndToEnd, FoldersAreCreatedOnBothSidesAndThePanesShowThem)
{
    const wchar_t *title = L"フィルダ作成画面";
    auto typeName = [&](const wchar_t *name) {
        return [&, name](DWORD ui) {
            HWND dialog = waitForDialog(ui, title, 5000);
            ASSERT_NE(dialog, nullptr);
            setControlText(dialog, IDC_EDIT1, name);
            clickButton(dialog, IDC_START);
            EXPECT_TRUE(waitGone(dialog, 3000));
        };
    };
    driveWhile(typeName(L"ownnew"), [&] { runNewFolderCommand(window, false); });
    DWORD attributes = GetFileAttributesW((local + L"\\ownnew").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(paneRowOf(AppState.ownPane, L"ownnew"), -1);

    driveWhile(typeName(L"peernew"), [&] { runNewFolderCommand(window, true); });
    EXPECT_TRUE(peerPaneShows({L"peernew"}));
    settle();
    attributes = GetFileAttributesW((remote + L"\\peernew").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(windowText(AppState.peerFolderLabel), remote);
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
}

// A folder tree of files with known bytes and times, and the same tree checked at its copy.
struct TreeFile {
    std::wstring path;  // below the tree's folder
    std::string bytes;
};

std::vector<TreeFile> sampleTree(unsigned seed)
{
    return {{L"a.txt", "the top file"},
            {L"sub\\b.bin", randomBytes(2500, seed)},
            {L"sub\\deeper\\c.dat", std::string()},
            {L"sub\\deeper\\d.bin", randomBytes(1000, seed + 1)},
            {L".hidden\\e.txt", "in a folder with the hidden bit"},
            {L"ro\\f.txt", "in a read-only folder"},
            {L"sys\\g.txt", "in a system folder"}};
}

bool isFolder(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void writeTree(const std::wstring &root, const std::vector<TreeFile> &files)
{
    for (const wchar_t *folder : {L"", L"\\sub", L"\\sub\\deeper", L"\\empty", L"\\.hidden", L"\\ro", L"\\sys"})
        CreateDirectoryW((root + folder).c_str(), nullptr);
    for (const TreeFile &file : files)
        ASSERT_TRUE(writeFileWithTimes(root + L"\\" + file.path, file.bytes));
    // Folders with one more bit are listed as type 8, as files are (Documents and Desktop carry such bits).
    ASSERT_TRUE(SetFileAttributesW((root + L"\\sys").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(GetFileAttributesW((root + L"\\sys").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(setHostReadOnly(root + L"\\ro", true));
}

TEST_F(CopyEndToEnd, AHiddenFolderIsPushedWithItsFilesAndSubFoldersAndATooDeepOneIsReported)
{
    // A leading dot gives the folder the hidden bit: its row is a folder by that bit, not by its type code.
    std::vector<TreeFile> files = sampleTree(20);
    writeTree(local + L"\\.top", files);
    ASSERT_TRUE(GetFileAttributesW((local + L"\\.top").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    // A name no ANSI code page of these tests holds: refused here and named, never sent as '?'.
    ASSERT_TRUE(writeFileWithTimes(local + L"\\.top\\sub\\\U0001F600.txt", "emoji"));
    // One folder deeper than a copy goes: refused and named in the summary, the rest copied.
    std::wstring keptName;
    std::wstring deepName = L".top";
    for (int level = 1; level <= 17; ++level) {
        keptName = deepName;
        deepName += L"\\d" + std::to_wstring(level);
        ASSERT_TRUE(CreateDirectoryW((local + L"\\" + deepName).c_str(), nullptr));
    }
    relistOwn();
    selectOwn({L".top"});
    driveWhile([&](DWORD ui) { startNextDialog(ui, 60000); }, [&] { runCopyCommand(window, false); });
    EXPECT_TRUE(peerPaneShows({L".top"}));
    settle();
    for (const TreeFile &file : files)
        expectSameFile(local + L"\\.top\\" + file.path, remote + L"\\.top\\" + file.path);
    EXPECT_TRUE(isFolder(remote + L"\\.top\\empty"));
    EXPECT_TRUE(fileExists(remote + L"\\" + keptName));
    EXPECT_FALSE(fileExists(remote + L"\\" + deepName));
    expectNoTemporaryFiles(remote + L"\\.top");
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u) << narrow(joinedBoxes());
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_NE(boxes[0].text.find(L"完了: 7 件"), std::wstring::npos) << narrow(boxes[0].text);
    EXPECT_NE(boxes[0].text.find(deepName + L"（フォルダが深すぎます）"), std::wstring::npos) << narrow(boxes[0].text);
    EXPECT_NE(boxes[0].text.find(L".top\\sub\\\U0001F600.txt（" + std::wstring(UnwritableNameReason) + L"）"),
              std::wstring::npos)
        << narrow(boxes[0].text);
    EXPECT_EQ(folderNames(remote + L"\\.top\\sub").size(), 2u);
    EXPECT_FALSE(hostShowedBox());
}

TEST_F(CopyEndToEnd, MoreSiblingFoldersThanTheCopyHoldsAreReportedAsTooManyNotTooDeep)
{
    // The copied folder leaves the waiting table empty: 256 of its 257 folders fit, one is refused.
    ASSERT_TRUE(CreateDirectoryW((local + L"\\wide").c_str(), nullptr));
    for (int i = 0; i < 257; ++i)
        ASSERT_TRUE(CreateDirectoryW((local + L"\\wide\\w" + std::to_wstring(1000 + i)).c_str(), nullptr));
    relistOwn();
    selectOwn({L"wide"});
    driveWhile([&](DWORD ui) { startNextDialog(ui, 120000); }, [&] { runCopyCommand(window, false); });
    EXPECT_TRUE(peerPaneShows({L"wide"}));
    settle();
    EXPECT_EQ(folderNames(remote + L"\\wide").size(), 256u);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u) << narrow(joinedBoxes());
    EXPECT_NE(boxes[0].text.find(L"（フォルダが多すぎます）"), std::wstring::npos) << narrow(boxes[0].text);
    EXPECT_EQ(boxes[0].text.find(L"深すぎ"), std::wstring::npos) << narrow(boxes[0].text);
}

TEST_F(CopyEndToEnd, AHiddenFolderIsPulledWithItsFilesAndSubFolders)
{
    // The hidden bit makes the peer list the folder as type 8, as it lists a file.
    std::vector<TreeFile> files = sampleTree(30);
    writeTree(remote + L"\\.pulled", files);
    clearPeerPane();
    AppState.transferState = TransferState::CallDIR;
    requestPeerDir();
    ASSERT_TRUE(peerPaneShows({L".pulled"}));
    selectNamedRows(AppState.peerPane, {L".pulled"});
    driveWhile([&](DWORD ui) { startNextDialog(ui, 60000); }, [&] { runCopyCommand(window, true); });
    settle();
    for (const TreeFile &file : files)
        expectSameFile(remote + L"\\.pulled\\" + file.path, local + L"\\.pulled\\" + file.path);
    EXPECT_TRUE(isFolder(local + L"\\.pulled\\empty"));
    expectNoTemporaryFiles(local + L"\\.pulled");
    EXPECT_NE(paneRowOf(AppState.ownPane, L".pulled"), -1);
    // The listings of the tree went to the copy, not into the pane.
    EXPECT_EQ(paneRowOf(AppState.peerPane, L"sub"), -1);
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
    EXPECT_FALSE(hostShowedBox());
}

// The other machine played by the test with nothing but the messages, one per send and one per receive: it
// keeps its files and listings in memory, answers every request in the plain lock-step, and takes a "NAK" as the
// end of whatever it was doing.
class PlainPeer {
public:
    std::map<std::string, std::vector<std::string>> listings;  // folder (A) -> record bodies
    std::map<std::string, std::string> served;                 // file (A) -> bytes
    std::map<std::string, std::string> received;               // file (A) -> bytes that ended in a trailer
    std::vector<std::string> made;                             // folders asked for with "CD"
    std::atomic<int> blocksServed{0};
    std::atomic<bool> nakAfterStop{false};
    std::atomic<bool> holdForStop{false};  // serves block 1 only once this side has asked to stop

    void start(SOCKET s)
    {
        socket = s;
        worker = std::thread([this] { run(); });
    }
    void end()
    {
        quit = true;
        if (worker.joinable())
            worker.join();
    }

private:
    enum class State { Waiting, Listing, Receiving, Serving };

    void send(const std::string &message) { ::send(socket, message.data(), static_cast<int>(message.size()), 0); }

    void sendRow()
    {
        const std::vector<std::string> &rows = listings[path];
        if (cursor < rows.size()) {
            char header[16];
            snprintf(header, sizeof(header), "DR%06d", static_cast<int>(cursor));
            send(header + rows[cursor++]);
            return;
        }
        send("DR999999");
        state = State::Waiting;
    }

    void sendBlock()
    {
        const std::string &bytes = served[path];
        if (offset >= bytes.size()) {
            std::string trailer = "FB999999" + std::string(24, '\0');
            FILETIME times[3] = {knownTime(0), knownTime(1), knownTime(1)};
            for (int i = 0; i < 3; ++i)
                putFileTime(reinterpret_cast<unsigned char *>(&trailer[8 + 8 * i]), times[i]);
            send(trailer);
            state = State::Waiting;
            return;
        }
        char header[16];
        snprintf(header, sizeof(header), "FB%06d", blockNumber++);
        send(header + bytes.substr(offset, 1000));
        offset += 1000;
        ++blocksServed;
    }

    void onWaiting(const std::string &m)
    {
        std::string tag = m.substr(0, 2);
        path = m.size() > 2 ? m.substr(2) : std::string();
        if (tag == "DD" && m.size() >= 5) {
            cursor = 0;
            state = State::Listing;
            sendRow();
        } else if (tag == "CD" && m.size() >= 3) {
            made.push_back(path);
            listings[path] = {".,2020/01/03 03:04,,0", "..,2020/01/03 03:04,,0"};
            send("ACK");
        } else if (tag == "FD" && m.size() >= 5) {
            data.clear();
            state = State::Receiving;
            send("ACK");
        } else if (tag == "FC" && m.size() >= 5 && served.count(path) != 0) {
            offset = 0;
            blockNumber = 0;
            state = State::Serving;
            sendBlock();
        } else if (m.compare(0, 3, "NAK") != 0) {
            send("NAK");
        }
    }

    void onMessage(const std::string &m)
    {
        if (m.compare(0, 3, "NAK") == 0) {
            if (state == State::Serving)
                nakAfterStop = AppState.stopRequest != StopRequest::None || holdForStop;
            state = State::Waiting;
            return;
        }
        switch (state) {
        case State::Waiting:
            onWaiting(m);
            break;
        case State::Listing:
            sendRow();
            break;
        case State::Receiving:
            if (m.compare(0, 8, "FR999999") == 0) {
                received[path] = data;
                state = State::Waiting;
            } else if (m.compare(0, 8, "FRDTSTOP") == 0) {
                state = State::Waiting;
                send("ACK");
            } else {
                data += m.substr(8);
                send("ACK");
            }
            break;
        case State::Serving:
            while (holdForStop && blocksServed == 1 && AppState.stopRequest == StopRequest::None && !quit)
                Sleep(5);
            sendBlock();
            break;
        }
    }

    void run()
    {
        char buffer[1100];
        while (!quit) {
            int count = receiveWithin(socket, buffer, sizeof(buffer), 50);
            if (count == 0)
                return;
            if (count > 0)
                onMessage(std::string(buffer, static_cast<size_t>(count)));
        }
    }

    SOCKET socket = INVALID_SOCKET;
    std::thread worker;
    std::atomic<bool> quit{false};
    State state = State::Waiting;
    std::string path;
    std::string data;
    size_t cursor = 0;
    size_t offset = 0;
    int blockNumber = 0;
};

// The texts the copy dialogs' whole-copy line was given on this thread, in order.
std::vector<std::wstring> wholeLines;

LRESULT CALLBACK recordWholeLines(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && call->message == WM_SETTEXT && GetDlgCtrlID(call->hwnd) == IDC_COPY_WHOLE &&
        call->lParam != 0)
        wholeLines.push_back(reinterpret_cast<const wchar_t *>(call->lParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class CopyWithAPlainPeer : public FolderWindowFixture {
protected:
    void SetUp() override
    {
        FolderWindowFixture::SetUp();
        int port = 0;
        listener = listenLoopback(&port);
        ASSERT_NE(listener, INVALID_SOCKET);
        peer.listings["C:\\peer"] = {"top,2020/01/03 03:04,,1", "big.bin,2020/01/03 03:04,5000,8"};
        peer.listings["C:\\peer\\top"] = {".,2020/01/03 03:04,,0", "..,2020/01/03 03:04,,0",
                                          "x.txt,2020/01/03 03:04,5,8", "inner,2020/01/03 03:04,,1"};
        peer.listings["C:\\peer\\top\\inner"] = {".,2020/01/03 03:04,,0", "..,2020/01/03 03:04,,0",
                                                 "y.bin,2020/01/03 03:04,2500,8"};
        peer.listings["C:\\peer\\top"][3] = "inner,2019/05/06 07:08,,1";
        peer.served["C:\\peer\\top\\x.txt"] = "hello";
        peer.served["C:\\peer\\top\\inner\\y.bin"] = randomBytes(2500, 40);
        peer.served["C:\\peer\\big.bin"] = randomBytes(5000, 41);

        AppState.mode = ConnectionMode::Client;
        const int32_t loopback[4] = {127, 0, 0, 1};
        memcpy(AppState.ip, loopback, sizeof(loopback));
        AppState.port = port;
        wcscpy(AppState.ownFolder, folder.c_str());
        wcscpy(AppState.peerFolder, L"C:\\peer");
        ASSERT_TRUE(openClient(window));
        linked = true;
        SOCKET theirs = accept(listener, nullptr, nullptr);
        ASSERT_NE(theirs, INVALID_SOCKET);
        connection = theirs;
        peer.start(theirs);
        ASSERT_TRUE(pumpUntil([] { return paneRowOf(AppState.peerPane, L"big.bin") != -1 &&
                                          AppState.transferState == TransferState::Waiting; },
                              5000));
    }

    void TearDown() override
    {
        closeDialogsOf(GetCurrentThreadId());
        if (linked)
            closeLink(window);
        peer.end();
        closesocket(connection);
        closesocket(listener);
        FolderWindowFixture::TearDown();
    }

    SOCKET listener = INVALID_SOCKET;
    SOCKET connection = INVALID_SOCKET;
    bool linked = false;
    PlainPeer peer;
};

TEST_F(CopyWithAPlainPeer, AFolderGoesBothWaysWithNothingButTheMessages)
{
    // A name that makes the local path one character too long is refused and named in the summary.
    size_t longChars = PathChars - (folder.size() + 5);
    std::string longRow = std::string(longChars, 'n') + ",2020/01/03 03:04,1,8";
    ASSERT_LE(8 + longRow.size(), 255u) << "a DR record holds at most 255 bytes";
    std::string longName(longChars, 'n');
    peer.listings["C:\\peer\\top"].push_back(longRow);
    selectNamedRows(AppState.peerPane, {L"top"});
    wholeLines.clear();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, recordWholeLines, nullptr, GetCurrentThreadId());
    driveWhile([&](DWORD ui) { startNextDialog(ui, 30000); }, [&] { runCopyCommand(window, true); });
    UnhookWindowsHookEx(hook);
    // The totals grow as the two listings come in, and end with every file found past.
    ASSERT_FALSE(wholeLines.empty());
    EXPECT_NE(std::find_if(wholeLines.begin(), wholeLines.end(),
                           [](const std::wstring &line) { return line.find(L"（集計中）") != std::wstring::npos; }),
              wholeLines.end());
    EXPECT_EQ(wholeLines.back().find(L"全体 3 / 3 件  2.4 KB / 2.4 KB  100%  "), 0u) << narrow(wholeLines.back());
    ASSERT_TRUE(pumpUntil([] { return AppState.transferState == TransferState::Waiting; }, 5000));
    std::string bytes;
    ASSERT_TRUE(readFileBytes(folder + L"\\top\\x.txt", &bytes));
    EXPECT_EQ(bytes, "hello");
    EXPECT_EQ(lastWriteOf(folder + L"\\top\\x.txt"), asNumber(knownTime(1)));
    // Each folder takes its peer row's time, to the minute, once its files are in.
    EXPECT_EQ(lastWriteOf(folder + L"\\top"), asNumber(localFileTime(2020, 1, 3, 3, 4)));
    EXPECT_EQ(lastWriteOf(folder + L"\\top\\inner"), asNumber(localFileTime(2019, 5, 6, 7, 8)));
    ASSERT_TRUE(readFileBytes(folder + L"\\top\\inner\\y.bin", &bytes));
    EXPECT_TRUE(bytes == peer.served["C:\\peer\\top\\inner\\y.bin"]);
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find(L"完了: 2 件"), std::wstring::npos) << narrow(boxes[0].text);
    EXPECT_NE(boxes[0].text.find(L"top\\" + widen(longName) + L"（パスが長すぎます）"), std::wstring::npos)
        << narrow(boxes[0].text);
    clearRecordedBoxes();

    // And back under another name.
    ASSERT_TRUE(MoveFileW((folder + L"\\top").c_str(), (folder + L"\\up").c_str()));
    listOwnFolder(window);
    selectNamedRows(AppState.ownPane, {L"up"});
    driveWhile([&](DWORD ui) { startNextDialog(ui, 30000); }, [&] { runCopyCommand(window, false); });
    ASSERT_TRUE(pumpUntil([] { return AppState.transferState == TransferState::Waiting; }, 5000));
    peer.end();
    EXPECT_EQ(peer.made, (std::vector<std::string>{"C:\\peer\\up", "C:\\peer\\up\\inner"}));
    EXPECT_EQ(peer.received["C:\\peer\\up\\x.txt"], "hello");
    EXPECT_TRUE(peer.received["C:\\peer\\up\\inner\\y.bin"] == peer.served["C:\\peer\\top\\inner\\y.bin"]);
    EXPECT_TRUE(boxTexts().empty()) << narrow(boxTexts()[0]);
}

// The puller refuses the next block once its user has asked to stop; the peer needs nothing new for that.
TEST_F(CopyWithAPlainPeer, StopOnAPullRefusesTheNextBlockAndLeavesNothing)
{
    peer.holdForStop = true;
    selectNamedRows(AppState.peerPane, {L"big.bin"});
    driveWhile(
        [&](DWORD ui) {
            HWND dialog = waitForDialog(ui, CopyTitle, 5000);
            ASSERT_NE(dialog, nullptr);
            clickButton(dialog, IDC_START);
            ASSERT_TRUE(pumpUntil([&] { return peer.blocksServed >= 1; }, 5000));
            clickButton(dialog, IDC_STOP);
            ASSERT_TRUE(waitGone(dialog, 8000));
        },
        [&] { runCopyCommand(window, true); });
    EXPECT_TRUE(pumpUntil([&] { return peer.nakAfterStop.load(); }, 5000));
    // The block refused is whichever came after the stop: the first may still have been on its way.
    EXPECT_LE(peer.blocksServed, 2);
    EXPECT_FALSE(fileExists(folder + L"\\big.bin"));
    EXPECT_TRUE(folderNames(folder).empty());
    EXPECT_EQ(AppState.stopRequest, StopRequest::None);
    ASSERT_EQ(boxTexts().size(), 1u);
    EXPECT_EQ(narrow(boxTexts()[0]), narrow(stoppedOneFile(L"big.bin")));
}


// ---- A whole folder in one exchange, between two instances that both speak it ----------------------------------

// Every name below folder with its kind, bytes, last write and hidden and system bits, one line each.
std::vector<std::string> treeFacts(const std::wstring &folder, const std::wstring &below = L"")
{
    std::vector<std::string> facts;
    std::vector<std::wstring> names = folderNames(folder + below);
    std::sort(names.begin(), names.end());
    for (const std::wstring &name : names) {
        std::wstring relative = below + L"\\" + name;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW((folder + relative).c_str(), GetFileExInfoStandard, &data);
        bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::string bytes;
        if (!isDirectory)
            readFileBytes(folder + relative, &bytes);
        // A folder's read-only bit is its Linux mode under Wine, which SetFileAttributesW does not change.
        DWORD carried = data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        facts.push_back(narrow(relative) + (isDirectory ? " folder " : " file ") + std::to_string(bytes.size()) + " " +
                        std::to_string(std::hash<std::string>()(bytes)) + " attributes " + std::to_string(carried) +
                        " written " + std::to_string(asNumber(data.ftLastWriteTime)));
        if (isDirectory) {
            std::vector<std::string> inner = treeFacts(folder, relative);
            facts.insert(facts.end(), inner.begin(), inner.end());
        }
    }
    return facts;
}

bool setFolderTime(const std::wstring &folder, const FILETIME &written)
{
    HANDLE handle = CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = SetFileTime(handle, nullptr, nullptr, &written);
    CloseHandle(handle);
    return ok != FALSE;
}

const wchar_t OverwriteQuestionTitle[] = L"上書き確認";

class CopyTreeStream : public CopyEndToEnd {
protected:
    CopyTreeStream() { fastLink = true; }
    void SetUp() override
    {
        CopyEndToEnd::SetUp();
        ASSERT_TRUE(pumpUntil([] { return AppState.clientFramer.trees != 0; }, 8000)) << "no tree stream agreed";
        settle();
    }

    // Copies the selected row of the own pane (push) or the peer pane (pull) with Start pressed; the overwrite
    // question, when it comes, is answered with answer (0: it must not come). The names asked about go to *asked.
    void copySelected(bool fromPeer, int answer = 0, std::vector<std::wstring> *asked = nullptr, bool settling = true)
    {
        std::vector<std::wstring> questions;
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, CopyTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                clickButton(dialog, IDC_START);
                while (!waitGone(dialog, 100)) {
                    HWND question = waitForDialog(ui, OverwriteQuestionTitle, 0);
                    if (question != nullptr && answer != 0) {
                        questions.push_back(windowText(GetDlgItem(question, IDC_OVERWRITE_NAME)));
                        clickButton(question, answer);
                        waitGone(question, 5000);
                    }
                }
            },
            [&] { runCopyCommand(window, fromPeer); });
        if (settling)
            settle();
        if (asked != nullptr)
            *asked = questions;
    }

    // The link again, straight to the host or through relay.
    void relinkAt(Caller at, int port)
    {
        TRACE_CALLER(at);
        closeLink(window);
        serveMessages();
        AppState.port = port;
        clearPeerPane();
        ASSERT_TRUE(openClient(window));
        ASSERT_TRUE(pumpUntil([] { return AppState.clientFramer.trees != 0; }, 8000)) << "no tree stream agreed";
        settle();
    }
};

TEST_F(CopyTreeStream, EveryKindOfEntryGoesBothWaysInOneExchangeWithItsTimes)
{
    const std::wstring top = local + L"\\top";
    std::vector<TreeFile> files = sampleTree(40);
    writeTree(top, files);
    ASSERT_TRUE(writeFileWithTimes(top + L"\\sub\\\U0001F600\uD55C\u00E9.txt", "no code page holds this name"));
    // Deeper than the file-by-file copy goes, and more folders side by side than it holds.
    std::wstring deep = top;
    for (int level = 1; level <= 20; ++level) {
        deep += L"\\d" + std::to_wstring(level);
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    ASSERT_TRUE(writeFileWithTimes(deep + L"\\bottom.txt", "twenty levels down"));
    ASSERT_TRUE(SetFileAttributesW((deep + L"\\bottom.txt").c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(CreateDirectoryW((top + L"\\wide").c_str(), nullptr));
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(CreateDirectoryW((top + L"\\wide\\w" + std::to_wstring(i)).c_str(), nullptr));
    // A path of 255 characters where it lands on either side.
    size_t longest = std::max(local.size(), remote.size()) + 5;  // "\top\"
    ASSERT_TRUE(writeFileWithTimes(top + L"\\" + std::wstring(255 - longest - 4, L'n') + L".txt", "long"));
    ASSERT_TRUE(setFolderTime(top + L"\\sub", knownTime(2)));
    const std::vector<std::string> want = treeFacts(top);
    relistOwn();
    selectOwn({L"top"});
    copySelected(false);
    EXPECT_EQ(treeFacts(remote + L"\\top"), want);
    // Counted by the stream: every file written, in one exchange.
    EXPECT_EQ(AppState.treeTally.written, static_cast<int64_t>(files.size()) + 3);
    EXPECT_EQ(AppState.treeTally.failed, 0);
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());

    // And back, into a folder that has none of it.
    const std::wstring back = makeTempFolder(L"pwback");
    wcscpy(AppState.ownFolder, back.c_str());
    relistOwn();
    ASSERT_TRUE(peerPaneShows({L"top"}));
    selectNamedRows(AppState.peerPane, {L"top"});
    copySelected(true);
    EXPECT_EQ(treeFacts(back + L"\\top"), want);
    EXPECT_EQ(AppState.treeTally.written, static_cast<int64_t>(files.size()) + 3);
    EXPECT_TRUE(boxTexts().empty()) << narrow(joinedBoxes());
    EXPECT_FALSE(hostShowedBox());
    removeTree(back);
}

TEST_F(CopyTreeStream, AgainOnlyTheChangedFilesGoAfterOneQuestionAndARefusalIsNamed)
{
    const std::wstring top = local + L"\\top";
    for (const wchar_t *folder : {L"", L"\\sub"})
        ASSERT_TRUE(CreateDirectoryW((top + folder).c_str(), nullptr));
    for (const wchar_t *name : {L"a.txt", L"b.bin", L"sub\\c.txt", L"sub\\d.txt"})
        ASSERT_TRUE(writeFileWithTimes(top + L"\\" + name, randomBytes(3000, name[0])));
    relistOwn();
    selectOwn({L"top"});
    copySelected(false);
    ASSERT_EQ(AppState.treeTally.written, 4);

    // b is newer here; the peer's c is read-only, so it is refused when it lands; a and d are as they were.
    const std::string changed = randomBytes(2500, 7);
    ASSERT_TRUE(writeFileBytes(top + L"\\b.bin", changed));
    ASSERT_TRUE(SetFileAttributesW((remote + L"\\top\\sub\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(writeFileWithTimes(top + L"\\sub\\c.txt", "newer than the read-only one"));
    HANDLE c = CreateFileW((top + L"\\sub\\c.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME later = knownTime(3);
    ASSERT_TRUE(SetFileTime(c, nullptr, nullptr, &later));
    CloseHandle(c);
    std::string heldC;
    ASSERT_TRUE(readFileBytes(remote + L"\\top\\sub\\c.txt", &heldC));
    selectOwn({L"top"});
    // Asked once, about the first changed file: those held unchanged are passed over unasked.
    std::vector<std::wstring> asked;
    copySelected(false, IDC_OVERWRITE_NEWER, &asked);
    EXPECT_EQ(asked, std::vector<std::wstring>{L"top\\b.bin"});
    std::string got;
    EXPECT_TRUE(readFileBytes(remote + L"\\top\\b.bin", &got) && got == changed);
    EXPECT_TRUE(readFileBytes(remote + L"\\top\\sub\\c.txt", &got) && got == heldC);
    // Only the two changed files went over the link.
    EXPECT_EQ(AppState.treeTally.bytesMoved, static_cast<int64_t>(changed.size() + 28));
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 1u) << narrow(joinedBoxes());
    EXPECT_NE(boxes[0].text.find(L"完了: 1 件"), std::wstring::npos) << narrow(boxes[0].text);
    EXPECT_NE(boxes[0].text.find(L"スキップ: 2 件"), std::wstring::npos) << narrow(boxes[0].text);
    EXPECT_NE(boxes[0].text.find(L"top\\sub\\c.txt（書き込めません）"), std::wstring::npos) << narrow(boxes[0].text);

    // Changed again: すべてスキップ for the first holds for the rest, and nothing goes.
    ASSERT_TRUE(writeFileBytes(top + L"\\b.bin", "changed again"));
    selectOwn({L"top"});
    asked.clear();
    copySelected(false, IDC_OVERWRITE_SKIP_ALL, &asked);
    EXPECT_EQ(asked, std::vector<std::wstring>{L"top\\b.bin"});
    EXPECT_TRUE(readFileBytes(remote + L"\\top\\b.bin", &got) && got == changed);
    EXPECT_EQ(AppState.treeTally.bytesMoved, 0);
    EXPECT_EQ(AppState.treeTally.skipped, 4);
    SetFileAttributesW((remote + L"\\top\\sub\\c.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Stop while this side sends, then while it receives: both sides end the stream at once and keep only whole files.
TEST_F(CopyTreeStream, StopInTheMiddleEndsBothSidesAndLeavesOnlyWholeFiles)
{
    const std::wstring top = local + L"\\many";
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr));
    for (int i = 0; i < 600; ++i)
        ASSERT_TRUE(writeFileWithTimes(top + L"\\f" + std::to_wstring(i) + L".bin", randomBytes(4000, i)));
    const std::wstring big = remote + L"\\big";
    ASSERT_TRUE(CreateDirectoryW(big.c_str(), nullptr));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(writeFileWithTimes(big + L"\\b" + std::to_wstring(i) + L".bin", randomBytes(3 << 20, i)));
    auto stopWhen = [&](bool fromPeer, const std::function<bool()> &reached,
                        const std::function<void(HWND)> &look = nullptr) {
        driveWhile(
            [&](DWORD ui) {
                HWND dialog = waitForDialog(ui, CopyTitle, 5000);
                ASSERT_NE(dialog, nullptr);
                clickButton(dialog, IDC_START);
                ASSERT_TRUE(pumpUntil(reached, 20000));
                if (look)
                    look(dialog);
                clickButton(dialog, IDC_STOP);
                ASSERT_TRUE(waitGone(dialog, 8000));
            },
            [&] { runCopyCommand(window, fromPeer); });
        settle();
    };
    // Through a slow link the stream goes a window of words at a time: most of the folder is still to come when
    // Stop is pressed, however fast each file is.
    Relay slow;
    slow.delayMs = 300;
    ASSERT_TRUE(slow.start(hostPort, RelayMode::Delay, 7));
    size_t mark = hostLines.size();
    relinkAt(HERE, slow.port);
    // The host lists our folder in its turn once it has served our listing: a copy asked meanwhile would cross it.
    ASSERT_TRUE(pumpUntil([&] {
        for (const std::string &line : host.drain())
            hostLines.push_back(line);
        auto listing = std::find(hostLines.begin() + mark, hostLines.end(), "STATE CallDIR");
        return listing != hostLines.end() && std::find(listing, hostLines.end(), "STATE Waiting") != hostLines.end();
    }, 10000));
    relistOwn();
    selectOwn({L"many"});
    // The whole line counts the stream's files as they go, and the line above it names the file now moving.
    stopWhen(false, [] { return AppState.treeTally.filesPast >= 20; }, [](HWND dialog) {
        int seen = 0;
        EXPECT_TRUE(pumpUntil(
            [&] {
                std::wstring whole = windowText(GetDlgItem(dialog, IDC_COPY_WHOLE));
                int files = 0, total = 0;
                if (swscanf(whole.c_str(), L"全体 %d / %d 件", &files, &total) != 2)
                    return false;
                EXPECT_GE(files, seen);
                seen = files;
                return files >= 20 && total == 600;
            },
            10000));
        std::wstring moving = windowText(GetDlgItem(dialog, IDC_COPY_PROGRESS));
        EXPECT_EQ(moving.compare(0, 6, L"many\\f"), 0) << narrow(moving) << " / " << narrow(windowText(GetDlgItem(dialog, IDC_COPY_WHOLE)));
    });
    std::vector<std::wstring> arrived = folderNames(remote + L"\\many");
    EXPECT_GE(arrived.size(), 1u);
    EXPECT_LT(arrived.size(), 600u);
    for (const std::wstring &name : arrived)
        expectSameFile(top + L"\\" + name, remote + L"\\many\\" + name);
    expectNoTemporaryFiles(remote + L"\\many");
    relinkAt(HERE, hostPort);
    slow.stop();

    // In the middle of the second file.
    ASSERT_TRUE(peerPaneShows({L"big"}));
    selectNamedRows(AppState.peerPane, {L"big"});
    stopWhen(true, [] { return AppState.treeTally.bytesMoved >= (4 << 20); });
    arrived = folderNames(local + L"\\big");
    EXPECT_GE(arrived.size(), 1u);
    EXPECT_LT(arrived.size(), 4u);
    for (const std::wstring &name : arrived)
        expectSameFile(big + L"\\" + name, local + L"\\big\\" + name);
    expectNoTemporaryFiles(local + L"\\big");
    std::vector<RecordedBox> boxes = recordedBoxes();
    ASSERT_EQ(boxes.size(), 2u) << narrow(joinedBoxes());
    for (const RecordedBox &box : boxes)
        EXPECT_NE(box.text.find(L"停止"), std::wstring::npos) << narrow(box.text);
    EXPECT_FALSE(hostShowedBox());
}

TEST_F(CopyTreeStream, ALostLinkThenTheSameCopyAgainSkipsWhatArrivedAndResumesTheFileItWasIn)
{
    const std::wstring top = remote + L"\\pulled";
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr));
    ASSERT_TRUE(writeFileWithTimes(top + L"\\small1.txt", randomBytes(10000, 1)));
    ASSERT_TRUE(writeFileWithTimes(top + L"\\small2.txt", randomBytes(10000, 2)));
    const int64_t bigBytes = 6 << 20;
    ASSERT_TRUE(writeFileWithTimes(top + L"\\big.bin", randomBytes(static_cast<size_t>(bigBytes), 3)));
    Relay relay;
    ASSERT_TRUE(relay.start(hostPort, RelayMode::Split, 5));
    relay.cutAfter = 3 << 20;
    relinkAt(HERE, relay.port);
    ASSERT_TRUE(peerPaneShows({L"pulled"}));
    selectNamedRows(AppState.peerPane, {L"pulled"});
    copySelected(true, 0, nullptr, false);
    EXPECT_TRUE(fileExists(local + L"\\pulled\\big.bin.$TEMP")) << "the part was not kept";
    EXPECT_FALSE(fileExists(local + L"\\pulled\\big.bin"));

    // The machine at the other end comes back as a new process.
    host.end(3000);
    relay.stop();
    std::string why;
    hostPort = 0;
    ASSERT_TRUE(startServerHost(&host, &hostPort, remote, &why, {L"--fast"})) << why;
    relinkAt(HERE, hostPort);
    ASSERT_TRUE(peerPaneShows({L"pulled"}));
    selectNamedRows(AppState.peerPane, {L"pulled"});
    copySelected(true);
    for (const wchar_t *name : {L"small1.txt", L"small2.txt", L"big.bin"})
        expectSameFile(top + L"\\" + name, local + L"\\pulled\\" + name);
    expectNoTemporaryFiles(local + L"\\pulled");
    // Resumed: at least a piece of big.bin did not come again (how much the part kept depends on what the cut
    // lost on its way); the two small files, which come after it, came whole.
    EXPECT_GT(AppState.treeTally.bytesMoved, 0);
    EXPECT_LE(AppState.treeTally.bytesMoved, bigBytes - FastPieceBytes + 2 * 10000);
}

}  // namespace

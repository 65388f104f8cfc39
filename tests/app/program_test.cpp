// program_test.cpp: the real parcelwight.exe started as its own process, alone and as the peer of a window here.
#include "resources/resource_ids.h"
#include "tests/app/main_window_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

// parcelwight.exe lies two folders above this test (build/tests/app/x.exe -> build/parcelwight.exe).
std::wstring programPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    for (int up = 0; up < 3; up++)
        text = text.substr(0, text.find_last_of(L'\\'));
    return text + L"\\parcelwight.exe";
}

struct Program {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
};

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, COUNTOF(title));
    if (owner == search->processId && wcscmp(title, L"Parcelwight Ver1.01") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

#define startProgram(...) startProgramAt(HERE, __VA_ARGS__)
bool startProgramAt(Caller at, const std::wstring &folder, Program *program)
{
    TRACE_CALLER(at);
    std::wstring exe = programPath();
    if (!fileExists(exe)) {
        ADD_FAILURE() << "missing " << narrow(exe);
        return false;
    }
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &program->process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return false;
    }
    WindowSearch search = {program->process.dwProcessId, nullptr};
    bool found = pumpUntil(
        [&search] {
            // Found once shown: by then its children and first texts are in place.
            search.found = nullptr;
            EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr && IsWindowVisible(search.found);
        },
        20000);
    program->window = search.found;
    EXPECT_TRUE(found) << "its main window did not appear";
    return found;
}

// Ends a program that did not end by itself (it is ours: started above).
void endProgram(Program *program)
{
    if (program->process.hProcess == nullptr)
        return;
    if (WaitForSingleObject(program->process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(program->process.hProcess, 1);
        WaitForSingleObject(program->process.hProcess, 5000);
    }
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    program->process = PROCESS_INFORMATION{};
}

// Closes its window as a user would and checks that it ends by itself with exit code 0.
#define closeProgramCleanly(...) closeProgramCleanlyAt(HERE, __VA_ARGS__)
void closeProgramCleanlyAt(Caller at, Program *program)
{
    TRACE_CALLER(at);
    PostMessageW(program->window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(program->process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(program->process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

std::wstring remoteText(HWND window, int id)
{
    wchar_t text[512] = {};
    SendMessageTimeoutW(GetDlgItem(window, id), WM_GETTEXT, COUNTOF(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

void writeUnicodeIni(const std::wstring &path, const std::wstring &body)
{
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char *>(body.data()), body.size() * sizeof(wchar_t));
    ASSERT_TRUE(writeFileBytes(path, bytes));
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recordBoxes(IDOK);
        startWinsock();
        folder = makeTempFolder(L"pwprog");
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override
    {
        endProgram(&program);
        if (IsWindow(window)) {
            AppState.linkOpen = 0;
            stopMainWindow(window);
        }
        leaveAndRemoveFolder(folder);
    }

    std::wstring folder;
    Program program;
    HWND window = nullptr;
};

TEST_F(ProgramTest, StartsAndEndsCleanlyWritingItsSettings)
{
    ASSERT_TRUE(startProgram(folder, &program));
    EXPECT_TRUE(IsWindowVisible(program.window));
    EXPECT_EQ(remoteText(program.window, IDC_LINK_LABEL), L"CLOSE<192,138,1,31>:");
    ASSERT_NO_FATAL_FAILURE(closeProgramCleanly(&program));
    std::wstring ini = folder + L"\\Parcelwight.ini";
    ASSERT_TRUE(fileExists(ini));
    EXPECT_EQ(iniValue(ini, L"currentdirectory_r"), L"C:\\");
    EXPECT_EQ(iniValue(ini, L"port_no"), L"1050");
    EXPECT_EQ(iniValue(ini, L"sendreadmonitor_on"), L"0");
}

TEST_F(ProgramTest, ClientProgramClosesItsSideOnCut)
{
    // The window here is the server; the real program is its client.
    window = startMainWindow(folder);
    ASSERT_NE(window, nullptr);
    AppState.mode = ConnectionMode::Server;
    AppState.port = 0;
    // Both are new instances: with everyone admitted they meet encrypted without a question.
    AppState.admission = AdmissionMode::Everyone;
    SendMessageW(window, WM_COMMAND, IDM_OPEN_LINK, 0);
    ASSERT_EQ(AppState.linkOpen, 1);
    AppState.port = boundPort(AppState.mainSocket);

    std::wstring clientFolder = folder + L"\\client";
    ASSERT_TRUE(CreateDirectoryW(clientFolder.c_str(), nullptr));
    writeUnicodeIni(clientFolder + L"\\Parcelwight.ini",
                    L"[Parcelwight_setting]\r\nip_mode=0\r\nport_no=" + std::to_wstring(AppState.port) +
                        L"\r\nip_no1=127\r\nip_no2=0\r\nip_no3=0\r\nip_no4=1\r\n");
    ASSERT_TRUE(startProgram(clientFolder, &program));
    PostMessageW(program.window, WM_COMMAND, IDM_OPEN_LINK, 0);
    ASSERT_TRUE(pumpUntil([] { return AppState.peerPresent == 1; }, 15000));
    // Let the two listings pass both ways before closing.
    EXPECT_TRUE(pumpUntil(
        [this] {
            DWORD_PTR rows = 0;
            SendMessageTimeoutW(GetDlgItem(program.window, IDC_PEER_PANE), LVM_GETITEMCOUNT, 0, 0,
                                SMTO_ABORTIFHUNG, 2000, &rows);
            return rows > 0 && AppState.serverAskedPeerDir && AppState.transferState == TransferState::Waiting;
        },
        15000));

    recordBoxes(IDYES);
    PostMessageW(window, WM_CLOSE, 0, 0);
    // The client takes the CUT and closes its side; its window stays.
    EXPECT_TRUE(pumpUntil(
        [this] { return remoteText(program.window, IDC_LINK_LABEL).substr(0, 17) == L"CLOSE<127,0,0,1>:"; }, 10000));
    EXPECT_TRUE(pumpUntil([this] { return !IsWindow(window); }, 10000));
    EXPECT_EQ(recordedBoxes().size(), 1u);
    EXPECT_TRUE(IsWindow(program.window));

    ASSERT_NO_FATAL_FAILURE(closeProgramCleanly(&program));
}

}  // namespace

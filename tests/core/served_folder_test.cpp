// served_folder_test.cpp: every path the peer names, normalised and checked against the served folder, read-only
// mode and the allowed address; then real requests from a peer played by the test, to a client and to a server.
#include "core/served_folder.h"

#include "core/protocol_engine.h"
#include "tests/core/peer_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// What resolvePeerPath makes of pathA: the path it returns, or "refused".
std::wstring resolved(const std::string &pathA, PeerAccess access = PeerAccess::List)
{
    wchar_t out[PathChars];
    wmemset(out, L'#', PathChars);
    if (!resolvePeerPath(pathA.data(), static_cast<int>(pathA.size()), access, out, PathChars)) {
        EXPECT_EQ(out[0], 0) << "a refused path leaves nothing behind";
        return L"refused";
    }
    return out;
}

class ResolveTest : public ::testing::Test {
protected:
    void SetUp() override { resetAppState(); }
    // Never removeTree: it would follow a link to "/". rm -rf removes links, not what they lead to.
    void TearDown() override
    {
        if (!linked.empty()) {
            EXPECT_TRUE(runHostShell("rm -rf " + linuxLinked, [&] { return !fileExists(linked); }));
        }
    }
    // Runs script in the host's shell and waits for done (Wine does not wait for a host process's handle).
    // Z:\tmp\pwlinks...: "served" with links made by ln -s, "outside" and "SERVED" beside it.
    bool makeLinkedTree()
    {
        std::string name = "pwlinks" + std::to_string(GetCurrentProcessId());
        linuxLinked = "/tmp/" + name;
        linked = L"Z:\\tmp\\" + widen(name);
        std::string s = "cd " + linuxLinked + "/served && ";
        return runHostShell("rm -rf " + linuxLinked + " && mkdir -p " + linuxLinked + "/served/sub " + linuxLinked +
                            "/outside " + linuxLinked + "/SERVED && " + s + "echo o > ../outside/o.txt && " + s +
                            "echo s > ../SERVED/s.txt && " + s + "echo i > sub/i.txt && " + s +
                            "ln -s ../outside rel && ln -s " + linuxLinked + "/outside abs && ln -s / root && " +
                            "ln -s ../outside/o.txt file && ln -s ../outside/gone.txt gone && ln -s sub in && " +
                            "touch ../done",
                        [&] { return fileExists(linked + L"\\done"); });
    }
    std::wstring linked;
    std::string linuxLinked;
};

TEST_F(ResolveTest, WholeMachineNormalisesPlainPathsAndRefusesEveryUnsafeForm)
{
    const std::pair<const char *, const wchar_t *> normalised[] = {
        {"C:\\", L"C:\\"},
        {"c:\\Data\\a.txt", L"c:\\Data\\a.txt"},
        {"C:\\a\\b\\..\\c", L"C:\\a\\c"},
        {"C:\\a\\.\\b\\", L"C:\\a\\b"},
        {"C:/a/b\\c", L"C:\\a\\b\\c"},
        {"C:\\\\a\\\\b", L"C:\\a\\b"},
        {"C:\\a\\CONSOLE\\COM10\\icon.d\\.hidden", L"C:\\a\\CONSOLE\\COM10\\icon.d\\.hidden"},
    };
    for (const auto &c : normalised)
        EXPECT_EQ(narrow(resolved(c.first)), narrow(c.second)) << c.first;

    const std::string refused[] = {
        // Above the root, trailing dots and spaces.
        "C:\\..", "C:\\a\\..\\..\\Windows", "C:\\a\\file.txt.", "C:\\a\\file.txt ", "C:\\a\\dir.\\x",
        "C:\\a\\...\\x",
        // Devices, with or without an extension.
        "C:\\a\\CON", "C:\\a\\con.d\\x", "C:\\a\\nul.txt", "C:\\a\\Aux", "C:\\a\\PRN.log", "C:\\a\\com1",
        "C:\\a\\LPT9.txt\\x", "C:\\a\\CON .txt", "C:\\CONIN$", "C:\\a\\COM\xB9",
        // Streams.
        "C:\\a\\file.txt:secret", "C:\\a\\file.txt::$DATA", "C:\\a:b\\c",
        // Prefixes, shares and paths that are not absolute.
        "\\\\?\\C:\\a", "\\\\.\\C:\\a", "//?/C:/a", "\\\\?\\UNC\\host\\share", "\\\\.\\PhysicalDrive0",
        "\\??\\C:\\a", "\\\\host\\share\\a", "//host/share/a", "C:foo", "C:..\\x", "C:", "\\Windows",
        "relative\\x", "1:\\a",
        // Wildcards, control characters, a NUL inside, too long.
        "C:\\a\\*", "C:\\a\\b?", "C:\\a\\<b>", "C:\\a\\b|c", "C:\\a\\b\tc", std::string("C:\\a\0b", 6),
        "C:\\" + std::string(300, 'a'),
    };
    for (const std::string &path : refused)
        EXPECT_EQ(resolved(path), L"refused") << path;
}

TEST_F(ResolveTest, ServedFolderKeepsThePeerInsideItAndReadOnlyRefusesWrites)
{
    std::wstring base = makeTempFolder(L"pwserve");
    ASSERT_FALSE(base.empty());
    std::wstring served = base + L"\\Served";
    ASSERT_TRUE(CreateDirectoryW(served.c_str(), nullptr));
    wcscpy(AppState.servedFolder, served.c_str());
    std::string servedA = ansiPath(served);
    std::string baseA = ansiPath(base);
    const std::pair<std::string, bool> cases[] = {
        {servedA, true},
        {servedA + "\\", true},
        {servedA + "\\sub\\file.txt", true},
        {baseA + "\\SERVED\\file.txt", true},
        {servedA + "\\sub\\..\\file.txt", true},
        {baseA, false},
        {"C:\\", false},
        {baseA + "\\Served2", false},
        {baseA + "\\Serve", false},
        {servedA + "\\..\\secret.txt", false},
        {servedA + "\\sub\\..\\..\\secret.txt", false},
        {baseA + "\\.\\other\\..\\secret.txt", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(resolved(c.first, PeerAccess::Read) != L"refused", c.second) << c.first;

    AppState.servedReadOnly = 1;
    ASSERT_TRUE(writeFileBytes(served + L"\\f.txt", "f"));
    EXPECT_NE(resolved(servedA + "\\f.txt", PeerAccess::List), L"refused");
    EXPECT_NE(resolved(servedA + "\\f.txt", PeerAccess::Read), L"refused");
    EXPECT_EQ(resolved(servedA + "\\f.txt", PeerAccess::Write), L"refused");
    EXPECT_EQ(resolved(servedA + "\\new", PeerAccess::CreateFolder), L"refused");

    // The served folder at a drive root serves that drive only.
    AppState.servedReadOnly = 0;
    wcscpy(AppState.servedFolder, L"Z:\\");
    EXPECT_NE(resolved("z:\\tmp", PeerAccess::Write), L"refused");
    EXPECT_EQ(resolved("C:\\tmp", PeerAccess::Write), L"refused");
    // A setting that is no folder serves nothing.
    wcscpy(AppState.servedFolder, L"Served");
    EXPECT_EQ(resolved(servedA), L"refused");
    removeTree(base);
}

TEST_F(ResolveTest, ShortNamesAreCheckedInTheirLongForm)
{
    std::wstring base = makeTempFolder(L"pwshort");
    ASSERT_FALSE(base.empty());
    std::wstring served = base + L"\\Served Folder Name";
    std::wstring secret = base + L"\\Secret Folder Name";
    ASSERT_TRUE(CreateDirectoryW(served.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(secret.c_str(), nullptr));
    ASSERT_TRUE(writeFileBytes(secret + L"\\key.txt", "secret"));
    wchar_t shortServed[PathChars] = {};
    wchar_t shortSecret[PathChars] = {};
    ASSERT_GT(GetShortPathNameW(served.c_str(), shortServed, PathChars), 0u);
    ASSERT_GT(GetShortPathNameW(secret.c_str(), shortSecret, PathChars), 0u);
    if (wcschr(shortSecret, L'~') == nullptr) {
        removeTree(base);
        GTEST_SKIP() << "no short names here";
    }
    wcscpy(AppState.servedFolder, served.c_str());
    EXPECT_EQ(resolved(ansiPath(shortSecret) + "\\key.txt", PeerAccess::Read), L"refused");
    EXPECT_EQ(resolved(ansiPath(shortServed) + "\\..\\" + ansiPath(wcsrchr(shortSecret, L'\\') + 1)),
              L"refused");
    // Where the leaf does not exist yet its folder is still expanded.
    EXPECT_EQ(narrow(resolved(ansiPath(shortServed) + "\\new.txt", PeerAccess::Write)),
              narrow(served + L"\\new.txt"));
    // And a short name for the served folder itself reaches it.
    wcscpy(AppState.servedFolder, shortServed);
    EXPECT_EQ(narrow(resolved(ansiPath(served))), narrow(served));
    EXPECT_EQ(resolved(ansiPath(secret)), L"refused");
    removeTree(base);
}

TEST_F(ResolveTest, LinksAreCheckedByWhereTheyLeadAndCaseOnlySiblingsAreOutside)
{
    ASSERT_TRUE(makeLinkedTree());
    std::wstring served = linked + L"\\served";
    wcscpy(AppState.servedFolder, served.c_str());
    std::string in = ansiPath(served);
    // Every link out, for a read or list and for a write or a new folder; and the sibling named in other case.
    const std::pair<std::string, PeerAccess> outside[] = {
        {"\\rel", PeerAccess::List},          {"\\rel\\o.txt", PeerAccess::Read},
        {"\\rel\\new.txt", PeerAccess::Write}, {"\\abs\\o.txt", PeerAccess::Read},
        {"\\abs\\made", PeerAccess::CreateFolder}, {"\\root\\tmp", PeerAccess::List},
        {"\\root\\tmp\\made", PeerAccess::CreateFolder}, {"\\file", PeerAccess::Read},
        {"\\file", PeerAccess::Write},        {"\\gone", PeerAccess::Write},
        {"\\gone", PeerAccess::CreateFolder}, {"\\..\\SERVED\\s.txt", PeerAccess::Read},
        {"\\..\\SERVED\\new.txt", PeerAccess::Write}, {"\\..\\SERVED", PeerAccess::List},
    };
    for (const auto &c : outside)
        EXPECT_EQ(resolved(in + c.first, c.second), L"refused") << c.first;
    // A link that stays inside is served, under the name the peer used.
    EXPECT_EQ(narrow(resolved(in + "\\in\\i.txt", PeerAccess::Read)), narrow(served + L"\\in\\i.txt"));
    EXPECT_NE(resolved(in + "\\in\\new\\x.txt", PeerAccess::Write), L"refused");
    EXPECT_NE(resolved(in + "\\in", PeerAccess::CreateFolder), L"refused");
    // Served through a link, the folder is what the link leads to.
    wcscpy(AppState.servedFolder, (served + L"\\in").c_str());
    EXPECT_NE(resolved(in + "\\in\\i.txt", PeerAccess::Read), L"refused");
    EXPECT_FALSE(fileExists(linked + L"\\outside\\gone.txt"));
}

TEST(PeerAddressTest, EmptyLetsAnyoneInOtherwiseOnlyTheNamedAddress)
{
    resetAppState();
    startWinsock();
    int port = 0;
    SOCKET listener = listenLoopback(&port);
    ASSERT_NE(listener, INVALID_SOCKET);
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&to), sizeof(to)), 0);
    sockaddr_in from = {};
    int fromLength = sizeof(from);
    SOCKET accepted = accept(listener, reinterpret_cast<sockaddr *>(&from), &fromLength);
    ASSERT_NE(accepted, INVALID_SOCKET);

    EXPECT_TRUE(peerAddressAllowed(from));
    wcscpy(AppState.allowedPeerAddress, L"127.0.0.2");
    EXPECT_FALSE(peerAddressAllowed(from));
    wcscpy(AppState.allowedPeerAddress, L"127.0.0.1");
    EXPECT_TRUE(peerAddressAllowed(from));
    wcscpy(AppState.allowedPeerAddress, L"localhost");
    EXPECT_FALSE(peerAddressAllowed(from)) << "a setting that is no address lets nobody in";
    EXPECT_FALSE(allowedAddressUsable(L"127.0.0"));
    EXPECT_TRUE(allowedAddressUsable(L""));
    closesocket(accepted);
    closesocket(client);
    closesocket(listener);
}

#define expectRefused(...) expectRefusedAt(HERE __VA_OPT__(, ) __VA_ARGS__)
// The peer, played by the test, asks this side (a client, or a server) for what lies outside what it serves.
class ServedExchangeTest : public PeerTest, public ::testing::WithParamInterface<ConnectionMode> {
protected:
    ServedExchangeTest() : PeerTest(GetParam()) {}
    void SetUp() override
    {
        PeerTest::SetUp();
        served = folder + L"\\served";
        ASSERT_TRUE(CreateDirectoryW(served.c_str(), nullptr));
        ASSERT_TRUE(writeFileBytes(served + L"\\inside.txt", "inside"));
        ASSERT_TRUE(writeFileBytes(folder + L"\\secret.txt", "password"));
        wcscpy(AppState.servedFolder, served.c_str());
    }
    void expectRefusedAt(Caller at, const char *tag, const std::wstring &path)
    {
        TRACE_CALLER(at);
        SCOPED_TRACE(std::string(tag) + " " + narrow(path));
        deliver(requestMessage(tag, path));
        EXPECT_EQ(fromUs(&peer), "NAK");
        EXPECT_EQ(AppState.transferState, TransferState::Waiting);
    }
    std::wstring served;
};

TEST_P(ServedExchangeTest, RequestsOutsideAreRefusedAndInsideAreServed)
{
    expectRefused("DD", L"C:\\");
    expectRefused("DD", folder);
    expectRefused("FC", folder + L"\\secret.txt");
    expectRefused("FC", served + L"\\..\\secret.txt");
    expectRefused("FC", served + L"\\inside.txt:stream");
    expectRefused("FD", folder + L"\\evil.cmd");
    expectRefused("FD", served + L"\\CON");
    expectRefused("CD", folder + L"\\made");
    expectRefused("CD", L"made");
    EXPECT_FALSE(fileExists(folder + L"\\evil.cmd"));
    EXPECT_EQ(GetFileAttributesW((folder + L"\\made").c_str()), INVALID_FILE_ATTRIBUTES);

    deliver(requestMessage("FC", served + L"\\inside.txt"));
    EXPECT_EQ(fromUs(&peer).substr(0, 8), "FB000000");
    deliver("NAK");
    deliver(requestMessage("CD", served + L"\\made"));
    EXPECT_EQ(fromUs(&peer), "ACK");
    EXPECT_NE(GetFileAttributesW((served + L"\\made").c_str()), INVALID_FILE_ATTRIBUTES);
    deliver(requestMessage("DD", served));
    EXPECT_EQ(fromUs(&peer).substr(0, 8), "DR000000");
    EXPECT_EQ(AppState.transferState, TransferState::RequestDIR);
    deliver("NAK");
}

TEST_P(ServedExchangeTest, ReadOnlyRefusesPushesAndFoldersButServesReads)
{
    AppState.servedReadOnly = 1;
    expectRefused("FD", served + L"\\pushed.txt");
    expectRefused("CD", served + L"\\made");
    EXPECT_FALSE(fileExists(served + L"\\pushed.txt"));
    EXPECT_EQ(GetFileAttributesW((served + L"\\made").c_str()), INVALID_FILE_ATTRIBUTES);
    // A pull of a missing file would create it empty: refused too.
    expectRefused("FC", served + L"\\missing.txt");
    EXPECT_FALSE(fileExists(served + L"\\missing.txt"));
    deliver(requestMessage("FC", served + L"\\inside.txt"));
    EXPECT_EQ(fromUs(&peer).substr(0, 8), "FB000000");
    deliver("NAK");
}

INSTANTIATE_TEST_SUITE_P(BothSides, ServedExchangeTest,
                         ::testing::Values(ConnectionMode::Client, ConnectionMode::Server),
                         [](const ::testing::TestParamInfo<ConnectionMode> &info) {
                             return info.param == ConnectionMode::Client ? std::string("AskedByTheServer")
                                                                         : std::string("AskedByAClient");
                         });

}  // namespace

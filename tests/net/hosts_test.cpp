// hosts_test.cpp: two console hosts, a server and a client, each a process of its own running the program's core
// and network code, list, push and pull real files over loopback.
#include "core/crc32c.h"
#include "tests/net/net_peer.h"
#include "tests/net/relay.h"
#include "tests/support/host_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <map>
#include <functional>
#include <set>

namespace {

#define expectSameFile(...) expectSameFileAt(HERE __VA_OPT__(, ) __VA_ARGS__)
void expectSameFileAt(Caller at, const std::wstring &source, const std::wstring &copy)
{
    TRACE_CALLER(at);
    SCOPED_TRACE(narrow(copy));
    std::string expected, got;
    ASSERT_TRUE(readFileBytes(source, &expected));
    ASSERT_TRUE(readFileBytes(copy, &got)) << "no copy";
    EXPECT_EQ(expected.size(), got.size());
    EXPECT_TRUE(expected == got) << "content differs";
    FILETIME sourceTime = {}, copyTime = {};
    ASSERT_TRUE(lastWriteTime(source, &sourceTime));
    ASSERT_TRUE(lastWriteTime(copy, &copyTime));
    EXPECT_EQ(sourceTime.dwLowDateTime, copyTime.dwLowDateTime);
    EXPECT_EQ(sourceTime.dwHighDateTime, copyTime.dwHighDateTime);
}

#define connectHosts(...) connectHostsAt(HERE __VA_OPT__(, ) __VA_ARGS__)
#define copyWith(...) copyWithAt(HERE __VA_OPT__(, ) __VA_ARGS__)
class HostsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        serverFolder = makeTempFolder(L"pwsrv");
        clientFolder = makeTempFolder(L"pwcli");
        ASSERT_FALSE(serverFolder.empty());
        ASSERT_FALSE(clientFolder.empty());
    }

    void TearDown() override
    {
        client.end();
        server.end();
        removeTree(serverFolder);
        removeTree(clientFolder);
    }

    // Both hosts up, and the opening listings (the client's of the server, then the server's of the client) done.
    void connectHostsAt(Caller at)
    {
        TRACE_CALLER(at);
        std::string why;
        port = 0;
        std::vector<std::wstring> withFast = options;
        if (fast)
            withFast.push_back(L"--fast");
        ASSERT_TRUE(startServerHost(&server, &port, serverFolder, &why, withFast)) << why;
        int connectTo = clientPortFor ? clientPortFor(port) : port;
        ASSERT_NE(connectTo, 0);
        ASSERT_TRUE(startClientHost(&client, connectTo, clientFolder, &why, withFast)) << why;
        // With the fast link, the agreement comes first, as one more listing of the client's.
        std::vector<std::string> agreement;
        if (fast)
            agreement = {"STATE RequestDIR", "STATE Waiting"};
        std::vector<std::string> serverSaw = {"LINK Server:Conection:[127,0,0,1]"};
        for (const std::vector<std::string> &part :
             {agreement, {"STATE RequestDIR", "STATE Waiting", "STATE CallDIR", "STATE Waiting"}})
            serverSaw.insert(serverSaw.end(), part.begin(), part.end());
        ASSERT_TRUE(sawSequence(&server, "server", serverSaw));
        ASSERT_TRUE(sawSequence(&client, "client",
                                {"STATE CallDIR", "STATE Waiting", "STATE RequestDIR", "STATE Waiting"}));
        if (!fast)
            return;
        for (HostProcess *host : {&client, &server}) {
            ASSERT_TRUE(host->send("fast"));
            ASSERT_TRUE(sawSequence(host, "host", {"FAST 1"}));
        }
    }

    // One host runs "push|pull file folder"; the asker goes through Call..., the other through Request..., and
    // both back to Waiting.
    void copyWithAt(Caller at, bool clientAsks, const std::string &verb, const std::wstring &file, const std::wstring &into)
    {
        TRACE_CALLER(at);
        SCOPED_TRACE(verb + " " + narrow(file));
        HostProcess &asker = clientAsks ? client : server;
        HostProcess &other = clientAsks ? server : client;
        const char *askerName = clientAsks ? "client" : "server";
        const char *otherName = clientAsks ? "server" : "client";
        std::string direction = verb == "push" ? "CopyTO" : "CopyFrom";
        ASSERT_TRUE(asker.send(verb + " " + quotedPath(file) + " " + quotedPath(into)));
        ASSERT_TRUE(sawSequence(&asker, askerName, {"STATE Call" + direction, "STATE Waiting"}));
        ASSERT_TRUE(sawSequence(&other, otherName, {"STATE Request" + direction, "STATE Waiting"}));
    }

    // Writes a file of random bytes with a known last-write time.
    std::wstring makeFile(const std::wstring &folder, const std::wstring &name, size_t size, unsigned seed)
    {
        std::wstring path = folder + L"\\" + name;
        EXPECT_TRUE(writeFileBytes(path, randomBytes(size, seed)));
        EXPECT_TRUE(setWriteTime(path, utcFileTime(2015 + static_cast<int>(seed % 8), 1 + seed % 12, 3, 4, 5)));
        return path;
    }

    std::wstring serverFolder, clientFolder;
    bool fast = false;                       // both hosts agree on the fast link
    std::vector<std::wstring> options;       // more of both hosts' command lines
    int port = 0;
    // Where the client connects, given the server's port, when not straight to the server.
    std::function<int(int)> clientPortFor;
    HostProcess server, client;
};

// Each case on the classic link and on the fast link between two new instances.
class BothLinksTest : public HostsTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        HostsTest::SetUp();
        fast = GetParam();
    }
};

TEST_P(BothLinksTest, ListPushPullBothWaysAndCut)
{
    const size_t sizes[] = {0, 1, 1000, 1001, 300 * 1024 + 7};
    std::vector<std::wstring> serverFiles, clientFiles;
    for (size_t i = 0; i < COUNTOF(sizes); i++) {
        serverFiles.push_back(makeFile(serverFolder, L"s" + std::to_wstring(sizes[i]) + L".bin", sizes[i],
                                       static_cast<unsigned>(i + 1)));
        clientFiles.push_back(makeFile(clientFolder, L"c" + std::to_wstring(sizes[i]) + L".bin", sizes[i],
                                       static_cast<unsigned>(i + 11)));
    }
    ASSERT_NO_FATAL_FAILURE(connectHosts());

    // The server's folder as the client's peer pane shows it.
    ASSERT_TRUE(client.send("dir " + quotedPath(serverFolder)));
    ASSERT_TRUE(sawSequence(&client, "client", {"CLEAR", "STATE CallDIR"}));
    std::map<std::string, std::string> rows;
    std::string line;
    while (client.readLine(&line, 5000) && line != "STATE Waiting") {
        ASSERT_EQ(0u, line.rfind("ROW ", 0)) << line;
        std::string fields = line.substr(line.find('|') + 1);
        rows[fields.substr(0, fields.find('|'))] = fields;
    }
    ASSERT_EQ("STATE Waiting", line);
    EXPECT_EQ(COUNTOF(sizes) + 2, rows.size());
    EXPECT_EQ(1u, rows.count("."));
    EXPECT_EQ(1u, rows.count(".."));
    for (size_t size : sizes) {
        std::string name = "s" + std::to_string(size) + ".bin";
        ASSERT_EQ(1u, rows.count(name)) << name;
        EXPECT_EQ("8", rows[name].substr(rows[name].rfind('|') + 1)) << rows[name];
    }
    EXPECT_NE(std::string::npos, rows["s1001.bin"].find("|1001|")) << rows["s1001.bin"];

    // Client pushes to the server, then pulls from it.
    for (const std::wstring &file : clientFiles) {
        ASSERT_NO_FATAL_FAILURE(copyWith(true, "push", file, serverFolder));
        expectSameFile(file, serverFolder + file.substr(clientFolder.size()));
    }
    for (const std::wstring &file : serverFiles) {
        ASSERT_NO_FATAL_FAILURE(copyWith(true, "pull", file, clientFolder));
        expectSameFile(file, clientFolder + file.substr(serverFolder.size()));
    }

    // The other way: the server asks, its answers reach the client in slot 0.
    std::wstring fromServer = makeFile(serverFolder, L"from_server.dat", 2500, 21);
    ASSERT_NO_FATAL_FAILURE(copyWith(false, "push", fromServer, clientFolder));
    expectSameFile(fromServer, clientFolder + L"\\from_server.dat");

    ASSERT_TRUE(client.send("mkdir " + quotedPath(serverFolder + L"\\made")));
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE FolderTO", "STATE Waiting"}));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesW((serverFolder + L"\\made").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE Waiting"}, 5000));  // the listing that follows the new folder
    // The server's own pane is told of the folder at once.
    EXPECT_TRUE(sawSequence(&server, "server", {"ARRIVED " + narrow(serverFolder + L"\\made")}, 5000));

    ASSERT_NO_FATAL_FAILURE(copyWith(false, "pull", clientFiles[3], serverFolder + L"\\made"));
    expectSameFile(clientFiles[3], serverFolder + L"\\made" + clientFiles[3].substr(clientFolder.size()));

    // No temporary file left on either side.
    for (const std::wstring &folder : {serverFolder, clientFolder, serverFolder + L"\\made"}) {
        WIN32_FIND_DATAW found;
        for (const wchar_t *leftover : {L"\\*.$TEMP", L"\\*.$RESUME"}) {
            HANDLE search = FindFirstFileW((folder + leftover).c_str(), &found);
            EXPECT_EQ(INVALID_HANDLE_VALUE, search) << narrow(folder);
            if (search != INVALID_HANDLE_VALUE)
                FindClose(search);
        }
    }

    // The server cuts its client: "CUT", the client closes first, the server a second later.
    ASSERT_TRUE(server.send("close"));
    ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}, 5000));
    ASSERT_TRUE(sawSequence(&server, "server", {"CLOSED"}, 5000));
    EXPECT_EQ(0, client.end());
    EXPECT_EQ(0, server.end());
    for (HostProcess *host : {&server, &client}) {
        for (const std::string &boxLine : host->history())
            EXPECT_NE(0u, boxLine.rfind("BOX ", 0)) << boxLine;
    }
}

INSTANTIATE_TEST_SUITE_P(Link, BothLinksTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Fast" : "Classic"; });

TEST_F(HostsTest, ClientSeesServerGoAwayWithoutCut)
{
    ASSERT_NO_FATAL_FAILURE(connectHosts());
    // Closed with no "CUT": the server takes its client's connection down with its own.
    ASSERT_TRUE(server.send("quit"));
    ASSERT_TRUE(sawSequence(&server, "server", {"CLOSED"}, 5000));
    ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}, 5000));
    EXPECT_EQ(0, server.end());
    ASSERT_TRUE(client.send("status"));
    std::string status;
    ASSERT_TRUE(client.waitFor("STATUS ", 5000, &status));
    EXPECT_EQ("STATUS Waiting|0|0|0", status);
}

TEST_F(HostsTest, ServerGoneMidPullLeavesClientClean)
{
    std::wstring big = makeFile(serverFolder, L"big.bin", 2 * 1000 * 1000, 5);
    std::wstring target = clientFolder + L"\\big.bin";
    ASSERT_TRUE(writeFileBytes(target, "keep me"));
    ASSERT_NO_FATAL_FAILURE(connectHosts());
    ASSERT_TRUE(client.send("pull " + quotedPath(big) + " " + quotedPath(clientFolder)));
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallCopyFrom"}));
    ASSERT_TRUE(sawSequence(&server, "server", {"STATE RequestCopyFrom"}));
    // Gone in the middle, once the client writes its temporary file, as a crashed server is: no "CUT", no orderly
    // close of anything.
    ASSERT_TRUE(pumpUntil([&] { return fileExists(clientFolder + L"\\big.$TEMP"); }, 10000));
    ASSERT_TRUE(server.send("vanish"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.process, 10000));
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE Waiting", "CLOSED"}, 15000));
    expectFileBytes(target, "keep me");
    EXPECT_FALSE(fileExists(clientFolder + L"\\big.$TEMP"));
}

}  // namespace

namespace {

// The names of the files in a folder.
std::set<std::wstring> fileNames(const std::wstring &folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The two hosts talk through a relay that delivers their bytes in other pieces than they were sent in.
class RelayHostsTest : public HostsTest, public ::testing::WithParamInterface<std::tuple<RelayMode, bool>> {
protected:
    void SetUp() override
    {
        HostsTest::SetUp();
        fast = std::get<1>(GetParam());
    }

    void TearDown() override
    {
        HostsTest::TearDown();
        relay.stop();
    }

    Relay relay;
};

TEST_P(RelayHostsTest, ListingsAndCopiesArriveWhole)
{
    RelayMode mode = std::get<0>(GetParam());
    // Sizes spread over the modes, so that the slow ones move few bytes.
    std::vector<size_t> sizes;
    switch (mode) {
    case RelayMode::Trickle: sizes = {0, 1, 999}; break;
    case RelayMode::Split: sizes = {1000, 1001, 4096, 65536}; break;
    case RelayMode::Cut536: sizes = {999, 1000000}; break;
    case RelayMode::Join: sizes = {0, 1001}; break;
    case RelayMode::Delay: sizes = {65536}; break;
    }
    std::vector<std::wstring> serverFiles, clientFiles;
    std::set<std::wstring> expected;
    for (size_t i = 0; i < sizes.size(); i++) {
        std::wstring size = std::to_wstring(sizes[i]);
        serverFiles.push_back(makeFile(serverFolder, L"s" + size + L".bin", sizes[i], static_cast<unsigned>(i + 1)));
        clientFiles.push_back(makeFile(clientFolder, L"c" + size + L".bin", sizes[i], static_cast<unsigned>(i + 31)));
        expected.insert(L"s" + size + L".bin");
        expected.insert(L"c" + size + L".bin");
        // The puller's own file of that name is replaced only by the real file.
        ASSERT_TRUE(writeFileBytes(clientFolder + L"\\s" + size + L".bin", "keep me"));
    }
    clientPortFor = [&](int serverPort) { return relay.start(serverPort, mode, 1234u) ? relay.port : 0; };
    // Joined, the client gets the terminator of its first listing together with the server's own "DD".
    ASSERT_NO_FATAL_FAILURE(connectHosts());

    for (const std::wstring &file : clientFiles) {
        std::wstring copy = serverFolder + file.substr(clientFolder.size());
        if (mode != RelayMode::Join) {
            ASSERT_NO_FATAL_FAILURE(copyWith(true, "push", file, serverFolder));
            expectSameFile(file, copy);
            continue;
        }
        // The trailer is held back and reaches the server together with the listing request that follows it.
        ASSERT_TRUE(client.send("push " + quotedPath(file) + " " + quotedPath(serverFolder)));
        ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallCopyTO", "STATE Waiting"}));
        ASSERT_TRUE(client.send("dir " + quotedPath(serverFolder)));
        ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallDIR", "STATE Waiting"}));
        ASSERT_TRUE(sawSequence(&server, "server",
                                {"STATE RequestCopyTO", "STATE Waiting", "STATE RequestDIR", "STATE Waiting"}));
        expectSameFile(file, copy);
    }
    for (const std::wstring &file : serverFiles) {
        ASSERT_NO_FATAL_FAILURE(copyWith(true, "pull", file, clientFolder));
        expectSameFile(file, clientFolder + file.substr(serverFolder.size()));
    }
    // The server asks too; its answers come back on the same connection.
    ASSERT_NO_FATAL_FAILURE(copyWith(false, "pull", clientFiles.back(), serverFolder));
    expectSameFile(clientFiles.back(), serverFolder + clientFiles.back().substr(clientFolder.size()));

    // No file under a cut name, no temporary file.
    EXPECT_TRUE(fileNames(serverFolder) == expected) << fileNames(serverFolder).size() << " files";
    if (mode == RelayMode::Join && !fast) {
        EXPECT_GE(relay.joined.load(), 2);
    }
    for (HostProcess *host : {&server, &client}) {
        for (const std::string &line : host->history())
            EXPECT_NE(0u, line.rfind("BOX ", 0)) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Relay, RelayHostsTest,
                         ::testing::Combine(::testing::Values(RelayMode::Split, RelayMode::Trickle, RelayMode::Cut536,
                                                              RelayMode::Join),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<RelayMode, bool>> &info) {
                             return std::string(relayModeName(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) ? "Fast" : "Classic");
                         });

// Two new instances on the fast link, through a relay that can flip a byte or cut the connection.
class FastLinkTest : public HostsTest {
protected:
    void SetUp() override
    {
        HostsTest::SetUp();
        fast = true;
    }
    void TearDown() override
    {
        HostsTest::TearDown();
        relay.stop();
    }
    void throughRelay()
    {
        clientPortFor = [&](int serverPort) { return relay.start(serverPort, RelayMode::Cut536, 99u) ? relay.port : 0; };
    }

    Relay relay;
};

TEST_F(FastLinkTest, FlippedByteFailsTheDigestAndACutCopyResumes)
{
    // It starts with zeros, which the receiver skips instead of writing: the part that is kept must still hold
    // everything that arrived.
    std::wstring source = makeFile(serverFolder, L"video.bin", 3 * 1024 * 1024 + 17, 7);
    ASSERT_TRUE(writeFileBytes(source, std::string(2 * 1024 * 1024 + 4096, '\0') + randomBytes(1024 * 1024 + 17, 7)));
    ASSERT_TRUE(setWriteTime(source, utcFileTime(2016, 2, 3, 4, 5)));
    std::wstring target = clientFolder + L"\\video.bin";
    ASSERT_TRUE(writeFileBytes(target, "keep me"));
    throughRelay();
    ASSERT_NO_FATAL_FAILURE(connectHosts());
    std::string pull = "pull " + quotedPath(source) + " " + quotedPath(clientFolder);

    // One byte changed on the way, well inside the file's data: the target stays as it was.
    relay.flipAt = relay.towardClientBytes() + 1024 * 1024;
    ASSERT_TRUE(client.send(pull));
    ASSERT_TRUE(sawSequence(&client, "client", {"ENDED Refused|届いた内容が"}, 30000));
    expectFileBytes(target, "keep me");
    EXPECT_FALSE(fileExists(clientFolder + L"\\video.bin.$TEMP"));
    EXPECT_FALSE(fileExists(clientFolder + L"\\video.bin.$RESUME"));

    // Cut in the middle: the part that arrived is kept for the next copy of the same source. A file of the same
    // name with another extension, cut too, keeps a part of its own beside it.
    std::wstring other = makeFile(serverFolder, L"video.doc", 3 * 1024 * 1024 + 17, 8);
    std::string pullOther = "pull " + quotedPath(other) + " " + quotedPath(clientFolder);
    for (const std::string *cut : {&pull, &pullOther}) {
        if (cut == &pullOther) {
            relay.stop();
            relay.cutAfter = -1;
            ASSERT_NO_FATAL_FAILURE(connectHosts());
        }
        relay.cutAfter = relay.towardClientBytes() + 2 * 1024 * 1024;
        ASSERT_TRUE(client.send(*cut));
        ASSERT_TRUE(sawSequence(&client, "client", {"ENDED LinkLost", "CLOSED"}, 30000));
        client.end();
        server.end();
    }
    EXPECT_TRUE(fileExists(clientFolder + L"\\video.bin.$TEMP"));
    EXPECT_TRUE(fileExists(clientFolder + L"\\video.doc.$TEMP"));
    expectFileBytes(target, "keep me");

    relay.stop();
    clientPortFor = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectHosts());
    for (const std::string *resumed : {&pull, &pullOther}) {
        ASSERT_TRUE(client.send(*resumed));
        std::string ended;
        ASSERT_TRUE(client.waitFor("ENDED ", 30000, &ended));
        EXPECT_EQ(0u, ended.rfind("ENDED Done resumed=", 0)) << ended;
        EXPECT_GT(std::stoll(ended.substr(ended.find('=') + 1)), 0) << ended;
    }
    expectSameFile(source, target);
    expectSameFile(other, clientFolder + L"\\video.doc");
    EXPECT_FALSE(fileExists(clientFolder + L"\\video.bin.$RESUME"));
}

// The size of a file and the CRC-32C of its bytes from offset on.
std::pair<long long, uint32_t> sizeAndDigestFrom(const std::wstring &path, long long offset)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {}, at = {};
    at.QuadPart = offset;
    std::string piece(1 << 20, '\0');
    DWORD got = 0;
    uint32_t digest = 0;
    if (GetFileSizeEx(file, &size) && SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
        while (ReadFile(file, &piece[0], 1 << 20, &got, nullptr) && got > 0)
            digest = crc32cUpdate(digest, piece.data(), got);
    }
    CloseHandle(file);
    return {size.QuadPart, digest};
}

// A part of 4 GiB that a lost link left resumes both ways, a file pulled alone and one pushed in a folder
// stream. Each side checks it while the other waits, and with a silence time shorter than the check, the waiting
// side hears the checking one and neither ends the exchange.
TEST_F(FastLinkTest, AFourGigabytePartResumesBothWaysWhileEachSideChecksIt)
{
    const long long partBytes = 1LL << 32;
    for (bool pull : {true, false}) {
        SCOPED_TRACE(pull ? "pull" : "folder push");
        std::wstring from = pull ? serverFolder : clientFolder + L"\\disks";
        std::wstring into = pull ? clientFolder : serverFolder + L"\\disks";
        std::wstring source = from + L"\\disk.img";
        std::wstring copy = into + L"\\disk.img";
        ASSERT_TRUE(pull || CreateDirectoryW(from.c_str(), nullptr));
        // Real bytes at the start and past the part, zeros between.
        ASSERT_TRUE(writeFileBytesAt(source, 0, randomBytes(2 << 20, 4)) &&
                    writeFileBytesAt(source, partBytes, randomBytes(5000, 5)));
        ASSERT_TRUE(setWriteTime(source, utcFileTime(2019, 5, 6, 7, 8)));
        std::string command = pull ? "pull " + quotedPath(source) + " " + quotedPath(into)
                                   : "tree push " + quotedPath(from) + " " + quotedPath(into);

        // The sender goes away as a crashed one does, once the part holds the start: the part is kept.
        options.clear();
        ASSERT_NO_FATAL_FAILURE(connectHosts());
        ASSERT_TRUE(client.send(command));
        WIN32_FIND_DATAW part = {};
        ASSERT_TRUE(pumpUntil([&] {
            HANDLE search = FindFirstFileW((into + L"\\*.$TEMP").c_str(), &part);
            return search != INVALID_HANDLE_VALUE && FindClose(search) && part.nFileSizeLow >= (2u << 20);
        }, 20000));
        HostProcess &sender = pull ? server : client;
        ASSERT_TRUE(sender.send("vanish"));
        // Wine does not always pass on the dead sender's shutdown; the receiver's 30 s silence ends it then.
        ASSERT_TRUE(sawSequence(pull ? &client : &server, "receiver", {"STATE Waiting"}, 45000));
        client.end();
        server.end();
        ASSERT_TRUE(makeSparseFile(into + L"\\" + part.cFileName, partBytes));

        options = {L"--liveness-ms", L"800"};
        ASSERT_NO_FATAL_FAILURE(connectHosts());
        ASSERT_TRUE(client.send(command));
        std::string ended;
        ASSERT_TRUE(client.waitFor("ENDED ", 60000, &ended));
        EXPECT_EQ("ENDED Done resumed=" + std::to_string(partBytes), ended);
        // The link's own digest covered the whole file; the test looks at what came after the part.
        EXPECT_TRUE(sizeAndDigestFrom(source, partBytes - 4096) == sizeAndDigestFrom(copy, partBytes - 4096));
        client.end();
        server.end();
    }
}

// Names no code page here holds (Hangul beside a Latin accent), and Japanese names whose UTF-8 is longer than a
// classic record, go in UTF-8 between two new instances: the listing shows them, both directions copy the file
// under its own name, and so does a folder stream. A path is budgeted in characters: one of 259 travels; an
// entry whose path is longer is left out of the listing and counted. (A name holds at most 255 bytes on the
// Linux side, 85 Japanese characters: longer Japanese paths are made of several names.)
TEST_F(FastLinkTest, NamesOutsideTheCodePageAndLongJapaneseNamesAreListedAndCopiedWhole)
{
    const std::wstring pulled = L"\uD55C\uAE00 \u00E9t\u00E9.txt";
    const std::wstring pushed = L"\uC0AC\uC9C4.bin";
    const std::wstring long80 = japaneseName(80) + L".txt", long83 = japaneseName(83);
    std::wstring source = makeFile(serverFolder, pulled, 3000, 5);
    std::wstring local = makeFile(clientFolder, pushed, 2000, 6);
    std::wstring source83 = makeFile(serverFolder, long83, 1000, 7);
    std::wstring local80 = makeFile(clientFolder, long80, 800, 9);
    makeFile(serverFolder, std::wstring(PathChars - 1 - serverFolder.size(), L'x'), 10, 10);
    // Both sides' folders padded to one length, so that one path of 259 characters fits on each.
    size_t base = std::max(serverFolder.size(), clientFolder.size()) + 2;
    std::wstring serverDeep = serverFolder + L"\\" + std::wstring(base - serverFolder.size() - 1, L'p');
    std::wstring clientDeep = clientFolder + L"\\" + std::wstring(base - clientFolder.size() - 1, L'p');
    for (std::wstring *deep : {&serverDeep, &clientDeep}) {
        ASSERT_TRUE(CreateDirectoryW(deep->c_str(), nullptr));
        for (int i = 0; i < 2; i++) {
            *deep += L"\\" + japaneseName(80);
            ASSERT_TRUE(CreateDirectoryW(deep->c_str(), nullptr));
        }
    }
    std::wstring longest = makeFile(serverDeep, japaneseName(PathChars - 2 - serverDeep.size()), 900, 8);
    ASSERT_EQ(PathChars - 1, longest.size());
    ASSERT_NO_FATAL_FAILURE(connectHosts());
    ASSERT_TRUE(client.send("dir " + quotedPath(serverFolder)));
    ASSERT_TRUE(sawSequence(&client, "client", {"CLEAR", "STATE CallDIR"}));
    std::vector<std::string> names;
    std::string line;
    while (client.readLine(&line, 5000) && line != "STATE Waiting") {
        std::string fields = line.substr(line.find('|') + 1);
        names.push_back(line.rfind("ROW ", 0) == 0 ? fields.substr(0, fields.find('|')) : line);
    }
    for (const std::wstring &name : {pulled, long83})
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), narrow(name))) << names.size() << " rows";
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "LEFTOUT 1")) << "the name over the budget";
    ASSERT_NO_FATAL_FAILURE(copyWith(true, "pull", source, clientFolder));
    expectSameFile(source, clientFolder + L"\\" + pulled);
    ASSERT_NO_FATAL_FAILURE(copyWith(true, "push", local, serverFolder));
    expectSameFile(local, serverFolder + L"\\" + pushed);
    ASSERT_NO_FATAL_FAILURE(copyWith(true, "pull", source83, clientFolder));
    expectSameFile(source83, clientFolder + L"\\" + long83);
    ASSERT_NO_FATAL_FAILURE(copyWith(true, "pull", longest, clientDeep));
    expectSameFile(longest, clientDeep + longest.substr(serverDeep.size()));
    ASSERT_NO_FATAL_FAILURE(copyWith(true, "push", local80, serverFolder));
    expectSameFile(local80, serverFolder + L"\\" + long80);
    // A folder stream carries them too.
    std::wstring tree = clientFolder + L"\\" + japaneseName(80);
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    std::wstring inTree = makeFile(tree, long83, 700, 11);
    ASSERT_TRUE(client.send("tree push " + quotedPath(tree) + " " + quotedPath(serverFolder + L"\\" + japaneseName(80))));
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallCopyTO", "STATE Waiting"}, 15000));
    expectSameFile(inTree, serverFolder + L"\\" + japaneseName(80) + L"\\" + long83);
}

TEST_F(FastLinkTest, ServedFolderOpensByItselfWithAllItsRowsAndAFileOverFourGigabytes)
{
    // More rows than a classic listing can carry, in the folder the server serves.
    const int files = 5000;
    for (int i = 0; i < files; i++)
        ASSERT_TRUE(writeFileBytes(serverFolder + L"\\f" + std::to_wstring(i) + L".txt", "x"));
    // A sparse source past 2^32 bytes: a few real bytes at its end.
    std::wstring big = serverFolder + L"\\disk.img";
    const long long bigSize = (1LL << 32) + 3;
    ASSERT_TRUE(writeFileBytesAt(big, bigSize - 3, "end"));
    LARGE_INTEGER at;
    at.QuadPart = bigSize - 3;

    // The server serves one folder: the client is told it in the agreement, before any listing, and its opening
    // listing is of that folder.
    std::string why;
    ASSERT_TRUE(startServerHost(&server, &port, serverFolder, &why, {L"--fast", L"--serve", serverFolder})) << why;
    ASSERT_TRUE(startClientHost(&client, port, clientFolder, &why, {L"--fast"})) << why;
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallDIR", "STATE Waiting", "STATE CallDIR"}, 15000));
    int rows = 0;
    std::string line;
    while (client.readLine(&line, 30000) && line != "STATE Waiting")
        rows += line.rfind("ROW ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(files + 3, rows);  // ".", "..", the files and disk.img
    // The server's listing of its client follows the client's first.
    ASSERT_TRUE(sawSequence(&server, "server", {"STATE CallDIR", "STATE Waiting"}));

    ASSERT_TRUE(client.send("pull " + quotedPath(big) + " " + quotedPath(clientFolder)));
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallCopyFrom", "ENDED Done"}, 240000));
    std::wstring copy = clientFolder + L"\\disk.img";
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(bigSize, (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    HANDLE read = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, read);
    char tail[4] = {};
    DWORD got = 0;
    EXPECT_TRUE(SetFilePointerEx(read, at, nullptr, FILE_BEGIN) && ReadFile(read, tail, 3, &got, nullptr));
    CloseHandle(read);
    EXPECT_STREQ("end", tail);
    DeleteFileW(copy.c_str());
    DeleteFileW(big.c_str());
}

}  // namespace

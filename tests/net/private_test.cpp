// private_test.cpp: the private link between two console hosts, each with its own identity: pairing, the silent
// later meeting, a changed key, records that fail their check, and who is admitted in each mode, both roles.
#include "tests/net/relay.h"
#include "tests/support/host_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

bool sawSequence(HostProcess *host, const char *who, const std::vector<std::string> &prefixes, int ms = 15000)
{
    std::string why;
    if (waitForSequence(host, prefixes, ms, &why))
        return true;
    ADD_FAILURE() << who << ": " << why;
    return false;
}

// The text after a prefix on the next line that starts with it; empty on a miss.
std::string valueOf(HostProcess *host, const std::string &prefix, int ms = 15000)
{
    std::string line;
    if (!host->waitFor(prefix, ms, &line)) {
        ADD_FAILURE() << "no " << prefix;
        return std::string();
    }
    return line.substr(prefix.size());
}

class PrivateLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (std::wstring *folder : {&serverFolder, &clientFolder, &serverHome, &clientHome}) {
            *folder = makeTempFolder(L"pwpriv");
            ASSERT_FALSE(folder->empty());
        }
    }
    void TearDown() override
    {
        if (HasFailure()) {
            for (const std::string &line : server.history())
                printf("server: %s\n", line.c_str());
        }
        client.end();
        server.end();
        relay.stop();
        for (const std::wstring &folder : {serverFolder, clientFolder, serverHome, clientHome})
            removeTree(folder);
    }

    // Both hosts up with their homes and admission modes (empty home: a host with no key, as a classic peer).
    void startBothAt(Caller at, const wchar_t *serverMode, const wchar_t *clientMode, bool serverKey = true,
                     bool clientKey = true)
    {
        TRACE_CALLER(at);
        std::string why;
        port = 0;
        std::vector<std::wstring> serverArgs = {L"--fast", L"--admission", serverMode};
        if (serverKey)
            serverArgs.insert(serverArgs.end(), {L"--home", serverHome});
        ASSERT_TRUE(startServerHost(&server, &port, serverFolder, &why, serverArgs)) << why;
        int target = port;
        if (recording) {
            ASSERT_TRUE(relay.start(port, RelayMode::Split, 5u));
            target = relay.port;
        }
        std::vector<std::wstring> clientArgs = {L"--fast", L"--admission", clientMode};
        if (clientKey)
            clientArgs.insert(clientArgs.end(), {L"--home", clientHome});
        ASSERT_TRUE(startClientHost(&client, target, clientFolder, &why, clientArgs)) << why;
    }
#define startBoth(...) startBothAt(HERE, __VA_ARGS__)

    // Waits for the private link on both sides (answering the pairing question first when asked is set), then
    // for the client's opening listing. Returns the fingerprints each side shows of the other.
    void openPrivateAt(Caller at, bool asked, std::string fingerprints[2])
    {
        TRACE_CALLER(at);
        if (asked) {
            std::string serverAsk = valueOf(&server, "PAIR ");
            std::string clientAsk = valueOf(&client, "PAIR ");
            ASSERT_EQ(serverAsk.size() > 7 ? serverAsk.substr(0, 8) : "", clientAsk.substr(0, 8));
            ASSERT_TRUE(server.send("pair yes"));
            ASSERT_TRUE(client.send("pair yes"));
        }
        fingerprints[0] = valueOf(&client, "KIND 3|");
        fingerprints[1] = valueOf(&server, "KIND 3|");
        ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallDIR", "STATE Waiting"}));
        ASSERT_TRUE(sawSequence(&server, "server", {"STATE RequestDIR", "STATE Waiting"}));
    }
#define openPrivate(...) openPrivateAt(HERE, __VA_ARGS__)

    void endBoth()
    {
        client.end();
        server.end();
    }

    std::wstring serverFolder, clientFolder, serverHome, clientHome;
    HostProcess server, client;
    Relay relay;
    bool recording = false;
    int port = 0;
};

// The client lists the server's folder, pulls one file and pushes one; both copies arrive whole.
#define listPullPush(...) listPullPushAt(HERE, __VA_ARGS__)
void listPullPushAt(Caller at, HostProcess *client, const std::wstring &serverFolder, const std::wstring &clientFolder,
                    const std::wstring &pulled, const std::wstring &pushed)
{
    TRACE_CALLER(at);
    ASSERT_TRUE(client->send("dir " + quotedPath(serverFolder)));
    ASSERT_TRUE(sawSequence(client, "client", {"ROW ", "STATE Waiting"}));
    ASSERT_TRUE(client->send("pull " + quotedPath(serverFolder + L"\\" + pulled) + " " + quotedPath(clientFolder)));
    ASSERT_TRUE(sawSequence(client, "client", {"STATE CallCopyFrom", "ENDED Done"}));
    ASSERT_TRUE(client->send("push " + quotedPath(clientFolder + L"\\" + pushed) + " " + quotedPath(serverFolder)));
    ASSERT_TRUE(sawSequence(client, "client", {"STATE CallCopyTO", "ENDED Done"}));
}

bool sawLine(HostProcess *host, const std::string &prefix)
{
    for (const std::string &line : host->history()) {
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

// First meeting: both screens show one code, both users say yes, and everything after travels sealed: a relay
// that records every byte sees no name and no content. The next meeting is silent; the recorded client bytes
// sent again to the server are not served.
TEST_F(PrivateLinkTest, PairedOnceThenSilentAndNothingReadableOnTheWire)
{
    ASSERT_TRUE(writeFileBytes(serverFolder + L"\\MARKS1.txt", "MARKC1 server content"));
    ASSERT_TRUE(writeFileBytes(clientFolder + L"\\MARKS2.txt", "MARKC2 client content"));
    recording = true;
    relay.recordAll = true;
    ASSERT_NO_FATAL_FAILURE(startBoth(L"ask", L"ask"));
    std::string fingerprints[2];
    ASSERT_NO_FATAL_FAILURE(openPrivate(true, fingerprints));
    ASSERT_NO_FATAL_FAILURE(listPullPush(&client, serverFolder, clientFolder, L"MARKS1.txt", L"MARKS2.txt"));
    expectFileBytes(clientFolder + L"\\MARKS1.txt", "MARKC1 server content");
    expectFileBytes(serverFolder + L"\\MARKS2.txt", "MARKC2 client content");
    EXPECT_EQ(fingerprints[0].size(), 19u);
    EXPECT_NE(fingerprints[0], fingerprints[1]);
    endBoth();
    std::string toServer = relay.recorded(false);
    std::string toClient = relay.recorded(true);
    EXPECT_GT(toServer.size() + toClient.size(), 1000u);
    for (const char *marker : {"MARKS1", "MARKS2", "MARKC1", "MARKC2"}) {
        EXPECT_EQ(toServer.find(marker), std::string::npos) << marker;
        EXPECT_EQ(toClient.find(marker), std::string::npos) << marker;
    }
    relay.stop();

    recording = false;
    ASSERT_NO_FATAL_FAILURE(startBoth(L"paired", L"paired"));
    std::string again[2];
    ASSERT_NO_FATAL_FAILURE(openPrivate(false, again));
    EXPECT_EQ(again[0], fingerprints[0]);
    EXPECT_FALSE(sawLine(&client, "PAIR") || sawLine(&server, "PAIR"));
    client.end();

    // The agreement's request and the "ACK" to its record, each after the server's answer, then the rest at once.
    SOCKET replay = connectTo(port);
    ASSERT_NE(replay, INVALID_SOCKET);
    ASSERT_EQ(toServer.compare(0, 2, "DD"), 0);
    size_t probeEnd = toServer.find("ACK");
    ASSERT_NE(probeEnd, std::string::npos);
    ASSERT_TRUE(sendText(replay, toServer.substr(0, probeEnd)));
    EXPECT_EQ(receiveMessage(replay).compare(0, 8, "DR000000"), 0);
    ASSERT_TRUE(sendText(replay, "ACK"));
    EXPECT_EQ(receiveMessage(replay), "DR999999");
    ASSERT_TRUE(sendText(replay, toServer.substr(probeEnd + 3)));
    EXPECT_TRUE(seesClosed(replay, 10000));
    closesocket(replay);
    ASSERT_TRUE(server.send("echo done"));
    ASSERT_TRUE(server.waitFor("ECHO done"));
    int listings = 0;
    for (const std::string &line : server.history())
        listings += line == "STATE RequestDIR" ? 1 : 0;
    EXPECT_EQ(listings, 3);  // the first meeting's agreement and listing, the second's, and the replay's agreement
    EXPECT_FALSE(sawLine(&server, "STATE RequestCopy"));
}

}  // namespace

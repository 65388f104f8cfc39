// private_test.cpp: the private link between two console hosts, each with its own identity: pairing, the silent
// later meeting, a changed key, records that fail their check, and who is admitted in each mode, both roles.
#include "tests/net/relay.h"
#include "tests/support/host_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

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

    // A host's options: with a home, a new instance in that admission mode; without one, a classic peer.
    static std::vector<std::wstring> sideOptions(const wchar_t *mode, const std::wstring *home)
    {
        if (home == nullptr)
            return {};
        return {L"--fast", L"--admission", mode, L"--home", *home, L"--answer-ms", L"3000"};
    }

    // Both hosts up (the client through the recording relay when recording is set).
    void startBothAt(Caller at, const wchar_t *serverMode, const wchar_t *clientMode, const std::wstring *serverAt,
                     const std::wstring *clientAt)
    {
        TRACE_CALLER(at);
        std::string why;
        port = 0;
        ASSERT_TRUE(startServerHost(&server, &port, serverFolder, &why, sideOptions(serverMode, serverAt))) << why;
        int target = port;
        if (recording) {
            ASSERT_TRUE(relay.start(port, RelayMode::Cut536, 5u));
            target = relay.port;
        }
        ASSERT_TRUE(startClientHost(&client, target, clientFolder, &why, sideOptions(clientMode, clientAt))) << why;
    }
    void startBothAt(Caller at, const wchar_t *serverMode, const wchar_t *clientMode)
    {
        startBothAt(at, serverMode, clientMode, &serverHome, &clientHome);
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
    ASSERT_TRUE(sawSequence(client, "client", {"STATE CallCopyFrom", "STATE Waiting"}));
    ASSERT_TRUE(client->send("push " + quotedPath(clientFolder + L"\\" + pushed) + " " + quotedPath(serverFolder)));
    ASSERT_TRUE(sawSequence(client, "client", {"STATE CallCopyTO", "STATE Waiting"}));
}


int linesStarting(HostProcess *host, const std::string &prefix)
{
    int count = 0;
    for (const std::string &line : host->history())
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
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
    EXPECT_EQ(linesStarting(&client, "PAIR") + linesStarting(&server, "PAIR"), 0);
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
    EXPECT_EQ(linesStarting(&server, "STATE RequestCopy"), 0);
}



// A no on one side, and no answer on either: the link ends, both questions go, and nothing is listed.
TEST_F(PrivateLinkTest, DeclinedOrUnansweredPairingServesNothing)
{
    for (bool declined : {true, false}) {
        SCOPED_TRACE(declined ? "declined" : "unanswered");
        ASSERT_NO_FATAL_FAILURE(startBoth(L"ask", L"ask"));
        ASSERT_FALSE(valueOf(&server, "PAIR ").empty());
        ASSERT_FALSE(valueOf(&client, "PAIR ").empty());
        if (declined) {
            ASSERT_TRUE(server.send("pair no"));
        }
        ASSERT_TRUE(sawSequence(&client, "client", {"PAIREND", "CLOSED"}));
        EXPECT_EQ(linesStarting(&client, "BOX 暗号化|"), 1);
        if (!declined) {
            ASSERT_TRUE(sawSequence(&server, "server", {"PAIREND"}));
        }
        ASSERT_TRUE(server.send("echo done"));
        ASSERT_TRUE(server.waitFor("ECHO done"));
        EXPECT_EQ(linesStarting(&server, "STATE RequestDIR"), 1);  // the agreement's request alone
        EXPECT_EQ(linesStarting(&client, "ROW "), 0);
        EXPECT_EQ(linesStarting(&server, "KIND 3"), 0);
        endBoth();
    }
}

// A machine in the middle that runs its own handshake with each side: the real server and the real client show
// codes that differ (each was made with the attacker's keys), so their users say no and nothing is listed.
TEST_F(PrivateLinkTest, AMachineInTheMiddleShowsEachSideAnotherCode)
{
    std::wstring attackerHome = makeTempFolder(L"pwpriv");
    HostProcess attackerClient, attackerServer;
    std::string why;
    port = 0;
    ASSERT_TRUE(startServerHost(&server, &port, serverFolder, &why, sideOptions(L"ask", &serverHome))) << why;
    ASSERT_TRUE(startClientHost(&attackerClient, port, clientFolder, &why, sideOptions(L"everyone", &attackerHome)));
    int attackerPort = 0;
    ASSERT_TRUE(startServerHost(&attackerServer, &attackerPort, clientFolder, &why,
                                sideOptions(L"everyone", &attackerHome)));
    ASSERT_TRUE(startClientHost(&client, attackerPort, clientFolder, &why, sideOptions(L"ask", &clientHome)));
    std::string serverCode = valueOf(&server, "PAIR ").substr(0, 7);
    std::string clientCode = valueOf(&client, "PAIR ").substr(0, 7);
    EXPECT_EQ(serverCode.size(), 7u);
    EXPECT_NE(serverCode, clientCode);
    ASSERT_TRUE(server.send("pair no"));
    ASSERT_TRUE(client.send("pair no"));
    ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}));
    ASSERT_TRUE(sawSequence(&attackerClient, "attacker", {"CLOSED"}));
    EXPECT_EQ(linesStarting(&attackerClient, "ROW "), 0);
    EXPECT_EQ(linesStarting(&attackerServer, "STATE RequestDIR"), 1);  // the agreement alone
    attackerClient.end();
    attackerServer.end();
    removeTree(attackerHome);
}

// Paired, then a byte flipped in a record on its way: the link ends and the target is untouched. Then another
// key under the same machine name: refused, and the server's user warned.
TEST_F(PrivateLinkTest, FlippedRecordEndsTheLinkAndAChangedKeyIsRefused)
{
    ASSERT_TRUE(writeFileBytes(serverFolder + L"\\big.bin", randomBytes(400000, 3)));
    ASSERT_TRUE(writeFileBytes(clientFolder + L"\\big.bin", "keep me"));
    recording = true;
    ASSERT_NO_FATAL_FAILURE(startBoth(L"ask", L"ask"));
    std::string fingerprints[2];
    ASSERT_NO_FATAL_FAILURE(openPrivate(true, fingerprints));
    relay.flipAt = relay.towardClientBytes() + 200000;
    ASSERT_TRUE(client.send("pull " + quotedPath(serverFolder + L"\\big.bin") + " " + quotedPath(clientFolder)));
    ASSERT_TRUE(sawSequence(&client, "client", {"ENDED LinkLost", "CLOSED"}));
    expectFileBytes(clientFolder + L"\\big.bin", "keep me");
    endBoth();
    relay.stop();

    recording = false;
    std::wstring otherHome = makeTempFolder(L"pwpriv");
    ASSERT_NO_FATAL_FAILURE(startBoth(L"ask", L"ask", &serverHome, &otherHome));
    EXPECT_FALSE(valueOf(&server, "KEYCHANGED ").empty());
    ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}));
    EXPECT_EQ(linesStarting(&server, "PAIR"), 0);
    EXPECT_EQ(linesStarting(&client, "ROW "), 0);
    endBoth();
    removeTree(otherHome);
}

// Each admission mode on this side, both roles, against a classic peer and against a new instance not paired
// (which admits everyone, so that only this side decides).
class AdmissionTest : public PrivateLinkTest, public ::testing::WithParamInterface<const wchar_t *> {};

TEST_P(AdmissionTest, ClassicPeersAndUnpairedMachines)
{
    const std::wstring mode = GetParam();
    for (bool thisIsServer : {true, false}) {
        SCOPED_TRACE(thisIsServer ? "server decides" : "client decides");
        HostProcess &self = thisIsServer ? server : client;
        // A classic peer.
        for (int meeting = 0; meeting < (mode == L"ask" ? 2 : 1); meeting++) {
            if (thisIsServer)
                ASSERT_NO_FATAL_FAILURE(startBoth(mode.c_str(), L"", &serverHome, nullptr));
            else
                ASSERT_NO_FATAL_FAILURE(startBoth(L"", mode.c_str(), nullptr, &clientHome));
            if (mode == L"ask" && meeting == 0) {
                EXPECT_EQ(valueOf(&self, "CLASSIC "), "127.0.0.1");
                ASSERT_TRUE(self.send("classic yes keep"));
            }
            if (mode == L"paired") {
                ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}));
                EXPECT_EQ(linesStarting(&client, "ROW "), 0);
            } else {
                ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallDIR", "ROW ", "STATE Waiting"}));
                EXPECT_EQ(linesStarting(&self, "KIND 1|"), 1);
            }
            EXPECT_EQ(linesStarting(&self, "CLASSIC"), mode == L"ask" && meeting == 0 ? 1 : 0);
            endBoth();
        }
        // A new instance not paired.
        if (thisIsServer)
            ASSERT_NO_FATAL_FAILURE(startBoth(mode.c_str(), L"everyone"));
        else
            ASSERT_NO_FATAL_FAILURE(startBoth(L"everyone", mode.c_str()));
        if (mode == L"everyone") {
            std::string fingerprints[2];
            ASSERT_NO_FATAL_FAILURE(openPrivate(false, fingerprints));
        } else if (mode == L"ask") {
            ASSERT_FALSE(valueOf(&server, "PAIR ").empty());
            ASSERT_FALSE(valueOf(&client, "PAIR ").empty());
            ASSERT_TRUE(self.send("pair no"));
            ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}));
        } else {
            ASSERT_TRUE(sawSequence(&client, "client", {"CLOSED"}));
            EXPECT_EQ(linesStarting(&client, "KIND 3"), 0);
        }
        if (mode != L"everyone") {
            EXPECT_EQ(linesStarting(&client, "ROW "), 0);
        }
        endBoth();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, AdmissionTest, ::testing::Values(L"ask", L"paired", L"everyone"));

// A classic peer gets the same bytes from a side that asked its user first as from one that serves everyone,
// in both roles: the server's listing of a folder, and the client's requests to a classic server.
TEST_F(PrivateLinkTest, ClassicPeerSeesTheSameBytesAfterTheQuestion)
{
    ASSERT_TRUE(writeFileBytes(serverFolder + L"\\a.txt", "a"));
    auto servedListing = [&](const wchar_t *mode) {
        std::string why, bytes;
        port = 0;
        EXPECT_TRUE(startServerHost(&server, &port, serverFolder, &why, sideOptions(mode, &serverHome))) << why;
        SOCKET peer = connectTo(port);
        EXPECT_TRUE(sendText(peer, "DD" + ansiPath(serverFolder)));
        if (std::wstring(mode) == L"ask") {
            EXPECT_EQ(valueOf(&server, "CLASSIC "), "127.0.0.1");
            EXPECT_TRUE(server.send("classic yes"));
        }
        for (std::string message = receiveMessage(peer, 5000); !message.empty(); message = receiveMessage(peer, 5000)) {
            bytes += message + "\n";
            if (message == "DR999999")
                break;
            EXPECT_TRUE(sendText(peer, "ACK"));
        }
        closesocket(peer);
        server.end();
        return bytes;
    };
    std::string asked = servedListing(L"ask");
    EXPECT_NE(asked.find("a.txt"), std::string::npos) << asked;
    EXPECT_EQ(asked, servedListing(L"everyone"));

    auto requestsSeen = [&](const wchar_t *mode) {
        int classicPort = 0;
        SOCKET listener = listenLoopback(&classicPort);
        std::string why, bytes;
        EXPECT_TRUE(startClientHost(&client, classicPort, clientFolder, &why, sideOptions(mode, &clientHome))) << why;
        sockaddr_in from;
        int fromLength = sizeof(from);
        SOCKET peer = accept(listener, reinterpret_cast<sockaddr *>(&from), &fromLength);
        for (int request = 0; request < 2; request++) {
            std::string message = receiveMessage(peer, 5000);
            bytes += message + "\n";
            if (request == 0 && std::wstring(mode) == L"ask") {
                EXPECT_TRUE(sendText(peer, "DR999999"));
                EXPECT_EQ(valueOf(&client, "CLASSIC "), "127.0.0.1");
                EXPECT_TRUE(client.send("classic yes"));
                continue;
            }
            EXPECT_TRUE(sendText(peer, "DR999999"));
        }
        closesocket(peer);
        closesocket(listener);
        client.end();
        return bytes;
    };
    std::string seen = requestsSeen(L"ask");
    EXPECT_EQ(seen.rfind("DD|Parcelwight|fast-link|\nDD", 0), 0u) << seen;
    EXPECT_EQ(seen, requestsSeen(L"everyone"));
}

}  // namespace

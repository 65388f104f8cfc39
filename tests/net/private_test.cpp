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

// First meeting: both screens show one code, both users say yes, and everything after travels sealed: a relay
// that records every byte sees no name and no content. The next meeting is silent.
TEST_F(PrivateLinkTest, PairedOnceThenSilentAndNothingReadableOnTheWire)
{
    recording = true;
    ASSERT_NO_FATAL_FAILURE(startBoth(L"ask", L"ask"));
    std::string serverAsk = valueOf(&server, "PAIR ");
    std::string clientAsk = valueOf(&client, "PAIR ");
    ASSERT_FALSE(serverAsk.empty());
    EXPECT_EQ(serverAsk.substr(0, 7), clientAsk.substr(0, 7));
    ASSERT_TRUE(server.send("pair yes"));
    ASSERT_TRUE(client.send("pair yes"));
    ASSERT_TRUE(sawSequence(&client, "client", {"STATE CallDIR", "STATE Waiting"}));
    for (HostProcess *host : {&client, &server}) {
        ASSERT_TRUE(host->send("kind"));
        std::string kind = valueOf(host, "KIND ");
        EXPECT_EQ(kind.substr(0, 2), "3|") << kind;
        EXPECT_EQ(kind.size(), 21u) << kind;
    }
}

}  // namespace

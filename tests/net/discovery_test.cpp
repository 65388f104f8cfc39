// discovery_test.cpp: finding servers. The search's datagrams are taken only whole; console hosts on loopback are
// found by a search when they answer, and not when classic, told not to answer or closed, whatever bad
// datagrams and floods came first.
#include "net/discovery.h"
#include "tests/support/host_process.h"
#include "tests/support/test_support.h"
#include "version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

namespace {

TEST(SearchWire, OnlyAWholeQuestionOrAnswerOfThisVersionIsTaken)
{
    unsigned char question[SearchQuestionBytes + 1] = {};
    ASSERT_EQ(buildSearchQuestion(question, sizeof(question), 0xA1B2C3D4u, 3), SearchQuestionBytes);
    uint32_t nonce = 0;
    int round = 0;
    EXPECT_TRUE(parseSearchQuestion(question, SearchQuestionBytes, &nonce, &round));
    EXPECT_EQ(nonce, 0xA1B2C3D4u);
    EXPECT_EQ(round, 3);
    EXPECT_FALSE(parseSearchQuestion(question, SearchQuestionBytes - 1, &nonce, &round));
    EXPECT_FALSE(parseSearchQuestion(question, SearchQuestionBytes + 1, &nonce, &round));
    question[4] = SearchWireVersion + 1;
    EXPECT_FALSE(parseSearchQuestion(question, SearchQuestionBytes, &nonce, &round));

    static SearchAnswer sent, got;
    memset(&sent, 0, sizeof(sent));
    sent.nonce = 0x01020304u;
    sent.port = 1050;
    sent.flags = SearchServesOneFolder | SearchServesReadOnly;
    sent.addressCount = 2;
    sent.addresses[0] = htonl(0xC0A80114u);
    sent.addresses[1] = htonl(0x0A000005u);
    wcscpy(sent.hostName, L"事務所-PC");
    wcscpy(sent.fingerprint, L"AB12-CD34");
    wcscpy(sent.version, L"1.1.0");
    unsigned char bytes[SearchAnswerMaxBytes + 1] = {};
    int length = buildSearchAnswer(bytes, SearchAnswerMaxBytes, sent);
    ASSERT_GT(length, 13 + 8);
    ASSERT_TRUE(parseSearchAnswer(bytes, length, &got));
    EXPECT_EQ(memcmp(&sent, &got, sizeof(sent)), 0);
    for (int cut = 0; cut < length; cut++)
        EXPECT_FALSE(parseSearchAnswer(bytes, cut, &got)) << cut;
    EXPECT_FALSE(parseSearchAnswer(bytes, length + 1, &got));

    // A text whose length runs past the end, one that is no UTF-8, a name longer than its field.
    unsigned char broken[SearchAnswerMaxBytes] = {};
    memcpy(broken, bytes, static_cast<size_t>(length));
    broken[13 + 8] = 200;
    EXPECT_FALSE(parseSearchAnswer(broken, length, &got));
    memcpy(broken, bytes, static_cast<size_t>(length));
    broken[13 + 8 + 1] = 0xFF;
    EXPECT_FALSE(parseSearchAnswer(broken, length, &got));
    memset(broken + 13, 0, sizeof(broken) - 13);
    broken[12] = 0;
    broken[13] = 100;
    memset(broken + 14, 'a', 100);
    EXPECT_FALSE(parseSearchAnswer(broken, 13 + 1 + 100 + 2, &got));
    broken[13] = 63;
    broken[14 + 63] = 0;
    broken[14 + 64] = 0;
    EXPECT_TRUE(parseSearchAnswer(broken, 13 + 1 + 63 + 2, &got));
}

std::wstring ownHostName()
{
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    wchar_t wide[256] = {};
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 255);
    return wide;
}

// A search of this machine only, asking these ports by broadcast and multicast.
ServerSearch *searchPorts(std::initializer_list<int> ports)
{
    static ServerSearch search;
    prepareServerSearch(&search, 0, nullptr);
    search.loopbackOnly = 1;
    search.portCount = 0;
    for (int port : ports)
        search.ports[search.portCount++] = port;
    runServerSearch(&search);
    return &search;
}

std::map<int, const FoundServer *> answeredByPort(const ServerSearch &search)
{
    std::map<int, const FoundServer *> rows;
    for (LONG i = 0; i < search.foundCount; i++)
        if (search.found[i].answered)
            rows[search.found[i].port] = &search.found[i];
    return rows;
}

sockaddr_in loopbackAt(int port)
{
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<u_short>(port));
    return to;
}

TEST(Discovery, TheSearchListsTheServersThatAnswerAndNoOther)
{
    startWinsock();
    resetAppState();
    std::wstring folder = makeTempFolder(L"pwfind");
    HostProcess answering, readOnly, classic, quiet;
    int portA = 0, portB = 0, portC = 0, portD = 0;
    std::string why;
    ASSERT_TRUE(startServerHost(&answering, &portA, folder, &why, {L"--fast", L"--answer", L"--fingerprint", L"AAAA-1111"}))
        << why;
    ASSERT_TRUE(startServerHost(&readOnly, &portB, folder, &why,
                                {L"--answer", L"--readonly", L"--serve", folder, L"--fingerprint", L"BBBB-2222"}))
        << why;
    ASSERT_TRUE(startServerHost(&classic, &portC, folder, &why)) << why;
    ASSERT_TRUE(startServerHost(&quiet, &portD, folder, &why, {L"--fast"})) << why;

    {
        SCOPED_TRACE("bad datagrams and a flood");
        int askerPort = 0;
        SOCKET asker = datagramLoopback(&askerPort);
        ASSERT_NE(asker, INVALID_SOCKET);
        // One question by multicast alone and one by broadcast alone: each way is answered by itself.
        BOOL on = TRUE;
        in_addr out = loopbackAt(0).sin_addr;
        setsockopt(asker, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char *>(&on), sizeof(on));
        setsockopt(asker, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<char *>(&out), sizeof(out));
        setsockopt(asker, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<char *>(&on), sizeof(on));
        sockaddr_in to = loopbackAt(portA);
        const uint32_t wayTargets[2] = {SearchGroupAddress, 0x7FFFFFFFu};
        for (uint32_t way = 0; way < 2; way++) {
            unsigned char question[SearchQuestionBytes];
            buildSearchQuestion(question, sizeof(question), way + 1, 0);
            to.sin_addr.s_addr = htonl(wayTargets[way]);
            sendto(asker, reinterpret_cast<char *>(question), sizeof(question), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof(to));
        }
        to = loopbackAt(portA);
        unsigned char bad[600] = {};
        buildSearchQuestion(bad, sizeof(bad), 7, 0);
        const int badLengths[] = {1, SearchQuestionBytes - 1, SearchQuestionBytes + 1, 600};
        for (int length : badLengths)
            sendto(asker, reinterpret_cast<char *>(bad), length, 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
        bad[4] = SearchWireVersion + 1;
        sendto(asker, reinterpret_cast<char *>(bad), SearchQuestionBytes, 0, reinterpret_cast<sockaddr *>(&to),
               sizeof(to));
        for (uint32_t i = 0; i < 300; i++) {
            unsigned char question[SearchQuestionBytes];
            buildSearchQuestion(question, sizeof(question), 1000 + i, 0);
            sendto(asker, reinterpret_cast<char *>(question), sizeof(question), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof(to));
        }
        int answers = 0;
        std::set<uint32_t> ways;
        char answer[SearchAnswerMaxBytes];
        for (int got; (got = receiveWithin(asker, answer, sizeof(answer), 500)) > 0; answers++) {
            SearchAnswer read;
            ASSERT_TRUE(parseSearchAnswer(reinterpret_cast<unsigned char *>(answer), got, &read));
            EXPECT_NE(read.nonce, 7u) << "a bad question was answered";
            if (read.nonce < 1000u)
                ways.insert(read.nonce);
        }
        EXPECT_EQ(ways, (std::set<uint32_t>{1, 2})) << "multicast, broadcast";
        // The flood may straddle the turn of one second, not more.
        EXPECT_GE(answers, 1);
        EXPECT_LE(answers, 2 * AnswersPerSecond);
        closesocket(asker);
    }

    ServerSearch *search = searchPorts({portA, portB, portC, portD});
    std::map<int, const FoundServer *> rows = answeredByPort(*search);
    ASSERT_EQ(search->foundCount, 2);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_TRUE(rows.count(portA) && rows.count(portB));
    const SearchAnswer &a = rows[portA]->answer;
    const SearchAnswer &b = rows[portB]->answer;
    EXPECT_EQ(narrow(rows[portA]->address), "127.0.0.1");
    EXPECT_EQ(narrow(a.hostName), narrow(ownHostName()));
    EXPECT_EQ(narrow(b.hostName), narrow(ownHostName()));
    EXPECT_EQ(narrow(a.fingerprint), "AAAA-1111");
    EXPECT_EQ(narrow(b.fingerprint), "BBBB-2222");
    EXPECT_EQ(a.flags, 0);
    EXPECT_EQ(b.flags, SearchServesOneFolder | SearchServesReadOnly);
    EXPECT_EQ(narrow(a.version), PW_VERSION_TEXT);

    {
        SCOPED_TRACE("machines met before, asked directly");
        AppState.recentServers[0] = {L"127.0.0.1", portC};
        AppState.recentServers[1] = {L"127.0.0.1", portA};
        search = searchPorts({});
        ASSERT_EQ(search->foundCount, 2);
        EXPECT_EQ(search->found[0].port, portC);
        EXPECT_EQ(search->found[0].answered, 0);
        EXPECT_EQ(search->found[1].port, portA);
        EXPECT_EQ(search->found[1].answered, 1);
        EXPECT_EQ(narrow(search->found[1].answer.fingerprint), "AAAA-1111");
        memset(AppState.recentServers, 0, sizeof(AppState.recentServers));
    }
    {
        SCOPED_TRACE("a server whose link has closed");
        answering.send("close");
        ASSERT_TRUE(answering.waitFor("CLOSED"));
        rows = answeredByPort(*searchPorts({portA, portB}));
        EXPECT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows.count(portB), 1u);
    }
    // None of it reached a link: no box, no client seen.
    for (HostProcess *host : {&answering, &readOnly, &classic, &quiet})
        for (const std::string &line : (host->drain(), host->history()))
            EXPECT_TRUE(line.rfind("BOX", 0) != 0 && line.rfind("LINK", 0) != 0) << line;
    for (HostProcess *host : {&answering, &readOnly, &classic, &quiet})
        host->end();
    removeTree(folder);
}

}  // namespace

// transfer_codepage_test.cpp: paths on the wire in the thread's ANSI code page: a file whose name is outside
// ASCII pushed, pulled and given a folder, under code page 932 (Japanese) and 1252.
#include "core/protocol_engine.h"

#include "tests/core/peer_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class CodePageTransferTest : public PeerTest {
protected:
    CodePageTransferTest() : PeerTest(ConnectionMode::Server) {}
    void SetUp() override
    {
        PeerTest::SetUp();
        AppState.serverAskedPeerDir = 1;
        // "表" carries a backslash as its second byte in code page 932.
        if (GetACP() == 932) {
            name = L"表計算の報告";
            wireName = "\x95\x5C\x8C\x76\x8E\x5A\x82\xCC\x95\xF1\x8D\x90";
        } else {
            name = L"café résumé";
            wireName = "caf\xE9 r\xE9sum\xE9";
        }
    }
    std::wstring name;
    std::string wireName;
};

TEST_F(CodePageTransferTest, PushedFileKeepsItsName)
{
    std::wstring target = folder + L"\\" + name + L".txt";
    std::string request = "FD" + ansiPath(folder) + "\\" + wireName + ".txt";
    deliver(request);
    EXPECT_EQ(fromUs(&peer), "ACK");
    deliver(blockMessage("FR", 0, "contents"));
    EXPECT_EQ(fromUs(&peer), "ACK");
    EXPECT_TRUE(fileExists(folder + L"\\" + name + L".$TEMP"));
    deliver(senderTrailer("FR"));
    expectFileBytes(target, "contents");
    EXPECT_FALSE(fileExists(folder + L"\\" + name + L".$TEMP"));
    EXPECT_EQ(AppState.transferState, TransferState::Waiting);
}

TEST_F(CodePageTransferTest, PulledFileIsFoundByItsName)
{
    std::wstring source = folder + L"\\" + name + L".bin";
    ASSERT_TRUE(writeFileBytes(source, "pulled bytes"));
    deliver("FC" + ansiPath(folder) + "\\" + wireName + ".bin");
    EXPECT_EQ(fromUs(&peer), blockMessage("FB", 0, "pulled bytes"));
    EXPECT_STREQ(AppState.sendSourcePath, source.c_str());
    deliver("ACK");
    EXPECT_EQ(fromUs(&peer).substr(0, 8), "FB999999");
}

TEST_F(CodePageTransferTest, FolderIsCreatedUnderItsName)
{
    deliver("CD" + ansiPath(folder) + "\\" + wireName);
    EXPECT_EQ(fromUs(&peer), "ACK");
    DWORD attributes = GetFileAttributesW((folder + L"\\" + name).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(CodePageTransferTest, OwnDirectoryRequestGoesOutInTheCodePage)
{
    std::wstring peerFolder = L"C:\\" + name;
    wcscpy(AppState.peerFolder, peerFolder.c_str());
    requestPeerDir();
    EXPECT_EQ(fromUs(&peer), "DDC:\\" + wireName);
}

TEST_F(CodePageTransferTest, FolderTooLongForTheWireGoesOutAsARefusableRequest)
{
    // 200 characters of two bytes each in 932 (or one in 1252: then it fits).
    std::wstring peerFolder = L"C:\\" + std::wstring(200, name[0]);
    wcscpy(AppState.peerFolder, peerFolder.c_str());
    requestPeerDir();
    std::string sent = fromUs(&peer);
    if (GetACP() == 932)
        EXPECT_EQ(sent, "DD");
    else
        EXPECT_EQ(sent, "DD" + ansiPath(peerFolder));
}

} // namespace

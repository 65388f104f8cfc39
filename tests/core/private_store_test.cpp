// private_store_test.cpp: the identity key and the paired machines, each kept in its file beside the INI.
#include "core/app_state.h"
#include "core/identity.h"
#include "core/paired_machines.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

class PrivateStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        folder = makeTempFolder(L"pwkey");
        wcsncpy(AppState.startFolder, folder.c_str(), COUNTOF(AppState.startFolder) - 1);
        reloadPairedMachines();
    }
    void TearDown() override { removeTree(folder); }
    std::wstring folder;
};

// The key is made once and read back the same; a damaged file gives a new key, never a key that cannot sign.
TEST_F(PrivateStoreTest, IdentityIsKeptAndADamagedFileGivesANewOne)
{
    ASSERT_TRUE(loadIdentity());
    std::wstring first = AppState.ownFingerprint;
    EXPECT_EQ(first.size(), 19u);
    EXPECT_EQ(first[4], L'-');
    std::string stored;
    ASSERT_TRUE(readFileBytes(folder + L"\\" + IdentityFileName, &stored));
    EXPECT_TRUE(stored.find("PWK1") == std::string::npos);
    ASSERT_TRUE(loadIdentity());
    EXPECT_EQ(std::wstring(AppState.ownFingerprint), first);
    uint8_t signature[EcdsaSignatureBytes];
    ASSERT_TRUE(identitySign("x", 1, signature));
    EXPECT_TRUE(ecdsaVerify(identityPublicKey(), "x", 1, signature));
    ASSERT_TRUE(writeFileBytes(folder + L"\\" + IdentityFileName, "garbage"));
    ASSERT_TRUE(loadIdentity());
    EXPECT_NE(std::wstring(AppState.ownFingerprint), first);
    ASSERT_TRUE(identitySign("x", 1, signature));
}

// A paired key is known after a restart; the same host name with another key is a changed key; forgetting
// makes it unknown; a name with a line break cannot add a line. Classic answers are kept per address.
TEST_F(PrivateStoreTest, PairedMachinesAndClassicAnswersSurviveARestart)
{
    uint8_t key[EcdsaPublicBytes], other[EcdsaPublicBytes], priv[EcdsaPrivateBytes];
    ASSERT_TRUE(ecdsaMakeKey(key, priv));
    ASSERT_TRUE(ecdsaMakeKey(other, priv));
    EXPECT_EQ(peerStanding(key, L"alpha"), PeerStanding::Unknown);
    ASSERT_TRUE(rememberPairedMachine(key, L"alpha\r\nP\tx", L"127.0.0.1"));
    ASSERT_TRUE(rememberPairedMachine(other, L"beta", L"10.0.0.2"));
    ASSERT_TRUE(rememberClassicAnswer(L"10.0.0.9", false));
    ASSERT_TRUE(rememberClassicAnswer(L"10.0.0.8", true));
    reloadPairedMachines();
    ASSERT_EQ(pairedMachineCount(), 2);
    PairedMachine first;
    ASSERT_TRUE(pairedMachineAt(0, &first));
    EXPECT_STREQ(first.hostName, L"alpha??P?x");
    EXPECT_STREQ(first.address, L"127.0.0.1");
    wchar_t fingerprint[32];
    fingerprintOf(key, fingerprint, COUNTOF(fingerprint));
    EXPECT_STREQ(first.fingerprint, fingerprint);
    EXPECT_TRUE(pairedMachineKnown(fingerprint));
    EXPECT_EQ(peerStanding(key, L"anything"), PeerStanding::Paired);
    EXPECT_EQ(peerStanding(key, L"BETA"), PeerStanding::Paired);
    uint8_t stranger[EcdsaPublicBytes];
    memcpy(stranger, other, sizeof(stranger));
    stranger[63] ^= 1;
    EXPECT_EQ(peerStanding(stranger, L"beta"), PeerStanding::KeyChanged);
    EXPECT_EQ(classicAnswerFor(L"10.0.0.9"), 0);
    EXPECT_EQ(classicAnswerFor(L"10.0.0.8"), 1);
    EXPECT_EQ(classicAnswerFor(L"10.0.0.7"), -1);
    ASSERT_TRUE(forgetPairedMachine(fingerprint));
    EXPECT_FALSE(forgetPairedMachine(fingerprint));
    ASSERT_TRUE(forgetClassicAnswer(L"10.0.0.9"));
    reloadPairedMachines();
    EXPECT_EQ(pairedMachineCount(), 1);
    EXPECT_EQ(peerStanding(key, L"alpha"), PeerStanding::Unknown);
    EXPECT_EQ(classicAnswerFor(L"10.0.0.9"), -1);
}

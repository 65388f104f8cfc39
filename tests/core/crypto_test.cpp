// crypto_test.cpp: each primitive of the private link against its published vectors, as the link calls it, so
// that a platform whose cipher or hash changes is caught here.
#include "core/crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

static std::vector<uint8_t> hex(const char *text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; text[i] != 0 && text[i + 1] != 0; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    return out;
}

static std::string hexOf(const uint8_t *data, int bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < bytes; i++) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

TEST(CryptoTest, HashesAndKeyDerivationMatchTheirVectors)
{
    uint8_t out[64];
    ASSERT_TRUE(sha256("abc", 3, out));
    EXPECT_EQ(hexOf(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // RFC 4231 case 2, the message in two parts as the link hashes its transcript.
    ByteSpan parts[2] = {{"what do ya want ", 16}, {"for nothing?", 12}};
    ASSERT_TRUE(hmacSha256("Jefe", 4, parts, 2, out));
    EXPECT_EQ(hexOf(out, 32), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // RFC 5869 case 1: 42 bytes take two blocks.
    std::vector<uint8_t> ikm(22, 0x0b), salt = hex("000102030405060708090a0b0c"), info = hex("f0f1f2f3f4f5f6f7f8f9");
    ASSERT_TRUE(hkdfSha256(salt.data(), 13, ikm.data(), 22, info.data(), 10, out, 42));
    EXPECT_EQ(hexOf(out, 42), "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
    EXPECT_TRUE(equalSecret(out, out, 42));
    uint8_t other[42];
    memcpy(other, out, 42);
    other[41] ^= 1;
    EXPECT_FALSE(equalSecret(out, other, 42));
}

// NIST's GCM case 14 (key, nonce and text all zero), then a flipped byte of text, tag or header refused.
TEST(CryptoTest, GcmSealsTheVectorAndRefusesAnyChangedByte)
{
    uint8_t key[32] = {};
    uint8_t nonce[12] = {};
    uint8_t plain[16] = {};
    uint8_t sealed[16];
    uint8_t tag[16];
    GcmKey gcm;
    ASSERT_TRUE(gcmKeyMake(&gcm, key));
    ASSERT_TRUE(gcmSeal(&gcm, nonce, nullptr, 0, plain, 16, sealed, tag));
    EXPECT_EQ(hexOf(sealed, 16), "cea7403d4d606b6e074ec5d3baf39d18");
    EXPECT_EQ(hexOf(tag, 16), "d0d1c8a799996bf0265b98b5d48ab919");
    // A record as the link seals it: a header as associated data, a large body in one call.
    std::vector<uint8_t> body(300000), opened(300000), box(300000);
    for (size_t i = 0; i < body.size(); i++)
        body[i] = static_cast<uint8_t>(i * 7);
    uint8_t header[4] = {1, 2, 3, 4};
    nonce[0] = 2;
    ASSERT_TRUE(gcmSeal(&gcm, nonce, header, 4, body.data(), 300000, box.data(), tag));
    ASSERT_TRUE(gcmOpen(&gcm, nonce, header, 4, box.data(), 300000, opened.data(), tag));
    EXPECT_TRUE(opened == body);
    box[123456] ^= 0x20;
    EXPECT_FALSE(gcmOpen(&gcm, nonce, header, 4, box.data(), 300000, opened.data(), tag));
    box[123456] ^= 0x20;
    header[3] ^= 1;
    EXPECT_FALSE(gcmOpen(&gcm, nonce, header, 4, box.data(), 300000, opened.data(), tag));
    header[3] ^= 1;
    tag[15] ^= 1;
    EXPECT_FALSE(gcmOpen(&gcm, nonce, header, 4, box.data(), 300000, opened.data(), tag));
    gcmKeyFree(&gcm);
}

// RFC 7748's Diffie-Hellman example: both public keys and the shared secret from both sides.
TEST(CryptoTest, X25519MatchesTheRfcExample)
{
    std::vector<uint8_t> alice = hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    std::vector<uint8_t> bob = hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    uint8_t alicePublic[32], bobPublic[32], shared1[32], shared2[32];
    x25519Base(alicePublic, alice.data());
    x25519Base(bobPublic, bob.data());
    EXPECT_EQ(hexOf(alicePublic, 32), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(hexOf(bobPublic, 32), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    x25519(shared1, alice.data(), bobPublic);
    x25519(shared2, bob.data(), alicePublic);
    EXPECT_EQ(hexOf(shared1, 32), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(hexOf(shared2, 32), hexOf(shared1, 32));
    // Section 5.2's first vector: a u-coordinate with its top bit set, which is ignored.
    std::vector<uint8_t> scalar = hex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4");
    std::vector<uint8_t> u = hex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c");
    x25519(shared1, scalar.data(), u.data());
    EXPECT_EQ(hexOf(shared1, 32), "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552");
}

// RFC 6979's P-256 key and its signature of "sample" verify; our own key signs what it verifies, and a changed
// text or signature does not verify.
TEST(CryptoTest, EcdsaVerifiesTheRfcSignatureAndItsOwn)
{
    std::vector<uint8_t> publicKey = hex("60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
                                         "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299");
    std::vector<uint8_t> signature = hex("efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
                                         "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8");
    EXPECT_TRUE(ecdsaVerify(publicKey.data(), "sample", 6, signature.data()));
    EXPECT_FALSE(ecdsaVerify(publicKey.data(), "samplf", 6, signature.data()));
    uint8_t ownPublic[64], ownPrivate[96], ownSignature[64];
    ASSERT_TRUE(ecdsaMakeKey(ownPublic, ownPrivate));
    ASSERT_TRUE(ecdsaSign(ownPrivate, "transcript", 10, ownSignature));
    EXPECT_TRUE(ecdsaVerify(ownPublic, "transcript", 10, ownSignature));
    EXPECT_FALSE(ecdsaVerify(publicKey.data(), "transcript", 10, ownSignature));
    ownSignature[5] ^= 1;
    EXPECT_FALSE(ecdsaVerify(ownPublic, "transcript", 10, ownSignature));
    uint8_t a[32] = {}, b[32] = {};
    ASSERT_TRUE(secureRandom(a, 32));
    ASSERT_TRUE(secureRandom(b, 32));
    EXPECT_FALSE(equalSecret(a, b, 32));
}

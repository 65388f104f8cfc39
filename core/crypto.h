// crypto.h: the private link's primitives: randomness, SHA-256, HMAC, HKDF, AES-256-GCM records, ECDSA P-256
// identities (the platform's BCrypt), X25519 (our own: the platform computes no ECDH secret), and a
// constant-time comparison. No key ever leaves these buffers for a log or a window.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <cstdint>

constexpr int Sha256Bytes = 32;
constexpr int AesKeyBytes = 32;
constexpr int GcmNonceBytes = 12;
constexpr int GcmTagBytes = 16;
constexpr int X25519Bytes = 32;
constexpr int EcdsaPublicBytes = 64;    // X and Y of a P-256 point, big-endian
constexpr int EcdsaPrivateBytes = 96;   // X, Y and d
constexpr int EcdsaSignatureBytes = 64; // r and s

// Fills out with the system's cryptographic randomness. False when it has none.
bool secureRandom(void *out, int bytes);

bool sha256(const void *data, int bytes, uint8_t out[Sha256Bytes]);

// HMAC-SHA256 of the concatenation of parts (count of them).
struct ByteSpan {
    const void *data;
    int bytes;
};
bool hmacSha256(const void *key, int keyBytes, const ByteSpan *parts, int count, uint8_t out[Sha256Bytes]);

// HKDF-SHA256: extract with salt, expand with info into outBytes (at most 255 * 32).
bool hkdfSha256(const void *salt, int saltBytes, const void *ikm, int ikmBytes, const void *info, int infoBytes,
                uint8_t *out, int outBytes);

// An AES-256-GCM key, ready for records.
struct GcmKey {
    BCRYPT_KEY_HANDLE handle;
};
bool gcmKeyMake(GcmKey *key, const uint8_t secret[AesKeyBytes]);
void gcmKeyFree(GcmKey *key);
// One call per record: the platform's chained calls give wrong output. out may be in, or apart from it.
bool gcmSeal(const GcmKey *key, const uint8_t nonce[GcmNonceBytes], const void *aad, int aadBytes, const void *in,
             int bytes, void *out, uint8_t tag[GcmTagBytes]);
// False when the tag does not check: nothing of out may then be used.
bool gcmOpen(const GcmKey *key, const uint8_t nonce[GcmNonceBytes], const void *aad, int aadBytes, const void *in,
             int bytes, void *out, const uint8_t tag[GcmTagBytes]);

// ECDSA P-256 over the SHA-256 of data. Keys travel as the plain X || Y (|| d) bytes.
bool ecdsaMakeKey(uint8_t publicKey[EcdsaPublicBytes], uint8_t privateKey[EcdsaPrivateBytes]);
bool ecdsaSign(const uint8_t privateKey[EcdsaPrivateBytes], const void *data, int bytes,
               uint8_t signature[EcdsaSignatureBytes]);
bool ecdsaVerify(const uint8_t publicKey[EcdsaPublicBytes], const void *data, int bytes,
                 const uint8_t signature[EcdsaSignatureBytes]);

// X25519 (scalar times u-coordinate). x25519Base is times the base point 9.
void x25519(uint8_t out[X25519Bytes], const uint8_t scalar[X25519Bytes], const uint8_t point[X25519Bytes]);
void x25519Base(uint8_t out[X25519Bytes], const uint8_t scalar[X25519Bytes]);

// True when the two byte strings are equal; the time taken does not depend on where they differ.
bool equalSecret(const void *a, const void *b, int bytes);

// Overwrites a secret in a way the compiler keeps.
void wipeSecret(void *data, int bytes);

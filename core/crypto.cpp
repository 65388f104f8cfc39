// crypto.cpp: the private link's primitives over BCrypt, and the X25519 of our own (RFC 7748's ladder over
// sixteen 16-bit limbs, no branch or index on a secret).
#include "core/crypto.h"

#include <cstring>

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#endif

// ---- Algorithm handles, opened once and shared by both threads ------------------------------------------------

static BCRYPT_ALG_HANDLE openShared(BCRYPT_ALG_HANDLE volatile *slot, const wchar_t *name, ULONG flags,
                                    bool gcm)
{
    BCRYPT_ALG_HANDLE held = *slot;
    if (held != nullptr)
        return held;
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&opened, name, nullptr, flags)))
        return nullptr;
    if (gcm && !NT_SUCCESS(BCryptSetProperty(opened, BCRYPT_CHAINING_MODE,
                                             reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(BCRYPT_CHAIN_MODE_GCM)),
                                             sizeof(BCRYPT_CHAIN_MODE_GCM), 0))) {
        BCryptCloseAlgorithmProvider(opened, 0);
        return nullptr;
    }
    PVOID before = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile *>(slot), opened, nullptr);
    if (before != nullptr) {
        BCryptCloseAlgorithmProvider(opened, 0);
        return before;
    }
    return opened;
}

static BCRYPT_ALG_HANDLE volatile Sha256Alg;
static BCRYPT_ALG_HANDLE volatile HmacAlg;
static BCRYPT_ALG_HANDLE volatile GcmAlg;
static BCRYPT_ALG_HANDLE volatile EcdsaAlg;

bool secureRandom(void *out, int bytes)
{
    if (bytes <= 0)
        return bytes == 0;
    return NT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(bytes),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

static bool hashParts(BCRYPT_ALG_HANDLE alg, const void *key, int keyBytes, const ByteSpan *parts, int count,
                      uint8_t out[Sha256Bytes])
{
    if (alg == nullptr)
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!NT_SUCCESS(BCryptCreateHash(alg, &hash, nullptr, 0, static_cast<PUCHAR>(const_cast<void *>(key)),
                                     static_cast<ULONG>(keyBytes), 0)))
        return false;
    bool ok = true;
    for (int i = 0; ok && i < count; i++) {
        if (parts[i].bytes > 0)
            ok = NT_SUCCESS(BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void *>(parts[i].data)),
                                           static_cast<ULONG>(parts[i].bytes), 0));
    }
    ok = ok && NT_SUCCESS(BCryptFinishHash(hash, out, Sha256Bytes, 0));
    BCryptDestroyHash(hash);
    return ok;
}

bool sha256(const void *data, int bytes, uint8_t out[Sha256Bytes])
{
    ByteSpan part = {data, bytes};
    return hashParts(openShared(&Sha256Alg, BCRYPT_SHA256_ALGORITHM, 0, false), nullptr, 0, &part, 1, out);
}

bool hmacSha256(const void *key, int keyBytes, const ByteSpan *parts, int count, uint8_t out[Sha256Bytes])
{
    return hashParts(openShared(&HmacAlg, BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG, false), key,
                     keyBytes, parts, count, out);
}

bool hkdfSha256(const void *salt, int saltBytes, const void *ikm, int ikmBytes, const void *info, int infoBytes,
                uint8_t *out, int outBytes)
{
    if (outBytes < 0 || outBytes > 255 * Sha256Bytes)
        return false;
    static const uint8_t zeroSalt[Sha256Bytes] = {};
    if (saltBytes == 0) {
        salt = zeroSalt;
        saltBytes = Sha256Bytes;
    }
    uint8_t prk[Sha256Bytes];
    ByteSpan secret = {ikm, ikmBytes};
    if (!hmacSha256(salt, saltBytes, &secret, 1, prk))
        return false;
    uint8_t block[Sha256Bytes];
    int done = 0;
    bool ok = true;
    for (uint8_t counter = 1; ok && done < outBytes; counter++) {
        ByteSpan parts[3] = {{block, done == 0 ? 0 : Sha256Bytes}, {info, infoBytes}, {&counter, 1}};
        ok = hmacSha256(prk, Sha256Bytes, parts, 3, block);
        int take = outBytes - done < Sha256Bytes ? outBytes - done : Sha256Bytes;
        if (ok)
            memcpy(out + done, block, take);
        done += take;
    }
    wipeSecret(prk, sizeof(prk));
    wipeSecret(block, sizeof(block));
    return ok;
}

// ---- AES-256-GCM ----------------------------------------------------------------------------------------------

bool gcmKeyMake(GcmKey *key, const uint8_t secret[AesKeyBytes])
{
    key->handle = nullptr;
    BCRYPT_ALG_HANDLE alg = openShared(&GcmAlg, BCRYPT_AES_ALGORITHM, 0, true);
    if (alg == nullptr)
        return false;
    return NT_SUCCESS(BCryptGenerateSymmetricKey(alg, &key->handle, nullptr, 0, const_cast<PUCHAR>(secret),
                                                 AesKeyBytes, 0));
}

void gcmKeyFree(GcmKey *key)
{
    if (key->handle != nullptr)
        BCryptDestroyKey(key->handle);
    key->handle = nullptr;
}

static void fillAuthInfo(BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO *info, const uint8_t *nonce, const void *aad,
                         int aadBytes, uint8_t *tag)
{
    BCRYPT_INIT_AUTH_MODE_INFO(*info);
    info->pbNonce = const_cast<PUCHAR>(nonce);
    info->cbNonce = GcmNonceBytes;
    info->pbAuthData = static_cast<PUCHAR>(const_cast<void *>(aad));
    info->cbAuthData = static_cast<ULONG>(aadBytes);
    info->pbTag = tag;
    info->cbTag = GcmTagBytes;
}

bool gcmSeal(const GcmKey *key, const uint8_t nonce[GcmNonceBytes], const void *aad, int aadBytes, const void *in,
             int bytes, void *out, uint8_t tag[GcmTagBytes])
{
    if (key->handle == nullptr || bytes < 0)
        return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    fillAuthInfo(&info, nonce, aad, aadBytes, tag);
    ULONG done = 0;
    NTSTATUS status = BCryptEncrypt(key->handle, static_cast<PUCHAR>(const_cast<void *>(in)),
                                    static_cast<ULONG>(bytes), &info, nullptr, 0, static_cast<PUCHAR>(out),
                                    static_cast<ULONG>(bytes), &done, 0);
    return NT_SUCCESS(status) && done == static_cast<ULONG>(bytes);
}

bool gcmOpen(const GcmKey *key, const uint8_t nonce[GcmNonceBytes], const void *aad, int aadBytes, const void *in,
             int bytes, void *out, const uint8_t tag[GcmTagBytes])
{
    if (key->handle == nullptr || bytes < 0)
        return false;
    uint8_t tagCopy[GcmTagBytes];
    memcpy(tagCopy, tag, GcmTagBytes);
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    fillAuthInfo(&info, nonce, aad, aadBytes, tagCopy);
    ULONG done = 0;
    NTSTATUS status = BCryptDecrypt(key->handle, static_cast<PUCHAR>(const_cast<void *>(in)),
                                    static_cast<ULONG>(bytes), &info, nullptr, 0, static_cast<PUCHAR>(out),
                                    static_cast<ULONG>(bytes), &done, 0);
    return status == 0 && done == static_cast<ULONG>(bytes);
}

// ---- ECDSA P-256 ----------------------------------------------------------------------------------------------

static BCRYPT_KEY_HANDLE importEcdsa(const uint8_t *key, bool isPrivate)
{
    BCRYPT_ALG_HANDLE alg = openShared(&EcdsaAlg, BCRYPT_ECDSA_P256_ALGORITHM, 0, false);
    if (alg == nullptr)
        return nullptr;
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + EcdsaPrivateBytes];
    BCRYPT_ECCKEY_BLOB header;
    header.dwMagic = isPrivate ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    int keyBytes = isPrivate ? EcdsaPrivateBytes : EcdsaPublicBytes;
    memcpy(blob, &header, sizeof(header));
    memcpy(blob + sizeof(header), key, keyBytes);
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status = BCryptImportKeyPair(alg, nullptr, isPrivate ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB,
                                          &handle, blob, static_cast<ULONG>(sizeof(header) + keyBytes), 0);
    wipeSecret(blob, sizeof(blob));
    return NT_SUCCESS(status) ? handle : nullptr;
}

bool ecdsaMakeKey(uint8_t publicKey[EcdsaPublicBytes], uint8_t privateKey[EcdsaPrivateBytes])
{
    BCRYPT_ALG_HANDLE alg = openShared(&EcdsaAlg, BCRYPT_ECDSA_P256_ALGORITHM, 0, false);
    if (alg == nullptr)
        return false;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!NT_SUCCESS(BCryptGenerateKeyPair(alg, &key, 256, 0)))
        return false;
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + EcdsaPrivateBytes];
    ULONG got = 0;
    bool ok = NT_SUCCESS(BCryptFinalizeKeyPair(key, 0)) &&
              NT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof(blob), &got, 0)) &&
              got == sizeof(blob);
    if (ok) {
        memcpy(privateKey, blob + sizeof(BCRYPT_ECCKEY_BLOB), EcdsaPrivateBytes);
        memcpy(publicKey, privateKey, EcdsaPublicBytes);
    }
    wipeSecret(blob, sizeof(blob));
    BCryptDestroyKey(key);
    return ok;
}

bool ecdsaSign(const uint8_t privateKey[EcdsaPrivateBytes], const void *data, int bytes,
               uint8_t signature[EcdsaSignatureBytes])
{
    uint8_t digest[Sha256Bytes];
    if (!sha256(data, bytes, digest))
        return false;
    BCRYPT_KEY_HANDLE key = importEcdsa(privateKey, true);
    if (key == nullptr)
        return false;
    ULONG got = 0;
    bool ok = NT_SUCCESS(BCryptSignHash(key, nullptr, digest, Sha256Bytes, signature, EcdsaSignatureBytes, &got,
                                        0)) &&
              got == EcdsaSignatureBytes;
    BCryptDestroyKey(key);
    return ok;
}

bool ecdsaVerify(const uint8_t publicKey[EcdsaPublicBytes], const void *data, int bytes,
                 const uint8_t signature[EcdsaSignatureBytes])
{
    uint8_t digest[Sha256Bytes];
    if (!sha256(data, bytes, digest))
        return false;
    BCRYPT_KEY_HANDLE key = importEcdsa(publicKey, false);
    if (key == nullptr)
        return false;
    NTSTATUS status = BCryptVerifySignature(key, nullptr, digest, Sha256Bytes, const_cast<PUCHAR>(signature),
                                            EcdsaSignatureBytes, 0);
    BCryptDestroyKey(key);
    return status == 0;
}

// ---- X25519 ---------------------------------------------------------------------------------------------------
// A field element mod 2^255 - 19 is sixteen limbs of 16 bits (limb i weighs 2^(16 i)), held in 64-bit integers
// so that sums and products need no carry until the end of each operation. 2^256 = 38 (mod p).

typedef int64_t Field[16];

static void fieldCarry(Field o)
{
    for (int i = 0; i < 16; i++) {
        int64_t carry = o[i] >> 16;  // floor division: limbs may be negative after a subtraction
        o[i] -= carry * 65536;
        if (i < 15)
            o[i + 1] += carry;
        else
            o[0] += 38 * carry;
    }
}

static void fieldAdd(Field o, const Field a, const Field b)
{
    for (int i = 0; i < 16; i++)
        o[i] = a[i] + b[i];
}

static void fieldSub(Field o, const Field a, const Field b)
{
    for (int i = 0; i < 16; i++)
        o[i] = a[i] - b[i];
}

static void fieldMul(Field o, const Field a, const Field b)
{
    int64_t t[31];
    for (int i = 0; i < 31; i++)
        t[i] = 0;
    for (int i = 0; i < 16; i++) {
        for (int j = 0; j < 16; j++)
            t[i + j] += a[i] * b[j];
    }
    for (int i = 0; i < 15; i++)
        t[i] += 38 * t[i + 16];
    for (int i = 0; i < 16; i++)
        o[i] = t[i];
    fieldCarry(o);
    fieldCarry(o);
}

// Swaps a and b when bit is 1, with the same operations either way.
static void fieldSwap(Field a, Field b, int64_t bit)
{
    int64_t mask = -bit;
    for (int i = 0; i < 16; i++) {
        int64_t t = mask & (a[i] ^ b[i]);
        a[i] ^= t;
        b[i] ^= t;
    }
}

// a^(p - 2): every bit of p - 2 = 2^255 - 21 is set but bits 2 and 4.
static void fieldInvert(Field o, const Field a)
{
    Field c;
    for (int i = 0; i < 16; i++)
        c[i] = a[i];
    for (int bit = 253; bit >= 0; bit--) {
        fieldMul(c, c, c);
        if (bit != 2 && bit != 4)
            fieldMul(c, c, a);
    }
    for (int i = 0; i < 16; i++)
        o[i] = c[i];
}

static void fieldUnpack(Field o, const uint8_t in[32])
{
    for (int i = 0; i < 16; i++)
        o[i] = in[2 * i] + (static_cast<int64_t>(in[2 * i + 1]) << 8);
    o[15] &= 0x7fff;  // the u-coordinate's top bit is ignored
}

// The unique representative below p, little-endian.
static void fieldPack(uint8_t out[32], const Field a)
{
    Field t;
    Field m;
    for (int i = 0; i < 16; i++)
        t[i] = a[i];
    fieldCarry(t);
    fieldCarry(t);
    fieldCarry(t);
    for (int round = 0; round < 2; round++) {
        m[0] = t[0] - 0xffed;
        for (int i = 1; i < 15; i++) {
            m[i] = t[i] - 0xffff - ((m[i - 1] >> 16) & 1);
            m[i - 1] &= 0xffff;
        }
        m[15] = t[15] - 0x7fff - ((m[14] >> 16) & 1);
        int64_t borrow = (m[15] >> 16) & 1;
        m[14] &= 0xffff;
        fieldSwap(t, m, 1 - borrow);
    }
    for (int i = 0; i < 16; i++) {
        out[2 * i] = static_cast<uint8_t>(t[i] & 0xff);
        out[2 * i + 1] = static_cast<uint8_t>((t[i] >> 8) & 0xff);
    }
}

void x25519(uint8_t out[X25519Bytes], const uint8_t scalar[X25519Bytes], const uint8_t point[X25519Bytes])
{
    uint8_t k[32];
    memcpy(k, scalar, 32);
    k[0] &= 248;
    k[31] &= 127;
    k[31] |= 64;
    Field x1, x2, z2, x3, z3, a, aa, b, bb, e, c, d, da, cb, t;
    static const Field a24 = {0xdb41, 1};  // 121665
    fieldUnpack(x1, point);
    for (int i = 0; i < 16; i++) {
        x2[i] = z3[i] = (i == 0);
        z2[i] = 0;
        x3[i] = x1[i];
    }
    int64_t swap = 0;
    for (int bit = 254; bit >= 0; bit--) {
        int64_t kt = (k[bit >> 3] >> (bit & 7)) & 1;
        swap ^= kt;
        fieldSwap(x2, x3, swap);
        fieldSwap(z2, z3, swap);
        swap = kt;
        fieldAdd(a, x2, z2);
        fieldMul(aa, a, a);
        fieldSub(b, x2, z2);
        fieldMul(bb, b, b);
        fieldSub(e, aa, bb);
        fieldAdd(c, x3, z3);
        fieldSub(d, x3, z3);
        fieldMul(da, d, a);
        fieldMul(cb, c, b);
        fieldAdd(t, da, cb);
        fieldMul(x3, t, t);
        fieldSub(t, da, cb);
        fieldMul(t, t, t);
        fieldMul(z3, x1, t);
        fieldMul(x2, aa, bb);
        fieldMul(t, a24, e);
        fieldAdd(t, aa, t);
        fieldMul(z2, e, t);
    }
    fieldSwap(x2, x3, swap);
    fieldSwap(z2, z3, swap);
    fieldInvert(z2, z2);
    fieldMul(x2, x2, z2);
    fieldPack(out, x2);
    wipeSecret(k, sizeof(k));
}

void x25519Base(uint8_t out[X25519Bytes], const uint8_t scalar[X25519Bytes])
{
    static const uint8_t base[32] = {9};
    x25519(out, scalar, base);
}

bool equalSecret(const void *a, const void *b, int bytes)
{
    const volatile uint8_t *x = static_cast<const volatile uint8_t *>(a);
    const volatile uint8_t *y = static_cast<const volatile uint8_t *>(b);
    uint8_t diff = 0;
    for (int i = 0; i < bytes; i++)
        diff |= static_cast<uint8_t>(x[i] ^ y[i]);
    return diff == 0;
}

void wipeSecret(void *data, int bytes)
{
    SecureZeroMemory(data, static_cast<SIZE_T>(bytes));
}

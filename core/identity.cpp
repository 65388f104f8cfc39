// identity.cpp: the identity key pair in its DPAPI-protected file beside the INI, and its fingerprint.
#include "core/identity.h"

#include "core/app_state.h"
#include "core/paths.h"

#include <wincrypt.h>
#include <cstdio>
#include <cstring>

const wchar_t IdentityFileName[] = L"Parcelwight.key";

static const char KeyMagic[4] = {'P', 'W', 'K', '1'};
constexpr int KeyRecordBytes = 4 + EcdsaPrivateBytes;  // the public key is the private blob's first 64 bytes
constexpr int KeyFileMaxBytes = 4096;

// The identity, network thread and UI thread: written once at start, before any link.
static uint8_t OwnPrivateKey[EcdsaPrivateBytes];
static bool OwnKeyLoaded;

static bool identityPath(wchar_t *path, int chars)
{
    return AppState.startFolder[0] != 0 && joinFolderName(AppState.startFolder, IdentityFileName, path, chars);
}

// The key record, unprotected, into OwnPrivateKey when its public half matches its private half.
static bool readKeyFile(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static uint8_t stored[KeyFileMaxBytes];
    DWORD got = 0;
    BOOL read = ReadFile(file, stored, sizeof(stored), &got, nullptr);
    CloseHandle(file);
    if (!read || got == 0 || got >= sizeof(stored))
        return false;
    DATA_BLOB in = {got, stored};
    DATA_BLOB out = {0, nullptr};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    bool ok = out.cbData == KeyRecordBytes && memcmp(out.pbData, KeyMagic, 4) == 0;
    if (ok) {
        memcpy(OwnPrivateKey, out.pbData + 4, EcdsaPrivateBytes);
        // A damaged file (DPAPI under Wine does not notice a changed byte) must not give a key that cannot sign.
        uint8_t probe[EcdsaSignatureBytes];
        ok = ecdsaSign(OwnPrivateKey, "probe", 5, probe) && ecdsaVerify(OwnPrivateKey, "probe", 5, probe);
    }
    wipeSecret(out.pbData, static_cast<int>(out.cbData));
    LocalFree(out.pbData);
    return ok;
}

static bool writeKeyFile(const wchar_t *path)
{
    uint8_t record[KeyRecordBytes];
    memcpy(record, KeyMagic, 4);
    memcpy(record + 4, OwnPrivateKey, EcdsaPrivateBytes);
    DATA_BLOB in = {sizeof(record), record};
    DATA_BLOB out = {0, nullptr};
    BOOL sealed = CryptProtectData(&in, L"Parcelwight", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out);
    wipeSecret(record, sizeof(record));
    if (!sealed)
        return false;
    bool ok = false;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ok = WriteFile(file, out.pbData, out.cbData, &written, nullptr) && written == out.cbData;
        CloseHandle(file);
    }
    LocalFree(out.pbData);
    return ok;
}

bool loadIdentity()
{
    memset(AppState.ownFingerprint, 0, sizeof(AppState.ownFingerprint));
    OwnKeyLoaded = false;
    wchar_t path[PathChars];
    if (!identityPath(path, COUNTOF(path)))
        return false;
    if (!readKeyFile(path)) {
        // No key yet, or one that cannot be used: a new identity. Paired machines then see another key and
        // refuse it until they pair again, which is what a lost key must cost.
        uint8_t publicKey[EcdsaPublicBytes];
        if (!ecdsaMakeKey(publicKey, OwnPrivateKey) || !writeKeyFile(path)) {
            wipeSecret(OwnPrivateKey, sizeof(OwnPrivateKey));
            return false;
        }
    }
    OwnKeyLoaded = true;
    fingerprintOf(OwnPrivateKey, AppState.ownFingerprint, COUNTOF(AppState.ownFingerprint));
    return true;
}

bool identityReady()
{
    return OwnKeyLoaded;
}

const uint8_t *identityPublicKey()
{
    return OwnPrivateKey;
}

bool identitySign(const void *data, int bytes, uint8_t signature[EcdsaSignatureBytes])
{
    return OwnKeyLoaded && ecdsaSign(OwnPrivateKey, data, bytes, signature);
}

void fingerprintOf(const uint8_t publicKey[EcdsaPublicBytes], wchar_t *out, int outChars)
{
    uint8_t digest[Sha256Bytes];
    if (outChars < 20 || !sha256(publicKey, EcdsaPublicBytes, digest)) {
        if (outChars > 0)
            out[0] = 0;
        return;
    }
    _snwprintf(out, outChars, L"%02X%02X-%02X%02X-%02X%02X-%02X%02X", digest[0], digest[1], digest[2], digest[3],
               digest[4], digest[5], digest[6], digest[7]);
    out[outChars - 1] = 0;
}

// identity.h: this instance's long-term key pair, made at its first start and kept beside its INI, and the
// fingerprint users compare.
#pragma once

#include "core/crypto.h"

#include <windows.h>
#include <cstdint>

// The key file beside Parcelwight.ini.
extern const wchar_t IdentityFileName[];

// Loads the key from the start folder's key file, or makes one and saves it there when there is none (or it
// cannot be read), and fills AppState.ownFingerprint. UI thread, at start, before any link opens. False when no
// key could be had: the private link is then not offered.
bool loadIdentity();
// True once loadIdentity has a key.
bool identityReady();
const uint8_t *identityPublicKey();
// Signs data with the identity key; false without one.
bool identitySign(const void *data, int bytes, uint8_t signature[EcdsaSignatureBytes]);

// "ABCD-EF01-2345-6789": the first 8 bytes of the SHA-256 of a public key, in 4 groups of 4. out holds at least 20.
void fingerprintOf(const uint8_t publicKey[EcdsaPublicBytes], wchar_t *out, int outChars);

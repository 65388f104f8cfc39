// private_link.cpp: the private link: the handshake after the agreement (commitment, ephemeral X25519, the code
// both users compare, signatures by the identity keys), the AES-256-GCM records of every later message, and the
// admission of classic peers and of machines not yet paired.
#include "core/private_link.h"
#include "core/send_ops.h"

#include "core/crypto.h"
#include "core/fast_wire.h"
#include "core/identity.h"
#include "core/paired_machines.h"
#include "core/protocol_engine.h"
#include "core/reports.h"
#include "core/ui_ops.h"
#include "core/wire_message.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

const char PrivateCommit[3] = "PC";
const char PrivateServerHello[3] = "PS";
const char PrivateClientHello[3] = "PK";
const char PrivateDecision[3] = "PD";
const char PrivateFinish[3] = "PF";

// A record: plaintext length (4, little-endian, also the associated data), ciphertext, tag.
constexpr int RecordHeaderBytes = 4;
constexpr int RecordPlainMax = FastMessageMax;  // one fast message, the longest anything sends at once
constexpr int RecordBytesMax = RecordHeaderBytes + RecordPlainMax + GcmTagBytes;
constexpr int RecordInBytes = 4 * RecordBytesMax;
constexpr int HostNameBytesMax = 96;
constexpr int HelloBytesMin = X25519Bytes + 32 + EcdsaPublicBytes + 2;  // and the host name
constexpr int TranscriptMax = 3 * (FastHeaderBytes + HelloBytesMin + HostNameBytesMax);
constexpr uint32_t ClientToServer = 1;
constexpr uint32_t ServerToClient = 2;

static const wchar_t LinkCaption[] = L"暗号化";
static const wchar_t HandshakeEndedText[] =
    L"暗号化した接続を始められませんでした。\r\n相手が拒否したか、確認が取れないまま接続が切れました。";
static const wchar_t PairedOnlyClassicText[] =
    L"相手は古い方式（暗号化なし）です。\r\nペアリング済みの相手だけと接続する設定のため、接続を終えます。";
static const wchar_t PairedOnlyUnknownText[] =
    L"相手はペアリングしていない機械です。\r\nペアリング済みの相手だけと接続する設定のため、接続を終えます。";

enum class Stage : int32_t { Fresh = 0, Handshake = 1, ClassicAsked = 2, Admitted = 3, Private = 4 };
enum class Step : int32_t { None = 0, AwaitCommit, AwaitServerHello, AwaitClientHello, AwaitDecision, Confirming };

// One connection's private state. Network thread, except that privateSend runs on whichever thread sends,
// under sendLock.
struct Channel {
    Stage stage;
    Step step;
    int32_t server;
    uint8_t scalar[X25519Bytes];
    uint8_t ownPublic[X25519Bytes];
    uint8_t ownNonce[32];
    uint8_t commit[Sha256Bytes];
    uint8_t peerIdentity[EcdsaPublicBytes];
    wchar_t peerName[64];
    wchar_t peerAddress[AddressTextChars];
    uint8_t transcript[TranscriptMax];
    int32_t transcriptBytes;
    uint8_t transcriptHash[Sha256Bytes];
    wchar_t code[16];
    int32_t ownNeed;     // this side wants both users to compare the code
    int32_t pairing;     // both users compare it
    int32_t asked;       // our user has the question
    int32_t ownSaid;     // our "PF" has gone
    int32_t peerSaid;    // the peer's "PF" checked: it seals from here
    int32_t releaseDue;  // admitted on this pass: tell the loop on its next
    int32_t framerReceiveOut;  // Client: a receive into the framer was out when the peer started sealing
    DWORD since;
    GcmKey sendKey;
    GcmKey receiveKey;
    uint64_t sendSequence;
    uint64_t receiveSequence;
    uint32_t sendDirection;
    uint32_t receiveDirection;
    CRITICAL_SECTION sendLock;
    char *out;           // the record being sent
    char *in;            // records received and not yet opened: inStart .. inStart + inHeld
    int32_t inStart;
    int32_t inHeld;
    char *held;          // Server: a classic request waiting for the user's answer
    int32_t heldBytes;
};

static Channel Channels[PrivateChannelCount];
static INIT_ONCE ChannelsOnce = INIT_ONCE_STATIC_INIT;
// The one question of each kind the user may have open and the channel it is about (-1: none).
static volatile LONG PairingChannel = -1;
static volatile LONG ClassicChannel = -1;
// The answers, written by the UI thread, taken by the network thread: whole words exchanged, never torn.
static volatile LONG PairingAnswer = static_cast<LONG>(UserAnswer::None);
static volatile LONG ClassicPeerAnswer = static_cast<LONG>(UserAnswer::None);
static volatile LONG ClassicPeerRemember = 0;
static DWORD AnswerMs = PairingAnswerMs;

void setPrivateAnswerMs(DWORD ms)
{
    AnswerMs = ms;
}

static BOOL CALLBACK initChannels(PINIT_ONCE, PVOID, PVOID *)
{
    for (int i = 0; i < PrivateChannelCount; i++)
        InitializeCriticalSection(&Channels[i].sendLock);
    return TRUE;
}

static Channel *channelAt(int channel)
{
    InitOnceExecuteOnce(&ChannelsOnce, initChannels, nullptr, nullptr);
    return channel >= 0 && channel < PrivateChannelCount ? &Channels[channel] : nullptr;
}

static SOCKET channelSocket(int channel)
{
    if (channel == PrivateClientChannel)
        return AppState.mainSocket;
    return AppState.clientSlots[channel];
}

void pairingAnswered(bool same)
{
    InterlockedExchange(&PairingAnswer, static_cast<LONG>(same ? UserAnswer::Yes : UserAnswer::No));
}

void classicPeerAnswered(bool allow, bool remember)
{
    // The remembering goes first, so that an answer taken never comes with an older choice.
    InterlockedExchange(&ClassicPeerRemember, remember ? 1 : 0);
    InterlockedExchange(&ClassicPeerAnswer, static_cast<LONG>(allow ? UserAnswer::Yes : UserAnswer::No));
}

UserAnswer takePairingAnswer()
{
    return static_cast<UserAnswer>(InterlockedExchange(&PairingAnswer, static_cast<LONG>(UserAnswer::None)));
}

UserAnswer takeClassicPeerAnswer(bool *remember)
{
    UserAnswer answer =
        static_cast<UserAnswer>(InterlockedExchange(&ClassicPeerAnswer, static_cast<LONG>(UserAnswer::None)));
    bool kept = InterlockedExchange(&ClassicPeerRemember, 0) != 0;
    if (remember != nullptr)
        *remember = answer != UserAnswer::None && kept;
    return answer;
}

int offeredFastVersion()
{
    return identityReady() ? FastPrivateVersion : FastLinkVersion;
}

// ---- Connections ----------------------------------------------------------------------------------------------

static void forgetSecrets(Channel *c)
{
    EnterCriticalSection(&c->sendLock);
    gcmKeyFree(&c->sendKey);
    gcmKeyFree(&c->receiveKey);
    wipeSecret(c->scalar, sizeof(c->scalar));
    c->sendSequence = 0;
    c->receiveSequence = 0;
    c->stage = Stage::Fresh;
    LeaveCriticalSection(&c->sendLock);
}

void privateChannelOpened(int channel)
{
    Channel *c = channelAt(channel);
    if (c == nullptr)
        return;
    privateChannelClosed(channel);
    c->server = channel != PrivateClientChannel;
    memset(c->peerAddress, 0, sizeof(c->peerAddress));
    sockaddr_in address;
    int addressLength = sizeof(address);
    if (getpeername(channelSocket(channel), reinterpret_cast<sockaddr *>(&address), &addressLength) == 0) {
        const unsigned char *b = reinterpret_cast<const unsigned char *>(&address.sin_addr);
        _snwprintf(c->peerAddress, COUNTOF(c->peerAddress) - 1, L"%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    }
    c->since = GetTickCount();
}

void privateChannelClosed(int channel)
{
    Channel *c = channelAt(channel);
    if (c == nullptr)
        return;
    bool told = c->stage == Stage::Handshake && (c->asked || !c->server);
    if (PairingChannel == channel) {
        endPairingQuestion();
        InterlockedExchange(&PairingChannel, -1);
    }
    if (ClassicChannel == channel)
        InterlockedExchange(&ClassicChannel, -1);
    if (told && AppState.linkOpen)
        postReport(HandshakeEndedText, LinkCaption);
    forgetSecrets(c);
    c->step = Step::None;
    c->asked = c->ownSaid = c->peerSaid = c->releaseDue = c->pairing = c->ownNeed = 0;
    c->framerReceiveOut = 0;
    c->inStart = c->inHeld = 0;
    c->heldBytes = 0;
    c->transcriptBytes = 0;
    wipeSecret(c->code, sizeof(c->code));
    if (!c->server || channel == AppState.exchangeSlot) {
        AppState.linkKind = LinkKind::None;
        memset(AppState.peerFingerprint, 0, sizeof(AppState.peerFingerprint));
        memset(AppState.peerMachineName, 0, sizeof(AppState.peerMachineName));
    }
}

// The link kind the user sees, for the connection it shows.
static void showKind(int channel, LinkKind kind, const uint8_t *peerIdentity)
{
    if (channel != PrivateClientChannel && channel != AppState.exchangeSlot)
        return;
    memset(AppState.peerFingerprint, 0, sizeof(AppState.peerFingerprint));
    memset(AppState.peerMachineName, 0, sizeof(AppState.peerMachineName));
    if (peerIdentity != nullptr) {
        fingerprintOf(peerIdentity, AppState.peerFingerprint, COUNTOF(AppState.peerFingerprint));
        wcsncpy(AppState.peerMachineName, channelAt(channel)->peerName, COUNTOF(AppState.peerMachineName) - 1);
    }
    AppState.linkKind = kind;
    refreshStatus();
}

static void admitInClear(int channel, const MessageFramer *framer)
{
    Channel *c = channelAt(channel);
    c->stage = Stage::Admitted;
    c->releaseDue = 1;
    showKind(channel, framer != nullptr && framer->fast ? LinkKind::Fast : LinkKind::Classic, nullptr);
}

bool privateAdmitted(int channel)
{
    Channel *c = channelAt(channel);
    return c == nullptr || (c->stage != Stage::Handshake && c->stage != Stage::ClassicAsked);
}

bool privateLinkReady()
{
    return privateAdmitted(AppState.mode == ConnectionMode::Client ? PrivateClientChannel : AppState.exchangeSlot);
}

// ---- Sending --------------------------------------------------------------------------------------------------

// Sealed or not, the bytes go the one way every message goes: in order, and never holding a thread.
static bool sendRaw(SOCKET s, const char *data, int length)
{
    return sendBytes(s, data, length);
}

// A handshake message, sent as it is and added to the transcript when it belongs to it.
static bool sendHandshake(int channel, const char *tag, const uint8_t *payload, int bytes, bool inTranscript)
{
    Channel *c = channelAt(channel);
    char message[FastHeaderBytes + 256];
    if (bytes > static_cast<int>(sizeof(message)) - FastHeaderBytes)
        return false;
    putFastHeader(message, tag, bytes);
    memcpy(message + FastHeaderBytes, payload, static_cast<size_t>(bytes));
    int length = FastHeaderBytes + bytes;
    if (inTranscript) {
        if (c->transcriptBytes + length > TranscriptMax)
            return false;
        memcpy(c->transcript + c->transcriptBytes, message, static_cast<size_t>(length));
        c->transcriptBytes += length;
    }
    return sendRaw(channelSocket(channel), message, length);
}

static int channelOfSocket(SOCKET s)
{
    if (s == INVALID_SOCKET)
        return -1;
    if (AppState.mode == ConnectionMode::Client)
        return s == AppState.mainSocket ? PrivateClientChannel : -1;
    for (int slot = 0; slot < ClientSlotCount; slot++) {
        if (AppState.clientSlots[slot] == s)
            return slot;
    }
    return -1;
}

static void nonceOf(uint32_t direction, uint64_t sequence, uint8_t nonce[GcmNonceBytes])
{
    putLittleEndian(nonce, direction, 4);
    putLittleEndian(nonce + 4, sequence, 8);
}

bool privateSend(SOCKET s, const char *data, int length, bool *sent)
{
    Channel *c = channelAt(channelOfSocket(s));
    if (c == nullptr)
        return false;
    // Nothing of the program goes out while the peer is being asked about or proven.
    if (c->stage == Stage::Handshake || c->stage == Stage::ClassicAsked) {
        WSASetLastError(WSAECONNABORTED);
        *sent = false;
        return true;
    }
    if (c->stage != Stage::Private)
        return false;
    EnterCriticalSection(&c->sendLock);
    bool ok = c->stage == Stage::Private;
    for (int done = 0; ok && done < length;) {
        int chunk = length - done < RecordPlainMax ? length - done : RecordPlainMax;
        uint8_t nonce[GcmNonceBytes];
        nonceOf(c->sendDirection, c->sendSequence++, nonce);
        putLittleEndian(reinterpret_cast<unsigned char *>(c->out), static_cast<uint64_t>(chunk), 4);
        uint8_t *tag = reinterpret_cast<uint8_t *>(c->out + RecordHeaderBytes + chunk);
        ok = gcmSeal(&c->sendKey, nonce, c->out, RecordHeaderBytes, data + done, chunk, c->out + RecordHeaderBytes,
                     tag) &&
             sendRaw(s, c->out, RecordHeaderBytes + chunk + GcmTagBytes);
        done += chunk;
    }
    LeaveCriticalSection(&c->sendLock);
    if (!ok && WSAGetLastError() == 0)
        WSASetLastError(WSAECONNABORTED);
    *sent = ok;
    return true;
}

// ---- Receiving ------------------------------------------------------------------------------------------------

char *privateReceiveSpace(int channel, int *room)
{
    Channel *c = channelAt(channel);
    if (c == nullptr || !c->peerSaid)
        return nullptr;
    // Nothing is out into the buffer now: what waits moves to its front.
    if (c->inStart > 0) {
        memmove(c->in, c->in + c->inStart, static_cast<size_t>(c->inHeld));
        c->inStart = 0;
    }
    *room = RecordInBytes - c->inHeld;
    return c->in + c->inHeld;
}

bool privateReceivesSealed(int channel)
{
    Channel *c = channelAt(channel);
    return c != nullptr && c->peerSaid;
}

bool privateOpenWaiting(int channel, MessageFramer *framer, bool *added)
{
    *added = false;
    Channel *c = channelAt(channel);
    if (c == nullptr || !c->peerSaid || c->framerReceiveOut)
        return true;
    while (c->inHeld >= RecordHeaderBytes) {
        const char *record = c->in + c->inStart;
        uint64_t plain = getLittleEndian(reinterpret_cast<const unsigned char *>(record), 4);
        if (plain > static_cast<uint64_t>(RecordPlainMax))
            return false;
        int whole = RecordHeaderBytes + static_cast<int>(plain) + GcmTagBytes;
        if (c->inHeld < whole)
            return true;
        int room = 0;
        char *space = framerSpace(framer, &room);
        if (room < static_cast<int>(plain))
            return true;
        uint8_t nonce[GcmNonceBytes];
        nonceOf(c->receiveDirection, c->receiveSequence, nonce);
        if (!gcmOpen(&c->receiveKey, nonce, record, RecordHeaderBytes, record + RecordHeaderBytes,
                     static_cast<int>(plain), space,
                     reinterpret_cast<const uint8_t *>(record + RecordHeaderBytes + plain)))
            return false;
        c->receiveSequence++;
        if (plain > 0) {
            framerReceived(framer, static_cast<int>(plain), GetTickCount());
            *added = true;
        }
        c->inStart += whole;
        c->inHeld -= whole;
    }
    return true;
}

bool privateReceived(int channel, MessageFramer *framer, char *space, int bytes, DWORD now)
{
    (void)now;
    Channel *c = channelAt(channel);
    if (c == nullptr || !c->peerSaid)
        return false;
    char *end = c->in + c->inStart + c->inHeld;
    if (space != end) {
        // Bytes of a receive that went out into the framer before the peer started sealing.
        if (c->inStart > 0) {
            memmove(c->in, c->in + c->inStart, static_cast<size_t>(c->inHeld));
            c->inStart = 0;
        }
        if (bytes > RecordInBytes - c->inHeld)
            return false;
        memcpy(c->in + c->inHeld, space, static_cast<size_t>(bytes));
        c->framerReceiveOut = 0;
    }
    c->inHeld += bytes;
    bool added = false;
    return privateOpenWaiting(channel, framer, &added);
}

// The peer seals from the message just handed out: what the framer holds after it is records.
static bool takeFramerRest(Channel *c, MessageFramer *framer)
{
    int rest = framer->count;
    if (rest > RecordInBytes)
        return false;
    memcpy(c->in, framer->bytes + framer->start, static_cast<size_t>(rest));
    c->inStart = 0;
    c->inHeld = rest;
    framer->count = 0;
    return true;
}

// ---- The handshake --------------------------------------------------------------------------------------------

static bool ensureBuffers(Channel *c)
{
    if (c->out == nullptr)
        c->out = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, RecordBytesMax));
    if (c->in == nullptr)
        c->in = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, RecordInBytes));
    if (c->held == nullptr)
        c->held = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, FastMessageMax));
    return c->out != nullptr && c->in != nullptr && c->held != nullptr;
}

// Our ephemeral key pair and nonce.
static bool makeEphemeral(Channel *c)
{
    if (!secureRandom(c->scalar, X25519Bytes) || !secureRandom(c->ownNonce, sizeof(c->ownNonce)))
        return false;
    x25519Base(c->ownPublic, c->scalar);
    return true;
}

static void commitmentOf(const uint8_t *ephemeral, const uint8_t *nonce, uint8_t out[Sha256Bytes])
{
    uint8_t both[X25519Bytes + 32];
    memcpy(both, ephemeral, X25519Bytes);
    memcpy(both + X25519Bytes, nonce, 32);
    sha256(both, sizeof(both), out);
}

// "PS" or "PK": ephemeral key, nonce, identity key, a flag byte (1: compare the code), host name (a length byte
// and UTF-8).
static bool sendHello(int channel, const char *tag)
{
    Channel *c = channelAt(channel);
    uint8_t payload[HelloBytesMin + HostNameBytesMax];
    memcpy(payload, c->ownPublic, X25519Bytes);
    memcpy(payload + X25519Bytes, c->ownNonce, 32);
    memcpy(payload + X25519Bytes + 32, identityPublicKey(), EcdsaPublicBytes);
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD hostChars = COUNTOF(host);
    if (!GetComputerNameW(host, &hostChars))
        hostChars = 0;
    int nameBytes = WideCharToMultiByte(CP_UTF8, 0, host, static_cast<int>(hostChars),
                                        reinterpret_cast<char *>(payload + HelloBytesMin), HostNameBytesMax, nullptr,
                                        nullptr);
    if (nameBytes < 0)
        nameBytes = 0;
    payload[HelloBytesMin - 2] = static_cast<uint8_t>(c->ownNeed ? 1 : 0);
    payload[HelloBytesMin - 1] = static_cast<uint8_t>(nameBytes);
    return sendHandshake(channel, tag, payload, HelloBytesMin + nameBytes, true);
}

// The peer's hello into the channel. False when it is malformed.
static bool takeHello(Channel *c, const unsigned char *payload, int bytes, uint8_t peerPublic[X25519Bytes],
                      uint8_t peerNonce[32], bool *peerWants)
{
    if (bytes < HelloBytesMin || payload[HelloBytesMin - 1] != bytes - HelloBytesMin || payload[HelloBytesMin - 2] > 1)
        return false;
    *peerWants = payload[HelloBytesMin - 2] != 0;
    memcpy(peerPublic, payload, X25519Bytes);
    memcpy(peerNonce, payload + X25519Bytes, 32);
    memcpy(c->peerIdentity, payload + X25519Bytes + 32, EcdsaPublicBytes);
    memset(c->peerName, 0, sizeof(c->peerName));
    int nameBytes = bytes - HelloBytesMin;
    if (nameBytes > 0 &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char *>(payload + HelloBytesMin),
                            nameBytes, c->peerName, COUNTOF(c->peerName) - 1) <= 0)
        return false;
    for (wchar_t *p = c->peerName; *p != 0; p++) {
        if (*p < 0x20)
            *p = L'?';
    }
    return true;
}

static bool addToTranscript(Channel *c, const char *message, int length)
{
    if (c->transcriptBytes + length > TranscriptMax)
        return false;
    memcpy(c->transcript + c->transcriptBytes, message, static_cast<size_t>(length));
    c->transcriptBytes += length;
    return true;
}

// The shared secret, the direction keys and the code, from the whole transcript. The code only lets two users
// see that they hold the same transcript; it is never a key.
static bool deriveKeys(Channel *c, const uint8_t peerPublic[X25519Bytes])
{
    uint8_t shared[X25519Bytes];
    x25519(shared, c->scalar, peerPublic);
    wipeSecret(c->scalar, sizeof(c->scalar));
    static const uint8_t zero[X25519Bytes] = {};
    bool ok = !equalSecret(shared, zero, X25519Bytes) && sha256(c->transcript, c->transcriptBytes, c->transcriptHash);
    uint8_t keys[2 * AesKeyBytes + 8];
    static const char info[] = "parcelwight private link v1";
    ok = ok && hkdfSha256(c->transcriptHash, Sha256Bytes, shared, X25519Bytes, info, sizeof(info) - 1, keys,
                          sizeof(keys));
    wipeSecret(shared, sizeof(shared));
    if (!ok)
        return false;
    const uint8_t *clientKey = keys;
    const uint8_t *serverKey = keys + AesKeyBytes;
    ok = gcmKeyMake(&c->sendKey, c->server ? serverKey : clientKey) &&
         gcmKeyMake(&c->receiveKey, c->server ? clientKey : serverKey);
    c->sendDirection = c->server ? ServerToClient : ClientToServer;
    c->receiveDirection = c->server ? ClientToServer : ServerToClient;
    uint64_t number = getLittleEndian(keys + 2 * AesKeyBytes, 8) % 1000000u;
    _snwprintf(c->code, COUNTOF(c->code) - 1, L"%03u %03u", static_cast<unsigned>(number / 1000),
               static_cast<unsigned>(number % 1000));
    wipeSecret(keys, sizeof(keys));
    return ok;
}

// What this side makes of the peer's identity: false when it refuses it (the user has been told).
static bool judgePeer(int channel)
{
    Channel *c = channelAt(channel);
    PeerStanding standing = peerStanding(c->peerIdentity, c->peerName);
    if (standing == PeerStanding::KeyChanged) {
        warnKeyChanged(c->peerName, c->peerAddress);
        return false;
    }
    c->ownNeed = standing == PeerStanding::Unknown && AppState.admission == AdmissionMode::Ask;
    if (standing == PeerStanding::Unknown && AppState.admission == AdmissionMode::PairedOnly) {
        if (!c->server)
            postReport(PairedOnlyUnknownText, LinkCaption);
        return false;
    }
    return true;
}

static void signatureInput(const Channel *c, bool ofServer, uint8_t out[16 + Sha256Bytes])
{
    memcpy(out, ofServer ? "PW server finish" : "PW client finish", 16);
    memcpy(out + 16, c->transcriptHash, Sha256Bytes);
}

static void openIfBothSaid(int channel)
{
    Channel *c = channelAt(channel);
    if (!c->ownSaid || !c->peerSaid)
        return;
    if (c->pairing)
        rememberPairedMachine(c->peerIdentity, c->peerName, c->peerAddress);
    c->stage = Stage::Private;
    c->step = Step::None;
    c->releaseDue = 1;
    showKind(channel, LinkKind::Private, c->peerIdentity);
}

// Our side says yes: its signature goes, and from then on it seals.
static bool sayFinish(int channel)
{
    Channel *c = channelAt(channel);
    uint8_t input[16 + Sha256Bytes];
    signatureInput(c, c->server != 0, input);
    uint8_t signature[EcdsaSignatureBytes];
    if (!identitySign(input, sizeof(input), signature) ||
        !sendHandshake(channel, PrivateFinish, signature, EcdsaSignatureBytes, false))
        return false;
    c->ownSaid = 1;
    openIfBothSaid(channel);
    return true;
}

// Both sides have the keys: ask our user when either side wants the code compared, else say yes at once.
static bool confirm(int channel)
{
    Channel *c = channelAt(channel);
    c->step = Step::Confirming;
    c->since = GetTickCount();
    if (!c->pairing)
        return sayFinish(channel);
    if (InterlockedCompareExchange(&PairingChannel, channel, -1) != -1)
        return false;  // another machine is being paired: this one tries again later
    takePairingAnswer();
    c->asked = 1;
    wchar_t fingerprint[32];
    fingerprintOf(c->peerIdentity, fingerprint, COUNTOF(fingerprint));
    askPairing(c->code, c->peerName, fingerprint);
    return true;
}

static bool takeFinish(int channel, const unsigned char *payload, int bytes, MessageFramer *framer)
{
    Channel *c = channelAt(channel);
    if (bytes != EcdsaSignatureBytes || c->peerSaid)
        return false;
    uint8_t input[16 + Sha256Bytes];
    signatureInput(c, !c->server, input);
    if (!ecdsaVerify(c->peerIdentity, input, sizeof(input), payload) || !takeFramerRest(c, framer))
        return false;
    if (!c->server && AppState.clientReceivePending)
        c->framerReceiveOut = 1;
    c->peerSaid = 1;
    openIfBothSaid(channel);
    return true;
}

static bool serverStep(int channel, const char *message, int length, MessageFramer *framer)
{
    Channel *c = channelAt(channel);
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, length, &bytes);
    if (c->step == Step::AwaitCommit && isFast(message, length, PrivateCommit) && bytes == Sha256Bytes) {
        memcpy(c->commit, payload, Sha256Bytes);
        c->step = Step::AwaitClientHello;
        return addToTranscript(c, message, length) && makeEphemeral(c) && sendHello(channel, PrivateServerHello);
    }
    if (c->step == Step::AwaitClientHello && isFast(message, length, PrivateClientHello)) {
        uint8_t peerPublic[X25519Bytes];
        uint8_t peerNonce[32];
        uint8_t opened[Sha256Bytes];
        bool clientWants = false;
        if (!takeHello(c, payload, bytes, peerPublic, peerNonce, &clientWants))
            return false;
        commitmentOf(peerPublic, peerNonce, opened);
        if (!equalSecret(opened, c->commit, Sha256Bytes) || !addToTranscript(c, message, length) ||
            !deriveKeys(c, peerPublic) || !judgePeer(channel))
            return false;
        // The client's wish came with its hello; ours joins it, and the client hears the result.
        c->pairing = clientWants || c->ownNeed;
        uint8_t decision = static_cast<uint8_t>(c->pairing);
        return sendHandshake(channel, PrivateDecision, &decision, 1, false) && confirm(channel);
    }
    if (c->step == Step::Confirming && isFast(message, length, PrivateFinish))
        return takeFinish(channel, payload, bytes, framer);
    return false;
}

static bool clientStep(int channel, const char *message, int length, MessageFramer *framer)
{
    Channel *c = channelAt(channel);
    int bytes = 0;
    const unsigned char *payload = fastPayload(message, length, &bytes);
    if (c->step == Step::AwaitServerHello && isFast(message, length, PrivateServerHello)) {
        uint8_t peerPublic[X25519Bytes];
        uint8_t peerNonce[32];
        bool serverWants = false;
        if (!takeHello(c, payload, bytes, peerPublic, peerNonce, &serverWants) ||
            !addToTranscript(c, message, length) || !judgePeer(channel) || !sendHello(channel, PrivateClientHello) ||
            !deriveKeys(c, peerPublic))
            return false;
        c->step = Step::AwaitDecision;
        return true;
    }
    if (c->step == Step::AwaitDecision && isFast(message, length, PrivateDecision) && bytes == 1 && payload[0] <= 1) {
        c->pairing = payload[0] != 0 || c->ownNeed;
        return confirm(channel);
    }
    if (c->step == Step::Confirming && isFast(message, length, PrivateFinish))
        return takeFinish(channel, payload, bytes, framer);
    return false;
}

// ---- Admission ------------------------------------------------------------------------------------------------

bool isServedRequest(const char *message, int length, const MessageFramer *framer)
{
    if (framer->fast)
        return isFastRequest(message, length);
    if (length < 2)
        return false;
    return memcmp(message, DirRequestTag, 2) == 0 || memcmp(message, PushRequestTag, 2) == 0 ||
           memcmp(message, PullRequestTag, 2) == 0 || memcmp(message, FolderRequestTag, 2) == 0;
}

// The agreement's request, which every peer may send before it is admitted.
static bool isAgreementRequest(const char *message, int length)
{
    int probe = static_cast<int>(strlen(FastProbeFolderA));
    int text = 0;
    while (text < length && message[text] != 0)
        text++;
    return text == probe + 2 && memcmp(message, DirRequestTag, 2) == 0 &&
           memcmp(message + 2, FastProbeFolderA, static_cast<size_t>(probe)) == 0;
}

// A peer that cannot be private: served as before, refused, or asked about. Close when refused.
static PrivateVerdict screenClassic(int channel, const char *message, int length, const MessageFramer *framer)
{
    Channel *c = channelAt(channel);
    int kept = AppState.admission == AdmissionMode::Ask ? classicAnswerFor(c->peerAddress) : -1;
    if (AppState.admission == AdmissionMode::Everyone || kept == 1) {
        admitInClear(channel, framer);
        c->releaseDue = 0;
        return PrivateVerdict::Serve;
    }
    if (AppState.admission == AdmissionMode::PairedOnly || kept == 0 || length > FastMessageMax ||
        !ensureBuffers(c) || InterlockedCompareExchange(&ClassicChannel, channel, -1) != -1)
        return PrivateVerdict::Close;
    memcpy(c->held, message, static_cast<size_t>(length));
    c->heldBytes = length;
    c->stage = Stage::ClassicAsked;
    c->since = GetTickCount();
    takeClassicPeerAnswer(nullptr);
    askClassicPeer(c->peerAddress);
    return PrivateVerdict::Consumed;
}

bool privateAfterAgreement(int channel, int peerVersion)
{
    Channel *c = channelAt(channel);
    if (c == nullptr || c->stage != Stage::Fresh)
        return true;
    bool both = peerVersion >= FastPrivateVersion && offeredFastVersion() >= FastPrivateVersion;
    if (both) {
        c->stage = Stage::Handshake;
        c->since = GetTickCount();
        c->transcriptBytes = 0;
        if (!ensureBuffers(c))
            return false;
        if (c->server) {
            c->step = Step::AwaitCommit;
            return true;
        }
        c->step = Step::AwaitServerHello;
        uint8_t commit[Sha256Bytes];
        if (!makeEphemeral(c))
            return false;
        commitmentOf(c->ownPublic, c->ownNonce, commit);
        sendHandshake(channel, PrivateCommit, commit, Sha256Bytes, true);
        return false;
    }
    if (c->server)
        return true;  // screened at its first request
    // Client: the server cannot be private.
    int kept = AppState.admission == AdmissionMode::Ask ? classicAnswerFor(c->peerAddress) : -1;
    if (AppState.admission == AdmissionMode::Everyone || kept == 1) {
        admitInClear(channel, &AppState.clientFramer);
        c->releaseDue = 0;
        return true;
    }
    if (AppState.admission == AdmissionMode::PairedOnly || kept == 0 ||
        InterlockedCompareExchange(&ClassicChannel, channel, -1) != -1) {
        if (AppState.admission == AdmissionMode::PairedOnly)
            postReport(PairedOnlyClassicText, LinkCaption);
        scheduleLinkClose();
        return false;
    }
    if (!ensureBuffers(c)) {
        scheduleLinkClose();
        return false;
    }
    c->stage = Stage::ClassicAsked;
    c->since = GetTickCount();
    takeClassicPeerAnswer(nullptr);
    askClassicPeer(c->peerAddress);
    return false;
}

PrivateVerdict privateScreen(int channel, const char *message, int length, MessageFramer *framer)
{
    Channel *c = channelAt(channel);
    if (c == nullptr)
        return PrivateVerdict::Serve;
    switch (c->stage) {
    case Stage::Admitted:
    case Stage::Private:
        return PrivateVerdict::Serve;
    case Stage::ClassicAsked:
        // A lock-step peer waits for our answer to its one message, which is kept for the user's yes.
        if (c->heldBytes == 0 && length <= FastMessageMax) {
            memcpy(c->held, message, static_cast<size_t>(length));
            c->heldBytes = length;
        }
        return PrivateVerdict::Consumed;
    case Stage::Handshake: {
        if (!framer->fast)
            return PrivateVerdict::Close;
        bool ok = c->server ? serverStep(channel, message, length, framer) : clientStep(channel, message, length, framer);
        return ok ? PrivateVerdict::Consumed : PrivateVerdict::Close;
    }
    case Stage::Fresh:
        break;
    }
    if (!c->server || isAgreementRequest(message, length) || !isServedRequest(message, length, framer))
        return PrivateVerdict::Serve;
    return screenClassic(channel, message, length, framer);
}

PrivateEvent privatePass(int channel, const char **message, int *length)
{
    *message = nullptr;
    *length = 0;
    Channel *c = channelAt(channel);
    if (c == nullptr)
        return PrivateEvent::None;
    if (c->releaseDue) {
        c->releaseDue = 0;
        if (c->heldBytes > 0) {
            *message = c->held;
            *length = c->heldBytes;
            c->heldBytes = 0;
        }
        return PrivateEvent::Release;
    }
    if (c->stage == Stage::ClassicAsked && ClassicChannel == channel) {
        bool remember = false;
        UserAnswer answer = takeClassicPeerAnswer(&remember);
        if (answer != UserAnswer::None) {
            InterlockedExchange(&ClassicChannel, -1);
            if (remember)
                rememberClassicAnswer(c->peerAddress, answer == UserAnswer::Yes);
            if (answer == UserAnswer::No)
                return PrivateEvent::Close;
            admitInClear(channel, channel == PrivateClientChannel ? &AppState.clientFramer
                                                                  : &AppState.slotFramers[channel]);
            return privatePass(channel, message, length);
        }
    }
    if (c->stage == Stage::Handshake && c->asked && PairingChannel == channel) {
        UserAnswer answer = takePairingAnswer();
        if (answer != UserAnswer::None) {
            c->asked = 0;
            InterlockedExchange(&PairingChannel, -1);
            if (answer == UserAnswer::No || !sayFinish(channel))
                return PrivateEvent::Close;
            return privatePass(channel, message, length);
        }
    }
    bool waiting = c->stage == Stage::Handshake || c->stage == Stage::ClassicAsked;
    if (waiting && GetTickCount() - c->since >= AnswerMs)
        return PrivateEvent::Close;
    return PrivateEvent::None;
}

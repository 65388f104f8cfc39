// private_prompts.cpp: the program's side of the private link's questions (core/ui_ops.h): the network thread
// leaves the facts here and posts; the UI thread shows the question and never keeps the network thread waiting.
#include "app/private_prompts.h"

#include "core/app_state.h"
#include "core/message_box.h"
#include "core/ui_ops.h"
#include "dialogs/classic_peer_dialog.h"
#include "dialogs/pairing_dialog.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <cwchar>

enum QuestionKind : WPARAM { AskPairingKind = 1, EndPairingKind = 2, AskClassicKind = 3, KeyChangedKind = 4 };

struct QuestionFacts {
    wchar_t code[16];
    wchar_t peerName[64];
    wchar_t peerFingerprint[32];
    wchar_t address[AddressTextChars];
};

// Written by the network thread, read by the UI thread, each under the lock; one record per kind, so that a
// later question of another kind never overwrites one not yet shown.
static SRWLOCK FactsLock = SRWLOCK_INIT;
static QuestionFacts PairingFacts;
static QuestionFacts ClassicFacts;
static QuestionFacts KeyChangedFacts;

static void copyField(wchar_t *to, size_t toChars, const wchar_t *from)
{
    memset(to, 0, toChars * sizeof(wchar_t));
    if (from != nullptr)
        wcsncpy(to, from, toChars - 1);
}

static void post(QuestionKind kind, QuestionFacts *facts, const wchar_t *code, const wchar_t *peerName,
                 const wchar_t *peerFingerprint, const wchar_t *address)
{
    if (facts != nullptr) {
        AcquireSRWLockExclusive(&FactsLock);
        copyField(facts->code, COUNTOF(facts->code), code);
        copyField(facts->peerName, COUNTOF(facts->peerName), peerName);
        copyField(facts->peerFingerprint, COUNTOF(facts->peerFingerprint), peerFingerprint);
        copyField(facts->address, COUNTOF(facts->address), address);
        ReleaseSRWLockExclusive(&FactsLock);
    }
    HWND window = AppState.mainWindow;
    if (window != nullptr)
        PostMessageW(window, WM_PRIVATE_QUESTION, kind, 0);
}

void askPairing(const wchar_t *code, const wchar_t *peerName, const wchar_t *peerFingerprint)
{
    post(AskPairingKind, &PairingFacts, code, peerName, peerFingerprint, nullptr);
}

void endPairingQuestion()
{
    post(EndPairingKind, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void askClassicPeer(const wchar_t *address)
{
    post(AskClassicKind, &ClassicFacts, nullptr, nullptr, nullptr, address);
}

void warnKeyChanged(const wchar_t *peerName, const wchar_t *address)
{
    post(KeyChangedKind, &KeyChangedFacts, nullptr, peerName, nullptr, address);
}

static void takeFacts(const QuestionFacts *facts, QuestionFacts *out)
{
    AcquireSRWLockShared(&FactsLock);
    memcpy(out, facts, sizeof(*out));
    ReleaseSRWLockShared(&FactsLock);
}

// Loud on purpose: the machine the user paired with may be another one now.
static void showKeyChanged(HWND window, const QuestionFacts &facts)
{
    wchar_t text[640];
    memset(text, 0, sizeof(text));
    _snwprintf(text, COUNTOF(text) - 1,
               L"%.63s（%.15s）の鍵が、ペアリングしたときと違います。\r\n"
               L"別のマシンがなりすましている恐れがあるため、接続を断りました。\r\n\r\n"
               L"相手側のソフトを入れ直したなど理由がはっきりしているときだけ、「接続→ペアリング済みのマシン」で"
               L"このマシンを削除し、もう一度ペアリングして下さい。",
               facts.peerName[0] != 0 ? facts.peerName : L"相手", facts.address);
    showMessageBox(window, text, L"警告：相手の鍵が違います", MB_OK | MB_ICONWARNING);
}

void showPrivateQuestion(HWND window, WPARAM which)
{
    QuestionFacts facts;
    switch (which) {
    case AskPairingKind:
        takeFacts(&PairingFacts, &facts);
        openPairingDialog(window, facts.code, facts.peerName, facts.peerFingerprint, PairingSeconds);
        break;
    case EndPairingKind:
        endPairingDialog();
        break;
    case AskClassicKind:
        takeFacts(&ClassicFacts, &facts);
        openClassicPeerDialog(window, facts.address);
        break;
    case KeyChangedKind:
        takeFacts(&KeyChangedFacts, &facts);
        showKeyChanged(window, facts);
        break;
    default:
        break;
    }
}

bool privateQuestionMessage(MSG *message)
{
    HWND questions[2] = {pairingDialogWindow(), classicPeerDialogWindow()};
    for (HWND question : questions)
        if (question != nullptr && IsDialogMessageW(question, message))
            return true;
    return false;
}

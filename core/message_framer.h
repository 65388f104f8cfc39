// message_framer.h: cuts one connection's byte stream into protocol messages by their structure, whatever
// pieces TCP delivers them in. Pure: no sockets, no clock of its own (the caller passes the tick count).
#pragma once

#include <windows.h>
#include <cstdint>

// A message whose end its structure does not fix (a request "DD", "FD", "FC", "CD", or a last short block) is
// taken as whole once the stream has been quiet this long. In the lock-step the peer then waits for our
// answer, so nothing more can belong to it. Each request and each file's last short block pays this once.
constexpr DWORD QuietWindowMs = 30;

// Holds several whole messages of the fast link, the longest of either link: a large receive never has to wait
// for the message before it to be handled, and the bytes that wait are moved to the front only now and then.
constexpr int FramerBufferBytes = 1024 * 1024;

// What the bytes at the front of a stream are.
enum class FrameCut : int32_t {
    Complete = 0,   // a whole message of *length bytes
    NeedMore = 1,   // the start of a message whose structure says more bytes are coming
    OpenEnded = 2,  // may already be whole; only a quiet stream closes it
    Garbage = 3,    // can be no message
};

// Cuts the first count bytes of data: the rule set, with no state.
FrameCut cutMessage(const char *data, int count, int *length);

struct MessageFramer {
    char bytes[FramerBufferBytes];
    int32_t start;        // where the bytes waiting to be cut begin; the message handed out last lies before it
    int32_t count;        // bytes waiting to be cut
    int32_t discarding;   // after garbage: every byte is dropped until the stream is quiet
    int32_t garbageHeld;  // classic: garbage was dropped; it is reported once the stream is quiet
    int32_t fast;         // the connection has agreed on the fast link: messages say their own length
    int32_t utf8;         // and on names in UTF-8 (see core/text_codec.h)
    int32_t trees;        // and on whole folders in one exchange (see core/fast_tree.h)
    DWORD lastArrival;    // tick of the last bytes received
    DWORD frontSince;     // tick by which the first bytes of the message at the front had come
};

enum class FramerEvent : int32_t {
    None = 0,     // nothing to hand on now
    Message = 1,  // a whole message, in place in the framer's buffer
    Garbage = 2,  // bytes that can be no message arrived (or a start the quiet stream left unfinished): answer
                  // them once. On the classic link it comes once the stream is quiet, and everything before it
                  // was the garbage: a lock-step peer sends its next message only once it has our answer, so
                  // whatever comes after the answer is new. On the fast link it comes at once, and the rest is
                  // dropped until the stream is quiet.
};

void resetFramer(MessageFramer *framer);

// Where the next receive goes and how many bytes it may bring.
char *framerSpace(MessageFramer *framer, int *room);

// The receive put bytes into framerSpace at tick now.
void framerReceived(MessageFramer *framer, int bytes, DWORD now);

// The same for a receive that was out while messages were handed on: its bytes lie at space, where
// framerSpace put them, and move to the end of what is held now.
void framerReceivedAt(MessageFramer *framer, const char *space, int bytes, DWORD now);

// The next message, in place: *message points into the framer's buffer and stays valid until the next call
// or the next receive. Call until it returns None; call again when framerQuietDue has passed.
FramerEvent nextMessage(MessageFramer *framer, DWORD now, const char **message, int *length);

// Fast link: a message that has not become whole within bound of its first bytes is no message of a working
// peer (one that trickles a byte at a time would hold the exchange for ever). It is dropped, with the rest until
// the stream is quiet, and Garbage returned; otherwise None.
FramerEvent expireUnfinished(MessageFramer *framer, DWORD now, DWORD bound);

// Milliseconds from now until the quiet window closes what is held; INFINITE when nothing is.
DWORD framerQuietDue(const MessageFramer *framer, DWORD now);

// True while bytes of an unfinished message are held.
bool framerHolding(const MessageFramer *framer);

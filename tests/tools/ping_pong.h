// ping_pong.h: the bound every lock-step exchange of the link is measured against: one 1008-byte message
// answered by 3 bytes, back and forth over a loopback connection, as fast as the sockets allow.
#pragma once

#include <cstddef>

// A delay in each direction (ms) for the pairs below: 0 is plain loopback, more goes through a delaying relay.
void setPairDelay(int ms);

// Round trips per second over `seconds` (at least 200 round trips); 0 when the sockets fail.
double pingPongRate(double seconds = 1.0);

// Megabytes per second of a bare TCP stream of bytes over loopback (128 KiB sends, one reader); 0 on failure.
double bareStreamRate(size_t bytes);

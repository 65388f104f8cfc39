// crc32c.h: the digest of a whole file on the fast link (CRC-32C, the Castagnoli polynomial).
#pragma once

#include <cstddef>
#include <cstdint>

// Continues crc (0 to start) over length bytes of data; the result is the digest of everything so far.
uint32_t crc32cUpdate(uint32_t crc, const void *data, size_t length);

// The same from the tables alone, as a processor without the CRC instruction computes it.
uint32_t crc32cByTables(uint32_t crc, const void *data, size_t length);

// crc32c.cpp: CRC-32C eight bytes at a time from eight tables, fast enough to keep up with the link.
// The tables are constant once made, so resetAppState leaves them be.
#include "core/crc32c.h"

static uint32_t tables[8][256];
static volatile long tablesReady = 0;

static void buildTables()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        tables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = tables[0][n];
        for (int t = 1; t < 8; t++) {
            c = tables[0][c & 0xFF] ^ (c >> 8);
            tables[t][n] = c;
        }
    }
    tablesReady = 1;
}

uint32_t crc32cUpdate(uint32_t crc, const void *data, size_t length)
{
    // Both threads may digest; building the tables twice writes the same values.
    if (!tablesReady)
        buildTables();
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint32_t c = ~crc;
    while (length >= 8) {
        uint32_t low = c ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                            static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        c = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
            tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
        p += 8;
        length -= 8;
    }
    while (length-- > 0)
        c = tables[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

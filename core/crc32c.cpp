// crc32c.cpp: CRC-32C by the processor's own instruction where it has one (SSE 4.2, every x86-64 processor of
// the last fifteen years), else eight bytes at a time from eight tables. The tables and the processor check are
// constant once made, so resetAppState leaves them be.
#include "core/crc32c.h"

#include <cstring>

#if defined(_M_X64) || defined(__x86_64__)
#include <nmmintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define PW_CRC_INSTRUCTION
#else
#include <cpuid.h>
#define PW_CRC_INSTRUCTION __attribute__((target("sse4.2")))
#endif
#define PW_HAS_CRC_INSTRUCTION 1
#endif

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

uint32_t crc32cByTables(uint32_t crc, const void *data, size_t length)
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

#ifdef PW_HAS_CRC_INSTRUCTION
static volatile long instructionKnown = 0;  // 0 not asked yet, 1 present, 2 absent

static bool hasCrcInstruction()
{
    if (instructionKnown == 0) {
        unsigned int registers[4] = {0, 0, 0, 0};
#if defined(_MSC_VER)
        int info[4];
        __cpuid(info, 1);
        registers[2] = static_cast<unsigned int>(info[2]);
#else
        __get_cpuid(1, &registers[0], &registers[1], &registers[2], &registers[3]);
#endif
        instructionKnown = (registers[2] & (1u << 20)) != 0 ? 1 : 2;
    }
    return instructionKnown == 1;
}

PW_CRC_INSTRUCTION static uint32_t crcByInstruction(uint32_t crc, const unsigned char *p, size_t length)
{
    uint64_t c = ~crc;
    while (length >= 8) {
        uint64_t word;
        memcpy(&word, p, 8);
        c = _mm_crc32_u64(c, word);
        p += 8;
        length -= 8;
    }
    uint32_t tail = static_cast<uint32_t>(c);
    while (length-- > 0)
        tail = _mm_crc32_u8(tail, *p++);
    return ~tail;
}
#endif

uint32_t crc32cUpdate(uint32_t crc, const void *data, size_t length)
{
#ifdef PW_HAS_CRC_INSTRUCTION
    if (hasCrcInstruction())
        return crcByInstruction(crc, static_cast<const unsigned char *>(data), length);
#endif
    return crc32cByTables(crc, data, length);
}

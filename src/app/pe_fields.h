// What both readers of a program file share: where its PE headers lie, and
// its little-endian fields, read from its bytes (the caller has checked that
// they lie inside them).
#pragma once

#include <cstddef>
#include <cstdint>

const size_t PE_OFFSET_FIELD = 0x3C;   // in the DOS header: the PE signature's offset
const size_t FILE_HEADER_BYTES = 20;   // after the 4-byte "PE\0\0"
const uint16_t PE32_MAGIC = 0x10B;
const uint16_t PE32_PLUS_MAGIC = 0x20B;

inline uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t Read32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

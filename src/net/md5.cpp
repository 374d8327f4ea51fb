#include "md5.h"

#include <cstring>

namespace {

const uint8_t PADDING[64] = {0x80};

// Per-round shift amounts and the sine-derived constants of RFC 1321.
const int SHIFTS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

const uint32_t SINES[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t RotateLeft(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

uint32_t LoadLittleEndian(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLittleEndian(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// Runs the four rounds over one 64-byte block.
void Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian(block + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        int round = i / 16;
        uint32_t f;
        int word;
        switch (round) {
        case 0: f = (b & c) | (~b & d); word = i; break;
        case 1: f = (b & d) | (c & ~d); word = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; word = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); word = (7 * i) % 16; break;
        }
        uint32_t next = b + RotateLeft(a + f + SINES[i] + x[word], SHIFTS[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void MD5Init(MD5_CTX* context)
{
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void MD5Update(MD5_CTX* context, const void* data, uint32_t length)
{
    const uint8_t* input = static_cast<const uint8_t*>(data);
    uint32_t index = (context->count[0] >> 3) & 0x3F;

    uint32_t bits = length << 3;
    context->count[0] += bits;
    if (context->count[0] < bits) ++context->count[1];
    context->count[1] += length >> 29;

    uint32_t partLength = 64 - index;
    uint32_t i = 0;
    if (length >= partLength) {
        std::memcpy(context->buffer + index, input, partLength);
        Transform(context->state, context->buffer);
        for (i = partLength; i + 63 < length; i += 64) Transform(context->state, input + i);
        index = 0;
    }
    if (length > i) std::memcpy(context->buffer + index, input + i, length - i);
}

void MD5Final(uint8_t digest[16], MD5_CTX* context)
{
    uint8_t bits[8];
    StoreLittleEndian(bits, context->count[0]);
    StoreLittleEndian(bits + 4, context->count[1]);

    // Pad to 56 bytes modulo 64, then append the message length in bits.
    uint32_t index = (context->count[0] >> 3) & 0x3F;
    uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, PADDING, padLength);
    MD5Update(context, bits, 8);

    for (int i = 0; i < 4; ++i) StoreLittleEndian(digest + 4 * i, context->state[i]);
    std::memset(context, 0, sizeof(*context));
}

std::string Md5Hex(const void* data, uint32_t length)
{
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, data, length);
    uint8_t digest[16];
    MD5Final(digest, &context);

    static const char HEX[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = HEX[digest[i] >> 4];
        text[2 * i + 1] = HEX[digest[i] & 0x0F];
    }
    return text;
}

bool Md5Matches(const char* expected, const void* data, uint32_t length)
{
    if (!expected) return false;
    std::string actual = Md5Hex(data, length);
    size_t i = 0;
    for (; expected[i] != '\0' && i < actual.size(); ++i) {
        char c = expected[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != actual[i]) return false;
    }
    return expected[i] == '\0' && i == actual.size();
}

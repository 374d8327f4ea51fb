// MD5 (RFC 1321) and its 32-character lowercase hex text. Used to name cache
// files after request paths and to verify downloaded program files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The three steps of RFC 1321. The context is cleared by MD5Final.
struct MD5_CTX {
    uint32_t state[4];
    uint32_t count[2];   // bits processed, low word first
    uint8_t buffer[64];
};

void MD5Init(MD5_CTX* context);
void MD5Update(MD5_CTX* context, const void* data, uint32_t length);
void MD5Final(uint8_t digest[16], MD5_CTX* context);

// The digest of [data, data + length) as 32 lowercase hex digits. Keeps no
// state, so any number of threads may call it at once.
std::string Md5Hex(const void* data, uint32_t length);

// True when expected equals Md5Hex of the range, ignoring the case of ASCII
// letters. The whole texts are compared: a 31-character text or one with a
// trailing line end never matches.
bool Md5Matches(const char* expected, const void* data, uint32_t length);

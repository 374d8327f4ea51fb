// MD5 against OpenSSL's, on any bytes and any split of them.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned char reference[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data, size, reference, &length, EVP_md5(), nullptr);

    size_t split = size ? data[0] % (size + 1) : 0;
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, data, static_cast<uint32_t>(split));
    MD5Update(&context, data + split, static_cast<uint32_t>(size - split));
    uint8_t digest[16];
    MD5Final(digest, &context);
    if (length != 16 || std::memcmp(digest, reference, 16) != 0) __builtin_trap();

    std::string hex = Md5Hex(data, static_cast<uint32_t>(size));
    if (!Md5Matches(hex.c_str(), data, static_cast<uint32_t>(size))) __builtin_trap();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (Md5Matches(text.c_str(), data, static_cast<uint32_t>(size)) && strlen(text.c_str()) != 32) __builtin_trap();
    return 0;
}

// MD5: the RFC 1321 suite, the padding boundaries against OpenSSL's MD5, and
// the rules of the case-insensitive comparison.
#include "net/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

namespace {

std::string Reference(const std::vector<uint8_t>& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr);
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += HEX[digest[i] >> 4];
        text += HEX[digest[i] & 15];
    }
    return text;
}

std::string Hex(const std::string& text)
{
    return Md5Hex(text.data(), static_cast<uint32_t>(text.size()));
}

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Hex("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Hex("message digest"));
    EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Hex("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
              Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
              Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5Hex(nullptr, 0));
}

TEST(Md5, MatchesOpenSslAroundThePaddingBoundaries)
{
    for (size_t n : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 1000u, 1000000u}) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + n);
        EXPECT_EQ(Reference(bytes), Md5Hex(bytes.data(), static_cast<uint32_t>(n))) << n << " bytes";
    }
}

TEST(Md5, IncrementalUpdatesEqualOneUpdate)
{
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    for (size_t split : {0u, 1u, 55u, 63u, 64u, 65u, 999u}) {
        MD5_CTX context;
        MD5Init(&context);
        MD5Update(&context, bytes.data(), static_cast<uint32_t>(split));
        MD5Update(&context, bytes.data() + split, static_cast<uint32_t>(bytes.size() - split));
        uint8_t digest[16];
        MD5Final(digest, &context);
        MD5_CTX cleared{};
        EXPECT_EQ(0, memcmp(&cleared, &context, sizeof(context))) << "context cleared after the final step";
        uint8_t whole[16];
        MD5Init(&context);
        MD5Update(&context, bytes.data(), static_cast<uint32_t>(bytes.size()));
        MD5Final(whole, &context);
        EXPECT_EQ(0, memcmp(digest, whole, 16)) << "split at " << split;
    }
}

TEST(Md5, MatchesIgnoresLetterCaseButNothingElse)
{
    const std::string data = "abc";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
    EXPECT_TRUE(Md5Matches("900150983cd24fb0d6963f7d28e17f72", bytes, 3));
    EXPECT_TRUE(Md5Matches("900150983CD24FB0D6963F7D28E17F72", bytes, 3));
    EXPECT_TRUE(Md5Matches("900150983Cd24fB0d6963F7d28E17f72", bytes, 3));
    EXPECT_FALSE(Md5Matches("900150983cd24fb0d6963f7d28e17f7", bytes, 3));
    EXPECT_FALSE(Md5Matches("900150983cd24fb0d6963f7d28e17f72\n", bytes, 3));
    EXPECT_FALSE(Md5Matches("900150983cd24fb0d6963f7d28e17f72 ", bytes, 3));
    EXPECT_FALSE(Md5Matches(" 900150983cd24fb0d6963f7d28e17f72", bytes, 3));
    EXPECT_FALSE(Md5Matches("900150983cd24fb0d6963f7d28e17f73", bytes, 3));
    EXPECT_FALSE(Md5Matches("", bytes, 3));
    EXPECT_FALSE(Md5Matches(nullptr, bytes, 3));
}

}  // namespace

// Reading what a program's embedded signature covers, from bytes built here:
// a small PE image with a certificate table holding a SignedData whose
// content is an SpcIndirectDataContent. Every reader must refuse bytes that
// lie about their lengths instead of reading past them (the asan tier runs
// these too).
#include "app/authenticode_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        for (uint8_t byte : part) out.push_back(byte);
    }
    return out;
}

Bytes Tlv(uint8_t tag, const Bytes& contents)
{
    size_t n = contents.size();
    Bytes head = n < 0x80 ? Bytes{tag, static_cast<uint8_t>(n)}
                          : Bytes{tag, 0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    return Join({head, contents});
}

const Bytes OID_SIGNED_DATA = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes OID_INDIRECT_DATA = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const Bytes OID_SHA256_BYTES = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes OID_PE_IMAGE_DATA = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};

// A SignedData whose content names digest as the image's SHA-256 digest.
Bytes SignedData(const Bytes& digest)
{
    Bytes indirect = Tlv(0x30, Join({Tlv(0x30, Tlv(0x06, OID_PE_IMAGE_DATA)),
                                     Tlv(0x30, Join({Tlv(0x30, Join({Tlv(0x06, OID_SHA256_BYTES), {0x05, 0x00}})),
                                                     Tlv(0x04, digest)}))}));
    Bytes encap = Tlv(0x30, Join({Tlv(0x06, OID_INDIRECT_DATA), Tlv(0xA0, indirect)}));
    Bytes signedData = Tlv(0x30, Join({Tlv(0x02, {0x01}), Tlv(0x31, {}), encap, Tlv(0x31, {})}));
    return Tlv(0x30, Join({Tlv(0x06, OID_SIGNED_DATA), Tlv(0xA0, signedData)}));
}

const size_t PE = 0x40;
const size_t OPTIONAL = PE + 24;
const size_t ENTRY = OPTIONAL + 96 + 4 * 8;

void Put32(Bytes* image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) (*image)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A PE32 image of 1,000 bytes, with the entries of signatures appended as a
// certificate table (none: unsigned).
Bytes Image(const std::vector<Bytes>& signatures = {})
{
    Bytes image(1000, 0xCC);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(&image, 0x3C, PE);
    image[PE] = 'P';
    image[PE + 1] = 'E';
    image[PE + 2] = image[PE + 3] = 0;
    image[PE + 4 + 16] = 224;  // SizeOfOptionalHeader
    image[PE + 4 + 17] = 0;
    image[OPTIONAL] = 0x0B;
    image[OPTIONAL + 1] = 0x01;
    Put32(&image, OPTIONAL + 92, 16);
    Put32(&image, ENTRY, 0);
    Put32(&image, ENTRY + 4, 0);
    if (signatures.empty()) return image;
    size_t table = image.size();
    for (const Bytes& signature : signatures) {
        Bytes entry(8 + signature.size());
        Put32(&entry, 0, static_cast<uint32_t>(entry.size()));
        entry[4] = 0x00;
        entry[5] = 0x02;
        entry[6] = 0x02;
        entry[7] = 0x00;
        std::copy(signature.begin(), signature.end(), entry.begin() + 8);
        entry.resize((entry.size() + 7) / 8 * 8);
        image.insert(image.end(), entry.begin(), entry.end());
    }
    Put32(&image, ENTRY, static_cast<uint32_t>(table));
    Put32(&image, ENTRY + 4, static_cast<uint32_t>(image.size() - table));
    return image;
}

}  // namespace

TEST(AuthenticodeImage, FindsTheTableTheSignedContentAndTheBytesTheDigestCovers)
{
    Bytes digest(32, 0xAB);
    Bytes image = Image({SignedData(digest)});
    AuthenticodeLayout layout;
    ASSERT_TRUE(ReadAuthenticodeLayout(image.data(), image.size(), &layout));
    EXPECT_TRUE(HasEmbeddedSignature(layout));
    EXPECT_EQ(1000u, layout.certificateTable);
    EXPECT_TRUE(CertificateTableEndsFile(layout, image.size()));

    // The whole file up to the table, less the CheckSum and the entry.
    std::vector<ByteSpan> ranges = ImageDigestRanges(layout, image.size());
    ASSERT_EQ(3u, ranges.size());
    EXPECT_EQ(OPTIONAL + 64, ranges[0].length);
    EXPECT_EQ(OPTIONAL + 68, ranges[1].offset);
    EXPECT_EQ(ENTRY, ranges[1].offset + ranges[1].length);
    EXPECT_EQ(ENTRY + 8, ranges[2].offset);
    EXPECT_EQ(1000u, ranges[2].offset + ranges[2].length);

    ByteSpan signature;
    ASSERT_TRUE(ReadEmbeddedSignature(image.data(), image.size(), layout, &signature));
    EXPECT_EQ(1008u, signature.offset);
    EXPECT_EQ(SignedData(digest).size(), signature.length);
    IndirectData indirect;
    ASSERT_TRUE(ReadIndirectData(image.data() + signature.offset, signature.length, &indirect));
    EXPECT_EQ(OID_SHA256, indirect.digestAlgorithm);
    const uint8_t* named = image.data() + signature.offset + indirect.digest.offset;
    EXPECT_EQ(digest, Bytes(named, named + indirect.digest.length));
}

TEST(AuthenticodeImage, UnsignedImageIsDigestedWhole)
{
    Bytes image = Image();
    AuthenticodeLayout layout;
    ASSERT_TRUE(ReadAuthenticodeLayout(image.data(), image.size(), &layout));
    EXPECT_FALSE(HasEmbeddedSignature(layout));
    EXPECT_FALSE(CertificateTableEndsFile(layout, image.size()));
    ByteSpan last = ImageDigestRanges(layout, image.size())[2];
    EXPECT_EQ(image.size(), last.offset + last.length);
}

TEST(AuthenticodeImage, BytesThatLieAreRefusedNotReadPast)
{
    Bytes good = Image({SignedData(Bytes(32, 1))});
    struct Case {
        const char* name;
        Bytes image;
        bool bLayout;     // the layout is read
        bool bEndsFile;   // the table ends the file
        bool bSignature;  // one signature entry is found
    };
    Bytes appended = good;
    appended.push_back(0);
    Bytes pastEnd = good;
    Put32(&pastEnd, ENTRY + 4, 0x10000);
    Bytes intoHeaders = good;
    Put32(&intoHeaders, ENTRY, 0x20);
    Bytes twoEntries = Image({SignedData(Bytes(32, 1)), SignedData(Bytes(32, 2))});
    Bytes wrongType = good;
    wrongType[1000 + 6] = 0x01;
    Bytes longDer = good;
    longDer[1000 + 8 + 1] = 0x84;  // a four-byte length where a short one stood
    Bytes noPe = good;
    noPe[PE] = 'X';
    Bytes fewDirectories = good;
    Put32(&fewDirectories, OPTIONAL + 92, 4);
    const Case cases[] = {
        {"a byte after the table", appended, true, false, true},
        {"table past the end", pastEnd, false, false, false},
        {"table inside the headers", intoHeaders, false, false, false},
        {"a second signature", twoEntries, true, true, false},
        {"an entry of another type", wrongType, true, true, false},
        {"a length past the entry", longDer, true, true, false},
        {"no PE header", noPe, false, false, false},
        {"no certificate table entry", fewDirectories, false, false, false},
    };
    for (const Case& c : cases) {
        AuthenticodeLayout layout;
        bool layoutRead = ReadAuthenticodeLayout(c.image.data(), c.image.size(), &layout);
        EXPECT_EQ(c.bLayout, layoutRead) << c.name;
        if (!layoutRead) continue;
        EXPECT_EQ(c.bEndsFile, CertificateTableEndsFile(layout, c.image.size())) << c.name;
        ByteSpan signature;
        EXPECT_EQ(c.bSignature, ReadEmbeddedSignature(c.image.data(), c.image.size(), layout, &signature)) << c.name;
    }

    // Every cut of a signed image is either refused or read within its bytes.
    for (size_t size = 0; size < good.size(); ++size) {
        Bytes cut(good.begin(), good.begin() + size);
        AuthenticodeLayout layout;
        if (!ReadAuthenticodeLayout(cut.data(), cut.size(), &layout)) continue;
        ByteSpan signature;
        EXPECT_FALSE(ReadEmbeddedSignature(cut.data(), cut.size(), layout, &signature)) << size;
    }
    // Every cut of the SignedData is refused.
    Bytes der = SignedData(Bytes(32, 1));
    for (size_t size = 0; size < der.size(); ++size) {
        IndirectData indirect;
        EXPECT_FALSE(ReadIndirectData(der.data(), size, &indirect)) << size;
    }
}

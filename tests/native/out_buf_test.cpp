// COutBuf: the growth rule, file round trips and the edges of its limits.
#include "base/out_buf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

TEST(OutBuf, GrowsInLinearStepsOfTheGrowthStep)
{
    struct Case {
        std::vector<int32_t> writes;
        int32_t capacity;
    };
    const Case cases[] = {
        {{1}, 256},       {{255}, 256},     {{256}, 256},     {{257}, 512},
        {{300}, 512},     {{256, 1}, 512},  {{255, 1}, 256},  {{256, 256, 1}, 768},
        {{0}, 0},
    };
    for (const Case& c : cases) {
        COutBuf buf;
        int32_t total = 0;
        for (int32_t n : c.writes) {
            std::vector<uint8_t> bytes = Pattern(static_cast<size_t>(n));
            ASSERT_TRUE(buf.Write(bytes.data(), n));
            total += n;
        }
        EXPECT_EQ(c.capacity, buf.GetCapacity()) << "after " << c.writes.size() << " writes of " << total;
        EXPECT_EQ(total, buf.GetLength());
    }
}

TEST(OutBuf, KeepsBytesInOrderAcrossGrowth)
{
    COutBuf buf;
    std::vector<uint8_t> bytes = Pattern(100000);
    for (size_t offset = 0; offset < bytes.size(); offset += 777) {
        size_t n = std::min<size_t>(777, bytes.size() - offset);
        ASSERT_TRUE(buf.Write(bytes.data() + offset, static_cast<int32_t>(n)));
    }
    ASSERT_EQ(100000, buf.GetLength());
    EXPECT_EQ(0, memcmp(bytes.data(), buf.GetData(), bytes.size()));
    buf.Free();
    EXPECT_EQ(nullptr, buf.GetData());
    EXPECT_EQ(0, buf.GetCapacity());
    EXPECT_TRUE(buf.IsEmpty());
}

TEST(OutBuf, PrependAndExtendPlaceBytesAroundTheContents)
{
    COutBuf buf;
    ASSERT_TRUE(buf.Prepend("body", 4));
    std::vector<uint8_t> bytes = Pattern(5000);
    uint8_t* area = buf.Extend(5000);
    ASSERT_NE(nullptr, area);
    memcpy(area, bytes.data(), bytes.size());
    ASSERT_TRUE(buf.Prepend("head|", 5));
    ASSERT_TRUE(buf.Prepend("", 0));
    ASSERT_EQ(5009, buf.GetLength());
    EXPECT_EQ(0, memcmp("head|body", buf.GetData(), 9));
    EXPECT_EQ(0, memcmp(bytes.data(), buf.GetData() + 9, bytes.size()));
}

TEST(OutBuf, RejectsNegativeAndOverflowingLengthsUnchanged)
{
    COutBuf buf;
    ASSERT_TRUE(buf.PutString("abc"));
    EXPECT_FALSE(buf.Write("x", -1));
    EXPECT_FALSE(buf.Write("x", std::numeric_limits<int32_t>::max()));
    EXPECT_FALSE(buf.Prepend("x", -1));
    EXPECT_FALSE(buf.Prepend("x", std::numeric_limits<int32_t>::max()));
    EXPECT_EQ(nullptr, buf.Extend(-1));
    EXPECT_EQ(3, buf.GetLength());
    EXPECT_EQ(256, buf.GetCapacity());
    EXPECT_EQ(0, memcmp("abc", buf.GetData(), 3));
}

TEST(OutBuf, TypedAppends)
{
    COutBuf buf;
    buf.PutByte(0xAB);
    buf.PutInt32(0x01020304);
    buf.PutInt32(-2);
    buf.PutString("hi");
    const uint8_t expected[] = {0xAB, 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 'h', 'i'};
    ASSERT_EQ(static_cast<int32_t>(sizeof(expected)), buf.GetLength());
    EXPECT_EQ(0, memcmp(expected, buf.GetData(), sizeof(expected)));

    COutBuf other;
    other.Append(buf);
    other.Append(buf);
    EXPECT_EQ(2 * buf.GetLength(), other.GetLength());
}

TEST(OutBuf, PadToAppendsZerosUpToTheMultiple)
{
    COutBuf buf;
    buf.PutString("12345");
    ASSERT_TRUE(buf.PadTo(4));
    EXPECT_EQ(8, buf.GetLength());
    EXPECT_EQ(0, memcmp("12345\0\0\0", buf.GetData(), 8));
    ASSERT_TRUE(buf.PadTo(4));
    EXPECT_EQ(8, buf.GetLength());
    EXPECT_TRUE(buf.PadTo(0));   // no step: nothing to pad to, and no division by zero
    EXPECT_EQ(8, buf.GetLength());
}

TEST(OutBuf, GetCStringTerminatesWithoutCounting)
{
    COutBuf buf;
    std::vector<uint8_t> full(256, 'a');
    buf.Write(full.data(), 256);
    ASSERT_EQ(256, buf.GetCapacity());
    char* text = buf.GetCString();
    EXPECT_EQ(512, buf.GetCapacity());    // full: grows by one step for the zero
    EXPECT_EQ(256, buf.GetLength());
    EXPECT_EQ(256u, strlen(text));

    COutBuf partial;
    partial.PutString("abc");
    EXPECT_STREQ("abc", partial.GetCString());
    EXPECT_EQ(3, partial.GetLength());
    EXPECT_EQ(256, partial.GetCapacity());

    COutBuf empty;
    EXPECT_STREQ("", empty.GetCString());
    EXPECT_EQ(0, empty.GetLength());
}

TEST(OutBuf, PrintfFormatsShortAndLongOutputWhole)
{
    COutBuf buf;
    ASSERT_TRUE(buf.Printf("%s=%d;", "n", 42));
    EXPECT_EQ("n=42;", std::string(buf.GetCString()));

    // Output at and past the 4,096-byte formatting area arrives whole.
    for (int n : {4095, 4096, 4097, 100000}) {
        COutBuf big;
        std::string text(static_cast<size_t>(n), 'x');
        ASSERT_TRUE(big.Printf("%s|", text.c_str()));
        ASSERT_EQ(n + 1, big.GetLength()) << n;
        EXPECT_EQ(text + "|", std::string(big.GetCString()));
    }
}

TEST(OutBuf, GrowthStepChangesAndStaysPositive)
{
    COutBuf buf;
    buf.SetGrowBy(1000);
    buf.PutByte(1);
    EXPECT_EQ(1000, buf.GetCapacity());
    COutBuf zero;
    zero.SetGrowBy(0);
    ASSERT_TRUE(zero.PutString("abc"));
    EXPECT_EQ(3, zero.GetCapacity());
}

TEST(OutBuf, ReserveAllocatesOnceForAKnownLength)
{
    COutBuf buf;
    ASSERT_TRUE(buf.Reserve(64 * 16384 + 1));
    int32_t capacity = buf.GetCapacity();
    EXPECT_EQ(64 * 16384 + 256, capacity);
    const uint8_t* storage = nullptr;
    std::vector<uint8_t> piece = Pattern(16384);
    for (int i = 0; i < 64; ++i) {
        buf.Write(piece.data(), 16384);
        if (i == 0) storage = buf.GetData();
    }
    EXPECT_EQ(storage, buf.GetData());
    EXPECT_EQ(capacity, buf.GetCapacity());
    EXPECT_TRUE(buf.Reserve(10));   // never shrinks
    EXPECT_EQ(capacity, buf.GetCapacity());
}

TEST(OutBuf, FileRoundTrip)
{
    ScratchDir dir;
    std::string path = dir.Path("data.bin");
    COutBuf out;
    std::vector<uint8_t> bytes = Pattern(70000);
    out.Write(bytes.data(), 70000);
    ASSERT_TRUE(out.SaveToFile(path.c_str()));

    COutBuf in;
    in.PutString("old");
    ASSERT_TRUE(in.LoadFromFile(path.c_str()));
    EXPECT_EQ(70000, in.GetLength());
    EXPECT_EQ(70000, in.GetCapacity());     // exactly the file's size
    EXPECT_EQ(0, memcmp(bytes.data(), in.GetData(), bytes.size()));
}

TEST(OutBuf, EmptyAndMissingFiles)
{
    ScratchDir dir;
    std::string empty = dir.Path("empty.bin");
    COutBuf nothing;
    ASSERT_TRUE(nothing.SaveToFile(empty.c_str()));
    std::ifstream check(empty, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(check);
    EXPECT_EQ(0, check.tellg());

    COutBuf buf;
    buf.PutString("kept");
    EXPECT_TRUE(buf.LoadFromFile(empty.c_str()));
    EXPECT_EQ("kept", std::string(buf.GetCString()));
    EXPECT_FALSE(buf.LoadFromFile(dir.Path("missing.bin").c_str()));
    EXPECT_EQ("kept", std::string(buf.GetCString()));
    EXPECT_FALSE(buf.SaveToFile(dir.Path("no/such/folder/x.bin").c_str()));
}

TEST(OutBuf, SaveToFileReportsAFullDisk)
{
    // /dev/full accepts the open and fails every write.
    std::ifstream probe("/dev/full");
    if (!probe) GTEST_SKIP() << "no /dev/full";
    COutBuf buf;
    std::vector<uint8_t> bytes = Pattern(100000);
    buf.Write(bytes.data(), 100000);
    EXPECT_FALSE(buf.SaveToFile("/dev/full"));
}

}  // namespace

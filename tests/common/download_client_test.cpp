// The download client against a real loopback origin. The same cases run
// natively (libcurl) and under Wine (WinInet): both backends must behave
// alike, as the algorithms above them rely on.
#include "net/download_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/out_buf.h"
#include "net/md5.h"
#include "scratch_dir.h"
#include "scripted_transport.h"
#include "test_origin_client.h"

namespace {

std::string Md5Of(const std::vector<uint8_t>& bytes)
{
    return Md5Hex(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path)
{
    return std::ifstream(path).good();
}

struct Fetched {
    int code;
    int status;
    std::vector<uint8_t> body;
};

Fetched Fetch(const std::string& path)
{
    COutBuf sink;
    Fetched result{};
    result.code = FetchToBuffer(OriginUrl(path).c_str(), "unused", &sink, &result.status);
    const uint8_t* data = sink.GetData();
    if (data) result.body.assign(data, data + sink.GetLength());
    return result;
}

uint32_t ToMemory(const std::string& path, std::vector<uint8_t>* block)
{
    block->assign(256, 0);
    return DownloadToMemory(OriginUrl(path), block->data(), 256);
}

// A transport that reports the system offline and fails every open.
class OfflineTransport : public IHttpTransport {
public:
    ConnectionState GetConnectedState() override
    {
        ConnectionState state;
        state.bOffline = true;
        return state;
    }
    uint32_t GetTickCount() override { return 0; }
    std::unique_ptr<IHttpSession> Open(const std::string&, bool, HttpText) override
    {
        ADD_FAILURE() << "an offline fetch must not open an Internet handle";
        return nullptr;
    }
};

TEST(DownloadClient, WholeBodyArrivesByAllThreeOperations)
{
    std::vector<uint8_t> expected = OriginPattern(200);
    std::vector<uint8_t> block;
    ASSERT_EQ(200u, ToMemory("/len/200", &block));
    EXPECT_EQ(0, memcmp(expected.data(), block.data(), 200));
    EXPECT_EQ(0, block[200]);

    Fetched fetched = Fetch("/len/200");
    EXPECT_EQ(FETCH_OK, fetched.code);
    EXPECT_EQ(200, fetched.status);
    EXPECT_EQ(expected, fetched.body);

    ScratchDir dir;
    std::string target = dir.Path("Quillet.exe.tmp");
    ASSERT_TRUE(DownloadVerifiedFile(OriginUrl("/len/200"), target, Md5Of(expected).c_str()));
    EXPECT_EQ(expected, ReadFile(target));
}

TEST(DownloadClient, LargeBodyArrivesWholeAndInOrder)
{
    const size_t size = 16u << 20;
    Fetched fetched = Fetch("/len/" + std::to_string(size));
    EXPECT_EQ(FETCH_OK, fetched.code);
    ASSERT_EQ(size, fetched.body.size());
    EXPECT_TRUE(fetched.body == OriginPattern(size));
}

TEST(DownloadClient, NoContentLengthFailsEveryOperation)
{
    std::vector<uint8_t> block;
    EXPECT_EQ(0u, ToMemory("/chunked/100", &block));
    ScratchDir dir;
    std::string target = dir.Path("Quillet.exe.tmp");
    EXPECT_FALSE(DownloadVerifiedFile(OriginUrl("/chunked/100"), target, Md5Of(OriginPattern(100)).c_str()));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(FETCH_OPEN_FAILED, Fetch("/chunked/100").code);
    EXPECT_EQ(FETCH_OPEN_FAILED, Fetch("/eof/100").code);
}

TEST(DownloadClient, ZeroContentLength)
{
    std::vector<uint8_t> block;
    EXPECT_EQ(0u, ToMemory("/zero", &block));
    ScratchDir dir;
    std::string target = dir.Path("Quillet.exe.tmp");
    EXPECT_FALSE(DownloadVerifiedFile(OriginUrl("/zero"), target, "d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_FALSE(Exists(target));
    Fetched fetched = Fetch("/zero");
    EXPECT_EQ(FETCH_OK, fetched.code);
    EXPECT_TRUE(fetched.body.empty());
}

TEST(DownloadClient, ErrorPageWithContentLengthIsReadLikeABody)
{
    const std::string page = "<html><body>not found</body></html>";
    std::vector<uint8_t> expected(page.begin(), page.end());
    std::vector<uint8_t> block;
    ASSERT_EQ(expected.size(), ToMemory("/notfound", &block));
    EXPECT_EQ(page, std::string(reinterpret_cast<char*>(block.data())));

    Fetched fetched = Fetch("/notfound");
    EXPECT_EQ(FETCH_OK, fetched.code);
    EXPECT_EQ(404, fetched.status);
    EXPECT_EQ(expected, fetched.body);

    ScratchDir dir;
    std::string target = dir.Path("page.bin");
    EXPECT_TRUE(DownloadVerifiedFile(OriginUrl("/notfound"), target, Md5Of(expected).c_str()));
    EXPECT_EQ(expected, ReadFile(target));
}

TEST(DownloadClient, CutTransferKeepsThePartialBodyAndFails)
{
    Fetched fetched = Fetch("/cut/100000/30000");
    EXPECT_EQ(FETCH_READ_FAILED, fetched.code);
    std::vector<uint8_t> expected = OriginPattern(30000);
    EXPECT_EQ(expected, fetched.body);

    ScratchDir dir;
    std::string target = dir.Path("Quillet.exe.tmp");
    EXPECT_FALSE(DownloadVerifiedFile(OriginUrl("/cut/100000/30000"), target,
                                      Md5Of(OriginPattern(100000)).c_str()));
    EXPECT_FALSE(Exists(target));

    std::vector<uint8_t> block;
    EXPECT_EQ(100u, ToMemory("/cut/200/100", &block));
}

TEST(DownloadClient, VerifiedDownloadAcceptsUpperCaseAndRejectsOneWrongByte)
{
    std::vector<uint8_t> body = OriginPattern(5000);
    ScratchDir dir;
    std::string target = dir.Path("Quillet.exe.tmp");
    ASSERT_TRUE(DownloadVerifiedFile(OriginUrl("/len/5000"), target, Upper(Md5Of(body)).c_str()));
    EXPECT_EQ(body, ReadFile(target));

    // The expected digest of a body that differs in one byte: the file that
    // is already there stays exactly as it was.
    std::vector<uint8_t> changed = body;
    changed[4321] ^= 1;
    std::ofstream(target, std::ios::binary | std::ios::trunc) << "previous";
    EXPECT_FALSE(DownloadVerifiedFile(OriginUrl("/len/5000"), target, Md5Of(changed).c_str()));
    std::vector<uint8_t> kept = ReadFile(target);
    EXPECT_EQ("previous", std::string(kept.begin(), kept.end()));
}

// A program announced larger than any program may be is refused before a
// byte of it is held, even with the right MD5: without the bound the whole
// 300 MiB would be taken and installed.
TEST(DownloadClient, VerifiedDownloadRefusesAnAnnouncedLengthOverTheProgramBound)
{
    const uint32_t length = 300u << 20;
    ASSERT_GT(length, MAX_PROGRAM_DOWNLOAD_BYTES);
    // The origin's pattern repeats every 256 bytes: its MD5 is made piece by piece.
    std::vector<uint8_t> piece = OriginPattern(1 << 16);
    MD5_CTX context;
    MD5Init(&context);
    for (uint32_t done = 0; done < length; done += static_cast<uint32_t>(piece.size())) {
        MD5Update(&context, piece.data(), static_cast<uint32_t>(piece.size()));
    }
    uint8_t digest[16];
    MD5Final(digest, &context);
    char md5[33];
    for (int i = 0; i < 16; ++i) std::snprintf(md5 + 2 * i, 3, "%02x", digest[i]);

    ScratchDir dir;
    std::string target = dir.Path("Quillet.exe.tmp");
    EXPECT_FALSE(DownloadVerifiedFile(OriginUrl("/len/" + std::to_string(length)), target, md5));
    EXPECT_FALSE(Exists(target));
}

TEST(DownloadClient, VerifiedDownloadThatCannotBeWrittenFails)
{
    std::vector<uint8_t> body = OriginPattern(100);
    ScratchDir dir;
    std::string target = dir.Path("missing-folder/Quillet.exe.tmp");
    EXPECT_FALSE(DownloadVerifiedFile(OriginUrl("/len/100"), target, Md5Of(body).c_str()));
}

TEST(DownloadClient, MemoryDownloadNeverPassesTheBlock)
{
    std::vector<uint8_t> block;
    EXPECT_EQ(255u, ToMemory("/len/255", &block));
    EXPECT_EQ(0, block[255]);
    // A body that leaves no room for the terminator is refused, not cut.
    EXPECT_EQ(0u, ToMemory("/len/256", &block));
    EXPECT_EQ(0u, ToMemory("/len/5000", &block));
    EXPECT_EQ(0, block[255]);
}

// The version file's deadline: a body in time arrives whole; one that the
// peer would deliver whole only after the deadline (silent first, or a byte
// at a time) is no body at all, where the download without a deadline would
// have returned it.
TEST(DownloadClient, MemoryDownloadWithinADeadline)
{
    const uint32_t DEADLINE_MS = 4000;
    struct Case {
        const char* path;
        uint32_t nExpected;
    } cases[] = {
        {"/len/200", 200},
        {"/delay/30000/100", 0},      // silent for 30 s, then whole
        {"/trickle/60/500", 0},       // whole after 30 s, too fast for the low-speed bound
        {"/len/256", 0},              // refused as by DownloadToMemory: no room for the terminator
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block(256, 0xEE);
        uint32_t length = DownloadToMemoryWithin(OriginUrl(c.path), block.data(), 256, DEADLINE_MS);
        EXPECT_EQ(c.nExpected, length) << c.path;
        std::vector<uint8_t> expected = OriginPattern(length);
        expected.resize(256, 0xEE);
        EXPECT_EQ(expected, block) << c.path << ": nothing but the body is written";
    }
}

TEST(DownloadClient, UnreachableOriginFailsToOpen)
{
    // Port 1 on loopback: nothing listens there.
    COutBuf sink;
    EXPECT_EQ(FETCH_OPEN_FAILED, FetchToBuffer("http://127.0.0.1:1/x", "", &sink));
    uint8_t block[256] = {};
    EXPECT_EQ(0u, DownloadToMemory("http://127.0.0.1:1/ver.txt", block, sizeof(block)));
}

TEST(DownloadClient, OfflineSystemGivesFourWithoutARequest)
{
    int before = OriginCount("/len/10");
    OfflineTransport offline;
    COutBuf sink;
    int status = -1;
    EXPECT_EQ(FETCH_OFFLINE, FetchToBuffer(OriginUrl("/len/10").c_str(), "", &sink, &status, offline));
    EXPECT_EQ(0, status);
    uint8_t block[256] = {};
    EXPECT_EQ(0u, DownloadToMemory(OriginUrl("/len/10"), block, sizeof(block), offline));
    EXPECT_EQ(before, OriginCount("/len/10"));
}

TEST(DownloadClient, AnnouncedLengthIsReservedOnlyUpToABound)
{
    // A lying announcement costs the bound, not the announced gigabyte; a
    // true long one ends in exactly its own length after a few steps.
    struct Case {
        uint32_t nAnnounced;
        size_t nSent;
        int nCode;
        int32_t nMaxCapacity;
    };
    const Case cases[] = {
        {1u << 30, 1000, FETCH_READ_FAILED, 8 << 20},
        {20u << 20, 20u << 20, FETCH_OK, 20 << 20},
    };
    for (const Case& c : cases) {
        ScriptedAnswer answer;
        answer.nAnnounced = c.nAnnounced;
        answer.body = OriginPattern(c.nSent);
        ScriptedTransport upstream(answer);
        COutBuf sink;
        EXPECT_EQ(c.nCode, FetchToBuffer("http://upstream/a", "", &sink, nullptr, upstream)) << c.nAnnounced;
        ASSERT_EQ(static_cast<int32_t>(c.nSent), sink.GetLength());
        EXPECT_TRUE(std::equal(answer.body.begin(), answer.body.end(), sink.GetData()));
        EXPECT_LE(sink.GetCapacity(), c.nMaxCapacity) << c.nAnnounced;
    }
}

TEST(DownloadClient, FetchWithoutSinkDiscardsTheBody)
{
    EXPECT_EQ(FETCH_OK, FetchToBuffer(OriginUrl("/len/3000").c_str(), "", nullptr));
    // Without a sink there is no length to compare: a connection closed
    // early ends the body like a complete one.
    EXPECT_EQ(FETCH_OK, FetchToBuffer(OriginUrl("/cut/3000/100").c_str(), "", nullptr));
}

// The request head the origin recorded for target, from its JSON log.
std::string RecordedHead(const std::string& target)
{
    std::string log = OriginControl("/__log");
    size_t entry = log.find("\"target\": \"" + target + "\"");
    size_t raw = entry == std::string::npos ? entry : log.find("\"raw\": \"", entry);
    if (raw == std::string::npos) return std::string();
    std::string head;
    for (size_t i = raw + 8; i < log.size() && log[i] != '"'; ++i) {
        if (log[i] != '\\' || i + 1 >= log.size()) {
            head += log[i];
            continue;
        }
        char escaped = log[++i];
        head += escaped == 'r' ? '\r' : escaped == 'n' ? '\n' : escaped;
    }
    return head;
}

// The distinct lines of a request head, in order, with the parts that vary
// from run to run (agent tick count, origin port) replaced by placeholders.
std::vector<std::string> NormalisedLines(const std::string& head)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = head.substr(start, end - start);
        if (line.empty()) break;
        if (line.rfind("User-Agent: Agent", 0) == 0) line = "User-Agent: Agent<ticks>";
        if (line.rfind("Host: ", 0) == 0) line = "Host: <origin>";
        if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
    }
    std::sort(lines.begin() + (lines.empty() ? 0 : 1), lines.end());
    return lines;
}

TEST(DownloadClient, SendsTheSameRequestAsTheWinInetBuild)
{
    // What the WinInet build sends under Wine (which repeats the Accept line;
    // repeated lines count once here). Both backends must send exactly this.
    const std::vector<std::string> expected = {
        "GET /len/10?head=fetch HTTP/1.1",
        "Accept: */*",
        "Host: <origin>",
        "Pragma: no-cache",
        "User-Agent: Agent<ticks>",
    };
    OriginReset();
    ASSERT_EQ(FETCH_OK, FetchToBuffer(OriginUrl("/len/10?head=fetch").c_str(), "", nullptr));
    EXPECT_EQ(expected, NormalisedLines(RecordedHead("/len/10?head=fetch")));

    std::vector<std::string> wide = expected;
    wide[0] = "GET /len/10?head=memory HTTP/1.1";
    uint8_t block[256] = {};
    ASSERT_EQ(10u, DownloadToMemory(OriginUrl("/len/10?head=memory"), block, sizeof(block)));
    EXPECT_EQ(wide, NormalisedLines(RecordedHead("/len/10?head=memory")));
}

}  // namespace

// The local resource server from outside, over real sockets, with a real
// upstream (the loopback test origin). The same suite runs natively (poll)
// and under Wine (Winsock event-select).
#include "server/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "net/md5.h"
#include "platform/file_system.h"
#include "scratch_dir.h"
#include "test_origin_client.h"
#include "test_socket.h"

namespace {

// Each build's suite has its own port (from the build), so both can run at once.
const uint16_t PORT = QUILLET_TEST_SERVER_PORT;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string PatternText(size_t n)
{
    std::vector<uint8_t> bytes = OriginPattern(n);
    return std::string(bytes.begin(), bytes.end());
}

std::string Body(const std::string& response)
{
    size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

std::string Header(const std::string& response, const std::string& name)
{
    size_t at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos) return std::string();
    size_t start = at + name.size() + 4;
    return response.substr(start, response.find("\r\n", start) - start);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class LocalServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        OriginReset();
        ASSERT_TRUE(m_server.StartServerAt(PORT, m_base.Root(), OriginBase()));
    }

    // One request on a new connection; the whole answer until the close.
    std::string Get(const std::string& request, bool* pbClosed = nullptr)
    {
        TestSocket client;
        EXPECT_TRUE(client.Connect(PORT));
        client.Send(request);
        return client.Read(10000, pbClosed);
    }

    std::string GetPath(const std::string& path) { return Get("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"); }

    std::string CacheFile(const std::string& path)
    {
        return m_server.CacheRoot() + Md5Hex(path.data(), static_cast<uint32_t>(path.size()));
    }

    ScratchDir m_base;
    CHTTPServer m_server;
};

TEST_F(LocalServer, SecondStartAndATakenPortFail)
{
    EXPECT_FALSE(m_server.Start(PORT));
    CHTTPServer other;
    EXPECT_FALSE(other.StartServerAt(PORT, m_base.Root(), OriginBase()));
}

TEST_F(LocalServer, ListensOnLoopbackOnly)
{
    TestSocket loopback;
    EXPECT_TRUE(loopback.Connect(PORT, "127.0.0.1"));
    TestSocket other;
    EXPECT_FALSE(other.Connect(PORT, "127.0.0.2"));
}

TEST_F(LocalServer, CachedGetHasTheExactHeader)
{
    std::string path = "/wz_cdn/cdn/ui/main.png";
    MakeDirs(m_server.CacheRoot());
    std::ofstream(CacheFile(path), std::ios::binary) << "PNGDATA";
    std::string response = GetPath(path);
    std::string date = Header(response, "Date");
    EXPECT_EQ("HTTP/1.0 200 OK\r\nDate: " + date +
                  "\r\nServer: OrvexWebServer/0.1b\r\nAccept-Ranges: bytes\r\nContent-Length: 7\r\n"
                  "Connection: close\r\nContent-Type: image/png\r\n\r\nPNGDATA",
              response);
    ASSERT_EQ(29u, date.size()) << date;
    EXPECT_EQ(" GMT", date.substr(25));
    EXPECT_EQ(0, OriginCount(path));
}

TEST_F(LocalServer, RequestSplitOverSegmentsIsAnsweredOnceAfterItsBlankLine)
{
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    for (const char* piece : {"GET /len/", "10 HT", "TP/1.1\r\n", "Host: x\r\n", "\r"}) {
        client.Send(piece);
        EXPECT_EQ("", client.Read(150)) << "answered before the blank line";
    }
    client.Send("\n");
    bool closed = false;
    std::string response = client.Read(10000, &closed);
    EXPECT_EQ(PatternText(10), Body(response));
    EXPECT_EQ(0u, response.find("HTTP/1.0 200 OK"));
    EXPECT_EQ(std::string::npos, response.find("HTTP/1.0", 1)) << "answered twice";
    EXPECT_TRUE(closed);
}

TEST_F(LocalServer, KeepAliveServesTwoRequestsOnOneConnection)
{
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    client.Send("GET /len/5 HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n");
    std::string first = client.ReadResponse(10000);
    EXPECT_EQ("Keep-Alive", Header(first, "Connection"));
    EXPECT_EQ(PatternText(5), Body(first));
    client.Send("GET /len/7 HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n");
    std::string second = client.ReadResponse(10000);
    EXPECT_EQ(PatternText(7), Body(second));
    EXPECT_EQ("7", Header(second, "Content-Length"));
    bool closed = false;
    EXPECT_EQ("", client.Read(200, &closed));
    EXPECT_FALSE(closed);
}

TEST_F(LocalServer, KeepAliveIsRecognisedInTheExactCaseOnly)
{
    bool closed = false;
    std::string response = Get("GET /len/3 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n", &closed);
    EXPECT_EQ("close", Header(response, "Connection"));
    EXPECT_TRUE(closed);
}

TEST_F(LocalServer, OtherMethodsGetNotImplementedWithTheMnaPage)
{
    for (const char* method : {"POST", "HEAD", "get"}) {
        std::string response = Get(std::string(method) + " /api HTTP/1.1\r\n\r\n");
        EXPECT_EQ(0u, response.find("HTTP/1.0 501 Not Implemented\r\n")) << method;
        EXPECT_EQ("text/html", Header(response, "Content-Type"));
    }
    EXPECT_EQ(3, OriginCount("/mna.html"));   // fetched each time: a 404 is never stored
}

TEST_F(LocalServer, MalformedRequestsAreClosedOrServedRaw)
{
    bool closed = false;
    EXPECT_EQ("", Get("NOSPACE\r\n\r\n", &closed));
    EXPECT_TRUE(closed);

    // A request line without a version: the path runs to the end, line ends
    // and all, so it is not fetched and has no known extension.
    std::string response = Get("GET /a.js\r\n\r\n");
    EXPECT_EQ(0u, response.find("HTTP/1.0 200 OK\r\n"));
    EXPECT_EQ("text/html", Header(response, "Content-Type"));
    EXPECT_EQ("0", Header(response, "Content-Length"));
}

TEST_F(LocalServer, ContentTypesByExtension)
{
    MakeDirs(m_server.CacheRoot());
    struct Case {
        const char* path;
        const char* type;
    };
    const Case cases[] = {
        {"/a.PNG", "image/png"},      {"/a.Js", "application/x-javascript"},
        {"/a.rtf", "text/richtext"},  {"/a.arj", "application/x-compressed"},
        {"/a.json", "text/html"},     {"/a.webp", "text/html"},
        {"/a.mp4", "text/html"},      {"/a.woff", "text/html"},
        {"/a.", "text/html"},         {"/a.png?v=2", "text/html"},
        {"/v1.2/file", "text/html"},
    };
    for (const Case& c : cases) {
        std::ofstream(CacheFile(c.path), std::ios::binary) << "x";
        EXPECT_EQ(c.type, Header(GetPath(c.path), "Content-Type")) << c.path;
    }
}

TEST_F(LocalServer, MissIsFetchedStoredAndThenServedFromDisk)
{
    std::string first = GetPath("/len/3000");
    EXPECT_EQ(PatternText(3000), Body(first));
    EXPECT_EQ(PatternText(3000), Slurp(CacheFile("/len/3000")));
    std::string second = GetPath("/len/3000");
    EXPECT_EQ(PatternText(3000), Body(second));
    EXPECT_EQ(1, OriginCount("/len/3000"));

    // The query string and the letter case make other cache files.
    GetPath("/len/3000?v=2");
    EXPECT_EQ(PatternText(3000), Slurp(CacheFile("/len/3000?v=2")));
    EXPECT_EQ(2, OriginCount("/len/3000"));
    GetPath("/len/3000?V=2");
    EXPECT_EQ(PatternText(3000), Slurp(CacheFile("/len/3000?V=2")));
    EXPECT_NE(CacheFile("/len/3000?V=2"), CacheFile("/len/3000?v=2"));
    EXPECT_EQ(3, OriginCount("/len/3000"));
}

TEST_F(LocalServer, ZeroLengthBodyIsStoredAndServedForEver)
{
    EXPECT_EQ("0", Header(GetPath("/zero"), "Content-Length"));
    ASSERT_TRUE(PathExists(CacheFile("/zero")));
    EXPECT_EQ("", Slurp(CacheFile("/zero")));
    EXPECT_EQ("0", Header(GetPath("/zero"), "Content-Length"));
    EXPECT_EQ(1, OriginCount("/zero"));
}

TEST_F(LocalServer, BrokenUpstreamAnswersAreServedButNeverStored)
{
    std::string cut = GetPath("/cut/5000/2000");
    EXPECT_EQ(PatternText(2000), Body(cut));
    EXPECT_EQ("2000", Header(cut, "Content-Length"));
    EXPECT_FALSE(PathExists(CacheFile("/cut/5000/2000")));

    std::string notFound = GetPath("/notfound");
    EXPECT_EQ("<html><body>not found</body></html>", Body(notFound));
    EXPECT_EQ(0u, notFound.find("HTTP/1.0 200 OK"));
    EXPECT_FALSE(PathExists(CacheFile("/notfound")));

    GetPath("/status/500/10");
    EXPECT_FALSE(PathExists(CacheFile("/status/500/10")));
    GetPath("/chunked/10");
    EXPECT_FALSE(PathExists(CacheFile("/chunked/10")));

    GetPath("/notfound");
    EXPECT_EQ(2, OriginCount("/notfound"));
}

TEST(LocalServerOffline, UnreachableUpstreamGivesAnEmptyOkAndNoFile)
{
    ScratchDir base;
    CHTTPServer server;
    ASSERT_TRUE(server.StartServerAt(PORT, base.Root(), "http://127.0.0.1:1"));
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    client.Send("GET /a.png HTTP/1.1\r\n\r\n");
    std::string response = client.Read(20000);
    EXPECT_EQ(0u, response.find("HTTP/1.0 200 OK\r\n"));
    EXPECT_EQ("0", Header(response, "Content-Length"));
    EXPECT_FALSE(PathExists(server.CacheRoot() + Md5Hex("/a.png", 6)));
}

TEST_F(LocalServer, PathWithControlBytesOrWithoutLeadingSlashNeverReachesTheUpstream)
{
    std::string response = Get("GET /len/5\r\nX-Injected: 1\r\n\r\n");
    EXPECT_EQ("0", Header(response, "Content-Length"));
    Get("GET /len/5\x01x HTTP/1.1\r\n\r\n");
    Get("GET /len/5\x7fx HTTP/1.1\r\n\r\n");
    // A target that does not start with "/" would run into the upstream
    // address's host part: "@host:port/..." names a host of the client's
    // choosing (here the origin itself, so that a fetch would show in its log).
    const std::string origin = OriginBase().substr(std::string("http://").size());
    EXPECT_EQ("0", Header(Get("GET @" + origin + "/len/5 HTTP/1.1\r\n\r\n"), "Content-Length"));
    Get("GET len/5 HTTP/1.1\r\n\r\n");
    EXPECT_EQ("[]", OriginControl("/__log")) << "the upstream saw a request";
}

TEST_F(LocalServer, SimultaneousMissesShareOneUpstreamRequest)
{
    const int clients = 20;
    std::vector<std::string> bodies(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] { bodies[static_cast<size_t>(i)] = Body(GetPath("/delay/500/4000")); });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::string& body : bodies) EXPECT_EQ(PatternText(4000), body);
    EXPECT_EQ(1, OriginCount("/delay/500/4000"));
}

TEST_F(LocalServer, LargeResponseReachesASlowReaderWholeAndInOrder)
{
    const size_t size = 16u << 20;
    GetPath("/len/" + std::to_string(size));   // now cached
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    client.Send("GET /len/" + std::to_string(size) + " HTTP/1.1\r\n\r\n");
    std::string response;
    for (int i = 0; i < 40 && response.size() < size / 4; ++i) {
        response += client.Read(20, nullptr, 64 * 1024);   // a slow start fills the socket
    }
    response += client.Read(30000);
    EXPECT_TRUE(Body(response) == PatternText(size));
}

TEST_F(LocalServer, ClientsLeavingInTheMiddleOfACachedFileLeaveTheServerServing)
{
    const size_t size = 8u << 20;
    const std::string request = "GET /len/" + std::to_string(size) + " HTTP/1.1\r\n\r\n";
    GetPath("/len/" + std::to_string(size));   // now cached
    for (int i = 0; i < 8; ++i) {
        TestSocket client;
        ASSERT_TRUE(client.Connect(PORT));
        client.Send(request);
        EXPECT_FALSE(client.Read(5000, nullptr, 64 * 1024).empty());
        // Closed with unread bytes: the server's next send meets a reset.
    }
    EXPECT_TRUE(WaitFor([&] { return m_server.ThreadCount() == 0; }, 10000));
    EXPECT_TRUE(Body(Get(request)) == PatternText(size));
}

TEST_F(LocalServer, CacheFileCutShortWhileSentIsRemovedAndFetchedAgain)
{
    // Larger than what the sockets between server and client can hold, so
    // that the cut is met while the file is being sent.
    const size_t size = 32u << 20;
    const std::string path = "/len/" + std::to_string(size);
    ASSERT_TRUE(Body(GetPath(path)) == PatternText(size));
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    client.Send("GET " + path + " HTTP/1.1\r\n\r\n");
    std::string response = client.Read(5000, nullptr, 64 * 1024);
    ASSERT_FALSE(response.empty());
    // Cut short behind the server's back, as a failing disk or another
    // program would leave it; that program holds the file from before the
    // cut until a moment after it (on Windows without delete sharing, so
    // that it cannot be removed yet). Opened first, so that the server
    // cannot have removed the file before it is held.
    auto holder = std::make_unique<std::ifstream>(CacheFile(path), std::ios::binary);
    ASSERT_TRUE(holder->is_open());
    std::filesystem::resize_file(CacheFile(path), 1u << 20);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder.reset();
    });
    bool closed = false;
    response += client.Read(30000, &closed);
    release.join();
    EXPECT_TRUE(closed);
    EXPECT_LT(Body(response).size(), size);
    EXPECT_TRUE(WaitFor([&] { return !PathExists(CacheFile(path)); }, 10000)) << "the cut file is still served";
    EXPECT_TRUE(Body(GetPath(path)) == PatternText(size));
    EXPECT_EQ(2, OriginCount(path));
}

TEST_F(LocalServer, CacheFileRemovedWhileSentArrivesWhole)
{
    // As an eviction or cache clearing removes a file that a slow client is
    // still reading: what was opened is sent whole.
    const size_t size = 32u << 20;
    const std::string path = "/len/" + std::to_string(size) + "?removed";
    ASSERT_TRUE(Body(GetPath(path)) == PatternText(size));
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    client.Send("GET " + path + " HTTP/1.1\r\n\r\n");
    std::string response = client.Read(5000, nullptr, 64 * 1024);
    ASSERT_FALSE(response.empty());
    RemoveFile(CacheFile(path));
    response += client.Read(30000);
    EXPECT_TRUE(Body(response) == PatternText(size));
    EXPECT_EQ(1, OriginCount("/len/" + std::to_string(size)));
    // Windows removes a file that is open once its last handle closes.
    EXPECT_TRUE(WaitFor([&] { return !PathExists(CacheFile(path)); }, 10000));
}

TEST_F(LocalServer, ClosedConnectionsEndTheirThreadsAndAreReaped)
{
    {
        TestSocket client;
        ASSERT_TRUE(client.Connect(PORT));
        client.Send("GET /len/1 HTTP/1.1\r\nHost:");
        EXPECT_TRUE(WaitFor([&] { return m_server.ThreadCount() == 1; }, 5000));
    }
    EXPECT_TRUE(WaitFor([&] { return m_server.ThreadCount() == 0; }, 5000));
}

TEST_F(LocalServer, OversizedRequestClosesTheConnection)
{
    TestSocket client;
    ASSERT_TRUE(client.Connect(PORT));
    std::string filler = "GET /x HTTP/1.1\r\nX-Filler: " + std::string(70 * 1024, 'a');
    client.Send(filler);
    bool closed = false;
    EXPECT_EQ("", client.Read(10000, &closed));
    EXPECT_TRUE(closed);
    EXPECT_TRUE(WaitFor([&] { return m_server.ThreadCount() == 0; }, 5000));
}

}  // namespace

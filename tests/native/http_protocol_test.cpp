// The local server's HTTP rules: completeness, the request line, keep-alive,
// the date and the fixed header.
#include "server/http_protocol.h"

#include <gtest/gtest.h>


namespace {

TEST(HttpRequest, CompleteOnlyWhenEndingWithABlankLine)
{
    EXPECT_TRUE(IsHttpRequestComplete("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(IsHttpRequestComplete("\r\n\r\n"));
    EXPECT_FALSE(IsHttpRequestComplete("\r\n\r"));
    EXPECT_FALSE(IsHttpRequestComplete(""));
    EXPECT_FALSE(IsHttpRequestComplete("GET / HTTP/1.1\r\n"));
    EXPECT_FALSE(IsHttpRequestComplete("GET / HTTP/1.1\n\n"));
    EXPECT_FALSE(IsHttpRequestComplete("POST / HTTP/1.1\r\n\r\nbody"));
}

TEST(HttpRequest, RequestLine)
{
    struct Case {
        const char* request;
        bool bValid;
        bool bGet;
        const char* path;
    };
    const Case cases[] = {
        {"GET /wz_cdn/cdn/ui/main.png HTTP/1.1\r\n\r\n", true, true, "/wz_cdn/cdn/ui/main.png"},
        {"GET /a.png?v=2 HTTP/1.0\r\n\r\n", true, true, "/a.png?v=2"},
        {"GET / HTTP/1.1\r\n\r\n", true, true, "/"},
        {"GET /a.js\r\n\r\n", true, true, "/a.js\r\n\r\n"},          // no version: the rest is the path
        {"POST /api HTTP/1.1\r\n\r\n", true, false, "/mna.html"},
        {"HEAD / HTTP/1.1\r\n\r\n", true, false, "/mna.html"},
        {"get /x HTTP/1.1\r\n\r\n", true, false, "/mna.html"},
        {"GET\r\n\r\n", false, false, ""},
        {"\r\n\r\n", false, false, ""},
        {"GET  /double HTTP/1.1\r\n\r\n", true, true, ""},
    };
    for (const Case& c : cases) {
        RequestLine line = ParseRequestLine(c.request);
        EXPECT_EQ(c.bValid, line.bValid) << c.request;
        EXPECT_EQ(c.bGet, line.bGet) << c.request;
        EXPECT_EQ(c.path, line.path) << c.request;
    }
}

TEST(HttpRequest, KeepAliveOnlyInTheExactCase)
{
    EXPECT_TRUE(AsksForKeepAlive("GET / HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"));
    EXPECT_FALSE(AsksForKeepAlive("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\n"));
    EXPECT_FALSE(AsksForKeepAlive("GET / HTTP/1.1\r\nconnection: Keep-Alive\r\n\r\n"));
    EXPECT_FALSE(AsksForKeepAlive("Connection: Keep-Alive\r\n\r\n"));   // not after a line end
}

TEST(HttpDate, EnglishUtcWhateverTheDate)
{
    EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", FormatHttpDate(0));
    EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", FormatHttpDate(784111777));
    EXPECT_EQ("Tue, 29 Feb 2000 23:59:59 GMT", FormatHttpDate(951868799));
    EXPECT_EQ("Tue, 08 Dec 2026 00:00:00 GMT", FormatHttpDate(1796688000));
    EXPECT_EQ("Tue, 19 Jan 2038 03:14:08 GMT", FormatHttpDate(2147483648LL));
}

std::string Header(const char* status, const std::string& date, int32_t length, bool keepAlive,
                   const std::string& type)
{
    ResponseHeader header = FormatResponseHeader(status, date, length, keepAlive, type);
    return std::string(header.text, static_cast<size_t>(header.length));
}

TEST(HttpHeader, FixedTemplate)
{
    EXPECT_EQ("HTTP/1.0 200 OK\r\nDate: Thu, 01 Jan 1970 00:00:00 GMT\r\nServer: OrvexWebServer/0.1b\r\n"
              "Accept-Ranges: bytes\r\nContent-Length: 1234\r\nConnection: Keep-Alive\r\n"
              "Content-Type: image/png\r\n\r\n",
              Header(STATUS_OK, FormatHttpDate(0), 1234, true, "image/png"));
    EXPECT_EQ("HTTP/1.0 501 Not Implemented\r\nDate: d\r\nServer: OrvexWebServer/0.1b\r\n"
              "Accept-Ranges: bytes\r\nContent-Length: 0\r\nConnection: close\r\n"
              "Content-Type: text/html\r\n\r\n",
              Header(STATUS_NOT_IMPLEMENTED, "d", 0, false, "text/html"));
}

}  // namespace

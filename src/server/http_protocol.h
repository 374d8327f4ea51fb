// What the local server understands of HTTP: a request ends with an empty
// line, the request line gives method and path, one exact header line asks
// for keep-alive, and every response has one fixed HTTP/1.0 header.
#pragma once

#include <cstdint>
#include <string>

const char STATUS_OK[] = "200 OK";
const char STATUS_NOT_IMPLEMENTED[] = "501 Not Implemented";
const char SERVER_NAME[] = "OrvexWebServer/0.1b";
// The resource served, with status 501, for every method but GET.
const char NOT_IMPLEMENTED_PATH[] = "/mna.html";

// True when the text is at least 4 bytes long and ends with "\r\n\r\n".
bool IsHttpRequestComplete(const std::string& request);

struct RequestLine {
    bool bValid = false;   // false: no space at all, nothing is answered
    bool bGet = false;     // the method is exactly "GET"
    std::string path;      // the target byte for byte; "/mna.html" for other methods
};

// Reads the first request line: the method up to the first space, the path
// up to the next space (or the whole rest of the text when none follows).
RequestLine ParseRequestLine(const std::string& request);

// True when the text holds "\nConnection: Keep-Alive" exactly.
bool AsksForKeepAlive(const std::string& request);

// "%a, %d %b %Y %H:%M:%S GMT" in UTC with English names, for seconds since
// 1970, on any locale and from any thread.
std::string FormatHttpDate(int64_t unixSeconds);

// The fixed response header, formatted without any allocation.
struct ResponseHeader {
    char text[512];
    int32_t length = 0;
};
ResponseHeader FormatResponseHeader(const char* status, const std::string& date, int32_t contentLength,
                                    bool bKeepAlive, const std::string& contentType);

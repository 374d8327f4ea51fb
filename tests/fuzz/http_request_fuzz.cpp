// Request text through the local server's HTTP rules: completeness, the
// request line, keep-alive, the content type and the header built from them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/http_protocol.h"
#include "server/mime_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const MimeMap map = BuildMimeMap();
    std::string request(reinterpret_cast<const char*>(data), size);
    bool complete = IsHttpRequestComplete(request);
    RequestLine line = ParseRequestLine(request);
    if (!line.bValid && request.find(' ') != std::string::npos) __builtin_trap();
    if (line.bValid && !line.bGet && line.path != NOT_IMPLEMENTED_PATH) __builtin_trap();
    const std::string& type = ContentTypeForPath(map, line.path);
    ResponseHeader formatted = FormatResponseHeader(line.bGet ? STATUS_OK : STATUS_NOT_IMPLEMENTED, FormatHttpDate(0),
                                                    static_cast<int32_t>(size), AsksForKeepAlive(request) && complete,
                                                    type);
    std::string header(formatted.text, static_cast<size_t>(formatted.length));
    if (header.size() < 4 || header.compare(header.size() - 4, 4, "\r\n\r\n") != 0) __builtin_trap();
    return 0;
}

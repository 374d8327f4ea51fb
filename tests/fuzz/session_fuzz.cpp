// A fuzzed conversation in front of the server's session and its HTTP rules:
// the input scripts the connection (reads of any split, writable events, a
// close, sends that take part, would block or fail), the handler answers
// with the real request parsing and header. Whatever happens, the bytes sent
// are the responses in order, each at most once, and a response is reported
// sent only when all of it went out.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fake_connection.h"
#include "server/connection_session.h"
#include "server/http_protocol.h"
#include "server/mime_table.h"

namespace {

class HttpRulesHandler : public IRequestHandler {
public:
    bool IsRequestComplete(const std::string& request) override { return IsHttpRequestComplete(request); }
    bool HandleRequest(const std::string& request, CServerResponse* pResponse, int* pnKeepAlive) override
    {
        static const MimeMap map = BuildMimeMap();
        RequestLine line = ParseRequestLine(request);
        if (!line.bValid) return false;
        if (AsksForKeepAlive(request)) *pnKeepAlive = 1;
        auto body = std::make_shared<COutBuf>();
        body->Write(line.path.data(), static_cast<int32_t>(line.path.size()));
        ResponseHeader header = FormatResponseHeader(line.bGet ? STATUS_OK : STATUS_NOT_IMPLEMENTED,
                                                     FormatHttpDate(0), body->GetLength(), *pnKeepAlive != 0,
                                                     ContentTypeForPath(map, line.path));
        pResponse->Write(header.text, header.length);
        pResponse->AttachBody(body);
        responses += std::string(header.text, static_cast<size_t>(header.length)) + line.path;
        return true;
    }
    int OnSent(uint32_t nBytes) override
    {
        reported += nBytes;
        return 0;
    }

    std::string responses;   // every response made, in order
    size_t reported = 0;     // bytes of responses reported sent in full
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FakeConnection connection;
    size_t at = 0;
    while (at < size) {
        uint8_t op = data[at++];
        switch (op % 4) {
        case 0: {   // a read of the next (op / 4) bytes of the input
            size_t n = op / 4;
            if (n > size - at) n = size - at;
            connection.events.push_back(FakeConnection::Read(std::string(reinterpret_cast<const char*>(data + at), n)));
            at += n;
            break;
        }
        case 1: connection.events.push_back(FakeConnection::Writable()); break;
        case 2: connection.sendAnswers.push_back(op / 4 == 0 ? FakeConnection::WOULD_BLOCK : op / 4); break;
        default:
            if (op / 4 == 0) connection.events.push_back(FakeConnection::Closed());
            if (op / 4 == 1) connection.sendAnswers.push_back(FakeConnection::FAILS);
            break;
        }
    }
    HttpRulesHandler handler;
    char area[512];
    CConnectionSession(connection, handler, area, sizeof(area)).Run();
    if (handler.responses.compare(0, connection.sent.size(), connection.sent) != 0) __builtin_trap();
    if (handler.reported > connection.sent.size()) __builtin_trap();
    return 0;
}

// One connection's conversation over a scripted connection: requests split
// over reads, sends that take part of their bytes or would block, bytes that
// arrive while a send waits, the request limit, refusals and failures.
#include "server/connection_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_connection.h"

namespace {

// Complete at a blank line; answers "answer <n>\n" and then its body, keeps
// the connection for a request that says "keep", refuses one that starts
// with "REFUSE".
class CountingHandler : public IRequestHandler {
public:
    explicit CountingHandler(std::string body) : m_body(std::move(body)) {}

    bool IsRequestComplete(const std::string& request) override
    {
        return request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0;
    }
    bool HandleRequest(const std::string& request, CServerResponse* pResponse, int* pnKeepAlive) override
    {
        requests.push_back(request);
        if (request.rfind("REFUSE", 0) == 0) return false;
        if (request.find("keep") != std::string::npos) *pnKeepAlive = 1;
        std::string head = "answer " + std::to_string(requests.size()) + "\n";
        pResponse->Write(head.data(), static_cast<int32_t>(head.size()));
        if (!m_body.empty()) {
            auto body = std::make_shared<COutBuf>();
            body->Write(m_body.data(), static_cast<int32_t>(m_body.size()));
            pResponse->AttachBody(body);
        }
        return true;
    }
    int OnSent(uint32_t nBytes) override
    {
        sentCounts.push_back(nBytes);
        return 0;
    }

    std::vector<std::string> requests;
    std::vector<uint32_t> sentCounts;

private:
    std::string m_body;
};

using Event = FakeConnection::Event;

TEST(ConnectionSession, ScriptedConversations)
{
    const std::string overLimit(CConnectionSession::MAX_REQUEST_BYTES + 1, 'a');
    struct Case {
        const char* name;
        std::vector<Event> events;
        std::vector<int> sendAnswers;
        std::string body;
        std::string sent;                  // every byte that went out, in order
        std::vector<uint32_t> completed;   // OnSent's counts
        size_t nEventsLeft;                // events never waited for: the session had ended
    };
    const Case cases[] = {
        {"a request split over reads is answered once, after its blank line",
         {FakeConnection::Read("GET /a"), FakeConnection::Read(" HT"), FakeConnection::Read("TP\r\n\r"),
          FakeConnection::Read("\n"), FakeConnection::Read("GET /b\r\n\r\n")},
         {}, "", "answer 1\n", {9}, 1},
        {"once a request asked for keep-alive the connection waits for more, for good",
         {FakeConnection::Read("keep\r\n\r\n"), FakeConnection::Read("again\r\n\r\n"),
          FakeConnection::Read("late\r\n\r\n")},
         {}, "", "answer 1\nanswer 2\nanswer 3\n", {9, 9, 9}, 0},
        {"sends that take part of their bytes go on from where they stopped",
         {FakeConnection::Read("x\r\n\r\n")}, {4, 3, 1, 100}, "0123456789", "answer 1\n0123456789", {19}, 0},
        {"a send that would block resumes at its offset when the socket is writable",
         {FakeConnection::Read("keep\r\n\r\n"), FakeConnection::Writable()},
         {5, FakeConnection::WOULD_BLOCK}, "body", "answer 1\nbody", {13}, 0},
        {"a request that arrives while a send waits is answered after it",
         {FakeConnection::Read("keep\r\n\r\n"), FakeConnection::Read("second\r\n\r\n"), FakeConnection::Writable()},
         {FakeConnection::WOULD_BLOCK}, "", "answer 1\nanswer 2\n", {9, 9}, 0},
        {"a request past the limit closes the connection with nothing sent",
         {FakeConnection::Read(overLimit), FakeConnection::Read("\r\n\r\n")}, {}, "", "", {}, 1},
        {"bytes past the limit while a send waits close the connection",
         {FakeConnection::Read("keep\r\n\r\n"), FakeConnection::Read(overLimit), FakeConnection::Writable()},
         {FakeConnection::WOULD_BLOCK}, "", "", {}, 1},
        {"a refused request closes the connection with nothing sent",
         {FakeConnection::Read("REFUSE\r\n\r\n"), FakeConnection::Read("x\r\n\r\n")}, {}, "", "", {}, 1},
        {"a failed send closes the connection",
         {FakeConnection::Read("keep\r\n\r\n"), FakeConnection::Read("x\r\n\r\n")}, {3, FakeConnection::FAILS},
         "", "ans", {}, 1},
        {"the peer's close ends a request that never completed",
         {FakeConnection::Read("GET"), FakeConnection::Closed(), FakeConnection::Read("\r\n\r\n")}, {}, "", "", {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeConnection connection;
        connection.events.assign(c.events.begin(), c.events.end());
        connection.sendAnswers.assign(c.sendAnswers.begin(), c.sendAnswers.end());
        CountingHandler handler(c.body);
        char area[64];
        CConnectionSession(connection, handler, area, sizeof(area)).Run();
        EXPECT_EQ(c.sent, connection.sent);
        EXPECT_EQ(c.completed, handler.sentCounts);
        EXPECT_EQ(c.nEventsLeft, connection.events.size());
    }
}

}  // namespace

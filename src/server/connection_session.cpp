#include "server/connection_session.h"

CConnectionSession::CConnectionSession(IServerConnection& connection, IRequestHandler& handler, char* pReceiveArea,
                                       int nReceiveArea)
    : m_connection(connection), m_handler(handler), m_pReceiveArea(pReceiveArea), m_nReceiveArea(nReceiveArea)
{
}

void CConnectionSession::Run()
{
    bool open = m_connection.Select();
    // Bytes that arrived before the socket was tied to its event are not
    // always reported by it (under Wine a connection has been seen to wait
    // for ever for the request it already had): look once before waiting.
    if (open) open = OnReadable();
    while (open) {
        SocketEvents events;
        if (m_connection.Wait(&events) != WaitResult::EVENTS) break;
        if (events.bRead) open = OnReadable();
        if (open && events.bWrite && m_bSendPending) open = OnWritable();
        if (events.bClose) open = false;
    }
}

bool CConnectionSession::OnReadable()
{
    int received = m_connection.Receive(m_pReceiveArea, m_nReceiveArea);
    if (received <= 0) return true;
    m_request.append(m_pReceiveArea, static_cast<size_t>(received));
    // Bytes that arrive while a send waits are kept for later, up to the
    // limit of one request.
    if (m_bSendPending) return m_request.size() <= MAX_REQUEST_BYTES;
    return HandleGathered();
}

bool CConnectionSession::OnWritable()
{
    bool open = SendResponse();
    // A request that arrived during the send is handled now.
    while (open && !m_bSendPending && !m_request.empty() && m_handler.IsRequestComplete(m_request)) {
        open = HandleGathered();
    }
    return open;
}

bool CConnectionSession::HandleGathered()
{
    if (!m_handler.IsRequestComplete(m_request)) return m_request.size() <= MAX_REQUEST_BYTES;
    std::string complete;
    complete.swap(m_request);
    if (!m_handler.HandleRequest(complete, &m_response, &m_nKeepAlive)) return false;
    m_nOffset = 0;
    return SendResponse();
}

// Sends the rest of the response, the buffer and then its file or body, in
// sends of at most MAX_SEND_BYTES.
bool CConnectionSession::SendResponse()
{
    const int64_t length = m_response.GetLength();
    const int64_t total = m_response.TotalLength();
    while (m_nOffset < total) {
        int64_t headRest = m_nOffset < length ? length - m_nOffset : 0;
        int head = static_cast<int>(headRest < MAX_SEND_BYTES ? headRest : MAX_SEND_BYTES);
        const uint8_t* headData = head > 0 ? m_response.GetData() + m_nOffset : nullptr;
        int64_t tailOffset = m_nOffset < length ? 0 : m_nOffset - length;
        int64_t tailRest = m_response.TailLength() - tailOffset;
        int room = MAX_SEND_BYTES - head;
        int count = static_cast<int>(tailRest < room ? tailRest : room);
        int sent = 0;
        SendResult result;
        if (CInputFile* file = m_response.File()) {
            result = m_connection.SendWithFile(headData, head, *file, tailOffset, count, &sent);
        } else {
            const uint8_t* tailData = count > 0 ? m_response.Body()->GetData() + tailOffset : nullptr;
            result = m_connection.Send(headData, head, tailData, count, &sent);
        }
        if (result == SendResult::WOULD_BLOCK) {
            m_bSendPending = true;
            return true;
        }
        if (result == SendResult::FILE_FAILED) m_handler.OnFileUnreadable(*m_response.File());
        if (result != SendResult::SENT) {
            m_nKeepAlive = 0;
            return false;
        }
        m_nOffset += sent;
    }
    m_bSendPending = false;
    m_handler.OnSent(static_cast<uint32_t>(m_nOffset));
    m_response.Free();
    return m_nKeepAlive != 0;
}

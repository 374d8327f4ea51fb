// A connection at the platform edge whose every event and send answer is
// scripted: requests split over reads or several in one, a send that takes
// only part of its bytes, would block or fails, a peer that closes. It
// records what the session sent.
#pragma once

#include <cstring>
#include <deque>
#include <string>

#include "platform/server_socket.h"

class FakeConnection : public IServerConnection {
public:
    // One wait's events. A read event delivers its bytes to the next receive.
    struct Event {
        std::string read;
        bool bRead = false;
        bool bWrite = false;
        bool bClose = false;
    };
    static Event Read(std::string bytes) { return Event{std::move(bytes), true, false, false}; }
    static Event Writable() { return Event{std::string(), false, true, false}; }
    static Event Closed() { return Event{std::string(), false, false, true}; }

    // How a send answers: takes up to this many bytes, or would block or fails.
    static constexpr int WOULD_BLOCK = -1;
    static constexpr int FAILS = -2;

    // After the last event every wait answers STOPPED; without send answers
    // every send takes all its bytes.
    std::deque<Event> events;
    std::deque<int> sendAnswers;
    std::string sent;
    int nWaits = 0;

    bool Select() override { return true; }

    WaitResult Wait(SocketEvents* pEvents) override
    {
        ++nWaits;
        *pEvents = SocketEvents();
        // Bytes that one receive did not take are readable again, as on a
        // socket, before anything else happens.
        if (!m_current.read.empty()) {
            pEvents->bRead = true;
            return WaitResult::EVENTS;
        }
        if (events.empty()) return WaitResult::STOPPED;
        m_current = events.front();
        events.pop_front();
        pEvents->bRead = m_current.bRead;
        pEvents->bWrite = m_current.bWrite;
        pEvents->bClose = m_current.bClose;
        return WaitResult::EVENTS;
    }

    int Receive(void* pBuffer, int nSize) override
    {
        int n = static_cast<int>(m_current.read.size()) < nSize ? static_cast<int>(m_current.read.size()) : nSize;
        std::memcpy(pBuffer, m_current.read.data(), static_cast<size_t>(n));
        m_current.read.erase(0, static_cast<size_t>(n));
        return n;
    }

    SendResult Send(const void* pFirst, int nFirst, const void* pSecond, int nSecond, int* pnSent) override
    {
        std::string bytes(static_cast<const char*>(pFirst), static_cast<size_t>(nFirst));
        if (nSecond > 0) bytes.append(static_cast<const char*>(pSecond), static_cast<size_t>(nSecond));
        *pnSent = 0;
        int take = static_cast<int>(bytes.size());
        if (!sendAnswers.empty()) {
            int answer = sendAnswers.front();
            sendAnswers.pop_front();
            if (answer == WOULD_BLOCK) return SendResult::WOULD_BLOCK;
            if (answer == FAILS) return SendResult::FAILED;
            if (answer < take) take = answer;
        }
        sent.append(bytes, 0, static_cast<size_t>(take));
        *pnSent = take;
        return SendResult::SENT;
    }

    SendResult SendWithFile(const void*, int, CInputFile&, int64_t, int, int*) override { return SendResult::FAILED; }

private:
    Event m_current;
};

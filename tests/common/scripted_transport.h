// A fake HTTP transport at the platform edge, for the failures a real
// upstream cannot be made to show: an announced length that never arrives,
// an exception inside the transport, a fetch held open until the test lets
// it go. Every request gets the same scripted answer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/http_transport.h"

struct ScriptedAnswer {
    enum Failure { NONE, OPEN_FAILS, THROW_ON_OPEN, THROW_ON_READ };
    Failure failure = NONE;
    uint32_t nAnnounced = 0;         // the Content-Length sent
    std::vector<uint8_t> body;       // the bytes that then arrive
};

class ScriptedTransport : public IHttpTransport {
public:
    explicit ScriptedTransport(ScriptedAnswer answer) : m_answer(std::move(answer)) {}

    // While held, every request waits in its open until Release.
    void Hold()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bHeld = true;
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bHeld = false;
        m_changed.notify_all();
    }
    int Opens()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_nOpens;
    }

    ConnectionState GetConnectedState() override
    {
        ConnectionState state;
        state.bConnected = true;
        return state;
    }
    uint32_t GetTickCount() override { return 0; }
    std::unique_ptr<IHttpSession> Open(const std::string&, bool, HttpText) override
    {
        return std::make_unique<Session>(*this);
    }

private:
    class Request : public IHttpRequest {
    public:
        explicit Request(const ScriptedAnswer& answer) : m_answer(answer) {}
        bool QueryContentLength(uint32_t* pnLength) override
        {
            *pnLength = m_answer.nAnnounced;
            return true;
        }
        int QueryStatusCode() override { return 200; }
        bool Read(void* pBuffer, uint32_t nSize, uint32_t* pnRead) override
        {
            if (m_answer.failure == ScriptedAnswer::THROW_ON_READ) throw std::bad_alloc();
            size_t left = m_answer.body.size() - m_nOffset;
            *pnRead = static_cast<uint32_t>(left < nSize ? left : nSize);
            if (*pnRead) std::memcpy(pBuffer, m_answer.body.data() + m_nOffset, *pnRead);
            m_nOffset += *pnRead;
            return true;
        }

    private:
        const ScriptedAnswer& m_answer;
        size_t m_nOffset = 0;
    };

    class Session : public IHttpSession {
    public:
        explicit Session(ScriptedTransport& transport) : m_transport(transport) {}
        std::unique_ptr<IHttpRequest> OpenUrl(const std::string&, bool* pbFileNotFound) override
        {
            if (pbFileNotFound) *pbFileNotFound = false;
            {
                std::unique_lock<std::mutex> lock(m_transport.m_lock);
                ++m_transport.m_nOpens;
                m_transport.m_changed.wait(lock, [this] { return !m_transport.m_bHeld; });
            }
            switch (m_transport.m_answer.failure) {
            case ScriptedAnswer::OPEN_FAILS: return nullptr;
            case ScriptedAnswer::THROW_ON_OPEN: throw std::bad_alloc();
            default: return std::make_unique<Request>(m_transport.m_answer);
            }
        }

    private:
        ScriptedTransport& m_transport;
    };

    ScriptedAnswer m_answer;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bHeld = false;
    int m_nOpens = 0;
};

// The module object with its per-thread registry of message loops, and the
// message loop object with the message filters and idle handlers that
// windows register with it. The game phase's own loop dispatches the
// messages (app/game_message_loop.h); the launcher runs the dialog manager's.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

// Offered every message before it is translated and dispatched; TRUE means
// the filter handled it.
class CMessageFilter {
public:
    virtual BOOL PreTranslateMessage(MSG* pMsg) = 0;

protected:
    ~CMessageFilter() = default;
};

// Called when the queue is empty; TRUE asks for further idle calls.
class CIdleHandler {
public:
    virtual BOOL OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

class CMessageLoop {
public:
    BOOL AddMessageFilter(CMessageFilter* pFilter);
    BOOL RemoveMessageFilter(CMessageFilter* pFilter);
    BOOL AddIdleHandler(CIdleHandler* pHandler);
    BOOL RemoveIdleHandler(CIdleHandler* pHandler);

private:
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
};

class CAppModule {
public:
    HRESULT Init(HINSTANCE hInstance);
    void Term();

    // Registers the loop of the calling thread; one per thread at a time.
    BOOL AddMessageLoop(CMessageLoop* pLoop);
    BOOL RemoveMessageLoop();
    // The loop registered for the calling thread, or null.
    CMessageLoop* GetMessageLoop() const;

private:
    mutable std::mutex m_lock;
    std::map<DWORD, CMessageLoop*> m_loops;
};

// The process's module object.
extern CAppModule g_appModule;

// The module object with its per-thread registry of message loops, and the
// message loop with its message filters and idle handlers.
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

    // Runs until WM_QUIT, offering each message to the filters (latest
    // first) and calling the idle handlers whenever the queue runs empty.
    // Returns the quit message's exit code.
    int Run();

private:
    BOOL PreTranslateMessage(MSG* pMsg);
    BOOL OnIdle();

    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
};

class CAppModule {
public:
    HRESULT Init(HINSTANCE hInstance);
    void Term();
    HINSTANCE GetModuleInstance() const { return m_hInstance; }

    // Registers the loop of the calling thread; one per thread at a time.
    BOOL AddMessageLoop(CMessageLoop* pLoop);
    BOOL RemoveMessageLoop();
    // The loop registered for the calling thread, or null.
    CMessageLoop* GetMessageLoop() const;

private:
    HINSTANCE m_hInstance = nullptr;
    mutable std::mutex m_lock;
    std::map<DWORD, CMessageLoop*> m_loops;
};

// The process's module object.
extern CAppModule g_appModule;

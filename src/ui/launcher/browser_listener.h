// CWebBrwoser2EventListener: the launcher browser's event sink. Every
// navigation is checked for the play page (CaptureGameUrl), never cancelled;
// every loaded document is written to the debugger output and kept silent.
// No reference counting: created once per launcher and never freed.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include "ui/launcher/game_hand_over.h"

class CWebBrwoser2EventListener : public IDispatch {
public:
    // hWndLauncher: the window that CaptureGameUrl closes.
    CWebBrwoser2EventListener(HWND hWndLauncher, IGameHandOver* pHandOver)
        : m_hWndLauncher(hWndLauncher), m_pHandOver(pHandOver)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*, UINT*) override;

    HWND LauncherWindow() const { return m_hWndLauncher; }
    IGameHandOver* HandOver() const { return m_pHandOver; }

private:
    HWND m_hWndLauncher;
    IGameHandOver* m_pHandOver;
};

// Keeps the navigating browser silent and, on the play page, stores the game
// address, chooses the game window and closes the launcher. Never cancels.
void CaptureGameUrl(CWebBrwoser2EventListener* pSink, IDispatch* pBrowser, const VARIANT& url,
                    VARIANT_BOOL* pCancel);

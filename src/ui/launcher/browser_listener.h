// CWebBrwoser2EventListener: the launcher browser's event sink. Every
// navigation is checked for the play page (CaptureGameUrl), never cancelled;
// every loaded document is written to the debugger output and kept silent.
// No reference counting: the launcher dialog owns it.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include "ui/framework/ax_host.h"

#include "ui/launcher/game_hand_over.h"

class CWebBrwoser2EventListener : public CBrowserEventSink {
public:
    // hWndLauncher: the window that CaptureGameUrl closes. Its Release
    // answers 1.
    CWebBrwoser2EventListener(HWND hWndLauncher, IGameHandOver* pHandOver)
        : CBrowserEventSink(1), m_hWndLauncher(hWndLauncher), m_pHandOver(pHandOver)
    {
    }

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

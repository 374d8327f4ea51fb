// CClientApp: the application object. It runs the program's phases on the
// main thread: start-up, the local server, the launcher window, the game
// window and shutdown.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "app/run_mode.h"
#include "app/start_arguments.h"
#include "ui/game/game_dlg.h"
#include "ui/launcher/game_hand_over.h"
#include "ui/launcher/translucent_dlg.h"

class CHTTPServer;

// The application object is the launcher window itself and owns the game
// window; the launcher's events tell it which game comes next.
class CClientApp : public CTranslucentDlg, public IGameHandOver {
public:
    // server: the process's local resource server, started by Run.
    explicit CClientApp(CHTTPServer& server);
    ~CClientApp();
    CClientApp(const CClientApp&) = delete;
    CClientApp& operator=(const CClientApp&) = delete;

    // The whole life of the application after entry.
    void Run(bool bReopen);
    // Relocation off drive C, clean-up after an update, the desktop shortcut
    // and the update check. False when a relocated copy was started and this
    // process must end at once.
    bool StartUp(bool bReopen);
    // The per-folder instance check and self-update; may set RUN_MODE_RESTART.
    bool CheckInstanceAndUpdate(bool bReopen);
    // The fixed drive other than C with the most free space, or *pLetter
    // unchanged.
    void ChooseTargetDrive(wchar_t* pLetter);
    // Writes <desktop>\ZelmicVantorra.lnk to start the program from here.
    void CreateDesktopShortcut();
    // Removes "Quillet.exe.old": one try, up to four after an update.
    void DeleteOldProgramFile(bool bReopen);
    // Unhooks the launcher's keyboard hook and, after an update, starts the
    // new program with "re_open".
    void Shutdown();

    void SetGameUrl(const wchar_t* url) override;
    void ChooseGameWindow() override;

    CGameDlg m_gameDlg;
    VARIANT m_varGameUrl;
    HANDLE m_hUpdateMutex = nullptr;
    int m_nRunMode = RUN_MODE_NONE;
    wchar_t m_szExeName[MAX_PATH_CHARS] = {};

private:
    void RunLauncherPhase();
    void RunGamePhase();

    CHTTPServer& m_server;
};

// The instance handle kept by the entry point; the update check loads the
// built-in version with it.
extern HINSTANCE g_hInstance;

#include "app/client_app.h"

#include <shlobj.h>

#include "app/drive_choice.h"
#include "app/start_up_rules.h"
#include "app/update_rules.h"
#include "app/game_message_loop.h"
#include "app/process_start.h"
#include "app/shell_link.h"
#include "app/system_drives.h"
#include "build_config.h"
#include "platform/event_log.h"
#include "platform/wide_text_win32.h"
#include "server/http_server.h"
#include "ui/launcher/browser_key_hook.h"
#include "ui/framework/message_loop.h"

HINSTANCE g_hInstance = nullptr;

namespace {

const wchar_t RELOCATION_FOLDER[] = L":\\mbrl\\";

const char* RunModeName(int nRunMode)
{
    switch (nRunMode) {
    case RUN_MODE_LAUNCHER: return "launcher";
    case RUN_MODE_GAME: return "game";
    case RUN_MODE_RESTART: return "restart";
    default: return "none";
    }
}

void CopyToBuffer(wchar_t* buffer, size_t nChars, const std::wstring& text)
{
    size_t n = text.size() < nChars ? text.size() : nChars - 1;
    text.copy(buffer, n);
    buffer[n] = L'\0';
}

}  // namespace

CClientApp::CClientApp(CHTTPServer& server)
    : CTranslucentDlg(this, ToWide(kGameCodeUrl, CP_UTF8)), m_gameDlg(&m_varGameUrl), m_server(server)
{
    VariantInit(&m_varGameUrl);
}

CClientApp::~CClientApp()
{
    VariantClear(&m_varGameUrl);
}

void CClientApp::Run(bool bReopen)
{
    if (!StartUp(bReopen)) return;
    // The result is not acted upon: without a local server the windows are
    // shown all the same, and the log says why the game then loads nothing.
    ULONGLONG begun = GetTickCount64();
    if (m_server.StartServer()) {
        LogEvent("server: listening on 127.0.0.1:%d in %llu ms, cache %s", LOCAL_SERVER_PORT,
                 static_cast<unsigned long long>(GetTickCount64() - begun), m_server.CacheRoot().c_str());
    } else {
        LogEvent("server: not started on 127.0.0.1:%d after %llu ms: %s", LOCAL_SERVER_PORT,
                 static_cast<unsigned long long>(GetTickCount64() - begun),
                 m_server.ListenFailure().empty() ? "it could not start" : m_server.ListenFailure().c_str());
    }
    LogEvent("run mode: %s", RunModeName(m_nRunMode));
    if (m_nRunMode == RUN_MODE_LAUNCHER) RunLauncherPhase();
    if (m_nRunMode == RUN_MODE_GAME) RunGamePhase();
    Shutdown();
}

bool CClientApp::StartUp(bool bReopen)
{
    m_nRunMode = RUN_MODE_LAUNCHER;
    std::wstring program = GetProgramPath();
    CopyToBuffer(m_szExeName, MAX_PATH_CHARS, FileNamePart(program));

    if (!program.empty() && IsOnDriveC(program)) {
        wchar_t letter = L'\0';
        ChooseTargetDrive(&letter);
        if (letter != L'\0') {
            std::wstring folder = std::wstring(1, letter) + RELOCATION_FOLDER;
            std::wstring copy = folder + m_szExeName;
            // The copy's path and its command line share one 256-character
            // buffer: a copy that could not be started whole is not made.
            std::wstring commandLine = BuildCommandLine(copy, L"delfile=" + program, MAX_COMMAND_LINE_CHARS);
            if (!commandLine.empty()) {
                CreateDirectoryW(folder.c_str(), nullptr);
                if (CopyFileW(program.c_str(), copy.c_str(), FALSE)) {
                    LogEvent("relocation: copied to %s and started", WideToUtf8(copy).c_str());
                    StartProgram(commandLine, folder);
                    return false;
                }
            }
        }
    }

    DeleteOldProgramFile(bReopen);
    CreateDesktopShortcut();
    CheckInstanceAndUpdate(bReopen);
    return true;
}

void CClientApp::ChooseTargetDrive(wchar_t* pLetter)
{
    CSystemDrives drives;
    ::ChooseTargetDrive(drives, pLetter);
}

void CClientApp::CreateDesktopShortcut()
{
    wchar_t desktop[MAX_PATH_CHARS] = {};
    if (!SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, FALSE)) desktop[0] = L'\0';
    std::wstring current = GetCurrentDir(MAX_PATH_CHARS);
    if (current.empty()) return;
    bool same = CompareStringOrdinal(desktop, -1, current.c_str(), -1, TRUE) == CSTR_EQUAL;
    ShortcutPlan plan;
    if (!PlanDesktopShortcut(desktop, current, m_szExeName, same, &plan)) return;
    CreateShellLink(plan.target, plan.linkPath, plan.workingDir);
}

void CClientApp::DeleteOldProgramFile(bool bReopen)
{
    DeleteWithRetries(
        bReopen, [] { return DeleteFileW(OLD_PROGRAM_FILE) != FALSE; },
        [](unsigned int ms) { Sleep(ms); });
}

void CClientApp::RunLauncherPhase()
{
    CMessageLoop loop;
    g_appModule.AddMessageLoop(&loop);
    // Its result is not used: what counts is the run mode it leaves.
    DoModal(GetActiveWindow(), 0);
    g_appModule.RemoveMessageLoop();
}

void CClientApp::RunGamePhase()
{
    CMessageLoop loop;
    g_appModule.AddMessageLoop(&loop);
    m_nRunMode = RUN_MODE_GAME;
    // The game window's quit message ends the loop. A window that could not
    // be created would post none, so then there is no loop to wait in.
    if (m_gameDlg.Create(nullptr)) RunGameMessageLoop(m_gameDlg.m_hWnd, m_gameDlg.m_wndBrowserHost);
    g_appModule.RemoveMessageLoop();
}

void CClientApp::SetGameUrl(const wchar_t* url)
{
    VariantClear(&m_varGameUrl);
    m_varGameUrl.vt = VT_BSTR;
    m_varGameUrl.bstrVal = SysAllocString(url);
}

void CClientApp::ChooseGameWindow()
{
    m_nRunMode = RUN_MODE_GAME;
}

void CClientApp::Shutdown()
{
    // The launcher may have removed its hook already; a second removal fails
    // harmlessly.
    if (g_hKeyboardHook) UnhookWindowsHookEx(g_hKeyboardHook);
    if (m_nRunMode != RUN_MODE_RESTART) return;
    // The current directory may take at most 254 characters of the 256.
    std::wstring current = GetCurrentDir(255);
    if (current.empty()) return;
    std::wstring commandLine =
        BuildCommandLine(current + L"\\" + m_szExeName, L"re_open", MAX_COMMAND_LINE_CHARS);
    if (commandLine.empty()) return;
    LogEvent("update: relaunching %s", WideToUtf8(commandLine).c_str());
    StartProgram(commandLine, current);
}

// Process entry of Quillet.exe and its static objects.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "app/client_app.h"
#include "app/ole_apartment.h"
#include "app/path_text.h"
#include "app/process_start.h"
#include "app/start_arguments.h"
#include "platform/event_log.h"
#include "platform/wide_text_win32.h"
#include "resource.h"
#include "server/http_server.h"
#include "ui/framework/message_loop.h"

// Constructed in this order before the entry point runs. The module and the
// application are destroyed in the reverse order after it returns; the
// server never is: it is never stopped, and its threads, which may be in
// the middle of an upstream fetch, end with the process, at once, instead
// of keeping it alive after Exit or a relaunch.
CAppModule g_appModule;
static CHTTPServer& g_httpServer = *new CHTTPServer;
static CClientApp g_app(g_httpServer);

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR pszArguments, int)
{
    g_hInstance = hInstance;
    // "Quillet.log" beside the program: what a player can send to support.
    std::wstring program = GetProgramPath();
    if (!program.empty()) SetEventLogPath(WideToUtf8(FolderPart(program) + L"\\Quillet.log"));
    wchar_t version[64] = {};
    LoadStringW(hInstance, IDS_VERSION, version, 64);
    LogEvent("start: Quillet %s, folder %s, arguments \"%s\"", WideToUtf8(version).c_str(),
             WideToUtf8(GetCurrentDir(MAX_PATH_CHARS)).c_str(), WideToUtf8(pszArguments ? pszArguments : L"").c_str());
    // A player pastes a code into the launcher's page: OLE, not COM alone.
    COleApartment apartment;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    g_appModule.Init(hInstance);

    StartArguments arguments = ParseStartArguments(pszArguments ? pszArguments : L"");
    if (arguments.bDeleteFile) {
        DeleteFileW(arguments.deletePath.c_str());
        Sleep(100);
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    }
    g_app.Run(arguments.bReopen);
    LogEvent("exit");

    g_appModule.Term();
    return 0;
}

#include "platform/termination.h"

#include <windows.h>

namespace {

HANDLE g_hTerminate = nullptr;

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_hTerminate);
    return TRUE;
}

}  // namespace

void PrepareForTermination()
{
    g_hTerminate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WaitForTermination()
{
    WaitForSingleObject(g_hTerminate, INFINITE);
}

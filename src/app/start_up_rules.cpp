#include "app/start_up_rules.h"

#include "app/start_arguments.h"

bool DeleteWithRetries(bool bReopen, const std::function<bool()>& tryDelete,
                       const std::function<void(unsigned int)>& sleepMs)
{
    if (tryDelete()) return true;
    if (!bReopen) return false;
    for (int retry = 0; retry < 3; ++retry) {
        sleepMs(1000);
        if (tryDelete()) return true;
    }
    return false;
}

bool PlanDesktopShortcut(const std::wstring& desktop, const std::wstring& currentDir,
                         const std::wstring& exeName, bool bSameFolder, ShortcutPlan* pPlan)
{
    // No desktop folder or no program name: a link would land in the root
    // of the current drive, or name the program's folder instead of it.
    if (bSameFolder || desktop.empty() || exeName.empty()) return false;
    std::wstring link = desktop + L"\\ZelmicVantorra.exe";
    size_t dot = link.find_last_of(L'.');
    if (dot != std::wstring::npos) link.erase(dot);
    link += L".lnk";
    std::wstring target = currentDir + L"\\" + exeName;
    for (size_t length : {desktop.size(), currentDir.size(), link.size(), target.size()}) {
        if (length >= MAX_PATH_CHARS) return false;
    }
    pPlan->linkPath = link;
    pPlan->target = target;
    pPlan->workingDir = currentDir;
    return true;
}

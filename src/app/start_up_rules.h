// Decisions of start-up that do not need the system: the clean-up retries and
// the desktop shortcut's paths.
#pragma once

#include <functional>
#include <string>

// Deletes the file left by an earlier update: one try, and after an update
// (bReopen) up to 3 more, each after a 1000 ms pause, stopping at the first
// success. Returns whether a try succeeded.
bool DeleteWithRetries(bool bReopen, const std::function<bool()>& tryDelete,
                       const std::function<void(unsigned int)>& sleepMs);

struct ShortcutPlan {
    std::wstring linkPath;     // <desktop>\ZelmicVantorra.lnk
    std::wstring target;       // <current directory>\<program file name>
    std::wstring workingDir;   // the current directory
};

// The shortcut to write, or false when none is written: the program runs from
// the desktop folder itself (bSameFolder, compared ignoring case by the
// caller), the desktop or the program's file name is unknown (empty), or a
// path would not fit in a 260-character buffer.
bool PlanDesktopShortcut(const std::wstring& desktop, const std::wstring& currentDir,
                         const std::wstring& exeName, bool bSameFolder, ShortcutPlan* pPlan);

#include "app/shell_link.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "ui/framework/scoped_win.h"

bool CreateShellLink(const std::wstring& target, const std::wstring& linkPath, const std::wstring& workingDir)
{
    CComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.ReceiveVoid()))) {
        return false;
    }
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(workingDir.c_str());
    CComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid()))) return false;
    file->Save(linkPath.c_str(), TRUE);
    return true;
}

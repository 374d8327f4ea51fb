// The dialog laid over the launcher window, as the translucent window drives it.
#pragma once

#include <windows.h>

class IStandardDialog {
public:
    // Creates the dialog window and shows it.
    virtual HWND Create() = 0;
    virtual HWND GetHwnd() = 0;
    virtual void DestroyDialog() = 0;
    // Deletes the object behind the interface.
    virtual void Delete() = 0;

protected:
    virtual ~IStandardDialog() = default;
};

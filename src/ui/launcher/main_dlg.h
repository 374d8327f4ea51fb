// CMainDlg: the standard dialog laid over the launcher window. Its green
// background is keyed out, so only its controls show on the picture: the
// browser on the game-code page and the close button.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <memory>
#include <string>

#include "resource.h"
#include "ui/framework/scoped_win.h"
#include "ui/framework/window_base.h"
#include "ui/framework/window_icons.h"
#include "ui/launcher/browser_listener.h"
#include "ui/launcher/game_hand_over.h"
#include "ui/launcher/standard_dialog.h"
#include "ui/skin/my_button.h"

// Makes one colour of a window fully transparent.
class CColorKeyLayer {
public:
    // Creates the brush of the key colour and keys that colour out of hWnd
    // (SetLayeredWindowAttributes, looked up at run time).
    void Apply(HWND hWnd);
    // The brush that paints the key colour; null before Apply.
    HBRUSH Brush() const { return m_brush.Get(); }

    COLORREF m_crKey = RGB(0, 255, 0);

private:
    CGdiObject<HBRUSH> m_brush;
};

class CMainDlg : public CDialogImpl<CMainDlg>, public IStandardDialog {
public:
    enum { IDD = IDD_MAIN_DIALOG };

    CMainDlg(HWND hWndOwner, IGameHandOver* pHandOver, std::wstring gameCodeUrl);

    HWND Create() override;
    HWND GetHwnd() override { return m_hWnd; }
    void DestroyDialog() override;
    void Delete() override { delete this; }

    BEGIN_MSG_MAP(CMainDlg)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
        COMMAND_RANGE_CODE_HANDLER(IDC_LAUNCHER_MINIMIZE, IDC_LAUNCHER_MINIMIZE, BN_CLICKED, OnMinimize)
        COMMAND_RANGE_CODE_HANDLER(IDC_LAUNCHER_CLOSE, IDC_LAUNCHER_CLOSE, BN_CLICKED, OnClose)
        COMMAND_RANGE_CODE_HANDLER(IDC_LAUNCHER_START, IDC_LAUNCHER_START, BN_CLICKED, OnStart)
        COMMAND_RANGE_CODE_HANDLER(IDC_LAUNCHER_LINK_1009, IDC_LAUNCHER_LINK_1010, BN_CLICKED, OnLink)
        COMMAND_RANGE_CODE_HANDLER(IDC_LAUNCHER_LINK_1012, IDC_LAUNCHER_LINK_1013, BN_CLICKED, OnLink)
        MESSAGE_HANDLER(WM_CTLCOLORDLG, OnCtlColorDialog)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    CColorKeyLayer m_colorKey;
    HWND m_hWndOwner;
    HWND m_wndBrowserHost = nullptr;
    MyButton m_btnClose;
    MyButton m_btnMinimize;
    MyButton m_btnStart;
    MyButton m_btnLink1010;
    MyButton m_btnLink1009;
    MyButton m_btnLink1013;
    MyButton m_btnLink1012;
    CWindowIcons m_icons;
    std::unique_ptr<CWebBrwoser2EventListener> m_pListener;

private:
    ~CMainDlg() override = default;
    void SetUpBrowser();

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    // The icons go once the window is gone, never while it is shown.
    LRESULT OnNcDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnMinimize(WORD, WORD, HWND, BOOL&);
    LRESULT OnClose(WORD, WORD, HWND, BOOL&);
    LRESULT OnStart(WORD, WORD, HWND, BOOL&);
    LRESULT OnLink(WORD, WORD, HWND, BOOL&);
    LRESULT OnCtlColorDialog(UINT, WPARAM, LPARAM, BOOL&);

    IGameHandOver* m_pHandOver;
    std::wstring m_gameCodeUrl;
};

// CGameDlg: the game window. A borderless dialog on template 238 that shows
// the game page in a hosted browser under its own title band with seven
// picture buttons, keeps a tray icon and the F9 hotkey, offers two menus and
// ends the game phase only through its exit confirmation.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <exdisp.h>

#include "resource.h"
#include "ui/framework/message_loop.h"
#include "ui/framework/window_base.h"
#include "ui/framework/window_icons.h"
#include "ui/game/game_layout.h"
#include "ui/game/invoke_event.h"
#include "ui/skin/my_button.h"
#include "ui/skin/skin_image.h"

const UINT WM_TRAYICON = WM_USER + 5;
const int HOTKEY_REFRESH = 116;
const int HOTKEY_TOGGLE = 120;
const UINT TRAY_ICON_ID = 128;
// Sent to every top-level window when the taskbar is created.
extern const UINT WM_TASKBARCREATED;
const size_t TITLE_CHARS = 256;

class CGameDlg : public CDialogImpl<CGameDlg>,
                 public CMessageFilter,
                 public CIdleHandler,
                 public IGameBrowserWindow {
public:
    enum { IDD = IDD_GAME_DIALOG };

    // pGameUrl: the application's game address (a VARIANT holding a BSTR, or
    // empty), read when the browser is created.
    explicit CGameDlg(const VARIANT* pGameUrl);

    // Copies text into the title, cut at a character boundary when longer
    // than the band holds, and repaints the band before returning.
    void SetTitleText(const wchar_t* text) override;
    IWebBrowser2* GetBrowser() override { return m_pBrowser; }
    HWND GetBrowserHost() override { return m_wndBrowserHost; }

    // Asks "正在游戏中，是否确认退出游戏？"; OK destroys the window and ends
    // the loop with the quit message.
    void ConfirmExit();
    void ToggleVisible();
    void RefreshPage();
    // Between the work area's size at (0, 0) and the initial size, centred.
    void ToggleSize();
    void ShowMainMenu();
    void ShowTrayMenu();

    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnIdle() override;

    BEGIN_MSG_MAP(CGameDlg)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
        MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
        MESSAGE_HANDLER(WM_NCLBUTTONDOWN, OnNcLButtonDown)
        MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
        MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnLButtonDblClk)
        COMMAND_RANGE_CODE_HANDLER(IDC_GAME_CLOSE, IDC_GAME_MAXIMIZE, BN_CLICKED, OnButton)
        COMMAND_ID_HANDLER(ID_MAIN_REFRESH, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_TRAY_REFRESH, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_MAIN_TOGGLE_VISIBLE, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_TRAY_TOGGLE_VISIBLE, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_MAIN_CLEAR_CACHE, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_TRAY_CLEAR_CACHE, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_MAIN_RESET_WINDOW, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_MAIN_EXIT, OnMenuCommand)
        COMMAND_ID_HANDLER(ID_TRAY_EXIT, OnMenuCommand)
        MESSAGE_HANDLER(WM_HOTKEY, OnHotKey)
        MESSAGE_HANDLER(WM_TRAYICON, OnTrayIcon)
        MESSAGE_HANDLER(WM_TASKBARCREATED, OnTaskbarCreated)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

    HWND m_wndBrowserHost = nullptr;
    IWebBrowser2* m_pBrowser = nullptr;
    CInvokeEvent m_eventSink;
    MyButton m_btnClose;
    MyButton m_btnMinimize;
    MyButton m_btnRestore;
    MyButton m_btnMaximize;
    MyButton m_btnHide;
    MyButton m_btnLogo;
    MyButton m_btnMenu;
    SkinImage m_imgTitle;
    const LayoutRule* m_pLayoutRules = nullptr;
    size_t m_nLayoutRules = 0;
    int m_nLastWidth = 0;
    int m_nLastHeight = 0;
    int m_nSizeState = 0;
    RECT m_rcInitial = {};
    RECT m_rcWork = {};
    NOTIFYICONDATAW m_nid = {};
    CWindowIcons m_icons;
    wchar_t m_szTitle[TITLE_CHARS] = {};

private:
    bool CreateBrowserHost();
    // Shows the restore button at work-area size, the maximise button otherwise.
    void UpdateSizeButtons();
    void AddTrayIcon(HICON hIcon);
    void ShowMenu(int menuId);

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnSize(UINT, WPARAM wParam, LPARAM lParam, BOOL&);
    // The window itself given the focus (activation with no control to
    // return it to, or a picture button handing it back) passes it to the
    // page: the dialog manager would give it to the first control, a picture
    // button, which hands it straight back.
    LRESULT OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnEraseBackground(UINT, WPARAM wParam, LPARAM, BOOL&);
    LRESULT OnSetCursor(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnNcLButtonDown(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnLButtonDblClk(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnButton(WORD, WORD id, HWND, BOOL&);
    // The commands of both menus, by id.
    LRESULT OnMenuCommand(WORD, WORD id, HWND, BOOL&);
    LRESULT OnHotKey(UINT, WPARAM wParam, LPARAM, BOOL& bHandled);
    LRESULT OnTrayIcon(UINT, WPARAM, LPARAM lParam, BOOL&);
    // Gives the keyboard focus to the page, while the window is shown.
    void FocusBrowser();
    // Explorer started anew (after a crash, or a restart) and lost every
    // tray icon: the icon is added again, the only way back to a hidden
    // game window besides F9.
    LRESULT OnTaskbarCreated(UINT, WPARAM, LPARAM, BOOL&);

    const VARIANT* m_pGameUrl;
};

// Copies text into a buffer of nChars (terminator included), cut so that no
// surrogate pair is split.
void CopyTitle(wchar_t* buffer, size_t nChars, const wchar_t* text);

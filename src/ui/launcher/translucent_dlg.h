// CTranslucentDlg: the launcher window. A borderless picture with per-pixel
// alpha on template 262, with the standard dialog laid over it. It ends with
// the game window chosen; only the close button ends the process instead.
#pragma once

#include <windows.h>

#include <string>

#include "resource.h"
#include "ui/framework/window_base.h"
#include "ui/framework/window_icons.h"
#include "ui/launcher/game_hand_over.h"
#include "ui/launcher/translucent_frame.h"

class CTranslucentDlg : public CDialogImpl<CTranslucentDlg> {
public:
    enum { IDD = IDD_TRANSLUCENT_DIALOG };

    // pHandOver hears of the chosen game; gameCodeUrl is the page the
    // launcher's browser opens.
    CTranslucentDlg(IGameHandOver* pHandOver, std::wstring gameCodeUrl);

    BEGIN_MSG_MAP(CTranslucentDlg)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
        MESSAGE_HANDLER(WM_MOVE, OnMove)
        REFLECT_NOTIFICATIONS()
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        MESSAGE_HANDLER(WM_NCDESTROY, OnNcDestroy)
    END_MSG_MAP()

    CTranslucentFrame m_frame;
    CWindowIcons m_icons;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnMove(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnSize(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    // The icons go once the window is gone: the posted WM_DESTROY only ends
    // the modal loop, and the window is shown until it has.
    LRESULT OnNcDestroy(UINT, WPARAM, LPARAM, BOOL&);

    IGameHandOver* m_pHandOver;
    std::wstring m_gameCodeUrl;
};

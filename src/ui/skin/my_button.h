// MyButton: an owner-drawn push button of a dialog template turned into a
// picture button with normal, hover, pressed and disabled faces. It repaints
// at once whenever the mouse changes its state; clicking stays the button's
// own, so the parent receives BN_CLICKED as usual. The hover face lasts only
// while the mouse is over the button: the leave notification ends it, and
// while the face shows the button also looks where the mouse is, because the
// system keeps one leave request at a time, which another window's request
// replaces, and a request made after the mouse has gone is never answered.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "ui/framework/window_base.h"
#include "ui/skin/skin_image.h"

class MyButton;

// One picture button of a dialog template: the object, the control it turns
// into a picture button and the resource ids of its four faces.
struct ButtonSkin {
    MyButton* pButton;
    int controlId;
    int normalId;
    int hoverId;
    int pressedId;
    int disabledId;
};

// Attaches each button of the table to its control in hDialog.
void AttachButtons(HWND hDialog, std::initializer_list<ButtonSkin> skins);

class MyButton : public CSubclassedWindow {
public:
    ~MyButton() override;

    // Subclasses the control and loads its four faces (resource ids of type
    // WEBP). False for a null handle: nothing is loaded, the object stays
    // unattached.
    bool Attach(HWND hWndButton, int normalId, int hoverId, int pressedId, int disabledId);

    // Paints the face that the state selects, stretched over the client area.
    void DrawItem();

    bool IsHover() const { return m_bHover != 0; }
    bool IsPressed() const { return m_bPressed != 0; }

    BEGIN_MSG_MAP(MyButton)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
        MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
        MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
        MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
        MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
        MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItem)
    END_MSG_MAP()

private:
    LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnSetFocus(UINT, WPARAM wParam, LPARAM, BOOL&);
    LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& bHandled);
    LRESULT OnDrawItem(UINT, WPARAM, LPARAM, BOOL&);
    void RepaintNow();
    // Shows or ends the hover face; the check of the mouse's place runs
    // while it shows.
    void SetHover(bool bHover);
    // Asks for the leave notification unless this button already has it.
    void AskForLeave();
    // The cursor is over this button and no other window covers it there.
    bool IsMouseOver() const;

    SkinImage m_imgNormal;
    SkinImage m_imgHover;
    SkinImage m_imgPressed;
    SkinImage m_imgDisabled;
    int m_bHover = 0;
    int m_bPressed = 0;
};

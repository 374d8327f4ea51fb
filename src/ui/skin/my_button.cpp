#include "ui/skin/my_button.h"

#include <commctrl.h>

#include "ui/framework/scoped_win.h"
#include "ui/skin/skin_pixels.h"

void AttachButtons(HWND hDialog, std::initializer_list<ButtonSkin> skins)
{
    for (const ButtonSkin& skin : skins) {
        skin.pButton->Attach(GetDlgItem(hDialog, skin.controlId), skin.normalId, skin.hoverId, skin.pressedId,
                             skin.disabledId);
    }
}

bool MyButton::Attach(HWND hWndButton, int normalId, int hoverId, int pressedId, int disabledId)
{
    if (!hWndButton) return false;
    m_bHover = 0;
    m_bPressed = 0;
    SubclassWindow(hWndButton);
    // A picture button is clicked with the mouse only: it is no tab stop.
    SetWindowLongPtrW(hWndButton, GWL_STYLE, GetWindowLongPtrW(hWndButton, GWL_STYLE) & ~WS_TABSTOP);
    m_imgNormal.Load(MAKEINTRESOURCEW(normalId));
    m_imgHover.Load(MAKEINTRESOURCEW(hoverId));
    m_imgPressed.Load(MAKEINTRESOURCEW(pressedId));
    m_imgDisabled.Load(MAKEINTRESOURCEW(disabledId));
    return true;
}

void MyButton::RepaintNow()
{
    InvalidateRect(m_hWnd, nullptr, TRUE);
    UpdateWindow(m_hWnd);
}

LRESULT MyButton::OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&)
{
    return 1;
}

LRESULT MyButton::OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    if (m_bHover) {
        bHandled = FALSE;
        return 0;
    }
    m_bHover = 1;
    RepaintNow();
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
    _TrackMouseEvent(&track);
    return 0;
}

LRESULT MyButton::OnSetFocus(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    // A picture button never keeps the focus, so that no key a page leaves
    // alone (Space, Enter) can press it: the focus goes back where it was,
    // or to the dialog. The click itself needs no focus.
    HWND previous = reinterpret_cast<HWND>(wParam);
    SetFocus(previous && IsWindow(previous) ? previous : GetParent(m_hWnd));
    return 0;
}

LRESULT MyButton::OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    SetCapture(m_hWnd);
    m_bPressed = 1;
    RepaintNow();
    bHandled = FALSE;
    return 0;
}

LRESULT MyButton::OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    m_bPressed = 0;
    RepaintNow();
    bHandled = FALSE;
    return 0;
}

LRESULT MyButton::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    if (m_bHover) {
        m_bHover = 0;
        RepaintNow();
    }
    bHandled = FALSE;
    return 0;
}

LRESULT MyButton::OnDrawItem(UINT, WPARAM, LPARAM, BOOL&)
{
    DrawItem();
    return TRUE;
}

void MyButton::DrawItem()
{
    const SkinImage* faces[] = {&m_imgNormal, &m_imgHover, &m_imgPressed, &m_imgDisabled};
    ButtonFace face = ChooseButtonFace(IsWindowEnabled(m_hWnd) != FALSE, m_bPressed != 0, m_bHover != 0);
    const SkinImage& image = *faces[static_cast<int>(face)];
    if (!image.GetBitmap()) return;

    CWindowDC dc(m_hWnd);
    RECT client;
    GetClientRect(m_hWnd, &client);
    StretchBitmap(dc, image.GetBitmap(), client);
}

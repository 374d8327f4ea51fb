#include "ui/skin/my_button.h"

#include <commctrl.h>

#include "ui/framework/scoped_win.h"
#include "ui/skin/skin_pixels.h"

namespace {

// While the hover face shows, the button looks this often whether the mouse
// is still over it.
const UINT_PTR HOVER_CHECK_TIMER = 0x4D42;
const UINT HOVER_CHECK_MS = 400;

}  // namespace

void AttachButtons(HWND hDialog, std::initializer_list<ButtonSkin> skins)
{
    for (const ButtonSkin& skin : skins) {
        skin.pButton->Attach(GetDlgItem(hDialog, skin.controlId), skin.normalId, skin.hoverId, skin.pressedId,
                             skin.disabledId);
    }
}

MyButton::~MyButton()
{
    if (m_hWnd) KillTimer(m_hWnd, HOVER_CHECK_TIMER);
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

LRESULT MyButton::OnMouseMove(UINT, WPARAM, LPARAM lParam, BOOL& bHandled)
{
    POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (!PtInRect(&client, point)) {
        // Only the capture of a press brings a move from outside: the mouse
        // is off the button, whether or not its leave was seen.
        SetHover(false);
        bHandled = FALSE;
        return 0;
    }
    // Asked on every move, not only the first: the system keeps one leave
    // request at a time, and another window's (a message box's button asks
    // too) replaces this one without a leave.
    AskForLeave();
    if (m_bHover) {
        bHandled = FALSE;
        return 0;
    }
    SetHover(true);
    return 0;
}

LRESULT MyButton::OnSetFocus(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    // A picture button never keeps the focus, so that no key a page leaves
    // alone (Space, Enter) can press it: the focus goes back where it was
    // inside the same dialog, or else to the dialog, since handing it to
    // another window would activate that window. The click itself needs no
    // focus.
    HWND dialog = GetParent(m_hWnd);
    HWND previous = reinterpret_cast<HWND>(wParam);
    SetFocus(previous && IsChild(dialog, previous) ? previous : dialog);
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
    SetHover(false);
    bHandled = FALSE;
    return 0;
}

LRESULT MyButton::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    if (wParam != HOVER_CHECK_TIMER) {
        bHandled = FALSE;
        return 0;
    }
    if (IsMouseOver()) {
        AskForLeave();
    } else {
        SetHover(false);
    }
    return 0;
}

void MyButton::SetHover(bool bHover)
{
    if ((m_bHover != 0) == bHover) return;
    m_bHover = bHover ? 1 : 0;
    if (bHover) {
        SetTimer(m_hWnd, HOVER_CHECK_TIMER, HOVER_CHECK_MS, nullptr);
    } else {
        KillTimer(m_hWnd, HOVER_CHECK_TIMER);
    }
    RepaintNow();
}

void MyButton::AskForLeave()
{
    TRACKMOUSEEVENT current = {sizeof(current), TME_QUERY, nullptr, 0};
    if (_TrackMouseEvent(&current) && current.hwndTrack == m_hWnd && (current.dwFlags & TME_LEAVE)) return;
    // Made once the mouse is elsewhere, a request gets no leave under Wine
    // (Windows posts one at once); the check that SetHover starts covers it.
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
    _TrackMouseEvent(&track);
}

bool MyButton::IsMouseOver() const
{
    POINT cursor;
    return GetCursorPos(&cursor) && WindowFromPoint(cursor) == m_hWnd;
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

#include "ui/launcher/translucent_frame.h"

#include "ui/framework/scoped_win.h"
#include "ui/framework/window_placement_win32.h"

namespace {

const int BACKGROUND_PICTURE = 271;

}  // namespace

void SetLayeredBitmap(HWND hWnd, HBITMAP bitmap)
{
    SetWindowLongW(hWnd, GWL_EXSTYLE, GetWindowLongW(hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    CWindowDC screen(nullptr);
    CMemoryDC memory(screen, bitmap);
    BITMAP info = {};
    GetObjectW(bitmap, sizeof(info), &info);
    RECT window;
    GetWindowRect(hWnd, &window);
    POINT destination = {window.left, window.top};
    SIZE size = {info.bmWidth, info.bmHeight};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(hWnd, screen, &destination, &size, memory, &source, 0, &blend, ULW_ALPHA);
}

CTranslucentFrame::CTranslucentFrame() : m_pBackground(std::make_unique<SkinBitmap>())
{
    CreateSkinBitmap(m_pBackground.get(), MAKEINTRESOURCEW(BACKGROUND_PICTURE));
}

CTranslucentFrame::~CTranslucentFrame()
{
    if (m_pDialog) {
        m_pDialog->Delete();
        m_pDialog = nullptr;
    }
    if (m_pBackground->bitmap) DeleteObject(m_pBackground->bitmap);
}

void CTranslucentFrame::Place(IStandardDialog* pDialog, HWND hWnd, int x, int y)
{
    m_pDialog = pDialog;
    int width = m_pBackground->width;
    int height = m_pBackground->height;
    if (m_bCenter) {
        RECT work;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        CenterInWorkArea(ToPlacementRect(work), width, height, &x, &y);
    }
    if (m_pDialog) m_pDialog->Create();
    LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    SetWindowLongW(hWnd, GWL_STYLE, static_cast<LONG>((static_cast<DWORD>(style) ^ WS_CAPTION) | WS_POPUP));
    MoveWindow(hWnd, x, y, width, height, TRUE);
}

void CTranslucentFrame::MoveDialog(int x, int y)
{
    if (m_pDialog) SetWindowPos(m_pDialog->GetHwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTranslucentFrame::SizeDialog(int cx, int cy)
{
    if (m_pDialog) SetWindowPos(m_pDialog->GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTranslucentFrame::ApplyLayer(HWND hWnd)
{
    SetLayeredBitmap(hWnd, m_pBackground->bitmap);
}

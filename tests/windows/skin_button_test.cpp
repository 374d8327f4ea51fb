// Skin pictures from the program's resources and the picture button driven
// with real mouse messages (checked by reading its pixels back), with the
// real dialog manager under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "skin_catalog.h"
#include "ui/framework/window_base.h"
#include "ui/skin/my_button.h"
#include "ui/skin/skin_image.h"
#include "win32_test_support.h"

namespace {

LPCWSTR PictureId(const SkinPicture& picture, std::wstring* name)
{
    if (picture.id) return MAKEINTRESOURCEW(picture.id);
    name->assign(picture.name, picture.name + strlen(picture.name));
    return name->c_str();
}

TEST(SkinImages, EveryPictureLoadsToItsSize)
{
    for (const SkinPicture& picture : SkinCatalog()) {
        std::wstring name;
        SkinImage image;
        EXPECT_TRUE(image.Load(PictureId(picture, &name)));
        EXPECT_NE(nullptr, image.GetBitmap()) << SkinPictureLabel(picture);
        EXPECT_EQ(picture.width, image.GetWidth()) << SkinPictureLabel(picture);
        EXPECT_EQ(picture.height, image.GetHeight()) << SkinPictureLabel(picture);
        BITMAP info = {};
        ASSERT_TRUE(GetObjectW(image.GetBitmap(), sizeof(info), &info));
        EXPECT_EQ(32, info.bmBitsPixel);
        EXPECT_EQ(picture.width, info.bmWidth);
    }
}

TEST(SkinImages, UnknownIdGivesAnEmptyPicture)
{
    SkinImage image;
    EXPECT_TRUE(image.Load(MAKEINTRESOURCEW(9999)));
    EXPECT_EQ(nullptr, image.GetBitmap());
    EXPECT_EQ(0, image.GetWidth());
    EXPECT_EQ(0, image.GetHeight());
    SkinBitmap record;
    EXPECT_FALSE(CreateSkinBitmap(&record, MAKEINTRESOURCEW(9999)));
    EXPECT_EQ(nullptr, record.bitmap);
}

// The game window's template hosts the buttons; the close button 1006 gets
// its faces 295 / 294 / 293 / 293.
class ButtonDialog : public CDialogImpl<ButtonDialog> {
public:
    enum { IDD = IDD_GAME_DIALOG };

    MyButton m_button;
    bool m_bAttached = false;
    bool m_bMissingAttached = true;
    int m_nClicks = 0;

    BEGIN_MSG_MAP(ButtonDialog)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        COMMAND_ID_HANDLER(IDC_GAME_CLOSE, OnClose)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&)
    {
        // A small window with the button in view, larger than its face so
        // that the face is stretched.
        MoveWindow(m_hWnd, 0, 0, 600, 400, TRUE);
        MoveWindow(GetDlgItem(IDC_GAME_CLOSE), 20, 40, 52, 31, TRUE);
        m_bAttached = m_button.Attach(GetDlgItem(IDC_GAME_CLOSE), 295, 294, 293, 293);
        MyButton missing;
        m_bMissingAttached = missing.Attach(GetDlgItem(4242), 295, 294, 293, 293);
        return TRUE;
    }
    LRESULT OnClose(WORD code, WORD, HWND, BOOL&)
    {
        if (code == BN_CLICKED) ++m_nClicks;
        return 0;
    }
};

// A 32-bit top-down bitmap of a window's client size, selected into a
// memory device context, whose pixels can be read back.
class Canvas {
public:
    explicit Canvas(HWND window) : m_window(window)
    {
        GetClientRect(window, &m_client);
        m_screen = GetDC(window);
        m_dc = CreateCompatibleDC(m_screen);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), m_client.right, -m_client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        m_bitmap = CreateDIBSection(m_screen, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
        m_previous = SelectObject(m_dc, m_bitmap);
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_previous);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
        ReleaseDC(m_window, m_screen);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }
    HDC Screen() const { return m_screen; }
    const RECT& Client() const { return m_client; }
    // The colours, without the unused alpha byte.
    std::vector<uint32_t> Pixels() const
    {
        const uint32_t* bits = static_cast<const uint32_t*>(m_bits);
        std::vector<uint32_t> pixels(bits, bits + m_client.right * m_client.bottom);
        for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFF;
        return pixels;
    }

private:
    HWND m_window;
    RECT m_client = {};
    HDC m_screen = nullptr;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previous = nullptr;
    void* m_bits = nullptr;
};

// The button's client area as it is on screen.
std::vector<uint32_t> ReadPixels(HWND window)
{
    Canvas canvas(window);
    BitBlt(canvas.Dc(), 0, 0, canvas.Client().right, canvas.Client().bottom, canvas.Screen(), 0, 0, SRCCOPY);
    return canvas.Pixels();
}

// What the face with this picture looks like on a button of that window's
// size: the same plain stretched copy, drawn off screen.
std::vector<uint32_t> ExpectedPixels(HWND window, int pictureId)
{
    Canvas canvas(window);
    SkinImage image;
    image.Load(MAKEINTRESOURCEW(pictureId));
    HDC source = CreateCompatibleDC(canvas.Screen());
    HGDIOBJ previous = SelectObject(source, image.GetBitmap());
    StretchBlt(canvas.Dc(), 0, 0, canvas.Client().right, canvas.Client().bottom, source, 0, 0, image.GetWidth(),
               image.GetHeight(), SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
    return canvas.Pixels();
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class PictureButton : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, m_dialog.Create(nullptr));
        ShowWindow(m_dialog.m_hWnd, SW_SHOW);
        m_button = m_dialog.m_button.m_hWnd;
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(m_button) != FALSE; }, 10000));
        Pump();
    }
    void TearDown() override
    {
        if (m_dialog.m_hWnd) m_dialog.DestroyWindow();
    }

    void Send(UINT message, int x, int y) { SendMessageW(m_button, message, 0, MAKELPARAM(x, y)); }

    ButtonDialog m_dialog;
    HWND m_button = nullptr;
};

TEST_F(PictureButton, AttachesOnlyToAnExistingControl)
{
    EXPECT_TRUE(m_dialog.m_bAttached);
    EXPECT_FALSE(m_dialog.m_bMissingAttached);
}

TEST_F(PictureButton, FacesFollowTheMouse)
{
    InvalidateRect(m_button, nullptr, TRUE);
    UpdateWindow(m_button);
    EXPECT_EQ(ExpectedPixels(m_button, 295), ReadPixels(m_button)) << "normal";

    Send(WM_MOUSEMOVE, 3, 3);
    EXPECT_TRUE(m_dialog.m_button.IsHover());
    EXPECT_EQ(ExpectedPixels(m_button, 294), ReadPixels(m_button)) << "hover";

    Send(WM_LBUTTONDOWN, 3, 3);
    EXPECT_EQ(ExpectedPixels(m_button, 293), ReadPixels(m_button)) << "pressed";
    EXPECT_EQ(m_button, GetCapture());

    // Dragged off with the capture held: still pressed after the leave.
    Send(WM_MOUSEMOVE, -200, -200);
    Send(WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(m_dialog.m_button.IsHover());
    EXPECT_TRUE(m_dialog.m_button.IsPressed());
    EXPECT_EQ(ExpectedPixels(m_button, 293), ReadPixels(m_button)) << "pressed while dragged off";
    // Moves still reach the button through its capture while the mouse is
    // off it: none brings the hover face back.
    Send(WM_MOUSEMOVE, -210, -200);
    EXPECT_FALSE(m_dialog.m_button.IsHover()) << "a move from outside through the capture";

    Send(WM_LBUTTONUP, -200, -200);
    Pump();
    EXPECT_EQ(ExpectedPixels(m_button, 295), ReadPixels(m_button)) << "normal after release elsewhere";
    EXPECT_EQ(0, m_dialog.m_nClicks);

    // The cursor itself is put there too: while the hover face shows, the
    // button also looks where the cursor is.
    POINT over = {3, 3};
    ClientToScreen(m_button, &over);
    SetCursorPos(over.x, over.y);
    Send(WM_MOUSEMOVE, 3, 3);
    Send(WM_LBUTTONDOWN, 3, 3);
    Send(WM_LBUTTONUP, 3, 3);
    Pump();
    EXPECT_EQ(1, m_dialog.m_nClicks);
    EXPECT_EQ(ExpectedPixels(m_button, 294), ReadPixels(m_button)) << "hover after a click";
}

TEST_F(PictureButton, DoubleClickSecondPressDoesNotPress)
{
    Send(WM_LBUTTONDOWN, 3, 3);
    Send(WM_LBUTTONUP, 3, 3);
    Send(WM_LBUTTONDBLCLK, 3, 3);
    EXPECT_FALSE(m_dialog.m_button.IsPressed());
    Send(WM_LBUTTONUP, 3, 3);
}

TEST_F(PictureButton, DisabledFaceWhateverTheMouse)
{
    Send(WM_MOUSEMOVE, 3, 3);
    EnableWindow(m_button, FALSE);
    InvalidateRect(m_button, nullptr, TRUE);
    UpdateWindow(m_button);
    EXPECT_EQ(ExpectedPixels(m_button, 293), ReadPixels(m_button));
}

}  // namespace

// Centring a real window in the work area under Wine.
#include "ui/framework/window_placement_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(CenterWindow, LargerThanTheWorkAreaKeepsLeftAndTopInside)
{
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 100, 100, work.right - work.left + 300,
                                  work.bottom - work.top + 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(CenterWindow(window));
    RECT placed;
    GetWindowRect(window, &placed);
    EXPECT_EQ(work.left, placed.left);
    EXPECT_EQ(work.top, placed.top);
    DestroyWindow(window);

    HWND small = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(CenterWindow(small));
    GetWindowRect(small, &placed);
    EXPECT_EQ((work.left + work.right) / 2 - 100, placed.left);
    EXPECT_EQ((work.top + work.bottom) / 2 - 50, placed.top);
    DestroyWindow(small);
}

}  // namespace

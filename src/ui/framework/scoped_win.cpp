#include "ui/framework/scoped_win.h"

void StretchBitmap(HDC dc, HBITMAP bitmap, const RECT& target)
{
    BITMAP info = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) return;
    CMemoryDC memory(dc, bitmap);
    StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, memory, 0, 0,
               info.bmWidth, info.bmHeight, SRCCOPY);
}

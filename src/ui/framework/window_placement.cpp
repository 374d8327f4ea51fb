#include "ui/framework/window_placement.h"

namespace {

int Axis(int referenceStart, int referenceEnd, int areaStart, int areaEnd, int size)
{
    int start = (referenceStart + referenceEnd) / 2 - size / 2;
    if (start + size > areaEnd) start = areaEnd - size;
    if (start < areaStart) start = areaStart;
    return start;
}

}  // namespace

void CenterWithin(const PlacementRect& reference, const PlacementRect& workArea, int width, int height,
                  int* pLeft, int* pTop)
{
    *pLeft = Axis(reference.left, reference.right, workArea.left, workArea.right, width);
    *pTop = Axis(reference.top, reference.bottom, workArea.top, workArea.bottom, height);
}

void CenterInWorkArea(const PlacementRect& work, int width, int height, int* pX, int* pY)
{
    *pX = (work.right - work.left - width) / 2 + work.left;
    *pY = (work.bottom - work.top - height) / 2 + work.top;
}

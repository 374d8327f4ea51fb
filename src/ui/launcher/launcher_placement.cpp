#include "ui/launcher/launcher_placement.h"

void CenterInWorkArea(const PlacementRect& work, int width, int height, int* pX, int* pY)
{
    *pX = (work.right - work.left - width) / 2 + work.left;
    *pY = (work.bottom - work.top - height) / 2 + work.top;
}

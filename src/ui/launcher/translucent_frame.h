// CTranslucentFrame: the launcher window's picture with per-pixel alpha, its
// placement in the middle of the work area, and the standard dialog kept
// exactly over it.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/launcher/standard_dialog.h"
#include "ui/skin/skin_image.h"

// Shows bitmap (premultiplied BGRA) as the window's whole content with
// per-pixel alpha; the window becomes layered.
void SetLayeredBitmap(HWND hWnd, HBITMAP bitmap);

class CTranslucentFrame {
public:
    // Decodes the background picture (WEBP 271).
    CTranslucentFrame();
    // Deletes the standard dialog object and the background.
    ~CTranslucentFrame();
    CTranslucentFrame(const CTranslucentFrame&) = delete;
    CTranslucentFrame& operator=(const CTranslucentFrame&) = delete;

    // Takes the dialog, creates it, removes the window's caption and moves
    // the window to the middle of the work area at the picture's size.
    void Place(IStandardDialog* pDialog, HWND hWnd, int x, int y);
    void MoveDialog(int x, int y);
    void SizeDialog(int cx, int cy);
    void ApplyLayer(HWND hWnd);

    IStandardDialog* Dialog() const { return m_pDialog; }

    std::unique_ptr<SkinBitmap> m_pBackground;
    bool m_bCenter = true;
    IStandardDialog* m_pDialog = nullptr;
};

#include "widgets/transparent_dlg.h"

#include "resources/resource_ids.h"
#include "widgets/png_image.h"

namespace nerova::widgets {

CTransparentDlg::CTransparentDlg()
    : ui::Dialog(IDD_HELP_OVERLAY),
      // 24 pixels of cell height, italic Arial.
      m_font(CreateFontW(24, 0, 0, 0, 0, TRUE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH, L"Arial")),
      m_pArrow(LoadPngImage(IDB_HELP_ARROW)) {}

CTransparentDlg::~CTransparentDlg() = default;

bool CTransparentDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  HWND window = Handle();
  SetWindowLongPtrW(window, GWL_EXSTYLE, GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_LAYERED);
  SetLayeredWindowAttributes(window, 0, kOverlayAlpha, LWA_ALPHA);
  // No caption and no border: the client area is the primary screen, so the
  // marks' screen coordinates are client coordinates too.
  SetWindowPos(window, HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 0);
  return true;
}

bool CTransparentDlg::OnPaint() {
  ui::PaintScope paint(Handle());
  HDC dc = paint.Dc();
  Gdiplus::Graphics graphics(dc);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);

  SetBkMode(dc, TRANSPARENT);
  RECT client{};
  GetClientRect(Handle(), &client);
  ui::Brush fill(CreateSolidBrush(kOverlayFill));
  FillRect(dc, &client, fill.Get());

  ui::SelectScope font(dc, m_font.Get());
  SetTextColor(dc, kOverlayText);
  for (const HelpItem& item : m_items) {
    const MarkDrawing mark = LayoutMark(item.rc);
    if (m_pArrow) {
      graphics.DrawImage(m_pArrow.get(), Gdiplus::Rect(mark.arrowX, mark.arrowY, mark.arrowWidth, mark.arrowHeight));
    }
    TextOutW(dc, mark.textX, mark.textY, item.text.c_str(), static_cast<int>(item.text.size()));
  }
  return true;
}

void CTransparentDlg::OnLButtonDown(UINT, POINT) { EndModal(0); }

}  // namespace nerova::widgets

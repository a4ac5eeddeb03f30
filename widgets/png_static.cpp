#include "widgets/png_static.h"

#include "ui/handles.h"
#include "widgets/fit_rule.h"

namespace nerova::widgets {

void CPngStatic::OnAttached() {
  const LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
  SetWindowLongPtrW(Handle(), GWL_STYLE, style | SS_NOTIFY);
}

bool CPngStatic::OnPaint() {
  ui::PaintScope paint(Handle());
  HDC dc = paint.Dc();
  SetGraphicsMode(dc, GM_ADVANCED);

  // The static's own painting, into this paint DC (the update region has
  // been validated by BeginPaint already, so it must not begin its own).
  auto paintAsStatic = [&] {
    CallControl(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    return true;
  };
  if (!m_pImage) return paintAsStatic();

  RECT client{};
  GetClientRect(Handle(), &client);
  // A failed read leaves 0, which the fit rule refuses.
  const UINT imageWidth = m_pImage->GetWidth();
  const UINT imageHeight = m_pImage->GetHeight();
  const COLORREF background = GetSysColor(COLOR_MENU);

  const std::optional<PlacedRect> placed =
      FitImage(imageWidth, imageHeight, FitTarget{client.left, client.top, client.right - client.left,
                                                  client.bottom - client.top});
  if (!placed) return paintAsStatic();

  SetBkMode(dc, TRANSPARENT);
  Gdiplus::Graphics graphics(dc);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
  graphics.Clear(Gdiplus::Color(255, GetRValue(background), GetGValue(background), GetBValue(background)));
  graphics.DrawImage(m_pImage, Gdiplus::Rect(placed->x, placed->y, placed->width, placed->height));
  return true;
}

}  // namespace nerova::widgets

#include "widgets/logo.h"

#include "resources/resource_ids.h"
#include "ui/handles.h"
#include "widgets/fit_rule.h"
#include "widgets/png_image.h"

namespace nerova::widgets {

void DrawLogo(HWND frame) {
  if (!frame) return;
  std::unique_ptr<Gdiplus::Image> logo = LoadPngImage(IDB_LOGO);
  ui::PaintScope paint(frame);
  HDC dc = paint.Dc();
  SetGraphicsMode(dc, GM_ADVANCED);
  if (!logo) return;

  RECT client{};
  GetClientRect(frame, &client);
  const std::optional<PlacedRect> placed =
      FitImage(logo->GetWidth(), logo->GetHeight(),
               FitTarget{client.left, client.top, client.right - client.left, client.bottom - client.top});
  if (!placed) return;

  Gdiplus::Graphics graphics(dc);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
  graphics.DrawImage(logo.get(), Gdiplus::Rect(placed->x, placed->y, placed->width, placed->height));
}

}  // namespace nerova::widgets

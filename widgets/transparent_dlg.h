#pragma once
// The help overlay: a translucent, topmost veil over the whole primary
// screen that marks controls of the settings window with a red arrow and a
// red instruction each. A left click anywhere closes it. GDI+ must be running
// when the overlay is constructed.
#include <memory>
#include <vector>

#include "ui/dialog.h"
#include "ui/handles.h"
#include "widgets/gdiplus_session.h"
#include "widgets/help_layout.h"

namespace nerova::widgets {

// The veil's drawing values.
inline constexpr BYTE kOverlayAlpha = 192;
inline constexpr COLORREF kOverlayFill = RGB(10, 10, 10);
inline constexpr COLORREF kOverlayText = RGB(255, 0, 0);

class CTransparentDlg : public ui::Dialog {
 public:
  // Creates the text font and loads the arrow picture (PNG 145).
  CTransparentDlg();
  ~CTransparentDlg() override;

  // The marks to paint, in order; filled before RunModal.
  std::vector<HelpItem> m_items;

 protected:
  bool OnInitDialog() override;
  bool OnPaint() override;
  void OnLButtonDown(UINT keys, POINT point) override;

 private:
  ui::Font m_font;
  std::unique_ptr<Gdiplus::Image> m_pArrow;
};

}  // namespace nerova::widgets

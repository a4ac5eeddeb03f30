#pragma once
// A static control of a dialog that paints a borrowed GDI+ image, scaled by
// the fit rule onto the system menu colour. Without an image, or with one
// that reads as 0 x 0 or a 0 x 0 control, it paints like the plain static.
#include "ui/subclass.h"
#include "widgets/gdiplus_session.h"

namespace nerova::widgets {

class CPngStatic : public ui::SubclassedControl {
 public:
  // The image to paint, or null. Borrowed: the owner keeps it alive while
  // the control may paint, assigns it, then invalidates and updates the
  // control; the control never frees it and never repaints by itself.
  Gdiplus::Image* m_pImage = nullptr;

 protected:
  // Adds SS_NOTIFY to the control's style (nothing removed, no frame change).
  void OnAttached() override;
  bool OnPaint() override;
};

}  // namespace nerova::widgets

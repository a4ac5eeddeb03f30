#include "ui/controls.h"

#include <commctrl.h>

namespace nerova::ui {

void Trackbar::SetRange(int minimum, int maximum, bool redraw) const {
  if (!m_hwnd) return;
  // TBM_SETRANGEMIN/MAX take full 32-bit bounds; TBM_SETRANGE packs 16 bits.
  SendMessageW(m_hwnd, TBM_SETRANGEMIN, FALSE, minimum);
  SendMessageW(m_hwnd, TBM_SETRANGEMAX, redraw ? TRUE : FALSE, maximum);
}

void Trackbar::SetPos(int position, bool redraw) const {
  if (m_hwnd) SendMessageW(m_hwnd, TBM_SETPOS, redraw ? TRUE : FALSE, position);
}

int Trackbar::Pos() const { return m_hwnd ? static_cast<int>(SendMessageW(m_hwnd, TBM_GETPOS, 0, 0)) : 0; }
int Trackbar::RangeMin() const {
  return m_hwnd ? static_cast<int>(SendMessageW(m_hwnd, TBM_GETRANGEMIN, 0, 0)) : 0;
}
int Trackbar::RangeMax() const {
  return m_hwnd ? static_cast<int>(SendMessageW(m_hwnd, TBM_GETRANGEMAX, 0, 0)) : 0;
}

void Button::SetChecked(bool checked) const {
  if (m_hwnd) SendMessageW(m_hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Button::IsChecked() const {
  return m_hwnd && SendMessageW(m_hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace nerova::ui

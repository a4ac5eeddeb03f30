#pragma once
// Thin helpers over two common controls, bound to a control of a dialog by
// DataExchange::Bind (or Attach). They hold the window handle only; the
// dialog owns the control.
#include <windows.h>

namespace nerova::ui {

class Trackbar {
 public:
  void Attach(HWND control) { m_hwnd = control; }
  HWND Handle() const { return m_hwnd; }

  void SetRange(int minimum, int maximum, bool redraw) const;
  // The control keeps the position inside its range.
  void SetPos(int position, bool redraw = true) const;
  int Pos() const;
  int RangeMin() const;
  int RangeMax() const;

 private:
  HWND m_hwnd = nullptr;
};

// A check box.
class Button {
 public:
  void Attach(HWND control) { m_hwnd = control; }
  HWND Handle() const { return m_hwnd; }

  void SetChecked(bool checked) const;
  bool IsChecked() const;

 private:
  HWND m_hwnd = nullptr;
};

}  // namespace nerova::ui

#pragma once
// A control of a dialog taken over by an object of ours through a window
// subclass (SetWindowSubclass, with `this` as the reference data). Messages
// the object handles go to its named handlers; all others, and handlers that
// decline, go to the control's own procedure.
#include <windows.h>

namespace nerova::ui {

class SubclassedControl {
 public:
  SubclassedControl() = default;
  virtual ~SubclassedControl();
  SubclassedControl(const SubclassedControl&) = delete;
  SubclassedControl& operator=(const SubclassedControl&) = delete;

  // Takes over `control` (on the control's thread); false when it is not a
  // window or already taken over by this object.
  bool Attach(HWND control);
  bool AttachToItem(HWND dialog, int id) { return Attach(GetDlgItem(dialog, id)); }
  // Gives the control back; also happens when the control is destroyed.
  void Detach();

  HWND Handle() const { return m_hwnd; }

 protected:
  // Right after the subclass is in place.
  virtual void OnAttached();
  // WM_PAINT. False: the control paints itself.
  virtual bool OnPaint();
  // The control's own handling of a message.
  LRESULT CallControl(UINT message, WPARAM wParam, LPARAM lParam) const;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR subclassId, DWORD_PTR self);

  HWND m_hwnd = nullptr;
};

}  // namespace nerova::ui

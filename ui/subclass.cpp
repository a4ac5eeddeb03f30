#include "ui/subclass.h"

#include <commctrl.h>

#include "ui/escaped_exception.h"

namespace nerova::ui {

namespace {
// One subclass of ours per control; the procedure and this id name it.
constexpr UINT_PTR kSubclassId = 0x4E52;  // "NR"
}  // namespace

SubclassedControl::~SubclassedControl() { Detach(); }

bool SubclassedControl::Attach(HWND control) {
  if (!control || !IsWindow(control) || m_hwnd == control) return false;
  Detach();
  if (!SetWindowSubclass(control, &SubclassedControl::Procedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hwnd = control;
  OnAttached();
  return true;
}

void SubclassedControl::Detach() {
  if (!m_hwnd) return;
  RemoveWindowSubclass(m_hwnd, &SubclassedControl::Procedure, kSubclassId);
  m_hwnd = nullptr;
}

void SubclassedControl::OnAttached() {}
bool SubclassedControl::OnPaint() { return false; }

LRESULT SubclassedControl::CallControl(UINT message, WPARAM wParam, LPARAM lParam) const {
  return DefSubclassProc(m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK SubclassedControl::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<SubclassedControl*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, &SubclassedControl::Procedure, kSubclassId);
    if (self) self->m_hwnd = nullptr;
    return DefSubclassProc(window, message, wParam, lParam);
  }
  if (message == WM_PAINT && self) {
    try {
      if (self->OnPaint()) return 0;
    } catch (...) {
      ReportEscapedException("a control's paint handler");
    }
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace nerova::ui

#pragma once
// GDI+ for the widgets, and its start and shutdown for a process or a test.
// With NOMINMAX the GDI+ headers of some SDKs miss min and max; they get the
// standard ones.
#include <windows.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>

namespace nerova::widgets {

// GdiplusStartup (version 1, no debug callback, background thread and
// external codecs as the system has them) and GdiplusShutdown with its token.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    m_status = Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
  }
  ~GdiplusSession() {
    if (m_status == Gdiplus::Ok) Gdiplus::GdiplusShutdown(m_token);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  Gdiplus::Status Status() const { return m_status; }
  ULONG_PTR Token() const { return m_token; }

 private:
  ULONG_PTR m_token = 0;
  Gdiplus::Status m_status = Gdiplus::GenericError;
};

}  // namespace nerova::widgets

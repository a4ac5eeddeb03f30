#pragma once
// The single-threaded COM apartment a test runs in, as the settings window
// opens it for the receiver link.
#include <objbase.h>

namespace nerova::link::win::testing {

class ComApartment {
 public:
  ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT m_hr;
};

}  // namespace nerova::link::win::testing

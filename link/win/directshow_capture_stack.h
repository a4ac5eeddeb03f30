#pragma once
// The capture stack of a Windows host: the system device enumerator lists the
// video input category, monikers bind to capture filters, IKsTopologyInfo
// lists a filter's nodes and IKsControl carries node property requests.
// Every COM interface is held by an object of the boundary and released when
// that object goes; a capture filter handed out holds one COM reference per
// reference of its own.
#include <windows.h>

#include <strmif.h>

#include <functional>
#include <memory>

#include "link/capture_stack.h"

namespace nerova::link::win {

// Creates the system device enumerator (or a test's stand-in for it).
using CreateDevEnumFn = std::function<HRESULT(ICreateDevEnum** out)>;
// Where the debugger line goes.
using DebugOutputFn = std::function<void(const wchar_t* text)>;

// CoCreateInstance of CLSID_SystemDeviceEnum for IID_ICreateDevEnum, in process.
HRESULT CreateSystemDeviceEnumerator(ICreateDevEnum** out);

class DirectShowCaptureStack final : public CaptureStack {
 public:
  // The system's device enumerator and OutputDebugStringW.
  DirectShowCaptureStack();
  DirectShowCaptureStack(CreateDevEnumFn createDevEnum, DebugOutputFn debugOutput);
  DirectShowCaptureStack(const DirectShowCaptureStack&) = delete;
  DirectShowCaptureStack& operator=(const DirectShowCaptureStack&) = delete;

  HResult EnumerateVideoInputs(std::unique_ptr<DeviceEnumeration>& out) override;
  void DebugOutput(const wchar_t* text) override;

 private:
  CreateDevEnumFn m_createDevEnum;
  DebugOutputFn m_debugOutput;
};

}  // namespace nerova::link::win

#pragma once
// The capture stack of a Windows host: the system device enumerator lists the
// video input category, a device's moniker binds to its capture filter, the
// filter's IKsTopologyInfo lists the nodes of its USB Video Class topology,
// and a node's IKsControl carries the Kernel Streaming property requests
// (KSP_NODE) that the video-class driver turns into class requests to an
// extension unit's controls. Every COM interface is held by an object of the
// boundary and released when that object goes.
#include <windows.h>

#include <strmif.h>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "link/capture_stack.h"

namespace nerova::link::win {

// Creates the system device enumerator (or a test's stand-in for it).
using CreateDevEnumFn = std::function<HRESULT(ICreateDevEnum** out)>;
// Where the debugger line goes.
using DebugOutputFn = std::function<void(const wchar_t* text)>;

// CoCreateInstance of CLSID_SystemDeviceEnum for IID_ICreateDevEnum, in process.
HRESULT CreateSystemDeviceEnumerator(ICreateDevEnum** out);

// The kind of a Windows result, the HRESULT kept beside it. Only S_OK is success.
LinkStatus StatusOf(HRESULT hr);

// The USB identity a device's display name carries as "vid_XXXX&pid_XXXX"
// (lower-case hexadecimal, as the video-class devices name themselves); the
// first such text counts.
std::optional<UsbIdentity> UsbIdentityInName(std::wstring_view displayName);

class DirectShowCaptureStack final : public CaptureStack {
 public:
  // The system's device enumerator and OutputDebugStringW.
  DirectShowCaptureStack();
  DirectShowCaptureStack(CreateDevEnumFn createDevEnum, DebugOutputFn debugOutput);
  DirectShowCaptureStack(const DirectShowCaptureStack&) = delete;
  DirectShowCaptureStack& operator=(const DirectShowCaptureStack&) = delete;

  // An empty category (S_FALSE and no enumerator) gives success and no list.
  LinkStatus ListVideoInputs(std::unique_ptr<VideoInputList>& out) override;
  void DebugOutput(const wchar_t* text) override;

 private:
  CreateDevEnumFn m_createDevEnum;
  DebugOutputFn m_debugOutput;
};

}  // namespace nerova::link::win
